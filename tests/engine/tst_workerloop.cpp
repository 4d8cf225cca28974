// The worker's main loop: it sleeps while there is nothing to do, wakes for queued
// commands, and ends on the thread's interruption request alone.
#include "workertestsupport.h"

#include <QTest>

class TestWorkerLoop : public QObject
{
    Q_OBJECT

private slots:
    void idleLoopSleeps()
    {
        WorkerHarness worker;
        runEvents(50);
        const quint64 before = worker.process->loopPasses();
        runEvents(500);
        // Half a second of nothing to do: a handful of passes, not thousands.
        QVERIFY2(worker.process->loopPasses() - before < 25,
                 qPrintable(QString::number(worker.process->loopPasses() - before)));
    }

    void idleMonitoringSleepsBetweenSteps()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{ScriptedUnit::Address});
        worker.command(WorkerAsync::CommandSetTimeOut, 200);
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeCpsVersTime);
        QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= 1; }));
        const quint64 before = worker.process->loopPasses();
        runEvents(600);
        QVERIFY(worker.recorder.readings.size() >= 3);
        QVERIFY2(worker.process->loopPasses() - before < 40,
                 qPrintable(QString::number(worker.process->loopPasses() - before)));
    }

    void queuedCommandsRunInOrder()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        for (int lock : {1, 0, 1})
            worker.command(WorkerAsync::CommandLock, lock);
        // A number outside the command set is dropped without stopping the queue.
        worker.process->addCommand(42, 1);
        worker.command(WorkerAsync::CommandResetUnits);
        QVERIFY(waitUntil([&] { return unit.peer.lines().size() == 5; }));
        QCOMPARE(unit.peer.lines().mid(1),
                 QList<QByteArray>({"SYST:LOCK 1", "SYST:LOCK 0", "SYST:LOCK 1", "SYST:URES"}));
    }

    void modeNumberOutsideTheSetLeavesTheWorkerIdle()
    {
        WorkerHarness worker;
        QObject context;
        int executed = 0;
        QObject::connect(worker.process, &WorkerProcess::commandExecuted, &context,
                         [&] { ++executed; });
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeAllChannels);
        worker.command(WorkerAsync::CommandSetMode, 42);
        QVERIFY(waitUntil([&] { return executed == 2; }));
        QCOMPARE(worker.onWorker([&] { return worker.process->mode(); }), Mode::WorkerModeNoAction);
    }

    void interruptionAloneEndsTheLoop()
    {
        WorkerHarness worker;
        runEvents(20);
        worker.thread.requestInterruption();
        QVERIFY(waitUntil([&] { return worker.recorder.count("finished") == 1; }));
        QVERIFY(QTest::qWaitFor([&] { return worker.thread.isFinished(); }, 5000));
    }

    void interruptionEndsAMonitoringLoop()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeAllChannels);
        QVERIFY(waitUntil([&] { return !worker.recorder.readings.isEmpty(); }));
        worker.thread.requestInterruption();
        worker.thread.quit();
        QVERIFY(waitUntil([&] { return worker.recorder.count("finished") == 1; }));
        QVERIFY(QTest::qWaitFor([&] { return worker.thread.isFinished(); }, 5000));
    }
};

QTEST_GUILESS_MAIN(TestWorkerLoop)
#include "tst_workerloop.moc"
