// The simulated unit and cu-tavik-sim. Through its socket: module lists, text commands, lock,
// resets, update, power off, several clients, packet routing, faults and the control lines.
// What the program is given and keeps: rack files, state file, options; and the program end
// to end (signals, power off, control port, refusals).
#include "bytes.h"
#include "core/simcontrol.h"
#include "core/simenvironment.h"
#include "core/simmodulefactory.h"
#include "core/simoptions.h"
#include "core/simrack.h"
#include "core/simstatefile.h"
#include "core/simunit.h"
#include "modules/simsspdm1.h"
#include "simtestclient.h"
#include "updatestream.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <csignal>

class TestSimUnit : public QObject
{
    Q_OBJECT

    // Module 3 is an SSPD model 0: its time constant (read 33, write 34; 0.1 s after a
    // reset) stands for any value, its ADC constants (read 43, write 44) for its EEPROM.
    static QByteArray f32(float v) { return Bytes().f32(v); }
    static QByteArray pair(float a) { return Bytes().f32(a).f32(0); }
    static SimModule::Identity identity(const QString& type, quint8 n)
    {
        const QString i = QString::number(n), hex = QString::number(n + 0x100, 16).right(2);
        return {type,
                "M" + i,
                "H" + i,
                "1.2." + i,
                "Test module " + i,
                cUDID::fromString("0011-2233-4455-6677-8899-AA" + hex)};
    }
    static QByteArray field(const QByteArray& text) { return Bytes().text(text, 24); }
    static QByteArray packet(quint8 address, quint8 command, const QByteArray& data = {})
    {
        return LoopbackPeer::packet(address, command, data);
    }

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimUnit> unit;
    std::unique_ptr<SimTestClient> client;
    std::unique_ptr<SimControl> control;

    bool plug(quint8 address, const QString& type)
    {
        return unit->addModule(
            SimModuleFactory::create(type, address, identity(type, address), env.get()));
    }
    // Starts the unit with the faults of a control line and connects the client.
    void start(const QByteArray& faults = "faults")
    {
        QCOMPARE(control->execute(faults), "ok");
        QVERIFY(unit->start());
        QVERIFY(client->connectTo(unit->serverPort()));
    }
    QJsonObject devj() { return QJsonDocument::fromJson(client->query("SYST:DEVJ?")).object(); }

    QTemporaryDir dir;

    QString write(const QString& name, const QByteArray& content)
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) ? file.fileName() : "";
    }
    // Starts the program and waits for its line on standard output.
    static bool run(QProcess& process, const QStringList& args)
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
    void init()
    {
        env = std::make_unique<SimEnvironment>(5);
        unit = std::make_unique<SimUnit>(env.get());
        unit->setPort(0);
        plug(3, "VX9SDM0");
        plug(5, "VX9TDM1");
        unit->setModuleMaker([this](quint8 address) -> SimModule* {
            return SimModuleFactory::create("VX9SDM1", address, identity("VX9SDM1", address),
                                            env.get());
        });
        client = std::make_unique<SimTestClient>();
        control = std::make_unique<SimControl>(unit.get());
    }
    void cleanup()
    {
        control.reset();
        client.reset();
        unit.reset();
    }

    void moduleListsShowWhatTheModulesAnswer()
    {
        unit->setSoftwareVersion("1.5.2");
        start();
        const auto entry = [](int n, const char* type) {
            return QString(
                       R"({"Description":"Test module %1","Firmware":"1.2.%1","Hardware":"H%1",)"
                       R"("Modification":"M%1","UDID":"0011-2233-4455-6677-8899-AA0%1",)"
                       R"("address":%1,"type":"%2"})")
                .arg(n)
                .arg(type)
                .toLatin1();
        };
        QCOMPARE(client->query("SYST:DEVJ?"), R"({"count":2,"info":[)" + entry(3, "VX9SDM0") + ',' +
                                                  entry(5, "VX9TDM1") +
                                                  R"(],"software_version":"1.5.2"})");
        const QByteArray legacy = "module=0:addr=3:type=VX9SDM0<br>module=1:addr=5:type=VX9TDM1";
        QCOMPARE(client->query("SYST:DEVL?"), legacy);
        unit->setOldUnit(true); // knows only the legacy list
        QCOMPARE(client->query("SYST:DEVJ?"), QByteArray("UNKNOWN COMMAND"));
        QCOMPARE(client->query("SYST:DEVL?"), legacy);
    }

    // Command, then its answer ("ERROR": any refusal; the update is not locked). Clients look
    // for "ok" in any case anywhere in an answer: refusals never contain it.
    void textCommands()
    {
        start();
        // clang-format off
        const QByteArrayList rows = {
            "SYST:URES", "ok",  "SYST:SRES", "ok",  "syst:lock 1", "ok",  "SYST:LOCK 0", "ok",
            "SYST:FOO", "UNKNOWN COMMAND",  "hello", "UNKNOWN COMMAND",
            "SYST:URES 4", "UNKNOWN COMMAND",  "SYST:LOCK 2", "ERROR",  "SYST:UPDT 3", "ERROR",
            "SYST:DEVL:ADD 3", "ERROR",  "SYST:DEVL:ADD x", "ERROR",  "SYST:DEVL:ADD 255", "ERROR",
            "SYST:DEVL:REMV 8", "ERROR"};
        // clang-format on
        for (qsizetype i = 0; i < rows.size(); i += 2) {
            const QByteArray got = client->query(rows[i]);
            QVERIFY2(rows[i + 1] == "ERROR"
                         ? got.startsWith("ERROR: ") && !got.toLower().contains("ok")
                         : got == rows[i + 1],
                     rows[i]);
        }
    }

    void addingAndRemovingChangesTheModuleList()
    {
        QSignalSpy saved(unit.get(), &SimUnit::moduleListSaved);
        start();
        QCOMPARE(client->query("SYST:DEVL:ADD 9"), QByteArray("ok"));
        QCOMPARE(client->query("SYST:DEVL:SAVE"), QByteArray("ok"));
        QCOMPARE(saved.size(), 1);
        QCOMPARE(devj()["info"][2]["address"].toInt(), 9);
        QCOMPARE(client->read(9, 6), field("VX9SDM1"));
        QCOMPARE(client->query("SYST:DEVL:REMV 3"), QByteArray("ok"));
        QCOMPARE(devj()["info"][0]["address"].toInt(), 5);
        QVERIFY(client->request(3, 6, {}, 200).isEmpty());
        unit->setModuleMaker({});
        QVERIFY(client->query("SYST:DEVL:ADD 3").startsWith("ERROR"));
        QCOMPARE(unit->modules().size(), 2);
    }

    void updateCallsTheClientBackAndGivesNewFirmware()
    {
        QTcpServer fileServer;
        QVERIFY(fileServer.listen(QHostAddress::LocalHost));
        unit->setFirmwareUpdatePort(fileServer.serverPort());
        QSignalSpy stored(unit.get(), &SimUnit::moduleStateStored);
        start();
        QCOMPARE(client->query("SYST:LOCK 1"), QByteArray("ok"));
        // The application ends this command with two CR LF pairs; the second is no command.
        client->send("SYST:UPDT 3\r\n\r\n");
        QCOMPARE(client->line(), QByteArray("ok"));
        QVERIFY(client->query("SYST:UPDT 3").startsWith("ERROR")); // one at a time
        QVERIFY(fileServer.hasPendingConnections() || fileServer.waitForNewConnection(3000));
        std::unique_ptr<QTcpSocket> unitSide(fileServer.nextPendingConnection());
        QVERIFY(client->query("SYST:DEVL:REMV 3").startsWith("ERROR")); // busy with it
        unitSide->write(UpdateStream().text("FILE_DATA").i64(9).u32(9).bytes("fresh fw!"));
        QVERIFY(stored.wait(5000));
        QCOMPARE(stored.at(0).at(0).value<quint8>(), quint8(3));
        QCOMPARE(devj()["info"][0]["Firmware"].toString(), QString("1.2.4"));
        // The restarted module is added once more, then its address is taken again.
        QCOMPARE(client->query("SYST:DEVL:ADD 3"), QByteArray("ok"));
        QVERIFY(client->query("SYST:DEVL:ADD 3").startsWith("ERROR"));
        // The completion report reaches the file server before the unit closes, although
        // the unit is done with the update as soon as it has sent it.
        QByteArray reports;
        QTRY_VERIFY((reports += unitSide->readAll(),
                     unitSide->state() == QAbstractSocket::UnconnectedState));
        QVERIFY(reports.endsWith(QByteArray(UpdateStream().completed())));
    }

    void resetsReinitialiseModulesButKeepTheirEeprom()
    {
        start();
        QCOMPARE(client->request(3, 34, f32(0.5f)).size(), 1);
        QCOMPARE(client->request(3, 44, pair(2)).size(), 1);
        QCOMPARE(client->read(3, 33), f32(0.5f));
        QCOMPARE(client->query("SYST:URES"), QByteArray("ok"));
        QCOMPARE(client->read(3, 33), f32(0.1f));
        QCOMPARE(client->read(3, 43), pair(2));
        QCOMPARE(client->request(3, 34, f32(0.5f)).size(), 1);
        QCOMPARE(client->query("SYST:LOCK 1"), QByteArray("ok"));
        QCOMPARE(client->query("SYST:SRES"), QByteArray("ok")); // also releases the lock
        QVERIFY(!unit->isLocked());
        QCOMPARE(client->read(3, 33), f32(0.1f));
    }

    void powerOffClosesEveryConnectionAndStopsListening()
    {
        start("faults --latency-ms 20"); // the answer still leaves before the unit goes
        SimTestClient other;
        QVERIFY(other.connectTo(unit->serverPort()));
        QCOMPARE(other.request(3, 34, f32(0.5f)).size(), 1);
        QCOMPARE(client->query("SYST:POFF"), QByteArray("ok"));
        QVERIFY(client->waitClosed() && other.waitClosed());
        QVERIFY(other.silentFor(0)); // no "ok" of its own
        QVERIFY(!unit->isListening());
        QVERIFY(unit->start()); // powered on again, the modules start afresh
        SimTestClient again;
        QVERIFY(again.connectTo(unit->serverPort()));
        QCOMPARE(again.read(3, 33), f32(0.1f));
    }

    void clientsHaveTheirOwnStreams()
    {
        start();
        SimTestClient other;
        QVERIFY(other.connectTo(unit->serverPort()));
        // Half a packet and half a text command, the other client talks meanwhile.
        const QByteArray write = packet(3, 34, f32(0.5f));
        client->send(write.left(4));
        QCOMPARE(other.request(5, 6).size(), 1);
        client->send(write.mid(4) + "SYST:DE");
        QCOMPARE(client->packets().value(0).command, quint8(34));
        QCOMPARE(other.query("SYST:URES"), QByteArray("ok"));
        client->send("VL?\r\n");
        QVERIFY(client->line().startsWith("module=0"));
        client->send("SYST:DEVL?\r\n" + packet(3, 6) + "SYST:LOCK 0\r\n"); // alternating
        QVERIFY(client->line().startsWith("module=0"));
        QCOMPARE(client->packets().value(0).data, field("VX9SDM0"));
        QCOMPARE(client->line(), QByteArray("ok"));
    }

    void unknownAndMalformedInputIsDroppedAndTheStreamGoesOn()
    {
        QVERIFY(plug('S', "VX9SDM0") && plug('h', "VX9SDM0")); // addresses that are letters
        start();
        client->send(packet(200, 16) + packet(3, 99) + packet(3, 34, "xy") + packet(3, 11));
        QVERIFY(client->silentFor(100));
        QCOMPARE(client->read(3, 33), f32(0.1f));
        QCOMPARE(client->read('S', 6), field("VX9SDM0"));
        QCOMPARE(client->request('h', 16).value(0).address, quint8('h'));
        client->send("SYST:" + QByteArray(5000, 'A') + "\r\n");
        QCOMPARE(client->line(), QByteArray("UNKNOWN COMMAND"));
        QCOMPARE(client->query("SYST:URES"), QByteArray("ok"));
    }

    // Faults come and go through the control lines; every module answer counts.
    void faultsOnDemand()
    {
        start("faults --latency-ms 300");
        client->send(packet(3, 16) + "SYST:URES\r\n");
        QVERIFY(client->silentFor(100));
        QCOMPARE(client->packets(3000).size(), 1); // answer 1, then the text in order
        QCOMPARE(client->line(3000), QByteArray("ok"));
        QCOMPARE(control->execute("faults --drop-every 2"), "ok");
        for (int i = 0; i < 4; ++i) // answers 2 .. 5
            QCOMPARE(int(client->request(3, 16, {}, i % 2 ? 2000 : 150).size()), i % 2);
        QCOMPARE(client->query("SYST:URES"), QByteArray("ok")); // text is no module answer
        QCOMPARE(control->execute("faults --drop-probability 1"), "ok");
        QVERIFY(client->request(3, 16, {}, 150).isEmpty()); // 6
        QCOMPARE(control->execute("faults --wrong-length-every 2"), "ok");
        QCOMPARE(client->read(3, 33).size(), 4);
        QCOMPARE(client->read(3, 33).size(), 3); // 8
        QCOMPARE(client->request(3, 34, f32(1)).value(0).data.size(), 0);
        QCOMPARE(client->request(3, 34, f32(1)).value(0).data.size(), 1); // 10
        QCOMPARE(control->execute("faults --garbage-every 2"), "ok");
        QCOMPARE(client->read(3, 33), f32(1));
        client->send(packet(3, 33)); // 12: four bytes of garbage first
        const QByteArray answer = packet(3, 33, f32(1));
        QTRY_COMPARE(client->received.size() + client->socket.bytesAvailable(), 4 + answer.size());
        QVERIFY((client->received + client->socket.readAll()).endsWith(answer));
    }

    void controlLines()
    {
        // clang-format off
        const QByteArrayList rows = {
            "faults --port 1", "error: not a fault option: --port",
            "faults --drop-every x", "error: --drop-every must be a non-negative whole number",
            "jump", "error: unknown command: jump",
            "restart x", "error: restart needs a pause of 0 to 600000 ms"};
        // clang-format on
        QCOMPARE(control->execute("faults --latency-ms 7 --mute"), "ok");
        for (qsizetype i = 0; i < rows.size(); i += 2)
            QCOMPARE(control->execute(rows[i]), rows[i + 1]);
        QVERIFY(unit->faults().latencyMs == 7 && unit->faults().mute); // refusals change nothing
        start();
        QTRY_COMPARE(control->execute("connections"), QByteArray("1"));
        QCOMPARE(control->execute("restart 100"), QByteArray("ok"));
        QVERIFY(!unit->isListening());
        QVERIFY(client->waitClosed());
        QTRY_VERIFY(unit->isListening());
        QCOMPARE(control->execute("connections"), QByteArray("0"));
    }

    void rackFileSetsModulesAndUnitOptions()
    {
        QString error;
        const auto rack = SimRack::load(write("rack.json", R"({
            "unit": {"oldUnit": true, "softwareVersion": "1.2.9"},
            "modules": [
                {"address": 7, "type": "VX9SDM1", "description": "Left", "firmware": "3.1",
                 "hardware": "4", "modification": "2", "udid": "a1a2a3a4a5a6a7a8a9aaabac",
                 "physics": {"switchingCurrent": 12e-6},
                 "eeprom": {"constants": {"currentAdc": {"first": 2, "second": 0}}}},
                {"address": 9, "type": "VX9TDM0"}],
            "spares": [{"address": 12, "type": "VX9HTM0", "description": "Spare heater"}]})"),
                                        &error);
        QVERIFY2(rack, qPrintable(error));
        SimEnvironment env;
        SimUnit unit(&env);
        QVERIFY2(rack->install(&unit, &error), qPrintable(error));
        QVERIFY(unit.isOldUnit());
        QCOMPARE(unit.softwareVersion(), QString("1.2.9"));
        QCOMPARE(unit.modules().size(), 2);
        auto* left = qobject_cast<SimSspdM1*>(unit.module(7));
        const SimModule::Identity& id = left->identity();
        QCOMPARE(
            QStringList({id.type, id.description, id.firmware, id.hardware, id.modification,
                         id.udid.toString()}),
            QStringList({"VX9SDM1", "Left", "3.1", "4", "2", "A1A2-A3A4-A5A6-A7A8-A9AA-ABAC"}));
        QCOMPARE(left->physics().parameters().switchingCurrent, 12e-6);
        QCOMPARE(left->handlePacket(43, {}).value(0).data, pair(2));
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
    }

    void faultyRacksGiveClearErrors()
    {
        // clang-format off
        const QList<std::pair<const char*, const char*>> rows = {
            {R"({"modules": [)", "not valid JSON at byte"},
            {"[]", "must be a JSON object"},
            {"{}", "no \"modules\" array"},
            {R"({"modules": [], "moduls": []})", "unknown key \"moduls\""},
            {R"({"unit": {"oldUnit": "yes"}, "modules": []})", "\"oldUnit\" must be true or false"},
            {R"({"modules": [4]})", "modules[0]: must be an object"},
            {R"({"modules": [{"address": 255, "type": "VX9SDM0"}]})", "a whole number from 0 to"},
            {R"({"modules": [{"address": 1, "type": "VX9SDM0"},
                         {"address": 1, "type": "VX9HTM0"}]})",
             "modules[1]: address 1 is used twice"},
            {R"({"modules": [{"address": 1, "type": "VX9XXM0"}]})", "unknown module type \"VX9XX"},
            {R"({"modules": [{"address": 1, "type": "VX9SDM0", "udid": "12"}]})",
             "\"udid\" must be 24 hexadecimal digits"},
            {R"({"modules": [{"address": 1, "type": "VX9SDM0",
                              "modification": "1234567890123456789012345"}]})",
             "\"modification\" is longer than the 24 bytes"},
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
        unit.addModule(SimModuleFactory::create("VX9SDM0", 30, identity("VX9SDM0", 30), &env));
        for (const char* key : {"physics", "eeprom"}) {
            const QString json = R"({"modules": [{"address": 1, "type": "VX9SDM0"},
                {"address": 2, "type": "VX9TDM0", "%1": {"x": 2}}]})";
            const auto rack = SimRack::fromJson(json.arg(key).toUtf8(), &error);
            QVERIFY(rack && !rack->install(&unit, &error));
            QVERIFY2(error.contains(QString("module at address 2 (VX9TDM0): %1: ").arg(key)),
                     qPrintable(error));
            QVERIFY(unit.modules().size() == 1 && unit.module(30));
        }
    }

    // The fault options are those of the control lines, tried above; the others the programs
    // of these tests and of the tool's use.
    void commandLineOptions()
    {
        SimOptions o;
        QString output, error;
        QCOMPARE(parseSimOptions({"sim"}, &o, &output, &error), SimOptionsResult::Run);
        QVERIFY(o.listen == QHostAddress(QHostAddress::LocalHost) && o.port == 9876);
        QVERIFY(!o.faults.any() && !o.discoverable && o.controlPort == 0);
        const QStringList some = {"sim", "--listen", "127.0.0.2", "--seed", "9"};
        QCOMPARE(parseSimOptions(some, &o, &output, &error), SimOptionsResult::Run);
        QVERIFY(o.listen.toString() == "127.0.0.2" && o.seed == 9);
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

    // The program end to end, twice, mute until the control port clears it: the sample rack
    // file (which describes the built-in demo rack), ended by a signal; then the built-in rack,
    // discoverable, powered off. The state file keeps what a module stored (command 12) and the
    // saved module list across the restart.
    void stateSurvivesARestartAndTheProgramEnds()
    {
        const QString state = dir.filePath("state.json");
        for (int pass = 0; pass < 2; ++pass) {
            QProcess process;
            QVERIFY(run(process, QStringList{"--port", "9876", "--state", state, "--mute",
                                             "--control-port", "9880"} +
                                     (pass ? QStringList{"--discoverable", "--verbose"}
                                           : QStringList{"--rack", DEMO_RACK_PATH})));
            QCOMPARE(process.readLine().trimmed(),
                     pass ? "cu-tavik-sim: unit with 5 module(s) listening on 127.0.0.1 port "
                            "9876, discoverable"
                          : "cu-tavik-sim: unit with 6 module(s) listening on 127.0.0.1 port 9876");
            SimTestClient client;
            QVERIFY(client.connectTo(9876));
            client.send("SYST:DEVJ?\r\n");
            QVERIFY(client.silentFor(100));
            QTcpSocket control;
            control.connectToHost(QHostAddress::LocalHost, 9880);
            control.write("faults\n");
            QTRY_VERIFY(control.canReadLine());
            QCOMPARE(control.readLine(), QByteArray("ok\n"));
            const QByteArray list =
                "module=0:addr=1:type=VX9SDM0<br>module=1:addr=2:type=VX9SDM0<br>"
                "module=2:addr=3:type=VX9SDM1<br>module=3:addr=4:type=VX9TDM0<br>"
                "module=4:addr=5:type=VX9TDM1<br>module=5:addr=6:type=VX9HTM0";
            if (pass == 0) {
                QCOMPARE(client.query("SYST:DEVL?"), list);
                QCOMPARE(client.request(6, 26, Bytes().f32(42)).size(), 1); // heater constant
                QVERIFY(!QFile::exists(state)); // written only when the module stores it
                QCOMPARE(client.request(6, 12).size(), 1);
                QTRY_VERIFY(QFile::exists(state));
                QCOMPARE(client.query("SYST:DEVL:REMV 2"), QByteArray("ok"));
                QCOMPARE(client.query("SYST:DEVL:SAVE"), QByteArray("ok"));
                QCOMPARE(client.request(6, 28, Bytes().f32(7)).size(), 1); // not stored: lost
                ::kill(pid_t(process.processId()), SIGTERM);
            } else {
                QCOMPARE(client.read(6, 25), Bytes().f32(42).toByteArray());
                QCOMPARE(client.read(6, 27), Bytes().f32(0.1f).toByteArray());
                QVERIFY(!client.query("SYST:DEVL?").contains("addr=2:"));
                QCOMPARE(client.query("SYST:POFF"), QByteArray("ok"));
            }
            QVERIFY(client.waitClosed() && finished(process));
            QVERIFY(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
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
            {{"--state", write("list.json", R"({"format": "cu-tavik-sim state",
                                                "moduleList": [300]})")},
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

QTEST_GUILESS_MAIN(TestSimUnit)
#include "tst_simunit.moc"
