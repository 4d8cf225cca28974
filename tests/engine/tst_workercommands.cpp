// The commands the worker carries out: the unit's text commands with their answers and
// messages, the module list changes, single parameter writes, the worker's own settings
// and the EEPROM transfers.
#include "drivers/abstractdriver.h"
#include "models/eepromdatastorage.h"
#include "workertestsupport.h"

#include <QSignalSpy>
#include <QTest>
#include <tuple>

namespace {

// Waits until the commands queued so far have been carried out: two passes of the loop
// have begun since.
bool settle(WorkerHarness& worker)
{
    const quint64 passes = worker.process->loopPasses();
    return QTest::qWaitFor([&] { return worker.process->loopPasses() >= passes + 2; }, 5000);
}

using Message = QPair<QString, QString>;

} // namespace

class TestWorkerCommands : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedUnit> unit;
    std::unique_ptr<WorkerHarness> worker;

    // Lines the unit received after the inventory.
    QList<QByteArray> commandLines() const { return unit->peer.lines().mid(1); }

private slots:
    void init()
    {
        unit = std::make_unique<ScriptedUnit>();
        QVERIFY(unit->listening);
        worker = std::make_unique<WorkerHarness>();
    }
    void cleanup()
    {
        worker.reset();
        unit.reset();
    }

    void unitCommandsSendTheirTexts_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QVariant>("parameter");
        QTest::addColumn<QByteArray>("sent");

        QTest::newRow("reset") << int(Cmd::CommandResetUnits) << QVariant(0)
                               << QByteArray("SYST:URES\r\n");
        QTest::newRow("system reset")
            << int(Cmd::CommandSystemReset) << QVariant(0) << QByteArray("SYST:SRES\r\n");
        QTest::newRow("power off")
            << int(Cmd::CommandPowerOff) << QVariant(0) << QByteArray("SYST:POFF\r\n");
        QTest::newRow("lock 5") << int(Cmd::CommandLock) << QVariant(5)
                                << QByteArray("SYST:LOCK 1\r\n");
        QTest::newRow("lock 0") << int(Cmd::CommandLock) << QVariant(0)
                                << QByteArray("SYST:LOCK 0\r\n");
        // The update text ends in a line end of its own, so two go out.
        QTest::newRow("update") << int(Cmd::CommandUpdateUnit) << QVariant(3)
                                << QByteArray("SYST:LOCK 1\r\nSYST:UPDT 3\r\n\r\n");
    }
    void unitCommandsSendTheirTexts()
    {
        QFETCH(int, command);
        QFETCH(QVariant, parameter);
        QFETCH(QByteArray, sent);
        QVERIFY(worker->connectToUnit());
        const qsizetype before = unit->peer.rawReceived().size();
        worker->process->addCommand(command, parameter);
        QVERIFY(waitUntil([&] { return unit->peer.rawReceived().size() >= before + sent.size(); }));
        QVERIFY(settle(*worker));
        QCOMPARE(unit->peer.rawReceived().mid(before), sent);
        QVERIFY(worker->recorder.errors.isEmpty());
    }

    void okIsFoundInAnyCase_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("ok") << QByteArray("ok\r\n") << true;
        QTest::newRow("OK") << QByteArray("OK\r\n") << true;
        QTest::newRow("inside") << QByteArray("done, Ok.\r\n") << true;
        QTest::newRow("error") << QByteArray("ERROR: no\r\n") << false;
        QTest::newRow("apart") << QByteArray("o k\r\n") << false;
        QTest::newRow("silent") << QByteArray() << false;
    }
    void okIsFoundInAnyCase()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, accepted);
        unit->answers["SYST:URES"] = answer;
        if (answer.isEmpty())
            unit->peer.setTextResponder([this](const QByteArray& line) {
                return line == "SYST:DEVJ?" ? unit->answers.value(line) : QByteArray();
            });
        QVERIFY(worker->connectToUnit());
        worker->command(Cmd::CommandResetUnits);
        QVERIFY(waitUntil([&] { return commandLines().size() == 1; }));
        QVERIFY(settle(*worker));
        if (accepted)
            QVERIFY(worker->recorder.errors.isEmpty());
        else
            QCOMPARE(worker->recorder.errors,
                     QList<Message>{Message("Error", "Error at 'SYST:URES' command")});
    }

    void refusedLockStopsTheUpdate()
    {
        unit->answers["SYST:LOCK 1"] = "ERROR: busy\r\n";
        QVERIFY(worker->connectToUnit());
        worker->command(Cmd::CommandUpdateUnit, 3);
        QVERIFY(waitUntil([&] { return !worker->recorder.errors.isEmpty(); }));
        QVERIFY(settle(*worker));
        QCOMPARE(commandLines(), QList<QByteArray>{"SYST:LOCK 1"});
        QCOMPARE(worker->recorder.errors,
                 QList<Message>{Message("Error", "Error at 'SYST:LOCK 1' command")});
    }

    void addedModuleIsReportedAndListed()
    {
        QVERIFY(worker->connectToUnit());
        unit->answers["SYST:DEVJ?"] = ScriptedUnit::moduleListJson(
            {ScriptedUnit::entry(3, "VX9SDM0"), ScriptedUnit::entry(7, "VX9TDM0")}, 2);
        worker->command(Cmd::CommandAddUnit, 7);
        QVERIFY(waitUntil([&] { return !worker->recorder.messages.isEmpty(); }));
        QCOMPARE(commandLines(),
                 QList<QByteArray>({"SYST:DEVL:ADD 7", "SYST:DEVL:SAVE", "SYST:DEVJ?"}));
        QCOMPARE(worker->recorder.messages,
                 QList<Message>{Message("Success", "Unit 7 sicessfully added")});
        QCOMPARE(worker->recorder.lists.size(), 2);
        QCOMPARE(worker->recorder.lists.last().value("count").toInt(), 2);
        QVERIFY(worker->onWorker([&] { return worker->process->driverByAddress(7) != nullptr; }));
        QVERIFY(worker->recorder.errors.isEmpty());
    }

    void removedModuleIsReported()
    {
        QVERIFY(worker->connectToUnit());
        unit->answers["SYST:DEVJ?"] = ScriptedUnit::moduleListJson({}, 0);
        worker->command(Cmd::CommandRemoveUnit, 3);
        QVERIFY(waitUntil([&] { return !worker->recorder.messages.isEmpty(); }));
        QCOMPARE(commandLines(),
                 QList<QByteArray>({"SYST:DEVL:REMV 3", "SYST:DEVL:SAVE", "SYST:DEVJ?"}));
        const Message message = worker->recorder.messages.first();
        QCOMPARE(message.first, QStringLiteral("Success"));
        QVERIFY(message.second.contains(QLatin1String("Unit 3 ")));
        QVERIFY(worker->onWorker([&] { return worker->process->drivers().isEmpty(); }));
    }

    void moduleListChangeStopsAtTheFirstFailure_data()
    {
        QTest::addColumn<QByteArray>("refused");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QString>("error");
        QTest::newRow("add") << QByteArray("SYST:DEVL:ADD 7")
                             << QList<QByteArray>{"SYST:DEVL:ADD 7"}
                             << "Error at 'SYST:DEVL:ADD 7' command";
        QTest::newRow("save") << QByteArray("SYST:DEVL:SAVE")
                              << QList<QByteArray>{"SYST:DEVL:ADD 7", "SYST:DEVL:SAVE"}
                              << "Error at 'SYST:DEVL:SAVE' command";
        QTest::newRow("inventory")
            << QByteArray("SYST:DEVJ?")
            << QList<QByteArray>{"SYST:DEVL:ADD 7", "SYST:DEVL:SAVE", "SYST:DEVJ?"}
            << "Error at 'get device list' command";
    }
    void moduleListChangeStopsAtTheFirstFailure()
    {
        QFETCH(QByteArray, refused);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QString, error);
        QVERIFY(worker->connectToUnit());
        // A refusal is an answer without "ok"; the inventory fails on silence.
        unit->answers[refused] = refused == "SYST:DEVJ?" ? QByteArray() : "ERROR\r\n";
        if (refused == "SYST:DEVJ?")
            unit->peer.setTextResponder([](const QByteArray& line) {
                return line.startsWith("SYST:DEVL") ? QByteArray("ok\r\n") : QByteArray();
            });
        worker->command(Cmd::CommandAddUnit, 7);
        QVERIFY(waitUntil([&] { return !worker->recorder.errors.isEmpty(); }));
        QVERIFY(settle(*worker));
        QCOMPARE(commandLines(), sent);
        QCOMPARE(worker->recorder.errors, QList<Message>{Message("Error", error)});
        QVERIFY(worker->recorder.messages.isEmpty());
        QCOMPARE(worker->recorder.lists.size(), 1);
    }

    void withoutUnitNothingIsSentOrReported()
    {
        for (Cmd command :
             {Cmd::CommandResetUnits, Cmd::CommandSystemReset, Cmd::CommandPowerOff,
              Cmd::CommandLock, Cmd::CommandUpdateUnit, Cmd::CommandAddUnit, Cmd::CommandRemoveUnit,
              Cmd::CommandUpdateEepromConst, Cmd::CommandWriteEEPROM})
            worker->command(command, 3);
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "current", 1e-6});
        QVERIFY(settle(*worker));
        QCOMPARE(unit->peer.connectionCount(), 0);
        QVERIFY(worker->recorder.events.isEmpty());
    }

    void parameterWritesTakeOnlyKnownNames()
    {
        QVERIFY(worker->connectToUnit());
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "auto_reset_counts", 5});
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "no_such_name", 1});
        worker->command(Cmd::CommandFreeStyle, QVariantList{9, "current", 1e-6});
        // A short list ends this pass; what follows still runs at the next one.
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "current"});
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "current", 2e-5});
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "operate", true});
        QVERIFY(waitUntil([&] { return unit->writeCodes().size() == 3; }));
        QVERIFY(settle(*worker));
        // current, then the status with the chain on and shorted, then the short removed.
        QCOMPARE(unit->writeCodes(),
                 QList<int>({ScriptedUnit::CurrentWrite, ScriptedUnit::StatusWrite,
                             ScriptedUnit::ShortEnable}));
        QCOMPARE(unit->written(ScriptedUnit::CurrentWrite), QList<float>{2e-5f});
        QCOMPARE(unit->status, quint8(0x3C));
    }

    void workerSettingsTakeConvertibleValues()
    {
        worker->command(Cmd::CommandSetTimeOut, 500.0);
        worker->command(Cmd::CommandSetActiveChannels, QVariantList{3, 4});
        worker->command(Cmd::CommandSweepParams, QVariantMap{{"from", 1.0}, {"to", 2.0}});
        QVERIFY(settle(*worker));
        QCOMPARE(worker->onWorker([&] { return worker->process->timeConstant(); }), 500);
        QCOMPARE(worker->onWorker([&] { return worker->process->activeChannels(); }),
                 QList<int>({3, 4}));

        // Values that do not convert leave the settings as they were.
        worker->command(Cmd::CommandSetTimeOut, QStringLiteral("soon"));
        worker->command(Cmd::CommandSetActiveChannels, QStringLiteral("all"));
        worker->command(Cmd::CommandSweepParams, 7);
        QVERIFY(settle(*worker));
        QCOMPARE(worker->onWorker([&] { return worker->process->timeConstant(); }), 500);
        QCOMPARE(worker->onWorker([&] { return worker->process->activeChannels(); }),
                 QList<int>({3, 4}));
        QCOMPARE(worker->onWorker([&] { return worker->process->sweepParameters(); }),
                 QVariantMap({{"from", 1.0}, {"to", 2.0}}));

        worker->command(Cmd::CommandSetActiveChannels, QVariant::fromValue(QList<int>{5}));
        QVERIFY(settle(*worker));
        QCOMPARE(worker->onWorker([&] { return worker->process->activeChannels(); }),
                 QList<int>{5});
    }

    void eepromConstantsTravelBothWays()
    {
        QVERIFY(worker->connectToUnit());
        worker->command(Cmd::CommandUpdateEepromConst, 9);
        worker->command(Cmd::CommandUpdateEepromConst, 3);
        QVERIFY(waitUntil([&] { return !worker->recorder.eepromReads.isEmpty(); }));
        QVERIFY(settle(*worker));
        QCOMPARE(worker->recorder.eepromReads.size(), 1);
        const auto [address, constants] = worker->recorder.eepromReads.first();
        QCOMPARE(address, 3);
        QCOMPARE(constants.value("address").toInt(), 3);
        QCOMPARE(constants.value("type").toInt(), 0);
        QVERIFY(constants.contains("Current_ADC"));

        EepromDataStorage storage;
        storage.initialize(constants);
        QCOMPARE(storage.address(), 3);
        worker->command(Cmd::CommandSetEepromConst, QVariant::fromValue(&storage));
        QVERIFY(waitUntil([&] { return worker->recorder.count("eeprom updated") == 1; }));
        QCOMPARE(unit->writeCodes().last(), int(ScriptedUnit::EepromConstWrite));
        // The constants go back as they came.
        QCOMPARE(
            unit->peer.packets().last().data,
            Bytes().f32(1.5f).f32(0.25f).f32(2).f32(0).f32(3).f32(0).f32(4).f32(0).toByteArray());

        worker->command(Cmd::CommandWriteEEPROM, 9);
        worker->command(Cmd::CommandWriteEEPROM, 3);
        QVERIFY(waitUntil([&] { return worker->recorder.count("eeprom updated") == 2; }));
        QVERIFY(settle(*worker));
        QCOMPARE(worker->recorder.count("eeprom updated"), 2);
        QCOMPARE(unit->writeCodes().last(), int(ScriptedUnit::EepromStore));
    }

    void unansweredEepromWritesAreReportedAsErrors()
    {
        QVERIFY(worker->connectToUnit());
        worker->command(Cmd::CommandUpdateEepromConst, 3);
        QVERIFY(waitUntil([&] { return !worker->recorder.eepromReads.isEmpty(); }));
        EepromDataStorage storage;
        storage.initialize(worker->recorder.eepromReads.first().second);

        unit->silent = true;
        worker->command(Cmd::CommandSetEepromConst, QVariant::fromValue(&storage));
        worker->command(Cmd::CommandWriteEEPROM, 3);
        // The dialog still hears the end of each transfer, after the error.
        QVERIFY(waitUntil([&] { return worker->recorder.count("eeprom updated") == 2; }));
        QCOMPARE(worker->recorder.errors,
                 (QList<Message>{Message("Error", "EEPROM constants of unit 3 were not written"),
                                 Message("Error", "Unit 3 did not store its EEPROM")}));
        QCOMPARE(worker->recorder.events.mid(worker->recorder.events.indexOf("error")),
                 (QStringList{"error", "eeprom updated", "error", "eeprom updated"}));
    }

    void everyCommandReportsHowItEnded()
    {
        using Outcome = std::tuple<int, QVariant, bool>;
        QList<Outcome> outcomes;
        connect(worker->process, &WorkerProcess::commandExecuted, this,
                [&](int command, QVariant parameter, bool ok) {
                    outcomes.append({command, parameter, ok});
                });
        QVERIFY(worker->connectToUnit());
        unit->answers.insert("SYST:LOCK 0", "ERROR: refused\r\n");
        worker->command(Cmd::CommandLock, 1);
        worker->command(Cmd::CommandLock, 0);
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "current", 2e-5});
        worker->command(Cmd::CommandFreeStyle, QVariantList{9, "current", 2e-5});
        worker->command(Cmd::CommandFreeStyle, QVariantList{3, "no_such_name", 1});
        worker->command(Cmd::CommandSetTimeOut, QStringLiteral("soon"));
        // A sweep without a step never ends: it does not start.
        worker->command(Cmd::CommandSetActiveChannels, QVariant::fromValue(QList<int>{3}));
        worker->command(Cmd::CommandSweepParams,
                        QVariantMap{{"from", 1e-6}, {"to", 2e-6}, {"step", 0.0}});
        worker->command(Cmd::CommandSetMode, int(Mode::WorkerModeIVCurves));
        worker->command(Cmd::CommandSetMode, int(Mode::WorkerModeNoAction));
        QVERIFY(waitUntil([&] { return outcomes.size() == 11; }));

        QCOMPARE(outcomes.at(0), Outcome(int(Cmd::CommandConnect), "127.000.000.001", true));
        const QList<bool> ok = {true, false, true, false, false, false, true, true, false, true};
        for (int i = 0; i < ok.size(); ++i)
            QVERIFY2(std::get<2>(outcomes.at(i + 1)) == ok.at(i), qPrintable(QString::number(i)));
        QCOMPARE(std::get<0>(outcomes.at(2)), int(Cmd::CommandLock));
        QCOMPARE(std::get<1>(outcomes.at(2)), QVariant(0));
    }

    void unreachableUnitFailsTheConnection()
    {
        unit.reset();
        QSignalSpy executed(worker->process, &WorkerProcess::commandExecuted);
        worker->command(Cmd::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(waitUntil([&] { return executed.size() == 1; }));
        QCOMPARE(executed.first().at(2).toBool(), false);
        QCOMPARE(worker->recorder.connects, 0);
    }
};

QTEST_GUILESS_MAIN(TestWorkerCommands)
#include "tst_workercommands.moc"
