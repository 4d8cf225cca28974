// The simulated unit through its socket: both module list forms, the text commands, module
// list changes, lock, resets, update, power off, several clients and packet routing; its
// faults on demand and the control lines that change them.
#include "bytes.h"
#include "core/simcontrol.h"
#include "core/simenvironment.h"
#include "core/simunit.h"
#include "simtestclient.h"
#include "testmodule.h"
#include "updatestream.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

namespace {
QByteArray u32(quint32 v)
{
    return Bytes().u32(v);
}
QByteArray field(const QByteArray& text) // as a module sends it: 24 bytes
{
    return Bytes().text(text, 24);
}
QByteArray packet(quint8 address, quint8 command, const QByteArray& data = {})
{
    return LoopbackPeer::packet(address, command, data);
}
} // namespace

class TestSimUnit : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimUnit> unit;
    std::unique_ptr<SimTestClient> client;
    std::unique_ptr<SimControl> control;

    bool plug(quint8 address, const QString& type)
    {
        return unit->addModule(new TestModule(address, testIdentity(type, address), env.get()));
    }
    // Starts the unit with the faults of a control line and connects the client.
    void start(const QByteArray& faults = "faults")
    {
        QCOMPARE(control->execute(faults), "ok");
        QVERIFY(unit->start());
        QVERIFY(client->connectTo(unit->serverPort()));
    }
    QJsonObject devj() { return QJsonDocument::fromJson(client->query("SYST:DEVJ?")).object(); }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(5);
        unit = std::make_unique<SimUnit>(env.get());
        unit->setPort(0);
        plug(3, "VX9SDM0");
        plug(5, "VX9TDM1");
        unit->setModuleMaker([this](quint8 address) -> SimModule* {
            return new TestModule(address, testIdentity("VX9SDM1", address), env.get());
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
        QCOMPARE(client->read(3, 9), field("1.2.3"));
        QCOMPARE(client->read(3, 5), QByteArray::fromHex("00112233445566778899AA03"));
        QCOMPARE(client->read(3, 6), field("VX9SDM0"));
        const QByteArray legacy = "module=0:addr=3:type=VX9SDM0<br>module=1:addr=5:type=VX9TDM1";
        QCOMPARE(client->query("SYST:DEVL?"), legacy);
        unit->setOldUnit(true); // knows only the legacy list
        QCOMPARE(client->query("SYST:DEVJ?"), QByteArray("UNKNOWN COMMAND"));
        QCOMPARE(client->query("SYST:DEVL?"), legacy);
    }

    // Clients look for "ok" in any case anywhere in an answer: refusals never contain it.
    void textCommands()
    {
        start();
        // Command, then its answer ("ERROR": any refusal; the update is not locked).
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
        QVERIFY(client->request(9, 6, {}, 200).isEmpty()); // nothing at 9 yet
        QCOMPARE(client->query("SYST:DEVL:ADD 9"), QByteArray("ok"));
        QCOMPARE(client->query("SYST:DEVL:SAVE"), QByteArray("ok"));
        QCOMPARE(saved.size(), 1);
        QCOMPARE(devj()["info"][2]["address"].toInt(), 9);
        QCOMPARE(client->read(9, 6), field("VX9SDM1"));
        QCOMPARE(client->query("SYST:DEVL:REMV 3"), QByteArray("ok"));
        const QJsonObject list = devj();
        QCOMPARE(list["count"].toInt(), 2);
        QCOMPARE(list["info"][0]["address"].toInt(), 5);
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
        QVERIFY(client->query("SYST:UPDT 4").startsWith("ERROR")); // no module there
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
        QCOMPARE(client->request(3, 17, u32(42)).size(), 1);
        QCOMPARE(client->request(3, 19, u32(99)).size(), 1);
        QCOMPARE(client->read(3, 16), u32(42));
        QCOMPARE(client->query("SYST:URES"), QByteArray("ok"));
        QCOMPARE(client->read(3, 16), u32(0));
        QCOMPARE(client->read(3, 18), u32(99));
        QCOMPARE(client->request(5, 17, u32(8)).size(), 1);
        QCOMPARE(client->query("SYST:LOCK 1"), QByteArray("ok"));
        QVERIFY(unit->isLocked());
        QCOMPARE(client->query("SYST:SRES"), QByteArray("ok")); // also releases the lock
        QVERIFY(!unit->isLocked());
        QCOMPARE(client->read(5, 16), u32(0));
    }

    void powerOffClosesEveryConnectionAndStopsListening()
    {
        QSignalSpy off(unit.get(), &SimUnit::poweredOff);
        start();
        const quint16 port = unit->serverPort();
        SimTestClient other;
        QVERIFY(other.connectTo(port));
        QCOMPARE(other.request(3, 17, u32(5)).size(), 1);
        QCOMPARE(client->query("SYST:POFF"), QByteArray("ok"));
        QVERIFY(client->waitClosed() && other.waitClosed());
        QVERIFY(other.silentFor(0)); // no "ok" of its own
        QVERIFY(off.size() == 1 || off.wait(3000));
        QVERIFY(!unit->isListening());
        unit->setPort(port); // powered on again, the modules start afresh
        QVERIFY(unit->start());
        SimTestClient again;
        QVERIFY(again.connectTo(port));
        QCOMPARE(again.read(3, 16), u32(0));
    }

    void clientsHaveTheirOwnStreams()
    {
        start();
        SimTestClient other;
        QVERIFY(other.connectTo(unit->serverPort()));
        // Half a packet and half a text command, the other client talks meanwhile.
        const QByteArray write = packet(3, 17, u32(11));
        client->send(write.left(4));
        QCOMPARE(other.request(5, 17, u32(22)).size(), 1);
        client->send(write.mid(4) + "SYST:DE");
        QCOMPARE(client->packets().value(0).command, quint8(17));
        QCOMPARE(other.query("SYST:URES"), QByteArray("ok"));
        client->send("VL?\r\n");
        QVERIFY(client->line().startsWith("module=0"));
        // Text and packets alternate on one stream, also arriving byte by byte.
        for (char byte : "SYST:DEVL?\r\n" + packet(3, 6) + "SYST:LOCK 0\r\n") {
            client->send(QByteArray(1, byte));
            client->silentFor(1);
        }
        QVERIFY(client->line().startsWith("module=0"));
        QCOMPARE(client->packets().value(0).data, field("VX9SDM0"));
        QCOMPARE(client->line(), QByteArray("ok"));
        // A client leaving mid-packet leaves nothing behind for another.
        other.send(packet(3, 17, u32(1)).left(5));
        other.silentFor(20);
        other.socket.abort();
        QTRY_COMPARE(unit->connectionCount(), 1);
        QCOMPARE(client->read(3, 16), u32(0));
    }

    void unknownAndMalformedInputIsDroppedAndTheStreamGoesOn()
    {
        QVERIFY(plug('S', "VX9SDM0") && plug('h', "VX9SDM0")); // addresses that are letters
        start();
        client->send(packet(200, 16) + packet(3, 99) + packet(3, 17, "xy") + packet(3, 11));
        QVERIFY(client->silentFor(100));
        QCOMPARE(client->read(3, 16), u32(0));
        QCOMPARE(client->read('S', 6), field("VX9SDM0"));
        QCOMPARE(client->request('h', 16).value(0).address, quint8('h'));
        QCOMPARE(devj()["count"].toInt(), 4);
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
        QCOMPARE(client->read(3, 16).size(), 4);
        QCOMPARE(client->read(3, 16).size(), 3); // 8
        QCOMPARE(client->request(3, 17, u32(1)).value(0).data.size(), 0);
        QCOMPARE(client->request(3, 17, u32(1)).value(0).data.size(), 1); // 10
        QCOMPARE(control->execute("faults --garbage-every 2"), "ok");
        QCOMPARE(client->read(3, 16), u32(1));
        client->send(packet(3, 16)); // 12: four bytes of garbage first
        const QByteArray answer = packet(3, 16, u32(1));
        QTRY_COMPARE(client->received.size() + client->socket.bytesAvailable(), 4 + answer.size());
        QVERIFY((client->received + client->socket.readAll()).endsWith(answer));
    }

    void connectionClosesAfterNPacketsOnceAnswered()
    {
        start("faults --close-after 2 --latency-ms 50");
        SimTestClient other;
        QVERIFY(other.connectTo(unit->serverPort()));
        QCOMPARE(client->request(3, 16).size(), 1);
        QCOMPARE(client->query("SYST:URES"), QByteArray("ok")); // text does not count
        QCOMPARE(client->request(3, 16).size(), 1);
        QVERIFY(client->waitClosed());
        QCOMPARE(other.request(3, 16).size(), 1); // connections count on their own
        QCOMPARE(other.socket.state(), QAbstractSocket::ConnectedState);
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
        QVERIFY(!unit->faults().any());
        QTRY_COMPARE(control->execute("connections"), QByteArray("1"));
        QCOMPARE(control->execute("restart 100"), QByteArray("ok"));
        QVERIFY(!unit->isListening());
        QVERIFY(client->waitClosed());
        QTRY_VERIFY(unit->isListening());
        QCOMPARE(control->execute("connections"), QByteArray("0"));
    }
};

QTEST_GUILESS_MAIN(TestSimUnit)
#include "tst_simunit.moc"
