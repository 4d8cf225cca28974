// cu-tavik-cli's command line and its driver commands (query, identity, read, write) end to
// end: the real program against a stand-in unit on 127.0.0.1:9876 (the test runs in a
// network namespace of its own, so the unit port is free).
#include "bytes.h"
#include "csvformat.h"
#include "loopbackpeer.h"
#include "programrun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

class TestCli : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> unit;
    QTemporaryDir home;

    ProgramRun cli(const QStringList& args)
    {
        ProgramOptions options;
        options.home = home.path();
        return runProgram(CLI_PATH, args, options);
    }
    ProgramRun cli(const char* args) { return cli(QString(args).split(u' ')); }
    static QJsonObject json(QString t) { return QJsonDocument::fromJson(t.toUtf8()).object(); }

private slots:
    // Module 4 answers its identity, 5 its SSPD data, 6 its temperatures, 3 its calibration
    // constants (the module list names only 3); 9 answers nothing.
    void init()
    {
        unit = std::make_unique<LoopbackPeer>();
        QVERIFY(unit->listen(9876));
        unit->setTextResponder([](const QByteArray& line) -> QByteArray {
            if (line == "SYST:DEVL?")
                return "VX9SDM0 4<br>VX9TDM0 5\r\n";
            if (line == "SYST:DEVJ?")
                return R"({"count":1,"info":[{"address":3,"type":"VX9SDM0"}],)"
                       R"("software_version":"1.4.0"})"
                       "\r\n";
            return line.startsWith("SYST:") ? "ok\r\n" : QByteArray();
        });
        unit->setPacketResponder([](const PeerPacket& p) -> QByteArray {
            const QHash<int, QByteArray> answers = {
                {0x0305, QByteArray::fromHex("00112233445566778899aabb")},
                {0x0306, Bytes().text("VX9SDM0", 24)},
                {0x0329, Bytes().f32(1).f32(0).f32(1).f32(0).f32(1).f32(0).f32(1).f32(0)},
                {0x0405, QByteArray::fromHex("00112233445566778899aabb")},
                {0x0406, Bytes().text("VX9SDM0", 24)},
                {0x0407, Bytes().text("M0V1", 24)},
                {0x0408, Bytes().text("2.1", 24)},
                {0x0409, Bytes().text("1.7.3", 24)},
                {0x040A, Bytes().text("SSPD", 24)},
                {0x0506, Bytes().text("VX9SDM0", 24)}, // reads and writes ask the type first
                // current, voltage, counts, status
                {0x0510, Bytes().f32(2.5e-6f).f32(0.004f).f32(1234).u8(0x3C).pad(3)},
                {0x0512, {}}, // current written: acknowledged
                {0x0606, Bytes().text("VX9TDM1", 24)},
                {0x0611, Bytes().f32(2.2f).f32(4.5f).f32(40).f32(300)}, // four channels
            };
            const int key = p.address << 8 | p.command;
            if (!answers.contains(key))
                return {};
            return LoopbackPeer::packet(p.address, p.command, answers.value(key));
        });
    }
    void cleanup() { unit.reset(); }

    // Refused before anything reaches the unit: one case a line, its name before the colon.
    void usageErrors_data()
    {
        QTest::addColumn<QString>("args");
        const QString cases = QStringLiteral(R"(no command:
unknown command: frobnicate
missing argument: read 4 sspd0
module out of range: identity 300
unknown kind: read 4 laser data
unknown property: read 4 sspd0 colour
unit group above 255: --unit 127.0.0.300 query X
bad tries: --tries 0 identity 4
bad value: write 4 sspd0 current lots
read-only: write 4 sspd0 voltage 1
list with a word: list all
list with tries: --tries 2 list
monitor mode: monitor --mode fast
monitor all time constant: monitor --time-constant 0.1
monitor channels: monitor --channels 1,x
monitor duration: monitor --duration 0
set value: set 1 operate maybe
set words: set 1 current
sweep kind: sweep voltage --channel 1
sweep without out: sweep current --channel 1 --from 1e-5 --to 2e-5 --step 1e-7
sweep beyond the panel: sweep current --channel 1 --from 0.5 --to 2e-5 --step 1e-7 --out x.csv
sweep zero step: sweep iv --channel 1 --from 1e-5 --to 2e-5 --step 0 --out x.csv
iv trigger: sweep iv --channel 1 --from 1e-5 --to 2e-5 --step 1e-7 --trigger 0.1 --out x.csv
histogram without duration: sweep histogram --channel 1 --from 0 --to 10 --step 1 --out x.csv
histogram bins: sweep histogram --channel 1 --from 0 --to 1e9 --step 1 --duration 1 --out x.csv
preset action: preset load x.json
preset restore channels: preset restore x.json --channels 1
unit lock 2: unit lock 2
unit add: unit add 300
eeprom store on read: eeprom read 1 --store
eeprom missing file: eeprom write 1 /no/such/file.json
characterise without channel: characterise
time constant too long: characterise --channel 1 --time-constant 1000
characterise into no directory: characterise --channel 1 --out /nonexistent/dir
characterise foreign option: characterise --channel 1 --from 1
discover extra: discover extra
discover wait: discover --wait-ms soon
boot without port: boot image.bin
boot without file: boot --port no-tty
boot unit: boot --unit 127.0.0.1 --port no-tty a.bin)");
        for (const QString& line : cases.split(u'\n'))
            QTest::newRow(qPrintable(line.section(u':', 0, 0))) << line.section(u':', 1);
    }
    void usageErrors()
    {
        QFETCH(QString, args);
        const ProgramRun r = cli(args.split(u' ', Qt::SkipEmptyParts));
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("cu-tavik-cli: "), qPrintable(r.err));
        QCOMPARE(r.out, QString());
        QCOMPARE(unit->connectionCount(), 0);
    }

    // A load itself needs the Raspberry Pi's GPIO block; here only what fails before it.
    void bootFailsBeforeTheModule()
    {
        const ProgramRun absent = cli({"boot", "--port", "no-tty", home.filePath("missing.bin")});
        QVERIFY2(absent.exitCode == 1 && absent.err.contains("Can't find file: "),
                 qPrintable(absent.err));
        QFile image(home.filePath("image.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(QByteArray(300, 'x')) == 300);
        image.close();
        const ProgramRun r =
            cli({"boot", "--wait-for-device", "--port", home.filePath("no-tty"), image.fileName()});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains("Opening Serial Port"), qPrintable(r.out));
        QVERIFY2(r.err.contains("Error at opening serialPort: 1"), qPrintable(r.err));
    }

    void queryAndIdentityPrintTheAnswer()
    {
        const ProgramRun r = cli({"--unit", "127.000.000.001", "query", "SYST:DEVL?"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QString("VX9SDM0 4<br>VX9TDM0 5\r\n"));
        QCOMPARE(cli({"--unit", "127.0.0.1", "query", "SYST:LOCK 0\r\n"}).out, "ok\r\n");
        QCOMPARE(unit->rawReceived(), QByteArray("SYST:DEVL?\r\nSYST:LOCK 0\r\n")); // one CR LF
        const ProgramRun identity = cli("identity 4");
        QCOMPARE(identity.exitCode, 0);
        QCOMPARE(json(identity.out), json(R"({"type": "VX9SDM0", "modification": "M0V1",
            "hardware": "2.1", "firmware": "1.7.3", "description": "SSPD",
            "udid": "0011-2233-4455-6677-8899-AABB"})"));
    }

    void silenceIsReported()
    {
        const ProgramRun silent = cli("--timeout-ms 50 query HELLO?");
        QCOMPARE(silent.exitCode, 1);
        QVERIFY(silent.err.contains("no answer"));
        // A silent module is tried again, its type asked first.
        const ProgramRun module = cli("--tries 2 --timeout-ms 40 read 9 sspd0 current");
        QCOMPARE(module.exitCode, 1);
        QVERIFY(module.err.contains("module 9 gave no answer within 40 ms (2 tries)"));
        QVERIFY(unit->packets().size() == 2 && unit->packets().at(0).command == 6 &&
                unit->packets().at(1).command == 6);
        unit.reset();
        const ProgramRun r = cli("--timeout-ms 50 query SYST:DEVJ?");
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(r.err.contains("cannot reach"));
        QCOMPARE(cli("identity 4").exitCode, 1);
    }

    void readsFieldsValuesAndText()
    {
        const QJsonObject o = json(cli("read 5 sspd0 data").out);
        QCOMPARE(float(o.value("current").toDouble()), 2.5e-6f);
        QCOMPARE(float(o.value("voltage").toDouble()), 0.004f);
        QCOMPARE(o.value("counts").toDouble(), 1234.0);
        const QJsonObject status = o.value("status").toObject();
        QVERIFY(status.value("amplifierOn") == QJsonValue(true) &&
                status.value("counterOn") == QJsonValue(true));
        QVERIFY(status.value("shorted") == QJsonValue(false) &&
                status.value("error") == QJsonValue(false));
        const QJsonArray t =
            QJsonDocument::fromJson(cli("read 6 temp1 temperatures").out.toUtf8()).array();
        QCOMPARE(t.size(), 4);
        QCOMPARE(float(t.at(1).toDouble()), 4.5f);
        QCOMPARE(t.at(3).toDouble(), 300.0);

        QCOMPARE(cli("read 4 sspd0 typeString").out.trimmed(), QString("\"VX9SDM0\""));
    }

    void writeReportsTheAcknowledgement()
    {
        const ProgramRun r = cli("write 5 sspd0 current 1.5e-5");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), QString("acknowledged"));
        QVERIFY(unit->packets().size() == 2 && unit->packets().at(1).command == 18 &&
                unit->packets().at(1).data == Bytes().f32(1.5e-5f).toByteArray());

        const ProgramRun silent = cli("--timeout-ms 40 write 5 sspd0 shortEnable 1");
        QCOMPARE(silent.exitCode, 1);
        QVERIFY(silent.err.contains("did not acknowledge"));
        QVERIFY(unit->packets().last().command == 23 && unit->packets().last().data == "\x01");
    }

    // Module 3 answers its constants but never takes new ones.
    void unacknowledgedEngineCommandsExitWithOne()
    {
        const QString file = home.filePath("peer.json");
        QCOMPARE(cli({"eeprom", "read", "3", "--out", file}).exitCode, 0);
        const ProgramRun write = cli({"eeprom", "write", "3", file, "--store"});
        QCOMPARE(write.exitCode, 1);
        QCOMPARE(write.err.trimmed(),
                 QString("cu-tavik-cli: Error: EEPROM constants of unit 3 were not written"));
        QCOMPARE(unit->packets().last().command, quint8(42)); // sent, and never stored
    }

    // Quotes inside a field are doubled; times are written in UTC whatever the local zone.
    void csvFieldsAndTimes()
    {
        QCOMPARE(Csv::line({"a\"b", "c"}), QString("\"a\"\"b\",c"));
        qputenv("TZ", "Europe/Berlin");
        tzset();
        const QDateTime noon(QDate(2026, 1, 2), QTime(12, 0), Qt::LocalTime);
        const QString written = Csv::time(noon);
        qunsetenv("TZ");
        tzset();
        QCOMPARE(written, QString("2026-01-02T11:00:00.000Z"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
