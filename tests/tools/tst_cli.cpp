// cu-tavik-cli end to end: the real program against a stand-in unit on 127.0.0.1:9876
// (the test runs in a network namespace of its own, so the unit port is free).
#include "bytes.h"
#include "loopbackpeer.h"

#include "programrun.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestCli : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> unit;
    QTemporaryDir home;
    // Module 4 of the stand-in unit answers its identity; 9 answers nothing.
    QHash<quint8, QByteArray> identity;

    // Runs the tool while this thread keeps serving the stand-in unit.
    ProgramRun cli(const QStringList& args)
    {
        ProgramOptions options;
        options.home = home.path();
        options.timeoutMs = 20000;
        return runProgram(CLI_PATH, args, options);
    }

private slots:
    void init()
    {
        identity = {
            {6, Bytes().text("VX9SDM0", 24)}, {7, Bytes().text("M0V1", 24)},
            {8, Bytes().text("2.1", 24)},     {9, Bytes().text("1.7.3", 24)},
            {10, Bytes().text("SSPD", 24)},   {5, QByteArray::fromHex("00112233445566778899aabb")},
        };
        unit = std::make_unique<LoopbackPeer>();
        QVERIFY(unit->listen(9876));
        unit->setTextResponder([](const QByteArray& line) -> QByteArray {
            if (line == "SYST:DEVL?")
                return "VX9SDM0 4<br>VX9TDM0 5\r\n";
            return line.startsWith("SYST:") ? "ok\r\n" : QByteArray();
        });
        unit->setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address == 5 && p.command == 6) // type: reads and writes ask it first
                return LoopbackPeer::packet(5, 6, Bytes().text("VX9SDM0", 24));
            if (p.address == 6 && p.command == 6)
                return LoopbackPeer::packet(6, 6, Bytes().text("VX9TDM1", 24));
            if (p.address == 5 && p.command == 16) // sspd0 data: current, voltage, counts, status
                return LoopbackPeer::packet(
                    5, 16, Bytes().f32(2.5e-6f).f32(0.004f).f32(1234).u8(0x3C).pad(3));
            if (p.address == 5 && p.command == 18) // current written: acknowledged
                return LoopbackPeer::packet(5, 18);
            if (p.address == 6 && p.command == 17) // temp1 temperatures of four channels
                return LoopbackPeer::packet(6, 17, Bytes().f32(2.2f).f32(4.5f).f32(40).f32(300));
            if (p.address != 4 || !identity.contains(p.command))
                return {};
            return LoopbackPeer::packet(4, p.command, identity.value(p.command));
        });
    }
    void cleanup() { unit.reset(); }

    void helpNamesEveryCommand()
    {
        const ProgramRun r = cli({"--help"});
        QCOMPARE(r.exitCode, 0);
        for (const char* word : {"query TEXT", "identity MODULE", "read MODULE KIND PROPERTY",
                                 "write MODULE KIND PROPERTY VALUE", "--unit", "--tries",
                                 "--timeout-ms", "--force", "sspd0", "sisline"})
            QVERIFY2(r.out.contains(word), word);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no command") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"frobnicate"};
        QTest::newRow("missing argument") << QStringList{"read", "4", "sspd0"};
        QTest::newRow("module out of range") << QStringList{"identity", "300"};
        QTest::newRow("unknown kind") << QStringList{"read", "4", "laser", "data"};
        QTest::newRow("unknown property") << QStringList{"read", "4", "sspd0", "colour"};
        QTest::newRow("bad unit") << QStringList{"--unit", "not a host", "query", "X"};
        QTest::newRow("bad tries") << QStringList{"--tries", "0", "identity", "4"};
        QTest::newRow("bad value") << QStringList{"write", "4", "sspd0", "current", "lots"};
        QTest::newRow("read-only") << QStringList{"write", "4", "sspd0", "voltage", "1"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        const ProgramRun r = cli(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(!r.err.isEmpty());
        QVERIFY(unit->packets().isEmpty());
    }

    void queryPrintsTheAnswer()
    {
        const ProgramRun r = cli({"--unit", "127.0.0.1", "query", "SYST:DEVL?"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QString("VX9SDM0 4<br>VX9TDM0 5\r\n"));
        QCOMPARE(unit->rawReceived(), QByteArray("SYST:DEVL?\r\n"));
    }

    void queryUsesTheStoredAddress()
    {
        QDir().mkpath(home.path() + "/config/Norvane");
        QFile conf(home.path() + "/config/Norvane/cu-tavik.conf");
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[General]\nTcpIpAddress=127.000.000.001\n");
        conf.close();
        const ProgramRun r = cli({"query", "SYST:LOCK 0\r\n"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), QString("ok"));
        QCOMPARE(unit->rawReceived(), QByteArray("SYST:LOCK 0\r\n")); // no second CR LF
        QVERIFY(conf.remove());
    }

    void unreachableUnit()
    {
        unit.reset();
        const ProgramRun r = cli({"--timeout-ms", "50", "query", "SYST:DEVJ?"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(r.err.contains("cannot reach"));
        QCOMPARE(cli({"identity", "4"}).exitCode, 1);
    }

    void silentUnit()
    {
        const ProgramRun r = cli({"--timeout-ms", "50", "query", "HELLO?"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("no answer"));
    }

    void identityAsJson()
    {
        const ProgramRun r = cli({"identity", "4"});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("type").toString(), QString("VX9SDM0"));
        QCOMPARE(o.value("modification").toString(), QString("M0V1"));
        QCOMPARE(o.value("hardware").toString(), QString("2.1"));
        QCOMPARE(o.value("firmware").toString(), QString("1.7.3"));
        QCOMPARE(o.value("description").toString(), QString("SSPD"));
        QCOMPARE(o.value("udid").toString(), QString("0011-2233-4455-6677-8899-AABB"));
    }

    void silentModuleIsTriedThenReported()
    {
        const ProgramRun r =
            cli({"--tries", "2", "--timeout-ms", "40", "read", "9", "sspd0", "current"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("module 9 gave no answer within 40 ms (2 tries)"));
        QCOMPARE(unit->packets().size(), 2);
        QCOMPARE(unit->packets().at(0).command, quint8(6)); // its type, asked first
    }

    void readsStructureFieldByField()
    {
        const ProgramRun r = cli({"read", "5", "sspd0", "data"});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(float(o.value("current").toDouble()), 2.5e-6f);
        QCOMPARE(float(o.value("voltage").toDouble()), 0.004f);
        QCOMPARE(o.value("counts").toDouble(), 1234.0);
        const QJsonObject status = o.value("status").toObject();
        QCOMPARE(status.value("shorted").toBool(), false);
        QCOMPARE(status.value("amplifierOn").toBool(), true);
        QCOMPARE(status.value("counterOn").toBool(), true);
        QCOMPARE(status.value("error").toBool(), false);
    }

    void readsValuesOfOperations()
    {
        const ProgramRun r = cli({"read", "6", "temp1", "temperatures"});
        QCOMPARE(r.exitCode, 0);
        const QJsonArray t = QJsonDocument::fromJson(r.out.toUtf8()).array();
        QCOMPARE(t.size(), 4);
        QCOMPARE(float(t.at(1).toDouble()), 4.5f);
        QCOMPARE(t.at(3).toDouble(), 300.0);
    }

    void writeReportsTheAcknowledgement()
    {
        const ProgramRun r = cli({"write", "5", "sspd0", "current", "1.5e-5"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), QString("acknowledged"));
        QCOMPARE(unit->packets().size(), 2);
        QCOMPARE(unit->packets().at(1).command, quint8(18));
        QCOMPARE(unit->packets().at(1).data, Bytes().f32(1.5e-5f).toByteArray());

        const ProgramRun silent =
            cli({"--timeout-ms", "40", "write", "5", "sspd0", "shortEnable", "1"});
        QCOMPARE(silent.exitCode, 1);
        QVERIFY(silent.err.contains("did not acknowledge"));
        QCOMPARE(unit->packets().last().command, quint8(23));
        QCOMPARE(unit->packets().last().data, QByteArray::fromHex("01"));
    }

    void readsTextProperty()
    {
        const ProgramRun r = cli({"read", "4", "sspd0", "typeString"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), QString("\"VX9SDM0\""));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
