// A unit that goes silent or away while the worker reads or sweeps: the worker keeps
// running, shows the modules as faulted, and connects again when asked.
#include "workertestsupport.h"

#include <QTest>

namespace {

const Record Fault{{"status", 2}};

} // namespace

class TestWorkerFaults : public QObject
{
    Q_OBJECT

private slots:
    void silentUnitTurnsReadingsToFaults()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{1});
        worker.command(WorkerAsync::CommandSetTimeOut, 20.0);
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeCpsVersTime);
        QVERIFY(waitUntil([&] { return worker.recorder.count("plot") >= 2; }));

        SimFaults mute;
        mute.mute = true;
        sim.unit.setFaults(mute);
        const qsizetype before = worker.recorder.readings.size();
        QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= before + 3; }));
        // The reading under way when the unit fell silent may still have come through.
        QCOMPARE(worker.recorder.readings.last().record, Fault);
        QCOMPARE(worker.recorder.readings.at(worker.recorder.readings.size() - 2).record, Fault);
        const int plots = worker.recorder.count("plot");

        sim.unit.setFaults({});
        QVERIFY(waitUntil([&] { return worker.recorder.count("plot") > plots; }));
        QCOMPARE(worker.recorder.readings.last().record.value("status").toInt(), 1);
        QVERIFY(worker.connectToUnit());
        QCOMPARE(worker.recorder.connects, 2);
    }

    void droppedConnectionMidSweep()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{1});
        worker.command(WorkerAsync::CommandSweepParams, QVariantMap{{"from", 0.0},
                                                                    {"to", 1e-3},
                                                                    {"step", 1e-8},
                                                                    {"time_constant", 0.01},
                                                                    {"current", 0}});
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeIVCurves);
        QVERIFY(waitUntil([&] { return worker.recorder.progress.size() >= 4; }));

        // The unit goes away: its connections close and nobody listens any more.
        sim.unit.stop();
        QVERIFY(waitUntil([&] {
            return worker.recorder.readings.size() >= 2 &&
                   worker.recorder.readings.last().record == Fault &&
                   worker.recorder.readings.at(worker.recorder.readings.size() - 2).record == Fault;
        }));
        // The sweep goes on regardless, and the link comes back with the unit.
        const qsizetype progress = worker.recorder.progress.size();
        QVERIFY(waitUntil([&] { return worker.recorder.progress.size() > progress; }));
        QVERIFY(sim.unit.start());
        QVERIFY(waitUntil(
            [&] { return worker.recorder.readings.last().record.value("status").toInt() == 1; }));
        QCOMPARE(worker.recorder.count("sweep finished"), 0);

        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeNoAction);
        QVERIFY(worker.connectToUnit());
        QCOMPARE(worker.recorder.connects, 2);
    }

    void unitGoneForGoodDuringHomeView()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeAllChannels);
        QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= 1; }));
        QCOMPARE(worker.recorder.readings.first().record.value("status").toInt(), 1);

        unit.silent = true;
        unit.peer.closeClients();
        QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= 2; }, 3000));
        QCOMPARE(worker.recorder.readings.last().record, Fault);
        // The worker still takes commands.
        worker.command(WorkerAsync::CommandLock, 1);
        QVERIFY(waitUntil([&] { return unit.peer.lines().endsWith("SYST:LOCK 1"); }));
    }
};

QTEST_GUILESS_MAIN(TestWorkerFaults)
#include "tst_workerfaults.moc"
