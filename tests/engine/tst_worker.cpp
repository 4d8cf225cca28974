// The worker on its own thread against a scripted unit and the simulated rack: inventory, its
// loop and commands, the monitoring steps, sweeps and histogram, units that fall silent or go
// away, and the characterisation of an SSPD channel.
#include "drivers/abstractdriver.h"
#include "engine/detectorcharacterisation.h"
#include "engine/sweepparameters.h"
#include "enginetestsupport.h"
#include "models/eepromdatastorage.h"
#include "modules/simsspdm0.h"

#include <QRegularExpression>
#include <limits>
#include <tuple>

namespace {

using Characterisation = DetectorCharacterisation;
const Record Fault{{"status", 2}};
constexpr int Sspd = ScriptedUnit::Address;

QVariantMap sweep(double from, double to, double step, double timeConstant = 0.02)
{
    return {{"from", from},
            {"to", to},
            {"step", step},
            {"time_constant", timeConstant},
            {"current", 0}};
}

template <typename T> bool near(const QList<T>& actual, const QList<double>& expected)
{
    bool same = actual.size() == expected.size();
    for (qsizetype i = 0; same && i < actual.size(); ++i)
        same = qAbs(double(actual.at(i)) - expected.at(i)) <= 1e-6 * qAbs(expected.at(i)) + 1e-12;
    return same;
}

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedUnit> unit;
    std::unique_ptr<SimulatedRack> sim;
    std::unique_ptr<WorkerHarness> worker;

    WorkerRecorder& rec() { return worker->recorder; }
    bool startScripted(bool connect = true, int answerTimeoutMs = 150)
    {
        unit = std::make_unique<ScriptedUnit>();
        worker = std::make_unique<WorkerHarness>(answerTimeoutMs);
        return unit->listening && (!connect || worker->connectToUnit());
    }
    bool startSimulated()
    {
        sim = std::make_unique<SimulatedRack>(7);
        worker = std::make_unique<WorkerHarness>();
        return sim->start() && worker->connectToUnit();
    }
    void run(Mode mode, const QVariantList& channels, double timeConstantMs = 20)
    {
        worker->command(Cmd::CommandSetActiveChannels, channels);
        worker->command(Cmd::CommandSetTimeOut, timeConstantMs);
        worker->command(Cmd::CommandSetMode, mode);
    }
    bool runSweep(Mode mode, const QVariantMap& parameters)
    {
        worker->command(Cmd::CommandSetActiveChannels, QVariantList{Sspd});
        worker->command(Cmd::CommandSweepParams, parameters);
        worker->command(Cmd::CommandSetMode, mode);
        return waitUntil([&] { return rec().count("sweep finished") == 1; });
    }
    // Lines the unit received after the inventory.
    QList<QByteArray> commandLines() const { return unit->peer.lines().mid(1); }
    // Class names of the worker's drivers with their addresses, in list order.
    QStringList drivers()
    {
        return worker->onWorker([&] {
            QStringList list;
            for (AbstractDriver* d : worker->process->drivers())
                list << QStringLiteral("%1@%2").arg(d->metaObject()->className()).arg(d->address());
            return list;
        });
    }
    bool unlinked()
    {
        return worker->onWorker([&] { return worker->process->transport() == nullptr; });
    }

private slots:
    void cleanup()
    {
        worker.reset();
        unit.reset();
        sim.reset();
    }

    void legacyLinesAreReadFieldByField()
    {
        QVERIFY(startScripted(false));
        unit->answers["SYST:DEVJ?"] = "UNKNOWN COMMAND\r\n";
        unit->answers["SYST:DEVL?"] = "a=1:addr=3:type=VX9SDM1<br>no colons here<br>"
                                      "b:noequals:type=VX9SDM0<br>m=2:addr=300:type=VX9SDM0<br>"
                                      "m=3:addr=6:type=VX9HTM0\r\n";
        QVERIFY(worker->connectToUnit());
        QCOMPARE(unit->peer.lines(), QList<QByteArray>({"SYST:DEVJ?", "SYST:DEVL?"}));
        const QJsonObject list = rec().lists.first();
        QCOMPARE(list.value("software_version").toString(), QStringLiteral("<1.3.0"));
        QCOMPARE(list.value("count").toInt(), 2); // entries without a driver are not counted
        const QJsonObject first = list.value("info").toArray().at(0).toObject();
        QCOMPARE(first.value("type").toString(), QStringLiteral("VX9SDM1"));
        QCOMPARE(first.value("UDID").toString(), QStringLiteral("0011-2233-4455-6677-8899-AABB"));
        QStringList texts;
        for (const char* key : {"Modification", "Hardware", "Firmware", "Description"})
            texts << first.value(key).toString();
        QCOMPARE(texts, QStringList({"text 7", "text 8", "text 9", "text 10"}));
        // Only the low eight bits of an address count.
        QCOMPARE(drivers(), QStringList({"SspdDriverM1@3", "SspdDriverM0@44"}));
    }

    // Without a unit nothing is sent or reported; a silent unit gives no connection.
    void withoutUnitNothingIsSentOrReported()
    {
        QVERIFY(startScripted(false));
        for (Cmd command :
             {Cmd::CommandResetUnits, Cmd::CommandSystemReset, Cmd::CommandPowerOff,
              Cmd::CommandLock, Cmd::CommandUpdateUnit, Cmd::CommandAddUnit, Cmd::CommandRemoveUnit,
              Cmd::CommandUpdateEepromConst, Cmd::CommandWriteEEPROM})
            worker->command(command, 3);
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "current", 1e-6});
        QVERIFY(worker->settle());
        QCOMPARE(unit->peer.connectionCount(), 0);
        QVERIFY(rec().events.isEmpty());
        unit->peer.setTextResponder([](const QByteArray&) { return QByteArray(); });
        worker->command(Cmd::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(waitUntil([&] { return unit->peer.lines().size() == 1; }));
        QVERIFY(worker->settle());
        QVERIFY(rec().connects == 0 && rec().lists.isEmpty() && unlinked());
    }

    // An old unit's modules are asked one by one, up to a hundred times each: silent ones
    // must not keep the user from quitting or from connecting elsewhere.
    void silentLegacyModulesGiveWayToTheUser_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("quit") << true;
        QTest::newRow("connect anew") << false;
    }
    void silentLegacyModulesGiveWayToTheUser()
    {
        QFETCH(bool, quit);
        // Every try waits the full answer time of 500 ms; the user waits a second at most.
        QVERIFY(startScripted(false, 500));
        unit->answers["SYST:DEVJ?"] = "UNKNOWN COMMAND\r\n";
        unit->answers["SYST:DEVL?"] = "a=1:addr=3:type=VX9SDM0<br>a=2:addr=4:type=VX9SDM0\r\n";
        unit->silent = true;
        worker->command(Cmd::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(waitUntil([&] { return unit->peer.packets().size() >= 2; }));
        if (quit) {
            worker->thread.requestInterruption(); // as the program's end asks it
            worker->thread.quit();
            QVERIFY(worker->thread.wait(QDeadlineTimer(1000)));
            QCOMPARE(rec().connects, 0);
            return;
        }
        unit->answers["SYST:DEVJ?"] = ScriptedUnit::moduleListJson({}, 0);
        worker->command(Cmd::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(waitUntil([&] { return rec().connects == 1; }, 1000));
        // The given-up inventory reported nothing; the new one is the only list.
        QCOMPARE(rec().lists.size(), 1);
        QCOMPARE(rec().lists.first().value("count").toInt(), 0);
    }

    void loopSleepsWhenIdleAndEndsOnInterruption()
    {
        QVERIFY(startScripted());
        runEvents(50);
        quint64 before = worker->process->loopPasses();
        runEvents(500);
        // Half a second of nothing to do: a handful of passes, not thousands.
        QVERIFY(worker->process->loopPasses() - before < 25);
        run(Mode::WorkerModeCpsVersTime, {Sspd}, 200);
        QVERIFY(waitUntil([&] { return rec().readings.size() >= 1; }));
        before = worker->process->loopPasses();
        runEvents(600);
        QVERIFY(rec().readings.size() >= 3);
        QVERIFY(worker->process->loopPasses() - before < 40);
        // The interruption alone ends a monitoring loop.
        worker->thread.requestInterruption();
        QVERIFY(waitUntil([&] { return rec().count("finished") == 1; }));
        QVERIFY(QTest::qWaitFor([&] { return worker->thread.isFinished(); }, 5000));
    }

    // The unit's text commands: what goes out, and how an answer without "ok" is reported; a
    // refused lock stops the update, a refused save the module list change.
    void unitTextCommands()
    {
        QVERIFY(startScripted());
        unit->answers["SYST:LOCK 1"] = "ERROR: no\r\n";
        unit->answers["SYST:DEVL:SAVE"] = "ERROR: no\r\n";
        const auto sentSince = [&](qsizetype before) {
            return unit->peer.rawReceived().mid(before);
        };
        qsizetype before = unit->peer.rawReceived().size();
        worker->command(Cmd::CommandUpdateUnit, 3);
        worker->command(Cmd::CommandAddUnit, 7);
        QVERIFY(waitUntil([&] { return rec().errors.size() == 2; }));
        QCOMPARE(sentSince(before), "SYST:LOCK 1\r\nSYST:DEVL:ADD 7\r\nSYST:DEVL:SAVE\r\n");
        QCOMPARE(rec().errors, (QList<Message>{{"Error", "Error at 'SYST:LOCK 1' command"},
                                               {"Error", "Error at 'SYST:DEVL:SAVE' command"}}));
        unit->answers.remove("SYST:LOCK 1");
        unit->answers.remove("SYST:DEVL:SAVE");
        unit->answers["SYST:DEVJ?"] = ScriptedUnit::moduleListJson(
            {ScriptedUnit::entry(3, "VX9SDM0"), ScriptedUnit::entry(7, "VX9TDM0")}, 2);
        before = unit->peer.rawReceived().size();
        worker->command(Cmd::CommandAddUnit, 7);
        // The list and the message come by separate signals, in either order.
        QVERIFY(waitUntil([&] { return rec().lists.size() == 2 && !rec().messages.isEmpty(); }));
        QCOMPARE(sentSince(before), "SYST:DEVL:ADD 7\r\nSYST:DEVL:SAVE\r\nSYST:DEVJ?\r\n");
        QCOMPARE(rec().messages.size(), 1);
        QVERIFY(rec().messages.first().second.startsWith("Unit 7 sicessfully added"));
        QCOMPARE(drivers(), QStringList({"SspdDriverM0@3", "TempDriverM0@7"}));
        unit->answers["SYST:DEVJ?"] = QByteArray(); // the inventory fails on silence
        worker->command(Cmd::CommandAddUnit, 7);
        QVERIFY(waitUntil([&] { return rec().errors.size() == 3; }));
        QCOMPARE(rec().errors.last(), Message("Error", "Error at 'get device list' command"));
        before = unit->peer.rawReceived().size();
        worker->command(Cmd::CommandUpdateUnit, 3); // its text ends in a line end of its own
        QVERIFY(
            waitUntil([&] { return sentSince(before) == "SYST:LOCK 1\r\nSYST:UPDT 3\r\n\r\n"; }));
        QVERIFY(worker->settle());
        QCOMPARE(rec().errors.size(), 3);
    }

    // The CLI's EEPROM round trip runs these commands end to end; here an unknown module and
    // unanswered writes: errors, and the dialog still hears the end of each transfer.
    void unansweredEepromWritesAreReported()
    {
        QVERIFY(startScripted());
        worker->command(Cmd::CommandUpdateEepromConst, 9);
        worker->command(Cmd::CommandUpdateEepromConst, 3);
        QVERIFY(waitUntil([&] { return !rec().eepromReads.isEmpty(); }));
        QVERIFY(worker->settle());
        QCOMPARE(rec().eepromReads.size(), 1);
        EepromDataStorage storage;
        storage.initialize(rec().eepromReads.first());
        unit->silent = true;
        worker->command(Cmd::CommandSetEepromConst, QVariant::fromValue(&storage));
        worker->command(Cmd::CommandWriteEEPROM, 3);
        QVERIFY(waitUntil([&] { return rec().count("eeprom updated") == 2; }));
        QCOMPARE(rec().errors,
                 (QList<Message>{Message("Error", "EEPROM constants of unit 3 were not written"),
                                 Message("Error", "Unit 3 did not store its EEPROM")}));
        QCOMPARE(rec().events.mid(rec().events.indexOf("error")),
                 (QStringList{"error", "eeprom updated", "error", "eeprom updated"}));
    }

    void everyCommandReportsHowItEnded()
    {
        QVERIFY(startScripted());
        QObject context; // the connection ends with this test
        QList<std::tuple<int, QVariant, bool>> outcomes;
        connect(worker->process, &WorkerProcess::commandExecuted, &context,
                [&](int command, QVariant parameter, bool ok) {
                    if (command != Cmd::CommandConnect)
                        outcomes.append({command, parameter, ok});
                });
        // "ok" is found in any case and place, but not spread out.
        unit->answers.insert("SYST:LOCK 1", "done, Ok.\r\n");
        unit->answers.insert("SYST:LOCK 0", "o k\r\n");
        worker->command(Cmd::CommandLock, 1);
        worker->command(Cmd::CommandLock, 0);
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "current", 2e-5});
        worker->command(Cmd::CommandFreeStyle, QVariantList{9, "current", 2e-5});
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "no_such_name", 1});
        // A value no panel could send is refused by the worker itself.
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "cmp_ref_level", qQNaN()});
        // Values that do not convert change nothing.
        worker->command(Cmd::CommandSetTimeOut, QStringLiteral("soon"));
        worker->command(Cmd::CommandSetActiveChannels, QStringLiteral("all"));
        worker->command(Cmd::CommandSweepParams, 7);
        // A sweep without a step never ends: it does not start.
        worker->command(Cmd::CommandSetActiveChannels, QVariant::fromValue(QList<int>{3}));
        worker->command(Cmd::CommandSweepParams, sweep(1e-6, 2e-6, 0.0));
        worker->command(Cmd::CommandSetMode, int(Mode::WorkerModeIVCurves));
        worker->command(Cmd::CommandSetMode, int(Mode::WorkerModeAllChannels));
        // A mode that does not exist is no success, though the worker is safely idle; a
        // number outside the command set is dropped without stopping the queue.
        worker->command(Cmd::CommandSetMode, 42);
        worker->process->addCommand(42, 1);
        worker->command(Cmd::CommandResetUnits);
        QVERIFY(waitUntil([&] { return outcomes.size() >= 14 && commandLines().size() == 3; }));
        QCOMPARE(commandLines(), QList<QByteArray>({"SYST:LOCK 1", "SYST:LOCK 0", "SYST:URES"}));
        const QList<bool> ok = {true,  false, true, false, false, false, false,
                                false, false, true, true,  false, true,  false};
        for (int i = 0; i < ok.size(); ++i)
            QVERIFY2(std::get<2>(outcomes.at(i)) == ok.at(i), qPrintable(QString::number(i)));
        QCOMPARE(std::get<0>(outcomes.at(1)), int(Cmd::CommandLock));
        QCOMPARE(std::get<1>(outcomes.at(1)), QVariant(0));
        QVERIFY(rec().errors.contains(
            Message("Error", "Unit 3: cmp_ref_level nan is not a number; not written")));
        QCOMPARE(worker->mode(), int(Mode::WorkerModeNoAction));
    }

    void singleChannelFollowsTheModulePace()
    {
        QVERIFY(startScripted());
        unit->timeConst = 0.004f;
        run(Mode::WorkerModeSspdSingleChannel, {Sspd}, 500);
        QVERIFY(waitUntil([&] { return rec().count("plot") >= 3; }));
        // Never faster than 10 ms, and the module's own value is left alone.
        auto pace = [&] {
            return worker->onWorker([&] { return worker->process->timeConstant(); });
        };
        QCOMPARE(pace(), 10);
        QVERIFY(unit->writeCodes().isEmpty());
        unit->timeConst = 0.05f;
        QVERIFY(QTest::qWaitFor([&] { return pace() == 50; }, 5000));
        QVERIFY(rec().statusTexts.isEmpty());
    }

    // A channel that fails never stops the others of the step.
    void failedChannelLeavesTheOthersOfTheStep()
    {
        QVERIFY(startSimulated());
        QVERIFY(sim->unit.removeModule(5)); // falls silent
        run(Mode::WorkerModeTemperatureVersTime, {5, 4});
        QVERIFY(waitUntil([&] { return rec().statusTexts.size() >= 2; }));
        QHash<int, Record> first; // each channel's first reading
        for (const WorkerRecorder::Reading& r : rec().readings)
            first.insert(r.address, first.value(r.address, r.record));
        QCOMPARE(first.value(5), Fault);
        QCOMPARE(first.value(4).value("status").toInt(), 1);
        // The status line tells of the channels that answered.
        const QRegularExpression status(
            "^Temperature 4: \\d+\\.\\d\\d K\\r\\nTime: \\d\\d:\\d\\d:\\d\\d$");
        QVERIFY(status.match(rec().statusTexts.last()).hasMatch());
    }

    void timeConstantChangeIsWrittenOnce()
    {
        QVERIFY(startScripted());
        // 20 ms is 0.0199999996 s as the module's float: still the same time constant.
        run(Mode::WorkerModeCpsVersTime, {Sspd}, 20);
        QVERIFY(waitUntil([&] { return rec().count("plot") >= 5; }));
        QCOMPARE(unit->written(ScriptedUnit::TimeConstWrite), QList<float>{0.02f});
        // Parameters, the new time constant, then the data once the module has counted.
        QList<int> codes;
        for (const PeerPacket& p : unit->peer.packets().mid(0, 4))
            codes << p.command;
        QCOMPARE(codes, QList<int>({ScriptedUnit::ParamsRead, ScriptedUnit::TimeConstWrite,
                                    ScriptedUnit::Data, ScriptedUnit::ParamsRead}));
        const int plots = rec().count("plot");
        worker->command(Cmd::CommandSetTimeOut, 30.0);
        QVERIFY(waitUntil([&] { return rec().count("plot") >= plots + 3; }));
        QCOMPARE(unit->written(ScriptedUnit::TimeConstWrite), QList<float>({0.02f, 0.03f}));
    }

    void sweepTimeConstantIsRoundedToMilliseconds()
    {
        // 1.001 s is 1000.9999999999999 ms in binary.
        QCOMPARE(SweepParameters(sweep(0, 1, 1, 1.001)).timeConstantMs(), 1001);
        QCOMPARE(SweepParameters(QVariantMap{{"from", 0}}).timeConstantMs(), -1);
    }

    void ivCurveStepsToOneBeyondTheEnd_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<QList<double>>("currents");
        QTest::newRow("up") << 1e-6 << 3e-6 << QList<double>{1e-6, 2e-6, 3e-6, 4e-6};
        QTest::newRow("down") << 3e-6 << 1e-6 << QList<double>{3e-6, 2e-6, 1e-6, 0.0};
        // The step beyond the end would be beyond the bias limit: the sweep ends at its end.
        QTest::newRow("at the bias limit")
            << 0.998e-3 << 1e-3 << QList<double>{0.998e-3, 0.999e-3, 1e-3};
        QTest::newRow("without span") << 2e-6 << 2e-6 << QList<double>{2e-6};
    }
    void ivCurveStepsToOneBeyondTheEnd()
    {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(QList<double>, currents);
        QVERIFY(startScripted());
        QVERIFY(runSweep(Mode::WorkerModeIVCurves, sweep(from, to, from == to ? 0 : 1e-6)));
        QVERIFY(near(unit->written(ScriptedUnit::CurrentWrite), currents));
        QCOMPARE(rec().progress.last(), 100.0);
        QCOMPARE(rec().readings.size(), currents.size());
        QCOMPARE(worker->mode(), int(Mode::WorkerModeNoAction));
        if (currents.size() != 4)
            return;
        // No short, no switching on for an IV curve.
        QCOMPARE(unit->writeCodes(),
                 QList<int>({ScriptedUnit::CurrentWrite, ScriptedUnit::TimeConstWrite,
                             ScriptedUnit::CurrentWrite, ScriptedUnit::CurrentWrite,
                             ScriptedUnit::CurrentWrite}));
        QCOMPARE(unit->written(ScriptedUnit::TimeConstWrite), QList<float>{0.02f});
        QVERIFY(near(rec().progress, {0, 0, 50, 100, 100}));
        QCOMPARE(rec().statusTexts,
                 QStringList({"Start Sweep process...",
                              QStringLiteral("Setting start current: %1 \u03bcA").arg(from * 1e6),
                              "Setting driver parameters..."}));
        // The last reading is taken one step beyond the end; it gets no plot of its own.
        QCOMPARE(rec().count("plot"), 3);
        QCOMPARE(rec().events.mid(rec().events.size() - 3),
                 QStringList({QStringLiteral("data %1").arg(Sspd), "progress", "sweep finished"}));
        QCOMPARE(worker->onWorker([&] { return worker->process->timeConstant(); }), 20);
    }

    void countsAgainstCurrentStopAtTheTrigger()
    {
        QVERIFY(startScripted());
        unit->voltageAt = [](float current) { return current > 21e-6f ? -0.5f : 0.001f; };
        QVariantMap parameters = sweep(10e-6, 40e-6, 5e-6);
        parameters["trigger"] = 0.1;
        QVERIFY(runSweep(Mode::WorkerModeCpsVersCurrent, parameters));
        QCOMPARE(rec().statusTexts,
                 QStringList({"Start Sweep process...", "Short-circiuts enable",
                              QStringLiteral("Setting start current: 10 \u03bcA"),
                              "Setting driver parameters...", "Delay 1 sec...", "Turn on ..."}));
        // Shorted, start current, time constant, then switched on (status with the chain on,
        // short removed); then one current per step until the detector switched.
        QCOMPARE(unit->writeCodes(),
                 QList<int>({ScriptedUnit::ShortEnable, ScriptedUnit::CurrentWrite,
                             ScriptedUnit::TimeConstWrite, ScriptedUnit::StatusWrite,
                             ScriptedUnit::ShortEnable, ScriptedUnit::CurrentWrite,
                             ScriptedUnit::CurrentWrite, ScriptedUnit::CurrentWrite}));
        QVERIFY(near(unit->written(ScriptedUnit::CurrentWrite), {10e-6, 15e-6, 20e-6, 25e-6}));
        QVERIFY(near(rec().progress, {0, 0, 50.0 / 3, 100.0 / 3, 100}));
        QCOMPARE(unit->status, quint8(0x3C));
        QCOMPARE(worker->mode(), int(Mode::WorkerModeNoAction));
    }

    void sweepThatCannotEndIsRefused_data()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::addColumn<QVariantMap>("parameters");
        QTest::addColumn<QString>("status");
        const auto row = [](const char* name, const QVariantMap& parameters, const char* status) {
            QTest::newRow(name) << parameters << QString(status);
        };
        const char* step = "the step must be a number above 0";
        row("step 0", sweep(1e-6, 3e-6, 0), step);
        row("step not a number", sweep(1e-6, 3e-6, nan), step);
        row("step lost in rounding", sweep(1.0, 2.0, 1e-20), step);
        row("end not a number", sweep(1e-6, nan, 1e-6), "start and end must be finite numbers");
        row("time constant 0", sweep(1e-6, 3e-6, 1e-6, 0),
            "the time constant must be at least 1 ms");
        // Work without end, and values no parameter write may send.
        row("end beyond the bias limit", sweep(0, 0.01, 1e-4),
            "current 0.01 A is outside -0.001 to 0.001 A");
        row("time constant beyond its limit", sweep(1e-6, 3e-6, 1e-6, 1000),
            "time_const 1000 s is outside 0.01 to 100 s");
        QVariantMap noTrigger = sweep(1e-6, 3e-6, 1e-6);
        noTrigger["trigger"] = nan;
        row("trigger not a number", noTrigger, "the stop trigger must be a finite number");
    }
    void sweepThatCannotEndIsRefused()
    {
        QFETCH(QVariantMap, parameters);
        QFETCH(QString, status);
        QVERIFY(startScripted());
        QVERIFY(runSweep(Mode::WorkerModeIVCurves, parameters));
        QCOMPARE(rec().statusTexts, QStringList{"Sweep not started: " + status});
        QCOMPARE(worker->mode(), int(Mode::WorkerModeNoAction));
        runEvents(50);
        QVERIFY(unit->writeCodes().isEmpty() && rec().readings.isEmpty());
    }

    // Another mode leaves the histogram or a sweep without ending it as a sweep.
    void histogramAndSweepRunUntilAnotherMode()
    {
        QVERIFY(startScripted());
        unit->counts = 25;
        worker->command(Cmd::CommandSweepParams, sweep(0, 1000, 1, 0.01));
        run(Mode::WorkerModeHistogram, {Sspd});
        QVERIFY(waitUntil([&] { return rec().count("plot") >= 5; }));
        QCOMPARE(rec().statusTexts,
                 QStringList({"Start process...", "Setting driver parameters..."}));
        QCOMPARE(unit->writeCodes(), QList<int>{ScriptedUnit::TimeConstWrite});
        QCOMPARE(rec().readings.last().record.value("cps").toDouble(), 2500.0);
        QVERIFY(rec().progress.isEmpty());
        worker->command(Cmd::CommandSweepParams, sweep(0.0, 1e-3, 1e-7, 0.01));
        worker->command(Cmd::CommandSetMode, Mode::WorkerModeIVCurves);
        QVERIFY(waitUntil([&] { return rec().progress.size() >= 4; }));
        worker->command(Cmd::CommandSetMode, Mode::WorkerModeNoAction);
        QVERIFY(QTest::qWaitFor([&] { return worker->mode() == Mode::WorkerModeNoAction; }, 5000));
        const qsizetype readings = rec().readings.size();
        runEvents(100);
        QCOMPARE(rec().readings.size(), readings);
        QCOMPARE(rec().count("sweep finished"), 0);
    }

    void failedReadEndsTheStepWithoutPlot()
    {
        QVERIFY(startScripted());
        unit->silent = true;
        run(Mode::WorkerModeCpsVersTime, {Sspd}, 10);
        QVERIFY(waitUntil([&] { return rec().readings.size() >= 2; }));
        for (const WorkerRecorder::Reading& r : rec().readings)
            QCOMPARE(r.record, Fault);
        QVERIFY(rec().count("plot") == 0 && rec().statusTexts.isEmpty());
        unit->silent = false;
        QVERIFY(waitUntil([&] { return rec().count("plot") >= 1; }));
        QCOMPARE(rec().readings.last().record.value("status").toInt(), 1);
    }

    void lostUnitEndsTheMeasurement_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("loss");
        QTest::addColumn<QString>("status");
        QTest::newRow("IV curve, connection dropped") << int(Mode::WorkerModeIVCurves) << "dropped"
                                                      << "Sweep ended: the unit stopped answering";
        QTest::newRow("histogram, unit silent") << int(Mode::WorkerModeHistogram) << "silent"
                                                << "Histogram ended: the unit stopped answering";
        QTest::newRow("counts sweep, silent before the start")
            << int(Mode::WorkerModeCpsVersCurrent) << "before"
            << "Sweep not started: the unit does not answer";
    }
    void lostUnitEndsTheMeasurement()
    {
        QFETCH(int, mode);
        QFETCH(QString, loss);
        QFETCH(QString, status);
        QVERIFY(startSimulated());
        QSignalSpy lost(worker->process, &WorkerProcess::measurementLost);
        SimFaults mute;
        mute.mute = true;
        if (loss == "before")
            sim->unit.setFaults(mute);
        worker->command(Cmd::CommandSweepParams, sweep(0.0, 1e-3, 1e-7, 0.01));
        run(Mode(mode), {1});
        if (loss != "before") {
            QVERIFY(waitUntil([&] { return rec().readings.size() >= 3; }));
            if (loss == "dropped")
                sim->unit.stop(); // its connections close and nobody listens any more
            else
                sim->unit.setFaults(mute);
        }
        QVERIFY(waitUntil([&] { return rec().count("sweep finished") == 1; }, 10000));
        QCOMPARE(rec().statusTexts.last(), status);
        QCOMPARE(QList<QList<QVariant>>(lost),
                 loss == "before" ? QList<QList<QVariant>>() : QList<QList<QVariant>>{{status}});
        // A silent unit is given up at the third failed reading in a row, not later; nothing
        // passes for a complete sweep.
        const QList<WorkerRecorder::Reading> readings = rec().readings;
        qsizetype failed = 0;
        while (failed < readings.size() &&
               readings.at(readings.size() - 1 - failed).record == Fault)
            ++failed;
        if (loss == "silent")
            QCOMPARE(failed, qsizetype(WorkerProcess::UnitLostAfterFailedReadings));
        QVERIFY(!rec().progress.contains(100.0));
        QCOMPARE(worker->mode(), int(Mode::WorkerModeNoAction));
        // The worker still takes commands, and the link comes back with the unit.
        if (loss == "dropped")
            QVERIFY(sim->unit.start());
        else
            sim->unit.setFaults({});
        QVERIFY(worker->connectToUnit());
        QCOMPARE(rec().connects, 2);
    }

    // A unit that closes the connection during the home view is reported once; the worker
    // idles without its modules and connects again when asked.
    void closedConnectionDuringHomeView()
    {
        QVERIFY(startScripted());
        QSignalSpy lost(worker->process, &WorkerProcess::connectionLost);
        worker->command(Cmd::CommandSetMode, Mode::WorkerModeAllChannels);
        QVERIFY(waitUntil([&] { return rec().readings.size() >= 1; }));
        QCOMPARE(rec().readings.first().record.value("status").toInt(), 1);
        unit->peer.closeClients();
        QVERIFY(waitUntil([&] { return lost.size() == 1; }, 3000));
        QCOMPARE(lost.at(0).at(0).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(worker->mode(), int(Mode::WorkerModeNoAction));
        QVERIFY(drivers().isEmpty() && unlinked());
        QVERIFY(worker->connectToUnit());
        QCOMPARE(lost.size(), 1);
    }

    void characterisationCancelLeavesBiasSafe_data()
    {
        QTest::addColumn<int>("stage");
        QTest::addColumn<bool>("restore");
        QTest::newRow("StageSwitching") << int(Characterisation::StageSwitching) << false;
        QTest::newRow("StageRetrapping") << int(Characterisation::StageRetrapping) << true;
        QTest::newRow("StageCurve") << int(Characterisation::StageCurve) << false;
    }
    void characterisationCancelLeavesBiasSafe()
    {
        QFETCH(int, stage);
        QFETCH(bool, restore);
        QVERIFY(startSimulated());
        SspdPhysics& physics = static_cast<SimSspdM0*>(sim->unit.module(1))->physics();
        Characterisation* procedure = worker->process->characterisation();
        const double before = 7e-6;
        worker->command(Cmd::CommandFreeStyle, QVariantList{1, "current", before});
        QVERIFY(waitUntil([&] { return qAbs(physics.bias() - before) < 1e-9; }));
        QSignalSpy finished(procedure, &Characterisation::finished);
        connect(procedure, &Characterisation::stageChanged, this, [&](int reached) {
            if (reached == stage)
                procedure->cancel(restore ? Characterisation::BiasPrevious
                                          : Characterisation::BiasZero);
        });
        Characterisation::Request request;
        request.address = 1;
        request.timeConstant = 0.02;
        request.trigger = 0.05;
        request.settleMs = 5;
        procedure->start(request);
        QVERIFY(finished.wait(30000));
        const QJsonObject report = finished.first().first().toJsonObject();
        QCOMPARE(report.value("outcome").toString(), QString("cancelled"));
        QCOMPARE(report.value("cancelled_in").toString(),
                 QString(QMetaEnum::fromType<Characterisation::Stage>().valueToKey(stage)));
        // As before means as the module read it before, within its current noise.
        QVERIFY(qAbs(physics.bias() - (restore ? before : 0.0)) < 5e-9);
        QVERIFY(!physics.latched());
    }
};

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
