// The worker's connection and unit inventory: JSON and legacy module lists, the drivers
// made from them, and what a failed or repeated connection leaves behind.
#include "drivers/abstractdriver.h"
#include "link/cutcpsocketiointerface.h"
#include "workertestsupport.h"

#include <QTest>

namespace {

// Class names of the worker's drivers with their addresses, in list order.
QStringList driverList(WorkerHarness& worker)
{
    return worker.onWorker([&] {
        QStringList list;
        for (AbstractDriver* driver : worker.process->drivers())
            list << QStringLiteral("%1@%2")
                        .arg(QString::fromLatin1(driver->metaObject()->className()))
                        .arg(driver->address());
        return list;
    });
}

// Waits until the commands queued so far have been carried out: two passes of the loop
// have begun since.
bool settle(WorkerHarness& worker)
{
    const quint64 passes = worker.process->loopPasses();
    return QTest::qWaitFor([&] { return worker.process->loopPasses() >= passes + 2; }, 5000);
}

} // namespace

class TestWorkerInventory : public QObject
{
    Q_OBJECT

private slots:
    void storedDefaultAddressReachesTheUnit()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit(QStringLiteral("127.000.000.001")));

        QCOMPARE(worker.recorder.lists.size(), 1);
        const QJsonObject list = worker.recorder.lists.first();
        QCOMPARE(list.value("count").toInt(), 6);
        QCOMPARE(list.value("software_version").toString(), QStringLiteral("1.4.0"));
        const QJsonObject first = list.value("info").toArray().first().toObject();
        QCOMPARE(first.value("UDID").toString(), sim.unit.module(1)->identity().udid.toString());
        // The heater has no driver in the engine.
        QCOMPARE(driverList(worker),
                 QStringList({"SspdDriverM0@1", "SspdDriverM0@2", "SspdDriverM1@3",
                              "TempDriverM0@4", "TempDriverM1@5"}));
        QVERIFY(worker.recorder.events.indexOf("list") <
                worker.recorder.events.indexOf("connected"));
    }

    void legacyUnitListsItsModules()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        sim.unit.setOldUnit(true);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());

        const QJsonObject list = worker.recorder.lists.first();
        QCOMPARE(list.value("software_version").toString(), QStringLiteral("<1.3.0"));
        // Entries without a driver are not counted.
        QCOMPARE(list.value("count").toInt(), 5);
        const QJsonArray info = list.value("info").toArray();
        QCOMPARE(info.size(), 5);
        for (const QJsonValue& value : info) {
            const QJsonObject entry = value.toObject();
            const SimModule* module = sim.unit.module(quint8(entry.value("address").toInt()));
            QVERIFY(module);
            QCOMPARE(entry.value("type").toString(), module->identity().type);
            QCOMPARE(entry.value("Firmware").toString(), module->identity().firmware);
            QCOMPARE(entry.value("Description").toString(), module->identity().description);
            QCOMPARE(entry.value("UDID").toString(), module->identity().udid.toString());
        }
        QCOMPARE(driverList(worker).size(), 5);
    }

    void legacyLinesAreReadFieldByField()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        unit.answers["SYST:DEVJ?"] = "UNKNOWN COMMAND\r\n";
        unit.answers["SYST:DEVL?"] = "a=1:addr=3:type=VX9SDM1<br>no colons here<br>"
                                     "b:noequals:type=VX9SDM0<br>m=2:addr=300:type=VX9SDM0<br>"
                                     "m=3:addr=6:type=VX9HTM0\r\n";
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());

        QCOMPARE(unit.peer.lines(), QList<QByteArray>({"SYST:DEVJ?", "SYST:DEVL?"}));
        const QJsonObject list = worker.recorder.lists.first();
        QCOMPARE(list.value("count").toInt(), 2);
        const QJsonArray info = list.value("info").toArray();
        QCOMPARE(info.size(), 2);
        const QJsonObject first = info.at(0).toObject();
        QCOMPARE(first.value("address").toInt(), 3);
        QCOMPARE(first.value("type").toString(), QStringLiteral("VX9SDM1"));
        QCOMPARE(first.value("UDID").toString(), QStringLiteral("0011-2233-4455-6677-8899-AABB"));
        QCOMPARE(first.value("Description").toString(), QStringLiteral("text 10"));
        QCOMPARE(first.value("Firmware").toString(), QStringLiteral("text 9"));
        QCOMPARE(first.value("Hardware").toString(), QStringLiteral("text 8"));
        QCOMPARE(first.value("Modification").toString(), QStringLiteral("text 7"));
        // Only the low eight bits of an address count.
        QCOMPARE(info.at(1).toObject().value("address").toInt(), 44);
        QCOMPARE(driverList(worker), QStringList({"SspdDriverM1@3", "SspdDriverM0@44"}));
    }

    void jsonEntriesAreTakenUpToCount_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("drivers");

        const QJsonArray two{ScriptedUnit::entry(3, "VX9SDM0"), ScriptedUnit::entry(7, "VX9TDM1")};
        QTest::newRow("two of two") << ScriptedUnit::moduleListJson(two, 2)
                                    << QStringList{"SspdDriverM0@3", "TempDriverM1@7"};
        QTest::newRow("count below the array")
            << ScriptedUnit::moduleListJson(two, 1) << QStringList{"SspdDriverM0@3"};
        QTest::newRow("count above the array") << ScriptedUnit::moduleListJson(two, 1000000)
                                               << QStringList{"SspdDriverM0@3", "TempDriverM1@7"};
        QTest::newRow("no count")
            << QJsonDocument(QJsonObject{{"info", two}}).toJson(QJsonDocument::Compact) + "\r\n"
            << QStringList{};
        const QJsonArray others{ScriptedUnit::entry(2, "VX9HTM0"),
                                ScriptedUnit::entry(300, "VX9SDM1"), QJsonValue(5)};
        QTest::newRow("other types and entries")
            << ScriptedUnit::moduleListJson(others, 3) << QStringList{"SspdDriverM1@44"};
    }
    void jsonEntriesAreTakenUpToCount()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, drivers);
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        unit.answers["SYST:DEVJ?"] = answer;
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());

        QCOMPARE(driverList(worker), drivers);
        // The unit's object goes to the screen as it came.
        QCOMPARE(worker.recorder.lists.first(), QJsonDocument::fromJson(answer.trimmed()).object());
    }

    void unparsableListIsHandedOnEmpty()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        unit.answers["SYST:DEVJ?"] = "{not json\r\n";
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        QCOMPARE(worker.recorder.lists, QList<QJsonObject>{QJsonObject()});
        QVERIFY(driverList(worker).isEmpty());
    }

    void failedConnectionLeavesNoLinkAndNoDrivers()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        QVERIFY(worker.connectToUnit());
        QCOMPARE(driverList(worker).size(), 5);

        sim.unit.stop();
        worker.command(WorkerAsync::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(settle(worker));
        QCOMPARE(worker.recorder.connects, 1);
        QCOMPARE(worker.recorder.lists.size(), 1);
        QVERIFY(driverList(worker).isEmpty());
        QVERIFY(worker.onWorker([&] { return worker.process->transport() == nullptr; }));

        // The home view then reads nothing, and the unit back on line connects again.
        worker.command(WorkerAsync::CommandSetMode, Mode::WorkerModeAllChannels);
        QVERIFY(sim.unit.start());
        QVERIFY(worker.connectToUnit());
        QVERIFY(waitUntil([&] { return worker.recorder.readings.size() >= 5; }));
    }

    void silentUnitGivesNoConnection()
    {
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        unit.answers["SYST:DEVJ?"] = "";
        unit.peer.setTextResponder([](const QByteArray&) { return QByteArray(); });
        WorkerHarness worker;
        worker.command(WorkerAsync::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(QTest::qWaitFor([&] { return unit.peer.lines().size() == 1; }, 5000));
        QVERIFY(settle(worker));
        QCOMPARE(worker.recorder.connects, 0);
        QVERIFY(worker.recorder.lists.isEmpty());
        QVERIFY(worker.onWorker([&] { return worker.process->transport() == nullptr; }));
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
        ScriptedUnit unit;
        QVERIFY(unit.listening);
        unit.answers["SYST:DEVJ?"] = "UNKNOWN COMMAND\r\n";
        unit.answers["SYST:DEVL?"] = "a=1:addr=3:type=VX9SDM0<br>a=2:addr=4:type=VX9SDM0\r\n";
        unit.silent = true;
        WorkerHarness worker;
        worker.command(WorkerAsync::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(QTest::qWaitFor([&] { return unit.peer.packets().size() >= 2; }, 5000));

        // Every try waits the full answer time of 500 ms; the user waits a second at most.
        if (quit) {
            // As the program's end asks it.
            worker.thread.requestInterruption();
            worker.thread.quit();
            QVERIFY(worker.thread.wait(QDeadlineTimer(1000)));
            QCOMPARE(worker.recorder.connects, 0);
            return;
        }
        unit.answers["SYST:DEVJ?"] = ScriptedUnit::moduleListJson({}, 0);
        worker.command(WorkerAsync::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(waitUntil([&] { return worker.recorder.connects == 1; }, 1000));
        // The given-up inventory reported nothing; the new one is the only list.
        QCOMPARE(worker.recorder.lists.size(), 1);
        QCOMPARE(worker.recorder.lists.first().value("count").toInt(), 0);
    }

    void secondConnectReplacesTheFirstLink()
    {
        SimulatedUnit sim;
        QVERIFY(sim.installed);
        WorkerHarness worker;
        worker.command(WorkerAsync::CommandConnect, QStringLiteral("127.000.000.001"));
        worker.command(WorkerAsync::CommandConnect, QStringLiteral("127.0.0.1"));
        QVERIFY(waitUntil([&] { return worker.recorder.connects == 2; }));
        QVERIFY(waitUntil([&] { return sim.unit.connectionCount() == 1; }));
        QCOMPARE(driverList(worker).size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestWorkerInventory)
#include "tst_workerinventory.moc"
