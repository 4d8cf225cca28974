// What cu-tavik-sim is given and keeps: rack descriptions (good and faulty files), the state
// file that keeps EEPROM contents and the module list across a restart, the options, and the
// program end to end (signals, power off, control port, refusals).
#include "bytes.h"
#include "core/simenvironment.h"
#include "core/simoptions.h"
#include "core/simrack.h"
#include "core/simstatefile.h"
#include "core/simunit.h"
#include "simtestclient.h"
#include "testmodule.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

class TestSimProgram : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const SimRack::Maker testMaker =
        [](const QString&, quint8 address, const SimModule::Identity& identity,
           SimEnvironment* env) -> SimModule* { return new TestModule(address, identity, env); };

    QString write(const QString& name, const QByteArray& content)
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) ? file.fileName() : "";
    }
    // Starts the program and waits for its line on standard output.
    static bool start(QProcess& process, const QStringList& args)
    {
        process.start(SIM_PATH, args);
        QSignalSpy output(&process, &QProcess::readyReadStandardOutput);
        return process.waitForStarted(5000) && (process.canReadLine() || output.wait(5000)) &&
               (process.canReadLine() || output.wait(5000));
    }
    static bool finished(QProcess& process)
    {
        return process.state() == QProcess::NotRunning ||
               QSignalSpy(&process, &QProcess::finished).wait(5000);
    }

private slots:
    void rackFileSetsModulesAndUnitOptions()
    {
        QString error;
        const auto rack = SimRack::load(write("rack.json", R"({
            "unit": {"oldUnit": true, "softwareVersion": "1.2.9"},
            "modules": [
                {"address": 7, "type": "VX9SDM1", "description": "Left", "firmware": "3.1",
                 "hardware": "4", "modification": "2", "udid": "a1a2a3a4a5a6a7a8a9aaabac",
                 "physics": {"gain": 2.5}, "eeprom": {"constant": 123}},
                {"address": 9, "type": "VX9TDM0"}],
            "spares": [{"address": 12, "type": "VX9HTM0", "description": "Spare heater"}]})"),
                                        &error);
        QVERIFY2(rack, qPrintable(error));
        SimEnvironment env;
        SimUnit unit(&env);
        QVERIFY2(rack->install(&unit, testMaker, &error), qPrintable(error));
        QVERIFY(unit.isOldUnit());
        QCOMPARE(unit.softwareVersion(), QString("1.2.9"));
        QCOMPARE(unit.modules().size(), 2);
        auto* left = static_cast<TestModule*>(unit.module(7));
        const SimModule::Identity& id = left->identity();
        QCOMPARE(
            QStringList({id.type, id.description, id.firmware, id.hardware, id.modification,
                         id.udid.toString()}),
            QStringList({"VX9SDM1", "Left", "3.1", "4", "2", "A1A2-A3A4-A5A6-A7A8-A9AA-ABAC"}));
        QVERIFY(left->gain == 2.5 && left->constant == 123);
        // A module without identity texts gets sensible ones.
        const SimModule::Identity plain = unit.module(9)->identity();
        QVERIFY(!plain.description.isEmpty() && !plain.firmware.isEmpty() && !plain.udid.isNull());
        // Spares and the rack's own modules are what "SYST:DEVL:ADD" plugs in, else model 0.
        for (const char* command :
             {"SYST:DEVL:ADD 12", "SYST:DEVL:REMV 7", "SYST:DEVL:ADD 7", "SYST:DEVL:ADD 20"})
            QCOMPARE(unit.textCommand(command), QByteArray("ok"));
        QCOMPARE(unit.module(12)->identity().description, QString("Spare heater"));
        QCOMPARE(unit.module(7)->identity().description, QString("Left"));
        QCOMPARE(unit.module(20)->identity().type, QString("VX9SDM0"));

        const auto sample = SimRack::load(QStringLiteral(DEMO_RACK_PATH), &error);
        QVERIFY2(sample && !sample->modules.isEmpty() && !sample->spares.isEmpty(),
                 qPrintable(error));
    }

    void faultyRacksGiveClearErrors()
    {
        // clang-format off
        const QList<std::pair<const char*, const char*>> rows = {
            {R"({"modules": [)", "not valid JSON at byte"},
            {"[]", "must be a JSON object"},
            {"{}", "no \"modules\" array"},
            {R"({"modules": 3})", "\"modules\" must be an array, not a number"},
            {R"({"modules": [], "moduls": []})", "unknown key \"moduls\""},
            {R"({"unit": {"oldUnit": "yes"}, "modules": []})", "\"oldUnit\" must be true or false"},
            {R"({"modules": [4]})", "modules[0]: must be an object"},
            {R"({"modules": [{"address": 255, "type": "VX9SDM0"}]})", "a whole number from 0 to 254"},
            {R"({"modules": [{"address": 1.5, "type": "VX9SDM0"}]})", "whole number"},
            {R"({"modules": [{"address": 1, "type": "VX9SDM0"}, {"address": 1, "type": "VX9TDM0"}]})",
             "modules[1]: address 1 is used twice"},
            {R"({"modules": [{"address": 1, "type": "VX9XXM0"}]})", "unknown module type \"VX9XXM0\""},
            {R"({"modules": [{"address": 1, "type": "VX9SDM0", "udid": "12"}]})",
             "\"udid\" must be 24 hexadecimal digits"},
            {R"({"modules": [{"address": 1, "type": "VX9SDM0", "description": "far too long for a module"}]})",
             "\"description\" is longer than the 24 bytes"},
            {R"({"modules": [{"address": 1, "type": "VX9SDM0", "physics": []}]})",
             "\"physics\" must be an object, not an array"},
            {R"({"modules": [], "spares": [{"address": -1}]})", "spares[0]: \"address\""}};
        // clang-format on
        QString error;
        for (const auto& [content, message] : rows) {
            const QString path = write("bad.json", content);
            QVERIFY(!SimRack::load(path, &error));
            QVERIFY2(error.startsWith(path + ": ") && error.contains(message), qPrintable(error));
        }
        QVERIFY(!SimRack::load(dir.filePath("absent.json"), &error));
        QVERIFY2(error.contains("absent.json: cannot read"), qPrintable(error));
        // A module that refuses its physics or EEPROM leaves the unit as it was.
        SimEnvironment env;
        SimUnit unit(&env);
        unit.addModule(new TestModule(30, testIdentity("VX9SDM0", 30), &env));
        for (const char* key : {"physics", "eeprom"}) {
            const auto rack =
                SimRack::fromJson(QString(R"({"modules": [{"address": 1, "type": "VX9SDM0"},
                                        {"address": 2, "type": "VX9TDM0", "%1": {"x": 2}}]})")
                                      .arg(key)
                                      .toUtf8(),
                                  &error);
            QVERIFY(rack && !rack->install(&unit, testMaker, &error));
            QVERIFY2(error.contains(QString("module at address 2 (VX9TDM0): %1: ").arg(key)),
                     qPrintable(error));
            QVERIFY(unit.modules().size() == 1 && unit.module(30));
        }
    }

    void commandLineOptions()
    {
        SimOptions o;
        QString output, error;
        QCOMPARE(parseSimOptions({"sim"}, &o, &output, &error), SimOptionsResult::Run);
        QCOMPARE(o.listen, QHostAddress(QHostAddress::LocalHost));
        QVERIFY(o.port == 9876 && !o.faults.any() && !o.discoverable && o.controlPort == 0);
        const QString all = "sim --listen 127.0.0.2 --port 1234 --rack r.json --state s.json "
                            "--discoverable --verbose --seed 9 --latency-ms 5 --drop-probability "
                            "0.25 --drop-every 3 --wrong-length-every 4 --garbage-every 6 "
                            "--close-after 7 --mute --control-port 9880 --firmware-dir fw "
                            "--http-port 8081";
        QCOMPARE(parseSimOptions(all.split(' '), &o, &output, &error), SimOptionsResult::Run);
        const SimFaults& f = o.faults;
        QCOMPARE(QStringList({o.listen.toString(), o.rackFile, o.stateFile, o.firmwareDir}),
                 QStringList({"127.0.0.2", "r.json", "s.json", "fw"}));
        QCOMPARE(
            QList<double>({double(o.port), double(o.seed), double(f.latencyMs), f.dropProbability,
                           double(f.dropEvery), double(f.wrongLengthEvery), double(f.garbageEvery),
                           double(f.closeAfterPackets), double(o.controlPort), double(o.httpPort)}),
            QList<double>({1234, 9, 5, 0.25, 3, 4, 6, 7, 9880, 8081}));
        QVERIFY(o.discoverable && o.verbose && f.mute);
        for (const char* bad :
             {"--http-port 8081", "--firmware-dir fw --http-port 70000", "--port 70000",
              "--listen somewhere", "--drop-probability 2", "--close-after -1", "--frobnicate",
              "extra", "--control-port 0", "--seed x"}) {
            error.clear();
            QCOMPARE(parseSimOptions(("sim " + QString(bad)).split(' '), &o, &output, &error),
                     SimOptionsResult::Error);
            QVERIFY(!error.isEmpty());
        }
    }

    void servesTheDemoRackAndEndsOnSignals()
    {
        for (const int signal : {SIGTERM, SIGINT}) {
            const bool discoverable = signal == SIGTERM;
            QProcess process;
            QVERIFY(
                start(process, QStringList{"--port", "9876"} +
                                   (discoverable ? QStringList{"--discoverable"} : QStringList())));
            QCOMPARE(process.readLine().trimmed(),
                     "cu-tavik-sim: unit with 6 module(s) listening on 127.0.0.1 port 9876" +
                         QByteArray(discoverable ? ", discoverable" : ""));
            SimTestClient client;
            QVERIFY(client.connectTo(9876));
            QCOMPARE(client.query("SYST:DEVL?"),
                     QByteArray("module=0:addr=1:type=VX9SDM0<br>module=1:addr=2:type=VX9SDM0<br>"
                                "module=2:addr=3:type=VX9SDM1<br>module=3:addr=4:type=VX9TDM0<br>"
                                "module=4:addr=5:type=VX9TDM1<br>module=5:addr=6:type=VX9HTM0"));
            ::kill(pid_t(process.processId()), signal);
            QVERIFY(finished(process) && client.waitClosed());
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(process.exitCode(), 0);
        }
    }

    // The state file keeps what a module stored (command 12) and the saved module list across
    // a restart of the program; the first run starts mute until the control port clears it.
    void stateSurvivesARestartAndPowerOffEnds()
    {
        const QString state = dir.filePath("state.json");
        for (int run = 0; run < 2; ++run) {
            QProcess process;
            QVERIFY(start(
                process, {"--port", "9876", "--state", state, "--mute", "--control-port", "9880"}));
            SimTestClient client;
            QVERIFY(client.connectTo(9876));
            client.send("SYST:DEVJ?\r\n");
            QVERIFY(client.silentFor(100));
            QTcpSocket control;
            control.connectToHost(QHostAddress::LocalHost, 9880);
            control.write("faults\n");
            QTRY_VERIFY(control.canReadLine());
            QCOMPARE(control.readLine(), QByteArray("ok\n"));
            if (run == 0) {
                QCOMPARE(client.request(6, 26, Bytes().f32(42)).size(), 1); // heater constant
                QVERIFY(!QFile::exists(state)); // written only when the module stores it
                QCOMPARE(client.request(6, 12).size(), 1);
                QTRY_VERIFY(QFile::exists(state));
                QCOMPARE(client.query("SYST:DEVL:REMV 2"), QByteArray("ok"));
                QCOMPARE(client.query("SYST:DEVL:SAVE"), QByteArray("ok"));
                QCOMPARE(client.request(6, 28, Bytes().f32(7)).size(), 1); // not stored: lost
            } else {
                QCOMPARE(client.read(6, 25), Bytes().f32(42).toByteArray());
                QCOMPARE(client.read(6, 27), Bytes().f32(0.1f).toByteArray());
                QVERIFY(!client.query("SYST:DEVL?").contains("addr=2:"));
            }
            QCOMPARE(client.query("SYST:POFF"), QByteArray("ok"));
            QVERIFY(client.waitClosed() && finished(process));
            QCOMPARE(process.exitCode(), 0);
        }
    }

    void refusesBadFilesAndOptions()
    {
        const QString rack =
            write("qq.json", R"({"modules": [{"address": 1, "type": "VX9QQM0"}]})");
        // clang-format off
        const QList<std::tuple<QStringList, int, QString>> rows = {
            {{"--rack", rack}, 1, rack + ": modules[0]: unknown module type \"VX9QQM0\""},
            {{"--state", write("bad-state.json", "{{")}, 1, "bad-state.json: not valid JSON"},
            {{"--state", write("other.json", "{}")}, 1, "not a simulator state file"},
            {{"--state", write("list.json", R"({"format": "cu-tavik-sim state", "moduleList": [300]})")},
             1, "\"moduleList\" holds a bad address"},
            {{"--port", "x"}, 2, "--port"}};
        // clang-format on
        for (const auto& [arguments, exitCode, message] : rows) {
            QProcess process;
            process.start(SIM_PATH, QStringList{"--port", "9876"} + arguments);
            QVERIFY(finished(process));
            QCOMPARE(process.exitCode(), exitCode);
            QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(message));
        }
        SimEnvironment env;
        SimUnit unit(&env);
        QString error;
        QVERIFY(!SimStateFile(dir.filePath("missing/state.json"), &unit).save(&error));
        QVERIFY2(error.contains("cannot write"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
