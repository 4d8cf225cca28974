// cu-tavik-cli through the measurement engine, end to end: the real program against the
// simulated demo rack on 127.0.0.1:9876 (or a scripted stand-in unit), which this test's
// event loop serves while the program runs; and what the tool refuses or reports instead of
// harming a module or misleading its user. The test has a network namespace of its own.
#include "core/simenvironment.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "link/eventwait.h"
#include "modules/simsspdm0.h"
#include "modules/simsspdm1.h"
#include "programrun.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// The demo rack: SSPD model 0 at 1 and 2, model 1 at 3, temperature models 0 and 1 at 4
// and 5, a heater at 6.
struct Rack
{
    Rack() { started = SimRack::demo().install(&unit, nullptr) && unit.start(nullptr); }
    double bias(quint8 address) const
    {
        if (auto* m0 = qobject_cast<SimSspdM0*>(unit.module(address)))
            return m0->physics().bias();
        return qobject_cast<SimSspdM1*>(unit.module(address))->physics().bias();
    }
    double currentAdcSlope(quint8 address) const
    {
        const QJsonObject constants = unit.module(address)->eeprom().value("constants").toObject();
        return constants.value("currentAdc").toObject().value("first").toDouble();
    }

    SimEnvironment environment{5};
    SimUnit unit{&environment};
    bool started = false;
};

// A sweep or histogram file: its "# key: value" lines, its column header, its rows.
struct CsvFile
{
    QHash<QString, QString> metadata;
    QString header;
    QList<QStringList> rows;
};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject jsonFile(const QString& path)
{
    return QJsonDocument::fromJson(contents(path)).object();
}

bool writeJson(const QString& path, const QJsonObject& object)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) > 0;
}

CsvFile parseCsv(const QString& text)
{
    CsvFile csv;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("# "))) {
            const qsizetype colon = line.indexOf(QLatin1String(": "));
            csv.metadata.insert(line.mid(2, colon - 2), line.mid(colon + 2));
        } else if (csv.header.isEmpty()) {
            csv.header = line;
        } else {
            csv.rows.append(line.split(u','));
        }
    }
    return csv;
}

CsvFile readCsv(const QString& path)
{
    return parseCsv(QString::fromUtf8(contents(path)));
}

// Runs the event loop until done() holds or the program has ended; whatever the program
// printed on standard error meanwhile is added to *err.
void until(QProcess& process, const std::function<bool()>& done, QString* err = nullptr)
{
    cuWaitForEvents(
        [&] {
            if (err)
                *err += process.readAllStandardError();
            return done() || process.state() != QProcess::Running;
        },
        10000);
}
qsizetype printed(QProcess& process, const char* text)
{
    return process.peek(1 << 20).count(text);
}
void interrupt(QProcess& process)
{
    ::kill(pid_t(process.processId()), SIGINT);
}

// Runs the tool with "--out FILE" in a mount namespace of its own, where FILE lies on a tiny
// tmpfs that is full; FILE held "old result" before. Prints what FILE holds afterwards.
// Exit status 99: no tmpfs could be mounted.
const char* const FullDiskScript = R"(
cli=$1; dir=$2; shift 2
mount -t tmpfs -o size=64k tavik "$dir" || exit 99
printf 'old result\n' > "$dir/out"
dd if=/dev/zero of="$dir/fill" bs=4k 2>/dev/null
"$cli" "$@" --out "$dir/out"
rc=$?
cat "$dir/out"
exit $rc
)";

} // namespace

class TestCliEngine : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<Rack> rack;

    QString path(const QString& name) const { return home.filePath(name); }
    // The words of a command line; HOME/ stands for the test's home directory.
    QStringList words(QString text) const
    {
        return text.replace("HOME/", home.path() + u'/').split(u' ', Qt::SkipEmptyParts);
    }

    // Runs the tool (or another program) while this thread keeps serving the unit; during()
    // runs once the program has started.
    ProgramRun cli(const QStringList& args, const std::function<void(QProcess&)>& during = {},
                   const QString& stdoutFile = {}, const QString& program = CLI_PATH)
    {
        ProgramOptions options;
        options.home = home.path();
        options.stdoutFile = stdoutFile;
        options.timeoutMs = 60000;
        options.during = during;
        return runProgram(program, args, options);
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("tavik.sim.info=false");
        QVERIFY(writeJson(path("none.json"), {{"DeviceType", "VX9SDM0"}, {"Colour", 3}}));
        QVERIFY(writeJson(path("other.json"), {{"DeviceType", "VX9SDM0"},
                                               {"UDID", "5456-4B00-0001-0000-0000-0002"},
                                               {"CurrentAdcCoeffs", QJsonArray{1.25, 0.5}}}));
    }
    void init()
    {
        rack = std::make_unique<Rack>();
        QVERIFY(rack->started);
    }
    void cleanup() { rack.reset(); }

    void listPrintsTheModuleListObject()
    {
        const ProgramRun r = cli({"list"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        const QJsonObject list = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(list.value("count").toInt(), 6);
        QCOMPARE(list.value("software_version").toString(), QString("1.4.0"));
        const QJsonArray info = list.value("info").toArray();
        QCOMPARE(info.size(), 6);
        const QJsonObject third = info.at(2).toObject();
        QCOMPARE(third.value("address").toInt(), 3);
        QCOMPARE(third.value("type").toString(), QString("VX9SDM1"));
        QCOMPARE(third.value("UDID").toString(), QString("5456-4B00-0002-0000-0000-0003"));
    }

    void storedAddressIsUsedAndKept()
    {
        // The screen's last address, in the form it stores; the unit listens on 127.0.0.1.
        QDir().mkpath(path("config/Norvane"));
        QSettings stored(path("config/Norvane/cu-tavik.conf"), QSettings::IniFormat);
        stored.setValue("TcpIpAddress", "127.000.000.002");
        stored.sync();
        const ProgramRun storedUnit = cli({"list"});
        QCOMPARE(storedUnit.exitCode, 1);
        QVERIFY(storedUnit.err.contains("cannot reach the unit at 127.000.000.002 port 9876"));
        QCOMPARE(storedUnit.out, QString());
        // Another unit for one command leaves the stored address alone.
        QCOMPARE(cli({"--unit", "127.0.0.1", "list"}).exitCode, 0);
        stored.sync();
        QCOMPARE(stored.value("TcpIpAddress").toString(), QString("127.000.000.002"));
        QVERIFY(QFile::remove(stored.fileName()));
    }

    void monitorAllPrintsEveryModuleOnce()
    {
        // The home view reads every module once a second.
        const ProgramRun r = cli({"monitor", "--duration", "1.4"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        const CsvFile csv = parseCsv(r.out);
        QCOMPARE(csv.header,
                 QString("time,address,type,status,current,voltage,counts,cps,cmp_ref_level,"
                         "time_const,operate,temperature,pressure"));
        QHash<QString, QStringList> byAddress;
        for (const QStringList& line : csv.rows) {
            QCOMPARE(line.size(), 13);
            QVERIFY(QDateTime::fromString(line.at(0), Qt::ISODateWithMs).isValid());
            byAddress.insert(line.at(1), line);
        }
        QCOMPARE(csv.rows.size(), 5);
        QCOMPARE(byAddress.value("1").mid(2, 2), (QStringList{"VX9SDM0", "ok"}));
        QCOMPARE(byAddress.value("1").at(9), QString("0.1")); // the module's own time constant
        QVERIFY(byAddress.value("1").at(11).isEmpty());       // no temperature on an SSPD
        QCOMPARE(byAddress.value("4").at(3), QString("ok"));
        QVERIFY(byAddress.value("4").at(11).toDouble() > 0);
        // The model-1 temperature module shows its first sensor.
        QCOMPARE(byAddress.value("5").mid(2, 2), (QStringList{"VX9TDM1", "ok"}));
        QVERIFY(byAddress.value("5").at(11).toDouble() > 0);
    }

    void monitorCpsReadsTheChosenChannelsAtTheTimeConstant()
    {
        const ProgramRun r = cli({"monitor", "--mode", "cps", "--channels", "1,3",
                                  "--time-constant", "0.02", "--duration", "0.3"});
        QCOMPARE(r.exitCode, 0);
        const CsvFile csv = parseCsv(r.out);
        QCOMPARE(csv.header, QString("time,address,status,cps,counts,current,voltage,cmp_ref_level,"
                                     "time_const,operate"));
        QVERIFY2(csv.rows.size() >= 4, qPrintable(r.out));
        QSet<QString> addresses;
        for (const QStringList& line : csv.rows) {
            QCOMPARE(line.size(), 10);
            QCOMPARE(line.at(2), QString("ok"));
            addresses.insert(line.at(1));
        }
        QCOMPARE(addresses, (QSet<QString>{"1", "3"}));
        // The time plot gave the modules its time constant.
        QCOMPARE(csv.rows.last().at(8), QString("0.02"));
    }

    void monitorEndsCleanlyOnCtrlC()
    {
        const ProgramRun r =
            cli({"monitor", "--mode", "temp", "--time-constant", "0.02"}, [](QProcess& process) {
                until(process, [&] { return printed(process, "\n") >= 3; });
                interrupt(process);
            });
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.endsWith(u'\n'));
        const CsvFile csv = parseCsv(r.out);
        QVERIFY(csv.rows.size() >= 2);
        QCOMPARE(csv.rows.first().at(1), QString("4"));
        QCOMPARE(csv.rows.first().size(), 8);
    }

    // A unit that falls silent or closes the connection for a while: the monitor says so on
    // standard error and when it is back. Without --keep-going its status tells of the failed
    // readings, and a closed connection ends it at once; with it, it goes on past the three
    // failures that otherwise end it, and connects again.
    void monitorFollowsTheUnit_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("keepGoing");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said"); // in this order on standard error
        const QString stopped = "the unit stopped answering at ";
        const QString again = "the unit answers again at ";
        const QString closed = "the unit closed the connection at ";
        QTest::newRow("silent") << false << false << 1
                                << QStringList{stopped, again, " reading(s) failed"};
        QTest::newRow("silent, keep going") << false << true << 0 << QStringList{stopped, again};
        QTest::newRow("closed") << true << false << 1
                                << QStringList{closed,
                                               "monitor ended: the unit closed the connection"};
        QTest::newRow("closed, keep going")
            << true << true << 0 << QStringList{closed, "connected again at "};
    }
    void monitorFollowsTheUnit()
    {
        QFETCH(bool, close);
        QFETCH(bool, keepGoing);
        QFETCH(int, exitCode);
        QFETCH(QStringList, said);
        QStringList args = {"--timeout-ms", "100", "monitor",         "--mode", "temp",
                            "--channels",   "4",   "--time-constant", "0.05"};
        if (keepGoing)
            args << "--keep-going";
        QString err;
        const auto during = [&](QProcess& process) {
            until(
                process, [&] { return printed(process, ",ok,") >= 2; }, &err);
            rack->unit.setFaults(close ? SimFaults{.closeAfterPackets = 1}
                                       : SimFaults{.mute = true});
            const int faults = close ? 0 : keepGoing ? 4 : 1;
            until(
                process,
                [&] { return err.contains(said.first()) && printed(process, ",fault,") >= faults; },
                &err);
            rack->unit.setFaults({});
            const qsizetype before = printed(process, ",ok,");
            until(
                process, [&] { return printed(process, ",ok,") > before; }, &err);
            if (process.state() == QProcess::Running) // a closed one without --keep-going has ended
                interrupt(process);
        };
        const ProgramRun r = cli(args, during);
        err += r.err;
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, exitCode);
        qsizetype at = 0;
        for (const QString& text : said) {
            at = err.indexOf(text, at);
            QVERIFY2(at >= 0, qPrintable(text + " not in:\n" + err));
        }
        QVERIFY(err.startsWith("cu-tavik-cli: "));
        if (!close)
            QCOMPARE(err.count(u'\n'), said.size());
    }

    void setWritesOneParameterByName()
    {
        const ProgramRun r = cli({"set", "1", "current", "1.5e-5"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QVERIFY(qAbs(rack->bias(1) - 1.5e-5) < 1e-12);
        QCOMPARE(rack->bias(2), 0.0);
        // Negative values come after "--".
        QCOMPARE(cli({"set", "2", "current", "--", "-2e-6"}).exitCode, 0);
        QVERIFY(qAbs(rack->bias(2) + 2e-6) < 1e-12);
    }

    // Each sweep steps its value and writes the points with the file's metadata.
    void sweepsWriteTheEnginesPoints_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("header");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("column");          // of the stepped value
        QTest::addColumn<QList<double>>("steps"); // its first rows
        // 15.0 to 15.3 μA, and the reading one step beyond the end.
        QTest::newRow("current") << "current --channel 2 --from 15e-6 --to 15.3e-6 --step 1e-7"
                                 << "current_A,cps" << 5 << 0
                                 << QList<double>{15e-6, 15.1e-6, 15.2e-6, 15.3e-6, 15.4e-6};
        QTest::newRow("iv, downwards")
            << "iv --channel 1 --from 2e-5 --to=-2e-5 --step 2e-5"
            << "voltage_V,current_A" << 4 << 1 << QList<double>{2e-5, 0, -2e-5};
        QTest::newRow("trigger, model 1")
            << "trigger --channel 3 --from 0.1 --to 0.12 --step 0.01"
            << "cmp_ref_level_V,cps" << 4 << 0 << QList<double>{0.1, 0.11, 0.12};
        QTest::newRow("histogram")
            << "histogram --channel 1 --from 0 --to 1e6 --step 2e5 --duration 0.3"
            << "bin_from_cps,bin_to_cps,count" << 5 << 1 << QList<double>{2e5, 4e5, 6e5, 8e5, 1e6};
    }
    void sweepsWriteTheEnginesPoints()
    {
        QFETCH(QString, args);
        QFETCH(QString, header);
        QFETCH(int, rows);
        QFETCH(int, column);
        QFETCH(QList<double>, steps);
        const QString kind = args.section(u' ', 0, 0);
        const QString out = path(kind + ".csv");
        const ProgramRun r = cli(words("sweep " + args + " --time-constant 0.01 --out " + out));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString()); // no progress line off a terminal
        const CsvFile csv = readCsv(out);
        QCOMPARE(csv.metadata.value("command"), "cu-tavik-cli sweep " + kind);
        QVERIFY(csv.metadata.contains("ended"));
        QCOMPARE(csv.header, header);
        QCOMPARE(csv.rows.size(), rows);
        for (int i = 0; i < steps.size(); ++i)
            QVERIFY2(qAbs(csv.rows.at(i).at(column).toDouble() - steps.at(i)) < 0.02e-6,
                     qPrintable(csv.rows.at(i).join(u',')));
        if (kind == "current") {
            QVERIFY(csv.metadata.value("program").startsWith("cu-tavik-cli "));
            QVERIFY(
                QDateTime::fromString(csv.metadata.value("started"), Qt::ISODateWithMs).isValid());
            const QHash<QString, QString> expected = {
                {"unit", "127.0.0.1 port 9876"},
                {"module", "2"},
                {"module_type", "VX9SDM0"},
                {"module_udid", "5456-4B00-0001-0000-0000-0002"},
                {"from", "1.5e-05 A"},
                {"step", "1e-07 A"},
                {"trigger", "0.1 V"},
                {"time_constant", "0.01 s"}};
            for (auto i = expected.cbegin(); i != expected.cend(); ++i)
                QCOMPARE(csv.metadata.value(i.key()), i.value());
            // The channel was switched on: photons count (the first reading may still hold
            // a gate window of the settling short). The engine leaves it at the last current.
            QVERIFY2(csv.rows.at(2).at(1).toDouble() > 100, qPrintable(csv.rows.at(2).join(u',')));
            QVERIFY(qAbs(rack->bias(2) - 15.4e-6) < 1e-10);
        } else if (kind == "histogram") {
            QCOMPARE(csv.metadata.value("bin_width"), QString("200000 cps"));
            QCOMPARE(csv.metadata.value("duration"), QString("0.3 s"));
            // The channel is off: every reading is in the first bin.
            int readings = 0;
            for (const QStringList& row : csv.rows)
                readings += row.at(2).toInt();
            QVERIFY(readings > 0);
            QCOMPARE(csv.rows.at(0).at(2).toInt(), readings);
        }
    }
    void lostUnitEndsTheSweepWithWhatWasMeasured_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("dropped");
        QTest::addColumn<QString>("reason");
        QTest::newRow("IV curve, unit silent")
            << QStringList{"iv", "--to", "1e-3", "--step", "1e-7"} << false
            << "Sweep ended: the unit stopped answering";
        QTest::newRow("histogram, connection dropped")
            << QStringList{"histogram", "--to", "1e6", "--step", "1e3", "--duration", "60"} << true
            << "Histogram ended: the unit stopped answering";
    }
    void lostUnitEndsTheSweepWithWhatWasMeasured()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, dropped);
        QFETCH(QString, reason);
        const QString out = path(args.first() + "-lost.csv");
        args =
            QStringList{"--timeout-ms", "100", "sweep"} + args +
            QStringList{"--channel", "1", "--from", "0", "--time-constant", "0.01", "--out", out};
        const ProgramRun r = cli(args, [&](QProcess&) {
            // Some readings first: a bias stepped, a histogram counted.
            if (dropped) {
                cuWaitForEvents([] { return false; }, 400);
                rack->unit.stop();
            } else {
                cuWaitForEvents([&] { return rack->bias(1) > 2e-7; }, 10000);
                rack->unit.setFaults({.mute = true});
            }
        });
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(reason + "; the points so far are in " + out), qPrintable(r.err));
        const CsvFile csv = readCsv(out);
        QVERIFY(!csv.rows.isEmpty());
        QVERIFY(csv.metadata.contains("unit_lost"));
        QVERIFY(!csv.metadata.contains("ended"));
    }

    void characteriseWritesReportCurveAndPlot()
    {
        const QString dir = path("characterised");
        QVERIFY(QDir().mkpath(dir));
        const auto characterise = [&](int channel, bool apply,
                                      const std::function<void(QProcess&)>& during = {}) {
            QStringList args = {"characterise",
                                "--channel",
                                QString::number(channel),
                                "--time-constant",
                                "0.01",
                                "--trigger",
                                "0.05",
                                "--out",
                                dir};
            if (apply)
                args << "--apply";
            return cli(args, during);
        };
        // Two channels at once: model 0 with --apply, model 1 without.
        ProgramRun plain;
        const ProgramRun r =
            characterise(2, true, [&](QProcess&) { plain = characterise(3, false); });
        QCOMPARE(plain.exitCode, 0);
        QCOMPARE(jsonFile(dir + "/characterise-3.json").value("applied"), QJsonValue(false));
        QCOMPARE(rack->bias(3), 0.0);

        QCOMPARE(r.exitCode, 0);
        for (const char* stage : {"Switching current", "Retrapping current", "Count curve",
                                  "Analysis", "Characterisation complete"})
            QVERIFY2(r.err.contains(QLatin1String(stage)), qPrintable(r.err));
        QVERIFY(r.out.contains("plateau reached"));
        const QJsonObject report = jsonFile(dir + "/characterise-2.json");
        QCOMPARE(report.value("outcome").toString(), QString("complete"));
        QCOMPARE(report.value("module").toObject().value("udid").toString(),
                 QString("5456-4B00-0001-0000-0000-0002"));
        QCOMPARE(report.value("module").toObject().value("firmware").toString(), QString("1.3.2"));
        QCOMPARE(report.value("time_constant_s").toDouble(), double(0.01f));
        QCOMPARE(report.value("applied"), QJsonValue(true));
        const QJsonArray points = report.value("points").toArray();
        QVERIFY(points.size() >= 40);
        QCOMPARE(rack->bias(2), double(float(report.value("recommended_bias_A").toDouble())));

        const CsvFile csv = readCsv(dir + "/characterise-2.csv");
        for (const char* key :
             {"command", "program", "started", "unit", "module", "module_type", "module_udid",
              "module_firmware", "trigger", "time_constant", "ended"})
            QVERIFY2(csv.metadata.contains(QLatin1String(key)), key);
        QCOMPARE(csv.header, QString("bias_A,cps,voltage_V,latched"));
        QCOMPARE(csv.rows.size(), points.size());
        QImage plot;
        QVERIFY(plot.loadFromData(contents(dir + "/characterise-2.png"), "PNG"));
        QCOMPARE(plot.size(), QSize(900, 600));
    }

    void presetsRoundTrip()
    {
        QCOMPARE(cli({"set", "1", "current", "1.2e-5"}).exitCode, 0);
        QCOMPARE(cli({"set", "3", "cmp_ref_level", "0.25"}).exitCode, 0);
        const QString file = path("preset.json");
        const ProgramRun save = cli({"preset", "save", file});
        QCOMPARE(save.exitCode, 0);
        QCOMPARE(save.err, QString());
        const QJsonArray data = jsonFile(file).value("data").toArray();
        QCOMPARE(data.size(), 3); // every SSPD channel
        QCOMPARE(data.at(0).toObject().value("address").toInt(), 1);
        QVERIFY(qAbs(data.at(0).toObject().value("current").toDouble() - 1.2e-5) < 1e-8);
        QCOMPARE(data.at(2).toObject().value("type").toInt(), 1);
        QVERIFY(qAbs(data.at(2).toObject().value("cmp_ref_level").toDouble() - 0.25) < 1e-6);

        QCOMPARE(cli({"set", "1", "current", "0"}).exitCode, 0);
        QCOMPARE(cli({"preset", "restore", file}).exitCode, 0);
        QVERIFY(qAbs(rack->bias(1) - 1.2e-5) < 1e-8);

        QCOMPARE(cli({"preset", "save", path("one.json"), "--channels", "2"}).exitCode, 0);
        const QJsonArray one = jsonFile(path("one.json")).value("data").toArray();
        QCOMPARE(one.size(), 1);
        QCOMPARE(one.at(0).toObject().value("address").toInt(), 2);
    }

    void presetOfAModuleThatNeverAnsweredIsNotWritten()
    {
        rack->unit.setFaults({.dropEvery = 1}); // every module answer; the unit still answers
        const ProgramRun silent =
            cli({"--timeout-ms", "100", "preset", "save", path("silent.json"), "--channels", "5"});
        QCOMPARE(silent.exitCode, 1);
        QVERIFY(silent.err.contains("module 5 gave no reading"));
        QVERIFY(!QFile::exists(path("silent.json")));
    }

    void presetRestoreRefusesHarmfulValues()
    {
        const QString file = path("harmful.json");
        QVERIFY(writeJson(
            file,
            {{"data",
              QJsonArray{
                  QJsonObject{{"type", 0}, {"address", 1}, {"current", 1}, {"cmp_ref_level", 0}},
                  QJsonObject{{"type", 0}, {"address", 2}, {"current", 3e-6}}}}}));
        const ProgramRun restore = cli({"preset", "restore", file});
        QCOMPARE(restore.exitCode, 1);
        QVERIFY2(
            restore.err.contains("Preset for unit 1: current 1 A is outside -0.001 to 0.001 A"),
            qPrintable(restore.err));
        QCOMPARE(rack->bias(1), 0.0);
        QVERIFY(qAbs(rack->bias(2) - 3e-6) < 1e-9);
    }

    void unitCommandsReachTheUnit()
    {
        QCOMPARE(cli({"unit", "lock", "1"}).exitCode, 0);
        QVERIFY(rack->unit.isLocked());
        QCOMPARE(cli({"unit", "lock", "0"}).exitCode, 0);
        QVERIFY(!rack->unit.isLocked());

        const ProgramRun add = cli({"unit", "add", "7"});
        QCOMPARE(add.exitCode, 0);
        QCOMPARE(add.err.trimmed(), QString("cu-tavik-cli: Success: Unit 7 sicessfully added"));
        QVERIFY(rack->unit.module(7));
        QCOMPARE(cli({"unit", "remove", "7"}).exitCode, 0);
        QVERIFY(!rack->unit.module(7));

        QCOMPARE(cli({"set", "1", "current", "1e-5"}).exitCode, 0);
        QCOMPARE(cli({"unit", "reset"}).exitCode, 0);
        QCOMPARE(rack->bias(1), 0.0);

        QSignalSpy poweredOff(&rack->unit, &SimUnit::poweredOff);
        QCOMPARE(cli({"unit", "power-off"}).exitCode, 0);
        QVERIFY(poweredOff.size() == 1 || poweredOff.wait(2000));
    }

    void eepromRoundTrip()
    {
        const QString file = path("sspd1.json");
        QCOMPARE(cli({"eeprom", "read", "1", "--out", file}).exitCode, 0);
        QJsonObject calibration = jsonFile(file);
        QCOMPARE(calibration.value("DeviceType").toString(), QString("VX9SDM0"));
        QCOMPARE(calibration.value("UDID").toString(), QString("5456-4B00-0001-0000-0000-0001"));
        QCOMPARE(calibration.value("CurrentAdcCoeffs").toArray(), (QJsonArray{1, 0}));

        calibration.insert("CurrentAdcCoeffs", QJsonArray{1.25, 0.5});
        QVERIFY(writeJson(file, calibration));
        QSignalSpy stored(&rack->unit, &SimUnit::moduleStateStored);
        const ProgramRun write = cli({"eeprom", "write", "1", file, "--store"});
        QCOMPARE(write.exitCode, 0);
        QCOMPARE(write.err, QString());
        QCOMPARE(rack->currentAdcSlope(1), 1.25);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first().first().value<quint8>(), quint8(1));

        // Read back to standard output.
        const ProgramRun read = cli({"eeprom", "read", "1"});
        QCOMPARE(read.exitCode, 0);
        QCOMPARE(QJsonDocument::fromJson(read.out.toUtf8()).object().value("CurrentAdcCoeffs"),
                 QJsonValue(QJsonArray{1.25, 0.5}));

        // Another module's file is not sent.
        const ProgramRun wrongType = cli({"eeprom", "write", "4", file});
        QCOMPARE(wrongType.exitCode, 1);
        QVERIFY(wrongType.err.contains("holds constants of a VX9SDM0"));
    }

    // What the tool refuses once it reaches the unit: nothing is written to a module (the
    // biases and calibration stay) and no result file is left.
    void refusals_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* args, int exitCode,
                            const char* message = "") {
            QTest::newRow(name) << QString(args) << exitCode << QString(message);
        };
        row("monitor temperature of an SSPD", "monitor --mode temp --channels 2 --duration 0.2", 1,
            "module 2 is no temperature module");
        row("set unknown parameter", "set 1 colour 1", 2, "unknown parameter colour");
        row("set on another module", "set 4 current 1e-6", 2, "no parameter current");
        row("set beyond the panel", "set 1 current 0.5", 2);
        row("set absent module", "set 9 current 1e-6", 1, "no module at address 9");
        // Sweep and characterise drive only an SSPD channel.
        row("sweep a temperature module",
            "sweep current --channel 4 --from 1e-5 --to 2e-5 --step 1e-6 --out HOME/nothing.csv", 1,
            "module 4 is no SSPD channel");
        row("sweep an absent module",
            "sweep iv --channel 9 --from 1e-5 --to 2e-5 --step 1e-6 --out HOME/nothing.csv", 1,
            "the unit has no module at address 9");
        row("characterise a temperature module", "characterise --channel 4 --out HOME/refused", 1,
            "module 4 is no SSPD channel");
        row("characterise an absent module", "characterise --channel 9 --out HOME/refused", 1,
            "the unit has no module at address 9");
        // A step lost in rounding never reaches the end; 10^11 steps would run for years.
        row("sweep step lost in rounding",
            "sweep iv --channel 1 --from 1e-4 --to 2e-4 --step 1e-30 --out HOME/nothing.csv", 1,
            "Sweep not started: the step must be a number above 0");
        row("sweep of too many steps",
            "sweep iv --channel 1 --from 0 --to 1e-4 --step 1e-15 --out HOME/nothing.csv", 1,
            "Sweep not started: from 0 to 0.0001 in steps of 1e-15 takes 1e+11 steps; at most "
            "100000 are allowed");
        row("sweep into no directory",
            "sweep current --channel 1 --from 1e-5 --to 2e-5 --step 1e-6 --out HOME/no/such.csv", 2,
            "cannot write");
        row("unit refuses", "unit remove 42", 1,
            "cu-tavik-cli: Error: Error at 'SYST:DEVL:REMV 42' command");
        row("preset file missing", "preset restore HOME/missing.json", 1,
            "cu-tavik-cli: ERROR!: Couldn't open file; HOME/missing.json");
        row("eeprom of a module without constants", "eeprom read 5", 1);
        row("eeprom file without constants", "eeprom write 1 HOME/none.json", 1,
            "holds none of the module's constants");
        row("eeprom file of another module", "eeprom write 1 HOME/other.json", 1,
            "constants of module 5456-4B00-0001-0000-0000-0002");
        row("refused connection", "--port 9999 list", 1,
            "cannot reach the unit at 127.0.0.1 port 9999: Connection refused");
        row("unknown query", "query FOO?", 1, "the unit does not know FOO?");
        // Raw reads and writes check the module's kind, and keep values within their type
        // and the application's limits.
        row("read an SSPD as temperature", "read 1 temp0 data", 1,
            "module 1 is a VX9SDM0 (KIND sspd0), not of KIND temp0");
        row("write a temperature module as SSPD", "write 4 sspd0 current 1e-5", 1,
            "module 4 is a VX9TDM0 (KIND temp0), not of KIND sspd0");
        row("write an SSPD as heater", "write 2 heater floatValue 1", 1, "VX9SDM0");
        row("nan", "write 1 sspd0 current nan", 2);
        row("inf", "write 1 sspd0 current inf", 2);
        row("beyond float", "write 1 sspd0 current 1e39", 2);
        row("beyond the application", "write 1 sspd0 current 2e-4", 2);
        row("forced nan", "--force write 1 sspd0 current nan", 2);
        row("negative count", "write 1 sspd0 autoResetCounts -- -1", 2);
        row("byte overflow", "write 5 temp1 relays 300", 2);
        row("enumeration overflow", "write 5 temp1 switcherMode 5e9", 2);
        row("field beyond the application", R"(write 1 sspd0 params {"timeConst":500})", 2);
    }
    void refusals()
    {
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QDir().mkpath(path("refused"));
        const ProgramRun r = cli(words(args));
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(!r.err.isEmpty());
        QVERIFY2(r.err.contains(message.replace("HOME/", home.path() + u'/')), qPrintable(r.err));
        QCOMPARE(rack->bias(1), 0.0);
        QCOMPARE(rack->bias(2), 0.0);
        QCOMPARE(rack->currentAdcSlope(1), 1.0);
        QVERIFY(!QFile::exists(path("nothing.csv")));
        QCOMPARE(QDir(path("refused")).entryList(QDir::Files), QStringList());
    }

    void forceGoesPastTheChecks()
    {
        QVERIFY(!cli({"--force", "read", "1", "temp0", "typeString"}).out.isEmpty());
        QCOMPARE(cli({"--force", "write", "1", "sspd0", "current", "2e-4"}).exitCode, 0);
        QVERIFY(qAbs(rack->bias(1) - 2e-4) < 1e-10);
        QCOMPARE(cli({"eeprom", "write", "1", path("other.json"), "--force"}).exitCode, 0);
        QCOMPARE(rack->currentAdcSlope(1), 1.25);
    }

    void structureWriteKeepsTheOtherFields_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("unanswered");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("malformed") << "{bad json" << false << 2;
        QTest::newRow("unknown field") << R"({"timeConst": 0.5, "colour": 1})" << false << 2;
        QTest::newRow("wrong type") << R"({"timeConst": "slow"})" << false << 2;
        QTest::newRow("partial") << R"({"timeConst": 0.5})" << false << 0;
        QTest::newRow("partial, not read") << R"({"timeConst": 0.5})" << true << 1;
    }
    void structureWriteKeepsTheOtherFields()
    {
        QFETCH(QString, value);
        QFETCH(bool, unanswered);
        QFETCH(int, exitCode);
        const auto params = [&] {
            return QJsonDocument::fromJson(cli({"read", "1", "sspd0", "params"}).out.toUtf8())
                .object();
        };
        QJsonObject expected = params();
        QVERIFY(expected.value("timeConst").toDouble() != 0.5);
        if (exitCode == 0)
            expected.insert("timeConst", 0.5);
        rack->unit.setFaults({.dropEvery = unanswered ? 1 : 0});
        const ProgramRun r = cli({"--force", "--tries", "1", "--timeout-ms", "100", "write", "1",
                                  "sspd0", "params", value});
        QCOMPARE(r.exitCode, exitCode);
        rack->unit.setFaults({});
        QCOMPARE(params(), expected);
    }

    void failedWritesAreReported_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("output"); // disk: --out on a full disk; stdout: /dev/full
        QTest::addColumn<QString>("message");
        QTest::newRow("sweep on a full disk")
            << QStringList{"sweep", "current", "--channel", "1",    "--from",          "1e-5",
                           "--to",  "1.02e-5", "--step",    "1e-7", "--time-constant", "0.01"}
            << "disk"
            << "cannot write";
        const QString full = "cannot write /dev/full: No space left on device";
        QTest::newRow("eeprom to a full device")
            << QStringList{"eeprom", "read", "1", "--out", "/dev/full"} << QString() << full;
        QTest::newRow("preset to a full device")
            << QStringList{"preset", "save", "/dev/full"} << QString() << full;
        const QString lost = "cannot write to standard output: No space left on device";
        QTest::newRow("list") << QStringList{"list"} << "stdout" << lost;
        QTest::newRow("read") << QStringList{"read", "1", "sspd0", "current"} << "stdout" << lost;
        QTest::newRow("monitor") << QStringList{"monitor", "--duration", "5"} << "stdout" << lost;
    }
    void failedWritesAreReported()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, output);
        QFETCH(QString, message);
        ProgramRun r;
        if (output == "disk") {
            QTemporaryDir mountPoint;
            r = cli(QStringList{"-m", "--propagation", "private", "sh", "-c", FullDiskScript, "sh",
                                CLI_PATH, mountPoint.path()} +
                        args,
                    {}, {}, "unshare");
            if (r.exitCode == 99)
                QSKIP("no tmpfs can be mounted here");
            QCOMPARE(r.out, QString("old result\n")); // the old file stays whole
        } else {
            r = cli(args, {}, output == "stdout" ? "/dev/full" : QString());
        }
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFileInfo("/dev/full").isFile());
    }

    // The engine and the driver commands wait --timeout-ms (500 ms unless given) for answers.
    void slowUnit_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<QString>("message"); // empty: the command succeeds
        QTest::newRow("engine") << "list" << 700
                                << "the unit at 127.0.0.1 port 9876 did not answer within 500 ms";
        QTest::newRow("query") << "--timeout-ms 100 query SYST:DEVJ?" << 200
                               << "no answer within 100 ms from the unit";
        QTest::newRow("query, longer time-out")
            << "--timeout-ms 1000 query SYST:DEVJ?" << 700 << QString();
        QTest::newRow("engine, longer time-out") << "list --timeout-ms 1000" << 700 << QString();
    }
    void slowUnit()
    {
        QFETCH(QString, args);
        QFETCH(int, latencyMs);
        QFETCH(QString, message);
        rack->unit.setFaults({.latencyMs = latencyMs});
        const ProgramRun r = cli(words(args));
        QCOMPARE(r.exitCode, message.isEmpty() ? 0 : 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestCliEngine)
#include "tst_cliengine.moc"
