// Rack descriptions (good and faulty files), the state file that keeps EEPROM contents and
// the module list across a restart, and the program's options.
#include "core/simenvironment.h"
#include "core/simoptions.h"
#include "core/simrack.h"
#include "core/simstatefile.h"
#include "core/simunit.h"
#include "simtestclient.h"
#include "testmodule.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

SimRack::Maker testMaker()
{
    return [](const QString&, quint8 address, const SimModule::Identity& identity,
              SimEnvironment* environment) -> SimModule* {
        return new TestModule(address, identity, environment);
    };
}

QByteArray u32(quint32 v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

} // namespace

class TestSimRack : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QString& name, const QByteArray& content)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(content);
        return path;
    }

private slots:
    void rackFileSetsModulesAndUnitOptions()
    {
        const QString path = write("rack.json", R"({
            "unit": {"oldUnit": true, "softwareVersion": "1.2.9"},
            "modules": [
                {"address": 7, "type": "VX9SDM1", "description": "Left", "firmware": "3.1",
                 "hardware": "4", "modification": "2", "udid": "a1a2a3a4a5a6a7a8a9aaabac",
                 "physics": {"gain": 2.5}, "eeprom": {"constant": 123}},
                {"address": 9, "type": "VX9TDM0"}
            ],
            "spares": [{"address": 12, "type": "VX9HTM0", "description": "Spare heater"}]
        })");
        QString error;
        const auto rack = SimRack::load(path, &error);
        QVERIFY2(rack, qPrintable(error));
        SimEnvironment env;
        SimUnit unit(&env);
        QVERIFY2(rack->install(&unit, testMaker(), &error), qPrintable(error));
        QVERIFY(unit.isOldUnit());
        QCOMPARE(unit.softwareVersion(), QString("1.2.9"));
        QCOMPARE(unit.modules().size(), 2);
        auto* left = static_cast<TestModule*>(unit.module(7));
        QCOMPARE(left->identity().type, QString("VX9SDM1"));
        QCOMPARE(left->identity().description, QString("Left"));
        QCOMPARE(left->identity().firmware, QString("3.1"));
        QCOMPARE(left->identity().hardware, QString("4"));
        QCOMPARE(left->identity().modification, QString("2"));
        QCOMPARE(left->identity().udid.toString(), QString("A1A2-A3A4-A5A6-A7A8-A9AA-ABAC"));
        QCOMPARE(left->gain, 2.5);
        QCOMPARE(left->constant, 123u);
        // A module without identity texts gets sensible ones, the same each run.
        const SimModule::Identity plain = unit.module(9)->identity();
        QVERIFY(!plain.description.isEmpty());
        QVERIFY(!plain.firmware.isEmpty());
        QVERIFY(!plain.udid.isNull());

        // Spares and the rack's own modules are what "SYST:DEVL:ADD" plugs in.
        QCOMPARE(unit.textCommand("SYST:DEVL:ADD 12"), QByteArray("ok"));
        QCOMPARE(unit.module(12)->identity().description, QString("Spare heater"));
        QCOMPARE(unit.textCommand("SYST:DEVL:REMV 7"), QByteArray("ok"));
        QCOMPARE(unit.textCommand("SYST:DEVL:ADD 7"), QByteArray("ok"));
        QCOMPARE(unit.module(7)->identity().description, QString("Left"));
        QCOMPARE(unit.textCommand("SYST:DEVL:ADD 20"), QByteArray("ok"));
        QCOMPARE(unit.module(20)->identity().type, QString("VX9SDM0"));
    }

    void theSampleRackFileLoads()
    {
        QString error;
        const auto rack = SimRack::load(QStringLiteral(DEMO_RACK_PATH), &error);
        QVERIFY2(rack, qPrintable(error));
        QVERIFY(!rack->modules.isEmpty());
        QVERIFY(!rack->spares.isEmpty());
    }

    void demoRackHoldsTheDemoModules()
    {
        QStringList types;
        for (const SimRackModule& module : SimRack::demo().modules)
            types << module.identity.type;
        QCOMPARE(types,
                 QStringList({"VX9SDM0", "VX9SDM0", "VX9SDM1", "VX9TDM0", "VX9TDM1", "VX9HTM0"}));
    }

    void faultyRackFilesGiveClearErrors_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::newRow("not json") << QByteArray("{\"modules\": [") << "not valid JSON at byte";
        QTest::newRow("array") << QByteArray("[]") << "must be a JSON object";
        QTest::newRow("no modules") << QByteArray("{}") << "no \"modules\" array";
        QTest::newRow("modules not array")
            << QByteArray(R"({"modules": 3})") << "\"modules\" must be an array, not a number";
        QTest::newRow("unknown key")
            << QByteArray(R"({"modules": [], "moduls": []})") << "unknown key \"moduls\"";
        QTest::newRow("unit option") << QByteArray(R"({"unit": {"oldUnit": "yes"}, "modules": []})")
                                     << "\"oldUnit\" must be true or false";
        QTest::newRow("module not object")
            << QByteArray(R"({"modules": [4]})") << "modules[0]: must be an object";
        QTest::newRow("no address") << QByteArray(R"({"modules": [{"type": "VX9SDM0"}]})")
                                    << "modules[0]: \"address\" must be a whole number";
        QTest::newRow("address 255")
            << QByteArray(R"({"modules": [{"address": 255, "type": "VX9SDM0"}]})")
            << "from 0 to 254";
        QTest::newRow("address 1.5")
            << QByteArray(R"({"modules": [{"address": 1.5, "type": "VX9SDM0"}]})")
            << "whole number";
        QTest::newRow("twice") << QByteArray(R"({"modules": [{"address": 1, "type": "VX9SDM0"},
                                                 {"address": 1, "type": "VX9TDM0"}]})")
                               << "modules[1]: address 1 is used twice";
        QTest::newRow("unknown type")
            << QByteArray(R"({"modules": [{"address": 1, "type": "VX9XXM0"}]})")
            << "unknown module type \"VX9XXM0\"";
        QTest::newRow("bad udid")
            << QByteArray(R"({"modules": [{"address": 1, "type": "VX9SDM0", "udid": "12"}]})")
            << "\"udid\" must be 24 hexadecimal digits";
        QTest::newRow("long text") << QByteArray(R"({"modules": [{"address": 1, "type": "VX9SDM0",
                              "description": "a description far too long for a module"}]})")
                                   << "\"description\" is longer than the 24 bytes";
        QTest::newRow("physics not object")
            << QByteArray(R"({"modules": [{"address": 1, "type": "VX9SDM0", "physics": []}]})")
            << "\"physics\" must be an object, not an array";
        QTest::newRow("spare") << QByteArray(R"({"modules": [], "spares": [{"address": -1}]})")
                               << "spares[0]: \"address\"";
    }
    void faultyRackFilesGiveClearErrors()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString path = write("bad.json", content);
        QString error;
        QVERIFY(!SimRack::load(path, &error));
        QVERIFY2(error.startsWith(path + ": "), qPrintable(error));
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    void missingRackFileIsNamed()
    {
        QString error;
        QVERIFY(!SimRack::load(dir.filePath("absent.json"), &error));
        QVERIFY2(error.contains("absent.json: cannot read"), qPrintable(error));
    }

    void modulesRefusingTheirSettingsLeaveTheUnitAsItWas()
    {
        QString error;
        const auto physics = SimRack::fromJson(R"({"modules": [
            {"address": 1, "type": "VX9SDM0"},
            {"address": 2, "type": "VX9SDM0", "physics": {"gian": 2}}]})",
                                               &error);
        QVERIFY(physics);
        SimEnvironment env;
        SimUnit unit(&env);
        unit.addModule(new TestModule(30, testIdentity("VX9SDM0", 30), &env));
        QVERIFY(!physics->install(&unit, testMaker(), &error));
        QVERIFY2(error.contains("module at address 2 (VX9SDM0): physics: unknown key \"gian\""),
                 qPrintable(error));
        QCOMPARE(unit.modules().size(), 1);
        QVERIFY(unit.module(30));

        const auto eeprom = SimRack::fromJson(
            R"({"modules": [{"address": 1, "type": "VX9SDM0", "eeprom": {"x": 1}}]})", &error);
        QVERIFY(eeprom);
        QVERIFY(!eeprom->install(&unit, testMaker(), &error));
        QVERIFY2(error.contains("module at address 1 (VX9SDM0): eeprom:"), qPrintable(error));
    }

    // Command 12 stores the EEPROM in the state file; a restarted unit has it back. A saved
    // module list survives as well.
    void stateSurvivesARestart()
    {
        const QString statePath = dir.filePath("state.json");
        QFile::remove(statePath);
        QString error;
        const auto rack = SimRack::fromJson(R"({"modules": [{"address": 1, "type": "VX9SDM0"},
                                                             {"address": 2, "type": "VX9TDM0"}]})",
                                            &error);
        QVERIFY(rack);
        {
            SimEnvironment env;
            SimUnit unit(&env);
            unit.setPort(0);
            QVERIFY(rack->install(&unit, testMaker(), &error));
            SimStateFile state(statePath, &unit);
            QVERIFY(state.load(&error)); // no file yet: a fresh unit
            state.watch();
            QVERIFY(unit.start());
            SimTestClient client;
            QVERIFY(client.connectTo(unit.serverPort()));
            QCOMPARE(client.request(1, 19, u32(4242)).size(), 1);
            QVERIFY(!QFile::exists(statePath)); // written only when the module stores it
            QCOMPARE(client.request(1, 12).value(0).command, quint8(12));
            QVERIFY(QFile::exists(statePath));
            QCOMPARE(client.query("SYST:DEVL:REMV 2"), QByteArray("ok"));
            QCOMPARE(client.query("SYST:DEVL:ADD 5"), QByteArray("ok"));
            QCOMPARE(client.query("SYST:DEVL:SAVE"), QByteArray("ok"));
            QCOMPARE(client.request(1, 19, u32(1)).size(), 1); // not stored: lost at restart
        }
        SimEnvironment env;
        SimUnit unit(&env);
        unit.setPort(0);
        QVERIFY(rack->install(&unit, testMaker(), &error));
        SimStateFile state(statePath, &unit);
        QVERIFY2(state.load(&error), qPrintable(error));
        QVERIFY(unit.start());
        SimTestClient client;
        QVERIFY(client.connectTo(unit.serverPort()));
        QCOMPARE(client.request(1, 18).value(0).data, u32(4242));
        QVERIFY(unit.module(5));
        QVERIFY(!unit.module(2));
    }

    void faultyStateFileIsReported()
    {
        SimEnvironment env;
        SimUnit unit(&env);
        QString error;
        SimStateFile garbage(write("garbage.json", "{{"), &unit);
        QVERIFY(!garbage.load(&error));
        QVERIFY2(error.contains("garbage.json: not valid JSON"), qPrintable(error));
        SimStateFile other(write("other.json", R"({"modules": []})"), &unit);
        QVERIFY(!other.load(&error));
        QVERIFY2(error.contains("not a simulator state file"), qPrintable(error));
    }

    void commandLineOptions()
    {
        SimOptions options;
        QString output, error;
        QCOMPARE(parseSimOptions({"sim"}, &options, &output, &error), SimOptionsResult::Run);
        QCOMPARE(options.listen, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(options.port, quint16(9876));
        QVERIFY(!options.faults.any());
        QVERIFY(!options.discoverable);

        QCOMPARE(parseSimOptions({"sim",    "--listen",        "127.0.0.2", "--port",
                                  "1234",   "--rack",          "r.json",    "--state",
                                  "s.json", "--discoverable",  "--verbose", "--seed",
                                  "9",      "--latency-ms",    "5",         "--drop-probability",
                                  "0.25",   "--drop-every",    "3",         "--wrong-length-every",
                                  "4",      "--garbage-every", "6",         "--close-after",
                                  "7",      "--mute"},
                                 &options, &output, &error),
                 SimOptionsResult::Run);
        QCOMPARE(options.listen, QHostAddress("127.0.0.2"));
        QCOMPARE(options.port, quint16(1234));
        QCOMPARE(options.rackFile, QString("r.json"));
        QCOMPARE(options.stateFile, QString("s.json"));
        QVERIFY(options.discoverable && options.verbose);
        QCOMPARE(options.seed, 9u);
        QCOMPARE(options.faults.latencyMs, 5);
        QCOMPARE(options.faults.dropProbability, 0.25);
        QCOMPARE(options.faults.dropEvery, 3);
        QCOMPARE(options.faults.wrongLengthEvery, 4);
        QCOMPARE(options.faults.garbageEvery, 6);
        QCOMPARE(options.faults.closeAfterPackets, 7);
        QVERIFY(options.faults.mute);
        QVERIFY(options.firmwareDir.isEmpty());

        QCOMPARE(parseSimOptions({"sim", "--firmware-dir", "fw", "--http-port", "8081"}, &options,
                                 &output, &error),
                 SimOptionsResult::Run);
        QCOMPARE(options.firmwareDir, QString("fw"));
        QCOMPARE(options.httpPort, quint16(8081));
        QCOMPARE(options.httpListen, QHostAddress(QHostAddress::LocalHost));

        const QList<QStringList> bad = {{"sim", "--http-port", "8081"},
                                        {"sim", "--firmware-dir", "fw", "--http-port", "70000"},
                                        {"sim", "--port", "70000"},
                                        {"sim", "--listen", "somewhere"},
                                        {"sim", "--drop-probability", "2"},
                                        {"sim", "--close-after", "-1"},
                                        {"sim", "--frobnicate"},
                                        {"sim", "extra"}};
        for (const QStringList& arguments : bad) {
            error.clear();
            QCOMPARE(parseSimOptions(arguments, &options, &output, &error),
                     SimOptionsResult::Error);
            QVERIFY(!error.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestSimRack)
#include "tst_simrack.moc"
