// The simulated unit through its socket: both module list forms, every text command, module
// list changes, lock, resets, power off, several clients and packet routing.
#include "core/simenvironment.h"
#include "core/simunit.h"
#include "simtestclient.h"
#include "testmodule.h"

#include <QDataStream>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>

namespace {

QByteArray u32(quint32 v)
{
    QByteArray b;
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}

// A 24-byte text field as a module sends it.
QByteArray field(const QByteArray& text)
{
    return text + QByteArray(24 - text.size(), '\0');
}

} // namespace

class TestSimUnit : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimUnit> unit;

    TestModule* plug(quint8 address, const QString& type)
    {
        auto* module = new TestModule(address, testIdentity(type, address), env.get());
        if (!unit->addModule(module))
            return nullptr;
        return module;
    }
    bool connectClient(SimTestClient& client) { return client.connectTo(unit->serverPort()); }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(5);
        env->useManualClock();
        unit = std::make_unique<SimUnit>(env.get());
        unit->setPort(0);
        plug(3, "VX9SDM0");
        plug(5, "VX9TDM1");
        unit->setModuleMaker([this](quint8 address) -> SimModule* {
            return new TestModule(address, testIdentity("VX9SDM1", address), env.get());
        });
        QVERIFY(unit->start());
    }
    void cleanup()
    {
        unit.reset();
        env.reset();
    }

    void jsonModuleListCarriesTheIdentityOfEveryModule()
    {
        unit->setSoftwareVersion("1.5.2");
        SimTestClient client;
        QVERIFY(connectClient(client));
        const QByteArray answer = client.query("SYST:DEVJ?");
        QVERIFY(!answer.contains('\n'));
        QJsonParseError error;
        const QJsonObject list = QJsonDocument::fromJson(answer, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(QStringList(list.keys()), QStringList({"count", "info", "software_version"}));
        QCOMPARE(list.value("count").toInt(), 2);
        QCOMPARE(list.value("software_version").toString(), QString("1.5.2"));
        const QJsonArray info = list.value("info").toArray();
        QCOMPARE(info.size(), 2);
        const QJsonObject first = info.at(0).toObject();
        QCOMPARE(QStringList(first.keys()),
                 QStringList({"Description", "Firmware", "Hardware", "Modification", "UDID",
                              "address", "type"}));
        QCOMPARE(first.value("address").toInt(), 3);
        QCOMPARE(first.value("type").toString(), QString("VX9SDM0"));
        QCOMPARE(first.value("Description").toString(), QString("Test module 3"));
        QCOMPARE(first.value("Firmware").toString(), QString("1.2.3"));
        QCOMPARE(first.value("Hardware").toString(), QString("H3"));
        QCOMPARE(first.value("Modification").toString(), QString("M3"));
        QCOMPARE(first.value("UDID").toString(), QString("0011-2233-4455-6677-8899-AA03"));
        const QJsonObject second = info.at(1).toObject();
        QCOMPARE(second.value("address").toInt(), 5);
        QCOMPARE(second.value("type").toString(), QString("VX9TDM1"));
        QVERIFY(QRegularExpression("^[0-9A-F]{4}(-[0-9A-F]{4}){5}$")
                    .match(second.value("UDID").toString())
                    .hasMatch());
    }

    void jsonModuleListShowsWhatTheModulesAnswer()
    {
        SimTestClient client;
        QVERIFY(connectClient(client));
        const QJsonObject entry =
            QJsonDocument::fromJson(client.query("SYST:DEVJ?")).object()["info"][0].toObject();
        const QList<TestPacket> firmware = client.request(3, 9);
        QCOMPARE(firmware.size(), 1);
        QCOMPARE(firmware.at(0).data, field(entry.value("Firmware").toString().toUtf8()));
        const QList<TestPacket> udid = client.request(3, 5);
        QCOMPARE(udid.size(), 1);
        QCOMPARE(udid.at(0).data, QByteArray::fromHex("00112233445566778899AA03"));
    }

    void oldUnitAnswersOnlyTheLegacyList()
    {
        unit->setOldUnit(true);
        SimTestClient client;
        QVERIFY(connectClient(client));
        QVERIFY(client.query("SYST:DEVJ?").contains("UNKNOWN COMMAND"));
        const QByteArray answer = client.query("SYST:DEVL?");
        // Read the list the way the application does.
        QMap<int, QString> modules;
        for (const QString& line : QString::fromLatin1(answer).split("<br>")) {
            const QStringList fields = line.split(':');
            if (fields.size() != 3)
                continue;
            const int address = fields.at(1).mid(fields.at(1).indexOf('=') + 1).toInt();
            modules.insert(address, fields.at(2).mid(fields.at(2).indexOf('=') + 1));
        }
        QCOMPARE(modules, (QMap<int, QString>{{3, "VX9SDM0"}, {5, "VX9TDM1"}}));
    }

    void newUnitAlsoAnswersTheLegacyList()
    {
        SimTestClient client;
        QVERIFY(connectClient(client));
        QCOMPARE(client.query("SYST:DEVL?"),
                 QByteArray("module=0:addr=3:type=VX9SDM0<br>module=1:addr=5:type=VX9TDM1"));
    }

    void textCommandAnswers_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("unit reset") << QByteArray("SYST:URES") << QByteArray("ok");
        QTest::newRow("system reset") << QByteArray("SYST:SRES") << QByteArray("ok");
        QTest::newRow("save") << QByteArray("SYST:DEVL:SAVE") << QByteArray("ok");
        QTest::newRow("lock") << QByteArray("SYST:LOCK 1") << QByteArray("ok");
        QTest::newRow("unlock") << QByteArray("SYST:LOCK 0") << QByteArray("ok");
        QTest::newRow("add") << QByteArray("SYST:DEVL:ADD 9") << QByteArray("ok");
        QTest::newRow("remove") << QByteArray("SYST:DEVL:REMV 5") << QByteArray("ok");
        QTest::newRow("unknown") << QByteArray("SYST:FOO") << QByteArray("UNKNOWN COMMAND");
        QTest::newRow("not a command") << QByteArray("hello") << QByteArray("UNKNOWN COMMAND");
        QTest::newRow("argument where none belongs")
            << QByteArray("SYST:URES 4") << QByteArray("UNKNOWN COMMAND");
    }
    void textCommandAnswers()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, answer);
        SimTestClient client;
        QVERIFY(connectClient(client));
        QCOMPARE(client.query(command), answer);
    }

    // Clients look for "ok" in any case anywhere in the answer.
    void refusalsNeverReadAsSuccess_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("lock 2") << QByteArray("SYST:LOCK 2");
        QTest::newRow("add taken") << QByteArray("SYST:DEVL:ADD 3");
        QTest::newRow("add bad") << QByteArray("SYST:DEVL:ADD x");
        QTest::newRow("add 255") << QByteArray("SYST:DEVL:ADD 255");
        QTest::newRow("remove absent") << QByteArray("SYST:DEVL:REMV 8");
        QTest::newRow("update unlocked") << QByteArray("SYST:UPDT 3");
        QTest::newRow("unknown") << QByteArray("SYST:BOOK");
    }
    void refusalsNeverReadAsSuccess()
    {
        QFETCH(QByteArray, command);
        SimTestClient client;
        QVERIFY(connectClient(client));
        const QByteArray answer = client.query(command);
        QVERIFY2(answer.startsWith("ERROR") || answer == "UNKNOWN COMMAND", answer);
        QVERIFY2(!answer.toLower().contains("ok"), answer);
    }

    void addingAndRemovingChangesTheModuleList()
    {
        QSignalSpy saved(unit.get(), &SimUnit::moduleListSaved);
        SimTestClient client;
        QVERIFY(connectClient(client));
        QVERIFY(client.silentFor(0));
        QVERIFY(client.request(9, 6, {}, 1, 200).isEmpty()); // nothing at 9 yet
        QCOMPARE(client.query("SYST:DEVL:ADD 9"), QByteArray("ok"));
        QCOMPARE(client.query("SYST:DEVL:SAVE"), QByteArray("ok"));
        QCOMPARE(saved.size(), 1);
        QJsonObject list = QJsonDocument::fromJson(client.query("SYST:DEVJ?")).object();
        QCOMPARE(list["count"].toInt(), 3);
        QCOMPARE(list["info"][2]["address"].toInt(), 9);
        QCOMPARE(list["info"][2]["type"].toString(), QString("VX9SDM1"));
        const QList<TestPacket> type = client.request(9, 6);
        QCOMPARE(type.size(), 1);
        QCOMPARE(type.at(0).data, field("VX9SDM1"));

        QCOMPARE(client.query("SYST:DEVL:REMV 3"), QByteArray("ok"));
        list = QJsonDocument::fromJson(client.query("SYST:DEVJ?")).object();
        QCOMPARE(list["count"].toInt(), 2);
        QCOMPARE(list["info"][0]["address"].toInt(), 5);
        QVERIFY(client.request(3, 6, {}, 1, 200).isEmpty());
    }

    void addWithoutAModuleForTheAddressIsRefused()
    {
        unit->setModuleMaker({});
        SimTestClient client;
        QVERIFY(connectClient(client));
        QVERIFY(client.query("SYST:DEVL:ADD 9").startsWith("ERROR"));
        QCOMPARE(unit->modules().size(), 2);
    }

    void updateNeedsTheLockAndCallsTheClientBack()
    {
        QTcpServer fileServer;
        QVERIFY(fileServer.listen(QHostAddress::LocalHost));
        unit->setFirmwareUpdatePort(fileServer.serverPort());
        SimTestClient client;
        QVERIFY(connectClient(client));
        QVERIFY(client.query("SYST:UPDT 3").startsWith("ERROR"));
        QCOMPARE(client.query("SYST:LOCK 1"), QByteArray("ok"));
        QVERIFY(unit->isLocked());
        QVERIFY(client.query("SYST:UPDT 4").startsWith("ERROR")); // no module there
        // The application ends this command with two CR LF pairs.
        client.send("SYST:UPDT 3\r\n\r\n");
        QCOMPARE(client.line(), QByteArray("ok"));
        QVERIFY(fileServer.hasPendingConnections() || fileServer.waitForNewConnection(3000));
        // The second CR LF was no command: the next answer belongs to the next command.
        QCOMPARE(client.query("SYST:LOCK 0"), QByteArray("ok"));
        QVERIFY(!unit->isLocked());
    }

    void updateGivesTheModuleNewFirmware()
    {
        QTcpServer fileServer;
        QVERIFY(fileServer.listen(QHostAddress::LocalHost));
        unit->setFirmwareUpdatePort(fileServer.serverPort());
        QSignalSpy stored(unit.get(), &SimUnit::moduleStateStored);
        SimTestClient client;
        QVERIFY(connectClient(client));
        QCOMPARE(client.query("SYST:LOCK 1"), QByteArray("ok"));
        QCOMPARE(client.query("SYST:UPDT 3"), QByteArray("ok"));
        QVERIFY(fileServer.hasPendingConnections() || fileServer.waitForNewConnection(3000));
        std::unique_ptr<QTcpSocket> unitSide(fileServer.nextPendingConnection());
        QVERIFY(client.query("SYST:DEVL:REMV 3").startsWith("ERROR")); // busy with it

        QByteArray message;
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0); // the same encoding for these types
        const QByteArray image(1000, '\x5A');
        out << QString("FILE_DATA") << qint64(image.size()) << image;
        unitSide->write(message);
        QVERIFY(stored.wait(5000));
        QCOMPARE(stored.at(0).at(0).value<quint8>(), quint8(3));
        const QJsonObject entry =
            QJsonDocument::fromJson(client.query("SYST:DEVJ?")).object()["info"][0].toObject();
        QCOMPARE(entry.value("Firmware").toString(), QString("1.2.4"));

        // The completion report reaches the file server before the unit closes, although
        // the unit is done with the update as soon as it has sent it.
        QByteArray reports;
        connect(unitSide.get(), &QTcpSocket::readyRead, this,
                [&] { reports += unitSide->readAll(); });
        reports += unitSide->readAll();
        QTRY_VERIFY(unitSide->state() == QAbstractSocket::UnconnectedState);
        reports += unitSide->readAll();
        QByteArray completed;
        QDataStream report(&completed, QIODevice::WriteOnly);
        report << QString("COMPLETED");
        QVERIFY2(reports.endsWith(completed), reports.right(40).toHex().constData());
    }

    void unitResetReinitialisesModulesButKeepsTheirEeprom()
    {
        SimTestClient client;
        QVERIFY(connectClient(client));
        QCOMPARE(client.request(3, 17, u32(42)).size(), 1);
        QCOMPARE(client.request(3, 19, u32(99)).size(), 1);
        QCOMPARE(client.request(3, 16).value(0).data, u32(42));
        QCOMPARE(client.query("SYST:URES"), QByteArray("ok"));
        QCOMPARE(client.request(3, 16).value(0).data, u32(0));
        QCOMPARE(client.request(3, 18).value(0).data, u32(99));
    }

    void systemResetAlsoReleasesTheLock()
    {
        SimTestClient client;
        QVERIFY(connectClient(client));
        QCOMPARE(client.request(5, 17, u32(8)).size(), 1);
        QCOMPARE(client.query("SYST:LOCK 1"), QByteArray("ok"));
        QCOMPARE(client.query("SYST:SRES"), QByteArray("ok"));
        QVERIFY(!unit->isLocked());
        QCOMPARE(client.request(5, 16).value(0).data, u32(0));
        QVERIFY(client.query("SYST:UPDT 5").startsWith("ERROR"));
    }

    void powerOffClosesEveryConnectionAndStopsListening()
    {
        QSignalSpy off(unit.get(), &SimUnit::poweredOff);
        const quint16 port = unit->serverPort();
        SimTestClient a, b;
        QVERIFY(a.connectTo(port));
        QVERIFY(b.connectTo(port));
        QCOMPARE(b.request(3, 17, u32(5)).size(), 1);
        QCOMPARE(a.query("SYST:POFF"), QByteArray("ok"));
        QVERIFY(a.waitClosed());
        QVERIFY(b.waitClosed());
        QVERIFY(b.silentFor(0)); // b got no "ok" of its own
        QVERIFY(off.size() == 1 || off.wait(3000));
        QVERIFY(!unit->isListening());
        SimTestClient late;
        QVERIFY(!late.connectTo(port) || late.waitClosed());

        // Powered on again, the modules start afresh.
        unit->setPort(port);
        QVERIFY(unit->start());
        SimTestClient again;
        QVERIFY(again.connectTo(port));
        QCOMPARE(again.request(3, 16).value(0).data, u32(0));
        QVERIFY(again.query("SYST:DEVJ?").startsWith("{"));
    }

    void clientsHaveTheirOwnStreams()
    {
        SimTestClient a, b;
        QVERIFY(connectClient(a));
        QVERIFY(connectClient(b));
        // a sends half a packet and half a text command, b talks meanwhile.
        a.send(SimTestClient::packet(3, 17, u32(11)).left(4));
        QCOMPARE(b.request(5, 17, u32(22)).size(), 1);
        a.send(SimTestClient::packet(3, 17, u32(11)).mid(4) + "SYST:DE");
        QCOMPARE(a.packets(1).value(0).command, quint8(17));
        QCOMPARE(b.query("SYST:URES"), QByteArray("ok"));
        a.send("VL?\r\n");
        QVERIFY(a.line().startsWith("module=0"));
        // Text and packets alternate on one stream.
        a.send("SYST:DEVL?\r\n" + SimTestClient::packet(3, 6) + "SYST:LOCK 0\r\n");
        QVERIFY(a.line().startsWith("module=0"));
        const QList<TestPacket> type = a.packets(1);
        QCOMPARE(type.value(0).data, field("VX9SDM0"));
        QCOMPARE(a.line(), QByteArray("ok"));
    }

    void aClientLeavingMidPacketDisturbsNoOther()
    {
        SimTestClient a, b;
        QVERIFY(connectClient(a));
        QVERIFY(connectClient(b));
        a.send(SimTestClient::packet(3, 17, u32(1)).left(5));
        b.send(SimTestClient::packet(3, 17, u32(2)).left(2));
        a.pump(20);
        a.socket.abort();
        QTRY_COMPARE(unit->connectionCount(), 1);
        b.send(SimTestClient::packet(3, 17, u32(2)).mid(2));
        QCOMPARE(b.packets(1).size(), 1);
        QCOMPARE(b.request(3, 16).value(0).data, u32(2));
        SimTestClient c;
        QVERIFY(connectClient(c));
        QCOMPARE(c.request(3, 16).value(0).data, u32(2)); // a's half packet never arrived
    }

    void bytesArrivingOneByOneMakeTheSamePackets()
    {
        SimTestClient client;
        QVERIFY(connectClient(client));
        const QByteArray bytes =
            SimTestClient::packet(3, 17, u32(77)) + "SYST:URES\r\n" + SimTestClient::packet(3, 6);
        for (char byte : bytes) {
            client.send(QByteArray(1, byte));
            client.pump(1);
        }
        QCOMPARE(client.packets(1).value(0).command, quint8(17));
        QCOMPARE(client.line(), QByteArray("ok"));
        QCOMPARE(client.packets(1).value(0).data, field("VX9SDM0"));
    }

    void unknownAddressesAndCodesAreSilent()
    {
        SimTestClient client;
        QVERIFY(connectClient(client));
        client.send(SimTestClient::packet(200, 16, u32(1)));
        client.send(SimTestClient::packet(3, 99, u32(1)));
        client.send(SimTestClient::packet(3, 17, "xy")); // wrong length: dropped as well
        QVERIFY(client.silentFor(100));
        // The stream stays aligned: the next request is answered.
        QCOMPARE(client.request(3, 16).value(0).data, u32(0));
    }

    void aModuleAtALetterAddressStillGetsItsPackets()
    {
        QVERIFY(plug('S', "VX9SDM0"));
        QVERIFY(plug('h', "VX9SDM0"));
        SimTestClient client;
        QVERIFY(connectClient(client));
        QCOMPARE(client.request('S', 6).value(0).data, field("VX9SDM0"));
        QCOMPARE(client.request('h', 16).value(0).address, quint8('h'));
        QCOMPARE(QJsonDocument::fromJson(client.query("SYST:DEVJ?")).object()["count"].toInt(), 4);
    }

    void overlongTextIsRefusedAndTheStreamGoesOn()
    {
        SimTestClient client;
        QVERIFY(connectClient(client));
        client.send("SYST:" + QByteArray(5000, 'A') + "\r\n");
        QCOMPARE(client.line(), QByteArray("UNKNOWN COMMAND"));
        QCOMPARE(client.query("SYST:URES"), QByteArray("ok"));
    }
};

QTEST_GUILESS_MAIN(TestSimUnit)
#include "tst_simunit.moc"
