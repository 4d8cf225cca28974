// The monitoring steps: the home view reading every module, the live view of one channel
// at the module's pace, the time plots with their status line, and the module's time
// constant set to the worker's.
#include "workertestsupport.h"

#include <QRegularExpression>
#include <QTest>

class TestWorkerMonitor : public QObject
{
    Q_OBJECT

private slots:
    void homeViewReadsEveryModule()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeAllChannels);
        QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= 5; }));

        QList<int> order;
        for (const WorkerRecorder::Reading& r : worker.recorder.readings.mid(0, 5))
            order << r.address;
        QCOMPARE(order, QList<int>({1, 2, 3, 4, 5}));
        for (int address : {1, 2, 3}) {
            const Record record = worker.recorder.readingsOf(address).first().record;
            QCOMPARE(record.value("status").toInt(), 1);
            for (const char* key : {"current", "voltage", "cps", "time_const", "operate"})
                QVERIFY2(record.contains(key), key);
        }
        const Record temperature = worker.recorder.readingsOf(4).first().record;
        QCOMPARE(temperature.value("status").toInt(), 1);
        QVERIFY(temperature.value("temperature").toDouble() > 0);
        // The model-1 temperature module shows its first sensor.
        const Record temperature1 = worker.recorder.readingsOf(5).first().record;
        QCOMPARE(temperature1.value("status").toInt(), 1);
        QVERIFY(temperature1.value("temperature").toDouble() > 0);
        QVERIFY(temperature1.contains("temperature_sensor_voltage"));
        // The home view never touches a module's time constant.
        QCOMPARE(worker.recorder.readingsOf(1).first().record.value("time_const").toFloat(), 0.1f);
        QCOMPARE(worker.recorder.count("plot"), 0);
    }

    void singleChannelFollowsTheModulePace()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        unit.timeConst = 0.004f;
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{ScriptedUnit::Address});
        worker.command(WorkerAsync::CommandSetTimeOut, 500.0);
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeSspdSingleChannel);
        QVERIFY(waitUntil([&] { return worker.recorder.count("plot") >= 3; }));
        // Never faster than 10 ms, and the module's own value is left alone.
        QCOMPARE(worker.onWorker([&] { return worker.process->timeConstant(); }), 10);
        QVERIFY(unit.writeCodes().isEmpty());

        unit.timeConst = 0.05f;
        QVERIFY(QTest::qWaitFor(
            [&] { return worker.onWorker([&] { return worker.process->timeConstant(); }) == 50; },
            5000));
        QVERIFY(worker.recorder.statusTexts.isEmpty());
    }

    void cpsAgainstTimeReportsEveryChannel()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{1, 9, 2});
        worker.command(WorkerAsync::CommandSetTimeOut, 50.0);
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeCpsVersTime);
        QVERIFY(waitUntil([&] { return worker.recorder.statusTexts.size() >= 2; }));

        static const QRegularExpression form(
            QStringLiteral("^SSPD 1: \\d+\\.\\d cps\\r\\nSSPD 2: \\d+\\.\\d cps\\r\\n"
                           "Time: \\d\\d:\\d\\d:\\d\\d$"));
        const QString text = worker.recorder.statusTexts.last();
        QVERIFY2(form.match(text).hasMatch(), qPrintable(text));
        // Each step: the readings, then the plot, then the status line.
        const QStringList step =
            worker.recorder.events.mid(worker.recorder.events.indexOf("plot") - 2, 4);
        QCOMPARE(step.mid(0, 3), QStringList({"data 1", "data 2", "plot"}));
        QVERIFY(step.at(3).startsWith("status SSPD 1: "));
        // The modules were given the worker's time constant.
        QCOMPARE(worker.recorder.readingsOf(2).last().record.value("time_const").toFloat(), 0.05f);
    }

    void temperatureAgainstTimeReportsKelvin()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{4});
        worker.command(WorkerAsync::CommandSetTimeOut, 20.0);
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeTemperatureVersTime);
        QVERIFY(waitUntil([&] { return !worker.recorder.statusTexts.isEmpty(); }));
        static const QRegularExpression form(
            QStringLiteral("^Temperature 4: \\d+\\.\\d\\d K\\r\\nTime: \\d\\d:\\d\\d:\\d\\d$"));
        const QString text = worker.recorder.statusTexts.last();
        QVERIFY2(form.match(text).hasMatch(), qPrintable(text));
    }

    void failedChannelLeavesTheOthersOfTheStep()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        QVERIFY(sim.unit.removeModule(5)); // falls silent
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{5, 4});
        worker.command(WorkerAsync::CommandSetTimeOut, 20.0);
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeTemperatureVersTime);
        QVERIFY(waitUntil([&] { return worker.recorder.statusTexts.size() >= 2; }));
        QCOMPARE(worker.recorder.readingsOf(5).first().record, Record({{"status", 2}}));
        QCOMPARE(worker.recorder.readingsOf(4).first().record.value("status").toInt(), 1);
        // The status line tells of the channels that answered.
        QVERIFY2(worker.recorder.statusTexts.last().startsWith("Temperature 4: "),
                 qPrintable(worker.recorder.statusTexts.last()));
    }

    void timeConstantChangeIsWrittenOnce()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{ScriptedUnit::Address});
        // 20 ms is 0.0199999996 s as the module's float: still the same time constant.
        worker.command(WorkerAsync::CommandSetTimeOut, 20.0);
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeCpsVersTime);
        QVERIFY(waitUntil([&] { return worker.recorder.count("plot") >= 5; }));
        QCOMPARE(unit.written(ScriptedUnit::TimeConstWrite), QList<float>{0.02f});

        // Parameters, the new time constant, then the data once the module has counted.
        QList<int> codes;
        for (const PeerPacket& p : unit.peer.packets().mid(0, 4))
            codes << p.command;
        QCOMPARE(codes, QList<int>({ScriptedUnit::ParamsRead, ScriptedUnit::TimeConstWrite,
                                    ScriptedUnit::Data, ScriptedUnit::ParamsRead}));

        const int plots = worker.recorder.count("plot");
        worker.command(WorkerAsync::CommandSetTimeOut, 30.0);
        QVERIFY(waitUntil([&] { return worker.recorder.count("plot") >= plots + 3; }));
        QCOMPARE(unit.written(ScriptedUnit::TimeConstWrite), QList<float>({0.02f, 0.03f}));
    }

    void failedReadEndsTheStepWithoutPlot()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        unit.silent = true;
        worker.command(WorkerAsync::CommandSetActiveChannels, QVariantList{ScriptedUnit::Address});
        worker.command(WorkerAsync::CommandSetTimeOut, 10.0);
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeCpsVersTime);
        QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= 2; }));
        for (const WorkerRecorder::Reading& r : worker.recorder.readings)
            QCOMPARE(r.record, Record({{"status", 2}}));
        QCOMPARE(worker.recorder.count("plot"), 0);
        QVERIFY(worker.recorder.statusTexts.isEmpty());

        unit.silent = false;
        QVERIFY(waitUntil([&] { return worker.recorder.count("plot") >= 1; }));
        QCOMPARE(worker.recorder.readings.last().record.value("status").toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestWorkerMonitor)
#include "tst_workermonitor.moc"
