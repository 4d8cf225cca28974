// Sweeps on one SSPD channel and the histogram, against a scripted module that records
// every write: start sequences, steps, progress, the stop trigger, the end of a sweep, and
// sweeps that could never end.
#include "engine/sweepparameters.h"
#include "workertestsupport.h"

#include <QTest>
#include <limits>

namespace {

QVariantMap sweep(double from, double to, double step, double timeConstant = 0.02)
{
    return {{"from", from},
            {"to", to},
            {"step", step},
            {"time_constant", timeConstant},
            {"current", 0}};
}

// Compares float lists written to the module with the doubles they stand for.
bool sameValues(const QList<float>& actual, const QList<double>& expected)
{
    if (actual.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < actual.size(); ++i)
        if (qAbs(double(actual.at(i)) - expected.at(i)) > 1e-6 * qAbs(expected.at(i)) + 1e-12)
            return false;
    return true;
}

bool sameProgress(const QList<double>& actual, const QList<double>& expected)
{
    if (actual.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < actual.size(); ++i)
        if (qAbs(actual.at(i) - expected.at(i)) > 1e-9)
            return false;
    return true;
}

QString listText(const QList<double>& values)
{
    QStringList texts;
    for (double v : values)
        texts << QString::number(v, 'g', 17);
    return texts.join(", ");
}

QString listText(const QList<float>& values)
{
    QStringList texts;
    for (float v : values)
        texts << QString::number(v, 'g', 8);
    return texts.join(", ");
}

} // namespace

class TestWorkerSweeps : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedUnit> unit;
    std::unique_ptr<WorkerHarness> worker;

    void startSweep(Mode mode, const QVariantMap& parameters)
    {
        worker->command(WorkerAsync::CommandSetActiveChannels, QVariantList{ScriptedUnit::Address});
        worker->command(WorkerAsync::CommandSweepParams, parameters);
        worker->command(WorkerAsync::CommandSetMode, mode);
    }
    bool waitForEnd()
    {
        return waitUntil([&] { return worker->recorder.count("sweep finished") == 1; });
    }
    int workerMode()
    {
        return worker->onWorker([&] { return worker->process->mode(); });
    }

private slots:
    void init()
    {
        unit = std::make_unique<ScriptedUnit>();
        QVERIFY(unit->listening);
        worker = std::make_unique<WorkerHarness>();
        QVERIFY(worker->connectToUnit());
    }
    void cleanup()
    {
        worker.reset();
        unit.reset();
    }

    void sweepParametersFollowTheDirection()
    {
        QVariantMap up = sweep(15e-6, 25e-6, 0.1e-6);
        up["current"] = 20e-6;
        const SweepParameters p(up);
        QCOMPARE(p.progress(), 50.0);
        QCOMPARE(p.next(), 20.1e-6);
        QVERIFY(!p.finished());
        QVERIFY(!p.hasTrigger());
        QCOMPARE(p.timeConstantMs(), 20);

        QVariantMap down = sweep(3.0, 1.0, 0.5);
        down["current"] = 0.5;
        const SweepParameters q(down);
        QCOMPARE(q.next(), 0.0);
        QCOMPARE(q.progress(), 125.0);
        QVERIFY(q.finished());

        // 0.57 s is 569.99999 ms in binary.
        QCOMPARE(SweepParameters(sweep(0, 1, 1, 0.57)).timeConstantMs(), 570);
        QCOMPARE(SweepParameters(QVariantMap{{"from", 0}}).timeConstantMs(), -1);
    }

    void ivCurveStepsToOneBeyondTheEnd()
    {
        startSweep(Mode::WorkerModeIVCurves, sweep(1e-6, 3e-6, 1e-6));
        QVERIFY(waitForEnd());
        QVERIFY2(sameValues(unit->written(ScriptedUnit::CurrentWrite), {1e-6, 2e-6, 3e-6, 4e-6}),
                 qPrintable(listText(unit->written(ScriptedUnit::CurrentWrite))));
        QCOMPARE(unit->written(ScriptedUnit::TimeConstWrite), QList<float>{0.02f});
        // No short, no switching on for an IV curve.
        QCOMPARE(unit->writeCodes(),
                 QList<int>({ScriptedUnit::CurrentWrite, ScriptedUnit::TimeConstWrite,
                             ScriptedUnit::CurrentWrite, ScriptedUnit::CurrentWrite,
                             ScriptedUnit::CurrentWrite}));
        QVERIFY2(sameProgress(worker->recorder.progress, QList<double>({0, 0, 50, 100, 100})),
                 qPrintable(listText(worker->recorder.progress)));
        QCOMPARE(worker->recorder.statusTexts,
                 QStringList({"Start Sweep process...", "Setting start current: 1 \u03bcA",
                              "Setting driver parameters..."}));
        // The last reading is taken one step beyond the end; it gets no plot of its own.
        QCOMPARE(worker->recorder.readings.last().record.value("current").toFloat(), 4e-6f);
        QCOMPARE(worker->recorder.count("plot"), 3);
        QCOMPARE(worker->recorder.events.mid(worker->recorder.events.size() - 3),
                 QStringList({QStringLiteral("data %1").arg(ScriptedUnit::Address), "progress",
                              "sweep finished"}));
        QCOMPARE(workerMode(), int(Mode::WorkerModeNoAction));
        QCOMPARE(worker->onWorker([&] { return worker->process->timeConstant(); }), 20);
    }

    void downwardSweepStepsDown()
    {
        startSweep(Mode::WorkerModeIVCurves, sweep(3e-6, 1e-6, 1e-6));
        QVERIFY(waitForEnd());
        QVERIFY2(sameValues(unit->written(ScriptedUnit::CurrentWrite), {3e-6, 2e-6, 1e-6, 0.0}),
                 qPrintable(listText(unit->written(ScriptedUnit::CurrentWrite))));
        QVERIFY2(sameProgress(worker->recorder.progress, QList<double>({0, 0, 50, 100, 100})),
                 qPrintable(listText(worker->recorder.progress)));
    }

    void countsAgainstCurrentStopAtTheTrigger()
    {
        unit->voltageAt = [](float current) { return current > 21e-6f ? -0.5f : 0.001f; };
        QVariantMap parameters = sweep(10e-6, 40e-6, 5e-6);
        parameters["trigger"] = 0.1;
        startSweep(Mode::WorkerModeCpsVersCurrent, parameters);
        QVERIFY(waitForEnd());

        QCOMPARE(worker->recorder.statusTexts,
                 QStringList({"Start Sweep process...", "Short-circiuts enable",
                              "Setting start current: 10 \u03bcA", "Setting driver parameters...",
                              "Delay 1 sec...", "Turn on ..."}));
        // Shorted, start current, time constant, then switched on (status with the chain
        // on, short removed); then one current per step until the detector switched.
        QCOMPARE(unit->writeCodes(),
                 QList<int>({ScriptedUnit::ShortEnable, ScriptedUnit::CurrentWrite,
                             ScriptedUnit::TimeConstWrite, ScriptedUnit::StatusWrite,
                             ScriptedUnit::ShortEnable, ScriptedUnit::CurrentWrite,
                             ScriptedUnit::CurrentWrite, ScriptedUnit::CurrentWrite}));
        QVERIFY2(
            sameValues(unit->written(ScriptedUnit::CurrentWrite), {10e-6, 15e-6, 20e-6, 25e-6}),
            qPrintable(listText(unit->written(ScriptedUnit::CurrentWrite))));
        QVERIFY2(sameProgress(worker->recorder.progress,
                              QList<double>({0, 0, 50.0 / 3, 100.0 / 3, 100})),
                 qPrintable(listText(worker->recorder.progress)));
        QCOMPARE(unit->status, quint8(0x3C));
        QCOMPARE(workerMode(), int(Mode::WorkerModeNoAction));
    }

    void countsAgainstTriggerStepTheLevel()
    {
        startSweep(Mode::WorkerModeCpsVersTrigger, sweep(0.0, 0.01, 0.005));
        QVERIFY(waitForEnd());
        QCOMPARE(worker->recorder.statusTexts.at(2),
                 QStringLiteral("Setting start trigger : 0 mV"));
        QVERIFY2(
            sameValues(unit->written(ScriptedUnit::CmpRefLevelWrite), {0.0, 0.005, 0.01, 0.015}),
            qPrintable(listText(unit->written(ScriptedUnit::CmpRefLevelWrite))));
        QVERIFY(unit->written(ScriptedUnit::CurrentWrite).isEmpty());
        QVERIFY2(sameProgress(worker->recorder.progress, QList<double>({0, 0, 50, 100, 100})),
                 qPrintable(listText(worker->recorder.progress)));
    }

    void anotherModeLeavesTheSweep()
    {
        startSweep(Mode::WorkerModeIVCurves, sweep(0.0, 1e-3, 1e-7, 0.01));
        QVERIFY(waitUntil([&] { return worker->recorder.progress.size() >= 4; }));
        worker->command(WorkerAsync::CommandSetMode, Mode::WorkerModeNoAction);
        QVERIFY(QTest::qWaitFor([&] { return workerMode() == Mode::WorkerModeNoAction; }, 5000));
        const qsizetype writes = unit->written(ScriptedUnit::CurrentWrite).size();
        runEvents(100);
        QCOMPARE(unit->written(ScriptedUnit::CurrentWrite).size(), writes);
        QCOMPARE(worker->recorder.count("sweep finished"), 0);
    }

    void sweepWithoutDriverDoesNothing()
    {
        worker->command(WorkerAsync::CommandSetActiveChannels, QVariantList{9});
        worker->command(WorkerAsync::CommandSweepParams, sweep(1e-6, 3e-6, 1e-6));
        worker->command(WorkerAsync::CommandSetTimeOut, 10.0);
        worker->command(WorkerAsync::CommandSetMode, Mode::WorkerModeIVCurves);
        QVERIFY(waitUntil([&] { return worker->recorder.count("plot") >= 2; }));
        QVERIFY(worker->recorder.statusTexts.isEmpty());
        QVERIFY(worker->recorder.progress.isEmpty());
        QVERIFY(unit->writeCodes().isEmpty());
        QCOMPARE(workerMode(), int(Mode::WorkerModeIVCurves));
    }

    void sweepThatCannotEndIsRefused_data()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::addColumn<QVariantMap>("parameters");
        QTest::addColumn<QString>("status");
        const QString step = QStringLiteral("Sweep not started: the step must be a number above 0");
        QTest::newRow("step 0") << sweep(1e-6, 3e-6, 0) << step;
        QTest::newRow("negative step") << sweep(1e-6, 3e-6, -1e-6) << step;
        QTest::newRow("step not a number") << sweep(1e-6, 3e-6, nan) << step;
        QTest::newRow("infinite step") << sweep(1e-6, 3e-6, inf) << step;
        QTest::newRow("step lost in rounding") << sweep(1.0, 2.0, 1e-20) << step;
        QTest::newRow("no step") << QVariantMap{{"from", 1e-6},
                                                {"to", 3e-6},
                                                {"time_constant", 0.02}}
                                 << step;
        QTest::newRow("end not a number")
            << sweep(1e-6, nan, 1e-6)
            << QStringLiteral("Sweep not started: start and end must be finite numbers");
        QTest::newRow("time constant 0")
            << sweep(1e-6, 3e-6, 1e-6, 0.0)
            << QStringLiteral("Sweep not started: the time constant must be at least 1 ms");
        // Work without end, and values no parameter write may send.
        QTest::newRow("endless steps")
            << sweep(0, 1e-4, 1e-15)
            << QStringLiteral("Sweep not started: from 0 to 0.0001 in steps of 1e-15 takes "
                              "1e+11 steps; at most 100000 are allowed");
        QTest::newRow("end beyond the bias limit")
            << sweep(0, 0.01, 1e-4)
            << QStringLiteral("Sweep not started: current 0.01 A is outside -0.001 to 0.001 A");
        QTest::newRow("time constant beyond its limit")
            << sweep(1e-6, 3e-6, 1e-6, 1000)
            << QStringLiteral("Sweep not started: time_const 1000 s is outside 0.01 to 100 s");
        QVariantMap noTrigger = sweep(1e-6, 3e-6, 1e-6);
        noTrigger["trigger"] = nan;
        QTest::newRow("trigger not a number")
            << noTrigger
            << QStringLiteral("Sweep not started: the stop trigger must be a finite number");
    }
    void sweepThatCannotEndIsRefused()
    {
        QFETCH(QVariantMap, parameters);
        QFETCH(QString, status);
        startSweep(Mode::WorkerModeIVCurves, parameters);
        QVERIFY(waitForEnd());
        QCOMPARE(worker->recorder.statusTexts, QStringList{status});
        QCOMPARE(workerMode(), int(Mode::WorkerModeNoAction));
        runEvents(50);
        QVERIFY(unit->writeCodes().isEmpty());
        QVERIFY(worker->recorder.readings.isEmpty());
    }

    void sweepEndsAtTheBiasLimit()
    {
        startSweep(Mode::WorkerModeIVCurves, sweep(0.998e-3, 1e-3, 1e-6));
        QVERIFY(waitForEnd());
        // The step beyond the end would be beyond the limit: the sweep ends at its end.
        QVERIFY2(sameValues(unit->written(ScriptedUnit::CurrentWrite), {0.998e-3, 0.999e-3, 1e-3}),
                 qPrintable(listText(unit->written(ScriptedUnit::CurrentWrite))));
        QCOMPARE(worker->recorder.progress.last(), 100.0);
    }

    void sweepWithoutSpanIsOnePoint()
    {
        startSweep(Mode::WorkerModeIVCurves, sweep(2e-6, 2e-6, 0));
        QVERIFY(waitForEnd());
        QCOMPARE(unit->written(ScriptedUnit::CurrentWrite), QList<float>{2e-6f});
        QCOMPARE(worker->recorder.readings.size(), 1);
        QVERIFY2(sameProgress(worker->recorder.progress, QList<double>({0, 100})),
                 qPrintable(listText(worker->recorder.progress)));
        QCOMPARE(workerMode(), int(Mode::WorkerModeNoAction));
    }

    void histogramReadsUntilAnotherMode()
    {
        unit->counts = 25;
        startSweep(Mode::WorkerModeHistogram, sweep(0, 1000, 1, 0.01));
        QVERIFY(waitUntil([&] { return worker->recorder.count("plot") >= 5; }));
        QCOMPARE(worker->recorder.statusTexts,
                 QStringList({"Start process...", "Setting driver parameters..."}));
        QCOMPARE(unit->writeCodes(), QList<int>{ScriptedUnit::TimeConstWrite});
        QCOMPARE(worker->recorder.readings.last().record.value("cps").toDouble(), 2500.0);
        QVERIFY(worker->recorder.progress.isEmpty());

        worker->command(WorkerAsync::CommandSetMode, Mode::WorkerModeNoAction);
        QVERIFY(QTest::qWaitFor([&] { return workerMode() == Mode::WorkerModeNoAction; }, 5000));
        const qsizetype readings = worker->recorder.readings.size();
        runEvents(60);
        QCOMPARE(worker->recorder.readings.size(), readings);
        QCOMPARE(worker->recorder.count("sweep finished"), 0);
    }
};

QTEST_GUILESS_MAIN(TestWorkerSweeps)
#include "tst_workersweeps.moc"
