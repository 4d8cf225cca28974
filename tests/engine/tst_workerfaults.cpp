// A unit that goes silent or away while the worker reads or sweeps: the worker keeps
// running, shows the modules as faulted, ends a sweep or histogram whose unit is gone, and
// connects again when asked.
#include "workertestsupport.h"

#include <QSignalSpy>
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

    void lostUnitEndsTheMeasurement_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("loss");
        QTest::addColumn<QString>("status");
        const QString sweepEnd = QStringLiteral("Sweep ended: the unit stopped answering");
        QTest::newRow("IV curve, unit silent")
            << int(Mode::WorkerModeIVCurves) << "silent" << sweepEnd;
        QTest::newRow("IV curve, connection dropped")
            << int(Mode::WorkerModeIVCurves) << "dropped" << sweepEnd;
        QTest::newRow("histogram, unit silent")
            << int(Mode::WorkerModeHistogram) << "silent"
            << QStringLiteral("Histogram ended: the unit stopped answering");
        QTest::newRow("counts sweep, silent before the start")
            << int(Mode::WorkerModeCpsVersCurrent) << "before"
            << QStringLiteral("Sweep not started: the unit does not answer");
    }
    void lostUnitEndsTheMeasurement()
    {
        QFETCH(int, mode);
        QFETCH(QString, loss);
        QFETCH(QString, status);
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QSignalSpy lost(worker.process, &WorkerProcess::measurementLost);
        QVERIFY(worker.connectToUnit());
        SimFaults mute;
        mute.mute = true;
        if (loss == "before")
            sim.unit.setFaults(mute);
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{1});
        worker.command(WorkerAsync::CommandSweepParams, QVariantMap{{"from", 0.0},
                                                                    {"to", 1e-3},
                                                                    {"step", 1e-7},
                                                                    {"time_constant", 0.01},
                                                                    {"current", 0}});
        worker.command(WorkerAsync::CommandSetMode, mode);
        if (loss != "before") {
            QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= 3; }));
            if (loss == "dropped")
                sim.unit.stop(); // its connections close and nobody listens any more
            else
                sim.unit.setFaults(mute);
        }

        QVERIFY(waitUntil([&] { return worker.recorder.count("sweep finished") == 1; }, 10000));
        QCOMPARE(worker.recorder.statusTexts.last(), status);
        QCOMPARE(lost.size(), loss == "before" ? 0 : 1);
        if (loss != "before")
            QCOMPARE(lost.at(0).at(0).toString(), status);
        // Only failed readings led there (a closed connection ends it at once), and nothing
        // passes for a complete sweep.
        const QList<WorkerRecorder::Reading> readings = worker.recorder.readings;
        for (qsizetype i = qMax(0, readings.size() - WorkerProcess::UnitLostAfterFailedReadings);
             loss != "dropped" && i < readings.size(); ++i)
            QCOMPARE(readings.at(i).record, Fault);
        QVERIFY(!worker.recorder.progress.contains(100.0));
        QCOMPARE(worker.onWorker([&] { return worker.process->mode(); }),
                 int(Mode::WorkerModeNoAction));

        // The worker still takes commands, and the link comes back with the unit.
        if (loss == "dropped")
            QVERIFY(sim.unit.start());
        else
            sim.unit.setFaults({});
        QVERIFY(worker.connectToUnit());
        QCOMPARE(worker.recorder.connects, 2);
    }

    // A unit that closes the connection during the home view is reported once; the worker
    // idles without its modules and connects again when asked.
    void closedConnectionDuringHomeView()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        WorkerHarness worker;
        QSignalSpy lost(worker.process, &WorkerProcess::connectionLost);
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeAllChannels);
        QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= 1; }));
        QCOMPARE(worker.recorder.readings.first().record.value("status").toInt(), 1);

        unit.peer.closeClients();
        QVERIFY(waitUntil([&] { return lost.size() == 1; }, 3000));
        QCOMPARE(lost.at(0).at(0).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(worker.onWorker([&] { return worker.process->mode(); }),
                 int(Mode::WorkerModeNoAction));
        QVERIFY(worker.connectToUnit());
        QCOMPARE(worker.recorder.connects, 2);
        QCOMPARE(lost.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestWorkerFaults)
#include "tst_workerfaults.moc"
