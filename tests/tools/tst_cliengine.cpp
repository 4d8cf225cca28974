// cu-tavik-cli through the measurement engine, end to end: the real program against the
// simulated demo rack on 127.0.0.1:9876, which this test's event loop serves while the program
// runs; and what the tool refuses or reports instead of harming a module or misleading its
// user. The test has a network namespace of its own.
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
    double currentAdcSlope() const
    {
        const QJsonObject constants = unit.module(1)->eeprom().value("constants").toObject();
        return constants.value("currentAdc").toObject().value("first").toDouble();
    }

    SimEnvironment environment{5};
    SimUnit unit{&environment};
    bool started = false;
};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
bool writeJson(const QString& path, const QJsonObject& object)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) > 0;
}

// A CSV text: its "# key: value" lines, its column header, its rows.
struct Csv
{
    explicit Csv(const QString& text)
    {
        for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
            if (line.startsWith(QLatin1String("# ")))
                metadata.insert(line.section(": ", 0, 0).mid(2), line.section(": ", 1));
            else if (header.isEmpty())
                header = line;
            else
                rows.append(line.split(u','));
        }
    }
    QHash<QString, QString> metadata;
    QString header;
    QList<QStringList> rows;
};

// Runs the event loop until done() holds or the program has ended; what the program printed
// on standard error meanwhile is added to *err.
void until(QProcess& process, const std::function<bool()>& done, QString* err = nullptr)
{
    const auto over = [&] {
        if (err)
            *err += process.readAllStandardError();
        return done() || process.state() != QProcess::Running;
    };
    cuWaitForEvents(over, 10000);
}

// Runs the tool with "--out FILE" in a mount namespace of its own, FILE ("old result") on a full
// tiny tmpfs, and prints what FILE holds afterwards. Exit status 99: no tmpfs could be mounted.
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

Q_DECLARE_METATYPE(SimFaults)

class TestCliEngine : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<Rack> rack;

    QString path(const QString& name) const { return home.filePath(name); }
    static QJsonObject json(const QByteArray& b) { return QJsonDocument::fromJson(b).object(); }
    static qsizetype printed(QProcess& p, const char* t) { return p.peek(1 << 20).count(t); }
    static void interrupt(QProcess& process) { ::kill(pid_t(process.processId()), SIGINT); }
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
        options.during = during;
        return runProgram(program, args, options);
    }
    ProgramRun cli(const char* args) { return cli(words(args)); }

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

    // The address the screen stored last, in the form it stores, unless another is given for
    // one command (and kept); the unit listens on 127.0.0.1 only.
    void listPrintsTheModuleListObject()
    {
        QSettings stored(path("config/Norvane/cu-tavik.conf"), QSettings::IniFormat);
        stored.setValue("TcpIpAddress", "127.000.000.002");
        stored.sync();
        const ProgramRun storedUnit = cli("list");
        QCOMPARE(storedUnit.exitCode, 1);
        QVERIFY(storedUnit.err.contains("cannot reach the unit at 127.000.000.002 port 9876"));
        QCOMPARE(storedUnit.out, QString());
        const ProgramRun r = cli("--unit 127.0.0.1 list");
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(r.err));
        const QJsonObject list = json(r.out.toUtf8());
        QVERIFY(list.value("count") == 6 && list.value("software_version") == "1.4.0");
        const QJsonObject third = list.value("info").toArray().at(2).toObject();
        QVERIFY(third.value("type") == "VX9SDM1" &&
                third.value("UDID") == "5456-4B00-0002-0000-0000-0003");
        stored.sync();
        QCOMPARE(stored.value("TcpIpAddress").toString(), QString("127.000.000.002"));
        QVERIFY(QFile::remove(stored.fileName()));
    }

    // Every mode prints its columns, a line per answered reading of its channels.
    void monitorPrintsEachReading_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("timeConst"); // in module 1's last line
        // The home view reads every module but the heater once a second, here once, each
        // SSPD at its own time constant.
        QTest::newRow("all") << "--duration 1.4"
                             << "time,address,type,status,current,voltage,counts,cps,"
                                "cmp_ref_level,time_const,operate,temperature,pressure"
                             << QStringList{"1", "2", "3", "4", "5"} << "0.1";
        // The time plot gives the modules its time constant.
        QTest::newRow("cps") << "--mode cps --channels 1,3 --time-constant 0.02 --duration 0.3"
                             << "time,address,status,cps,counts,current,voltage,cmp_ref_level,"
                                "time_const,operate"
                             << QStringList{"1", "3"} << "0.02";
        // Without --duration, Ctrl-C is its ordinary end.
        QTest::newRow("temperature, Ctrl-C") << "--mode temp --time-constant 0.02"
                                             << "time,address,status,temperature,pressure,"
                                                "temperature_sensor_current,"
                                                "temperature_sensor_voltage,operate"
                                             << QStringList{"4", "5"} << QString();
    }
    void monitorPrintsEachReading()
    {
        QFETCH(QString, args);
        QFETCH(QString, header);
        QFETCH(QStringList, addresses);
        QFETCH(QString, timeConst);
        const ProgramRun r = cli(words("monitor " + args), [&](QProcess& process) {
            if (!args.contains("--duration")) {
                until(process, [&] { return printed(process, "\n") >= 4; });
                interrupt(process);
            }
        });
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(r.err)); // -1 after a crash
        QVERIFY(r.out.endsWith(u'\n'));
        const Csv csv(r.out);
        QCOMPARE(csv.header, header);
        const QStringList columns = header.split(u',');
        const QStringList types = {"", "VX9SDM0", "VX9SDM0", "VX9SDM1", "VX9TDM0", "VX9TDM1"};
        QSet<QString> seen;
        QString lastTimeConst;
        for (const QStringList& row : csv.rows) {
            QCOMPARE(row.size(), columns.size());
            const auto field = [&](const char* name) { return row.value(columns.indexOf(name)); };
            const QString address = row.at(1);
            seen.insert(address);
            QVERIFY(QDateTime::fromString(row.at(0), Qt::ISODateWithMs).isValid());
            QCOMPARE(field("status"), QString("ok"));
            if (columns.contains("type"))
                QCOMPARE(field("type"), types.value(address.toInt()));
            // Temperature modules show their (first) sensor, SSPD channels none.
            QCOMPARE(field("temperature").toDouble() > 0, address == "4" || address == "5");
            if (address == "1")
                lastTimeConst = field("time_const");
        }
        QCOMPARE(seen, QSet<QString>(addresses.cbegin(), addresses.cend()));
        if (QTest::currentDataTag() == QLatin1String("all"))
            QCOMPARE(csv.rows.size(), addresses.size());
        QCOMPARE(lastTimeConst, timeConst);
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
        QTest::addColumn<QString>("texts"); // in this order on standard error, | between
        QTest::newRow("silent")
            << false << false << 1
            << "the unit stopped answering at |the unit answers again at | reading(s) failed";
        QTest::newRow("silent for good")
            << false << false << 1
            << "the unit stopped answering at |monitor ended: the unit stopped answering";
        QTest::newRow("silent, keep going")
            << false << true << 0 << "the unit stopped answering at |the unit answers again at ";
        QTest::newRow("closed") << true << false << 1
                                << "the unit closed the connection at |monitor ended: the unit "
                                   "closed the connection";
        QTest::newRow("closed, keep going")
            << true << true << 0 << "the unit closed the connection at |connected again at ";
    }
    void monitorFollowsTheUnit()
    {
        QFETCH(bool, close);
        QFETCH(bool, keepGoing);
        QFETCH(int, exitCode);
        QFETCH(QString, texts);
        const QStringList said = texts.split(u'|');
        const QStringList args =
            words("--timeout-ms 100 monitor --mode temp --channels 4 " +
                  QString(keepGoing ? "--keep-going " : "") + "--time-constant 0.05");
        const bool forGood = said.last().startsWith("monitor ended: the unit stopped");
        QString err;
        const auto during = [&](QProcess& process) {
            until(
                process, [&] { return printed(process, ",ok,") >= 2; }, &err);
            rack->unit.setFaults(close ? SimFaults{.closeAfterPackets = 1}
                                       : SimFaults{.mute = true});
            const int faults = close ? 0 : keepGoing ? 4 : forGood ? 99 : 1;
            const auto faulty = [&] {
                return err.contains(said.first()) && printed(process, ",fault,") >= faults;
            };
            until(process, faulty, &err);
            rack->unit.setFaults({});
            const qsizetype before = printed(process, ",ok,");
            until(
                process, [&] { return printed(process, ",ok,") > before; }, &err);
            if (process.state() == QProcess::Running) // a closed one without --keep-going ended
                interrupt(process);
        };
        const ProgramRun r = cli(args, during);
        err += r.err;
        QCOMPARE(r.exitCode, exitCode);
        qsizetype at = 0;
        for (const QString& text : said) {
            at = err.indexOf(text, at);
            QVERIFY2(at >= 0, qPrintable(text + " not in:\n" + err));
        }
        QVERIFY(err.startsWith("cu-tavik-cli: "));
        if (!close)
            QCOMPARE(err.count(u'\n'), said.size());
        if (forGood) // given up at the third failed reading, not later
            QCOMPARE(r.out.count(",fault,"), 3);
    }

    // Each sweep steps its value and writes the points after the file's metadata.
    void sweepsWriteTheEnginesPoints_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("metadata"); // after command, program and started
        QTest::addColumn<QString>("header");
        QTest::addColumn<int>("column");          // of the stepped value
        QTest::addColumn<QList<double>>("steps"); // in each row
        // 15.0 to 15.3 μA, and the reading one step beyond the end.
        QTest::newRow("current")
            << "current --channel 2 --from 15e-6 --to 15.3e-6 --step 1e-7"
            << "# unit: 127.0.0.1 port 9876\n# module: 2\n# module_type: VX9SDM0\n"
               "# module_udid: 5456-4B00-0001-0000-0000-0002\n# module_firmware: 1.3.2\n"
               "# from: 1.5e-05 A\n# to: 1.53e-05 A\n# step: 1e-07 A\n# trigger: 0.1 V\n"
               "# time_constant: 0.01 s\n# ended: "
            << "current_A,cps" << 0 << QList<double>{15e-6, 15.1e-6, 15.2e-6, 15.3e-6, 15.4e-6};
        QTest::newRow("iv, downwards")
            << "iv --channel 1 --from 2e-5 --to=-2e-5 --step 2e-5"
            << "# to: -2e-05 A\n"
            << "voltage_V,current_A" << 1 << QList<double>{2e-5, 0, -2e-5, -4e-5};
        QTest::newRow("trigger, model 1")
            << "trigger --channel 3 --from 0.1 --to 0.12 --step 0.01"
            << "# module_type: VX9SDM1\n"
            << "cmp_ref_level_V,cps" << 0 << QList<double>{0.1, 0.11, 0.12, 0.13};
        QTest::newRow("histogram")
            << "histogram --channel 1 --from 0 --to 1e6 --step 2e5 --duration 0.3"
            << "# from: 0 cps\n# to: 1000000 cps\n# bin_width: 200000 cps\n"
               "# time_constant: 0.01 s\n# duration: 0.3 s\n"
            << "bin_from_cps,bin_to_cps,count" << 1 << QList<double>{2e5, 4e5, 6e5, 8e5, 1e6};
    }
    void sweepsWriteTheEnginesPoints()
    {
        QFETCH(QString, args);
        QFETCH(QString, metadata);
        QFETCH(QString, header);
        QFETCH(int, column);
        QFETCH(QList<double>, steps);
        const QString kind = args.section(u' ', 0, 0);
        const QString out = path(kind + ".csv");
        const ProgramRun r = cli(words("sweep " + args + " --time-constant 0.01 --out " + out));
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(r.err)); // no progress line
        const QString text = QString::fromUtf8(contents(out));
        const QString start = "# command: cu-tavik-cli sweep %1\n# program: cu-tavik-cli ";
        QVERIFY2(text.startsWith(start.arg(kind)), qPrintable(text));
        QVERIFY2(text.contains(metadata), qPrintable(text));
        const Csv csv(text);
        QVERIFY(QDateTime::fromString(csv.metadata.value("started"), Qt::ISODateWithMs).isValid() &&
                csv.metadata.contains("ended"));
        QCOMPARE(csv.header, header);
        QCOMPARE(csv.rows.size(), steps.size());
        for (int i = 0; i < steps.size(); ++i)
            QVERIFY2(qAbs(csv.rows.at(i).at(column).toDouble() - steps.at(i)) < 0.02e-6,
                     qPrintable(csv.rows.at(i).join(u',')));
        // The channel was switched on: photons count (the first reading may still hold a gate
        // window of the settling short). In the histogram it is off: all in the first bin.
        if (kind == "current")
            QVERIFY(csv.rows.at(2).at(1).toDouble() > 100);
        if (kind == "histogram")
            QVERIFY(csv.rows.at(0).at(2).toInt() > 0 && csv.rows.at(1).at(2) == "0");
    }

    void lostUnitEndsTheSweepWithWhatWasMeasured_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<bool>("dropped");
        QTest::addColumn<QString>("reason");
        QTest::newRow("IV curve, unit silent")
            << "iv --to 1e-3 --step 1e-7" << false << "Sweep ended: the unit stopped answering";
        QTest::newRow("histogram, connection dropped")
            << "histogram --to 1e6 --step 1e3 --duration 60" << true
            << "Histogram ended: the unit stopped answering";
    }
    void lostUnitEndsTheSweepWithWhatWasMeasured()
    {
        QFETCH(QString, args);
        QFETCH(bool, dropped);
        QFETCH(QString, reason);
        const QString out = path(args.section(u' ', 0, 0) + "-lost.csv");
        args = "--timeout-ms 100 sweep " + args + " --channel 1 --from 0 --time-constant 0.01";
        const ProgramRun r = cli(words(args) << "--out" << out, [&](QProcess&) {
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
        const Csv csv(QString::fromUtf8(contents(out)));
        QVERIFY(!csv.rows.isEmpty() && csv.metadata.contains("unit_lost") &&
                !csv.metadata.contains("ended"));
    }

    void characteriseWritesReportCurveAndPlot()
    {
        const QString dir = path("characterised");
        QVERIFY(QDir().mkpath(dir));
        // Two channels at once: model 0 with --apply, model 1 without.
        const QString common = "characterise --time-constant 0.01 --trigger 0.05 --out " + dir;
        ProgramRun plain;
        const ProgramRun r = cli(words(common + " --channel 2 --apply"),
                                 [&](QProcess&) { plain = cli(words(common + " --channel 3")); });
        const QJsonObject plainReport = json(contents(dir + "/characterise-3.json"));
        QVERIFY(plain.exitCode == 0 && plainReport.value("applied") == false && rack->bias(3) == 0);

        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("characterise: Switching current") &&
                     r.err.contains("characterise: Characterisation complete"),
                 qPrintable(r.err));
        QVERIFY(r.out.contains("plateau reached"));
        const QJsonObject report = json(contents(dir + "/characterise-2.json"));
        QVERIFY(report.value("outcome") == "complete" && report.value("applied") == true);
        QCOMPARE(report.value("module").toObject().value("udid"), "5456-4B00-0001-0000-0000-0002");
        const qsizetype points = report.value("points").toArray().size();
        QVERIFY(points >= 40);
        QCOMPARE(rack->bias(2), double(float(report.value("recommended_bias_A").toDouble())));
        const Csv csv(QString::fromUtf8(contents(dir + "/characterise-2.csv")));
        QVERIFY(csv.metadata.value("module_firmware") == "1.3.2" && csv.metadata.contains("ended"));
        QCOMPARE(csv.header, QString("bias_A,cps,voltage_V,latched"));
        QCOMPARE(csv.rows.size(), points);
        QCOMPARE(QImage::fromData(contents(dir + "/characterise-2.png"), "PNG").size(),
                 QSize(900, 600));
    }

    // Each command, what it prints on standard error, and what it has done to the unit.
    void commandsReachTheUnit()
    {
        const QList<std::tuple<const char*, const char*, std::function<bool()>>> steps = {
            {"set 1 current 1.5e-5", "",
             [&] { return qAbs(rack->bias(1) - 1.5e-5) < 1e-12 && rack->bias(2) == 0; }},
            // Negative values come after "--".
            {"set 2 current -- -2e-6", "", [&] { return qAbs(rack->bias(2) + 2e-6) < 1e-12; }},
            {"unit reset", "", [&] { return rack->bias(1) == 0 && rack->bias(2) == 0; }},
            // --force goes past the checks refused without it.
            {"--force read 1 temp0 typeString", "", [] { return true; }},
            {"--force write 1 sspd0 current 2e-4", "",
             [&] { return qAbs(rack->bias(1) - 2e-4) < 1e-10; }},
            {"eeprom write 1 HOME/other.json --force", "",
             [&] { return rack->currentAdcSlope() == 1.25; }},
            {"unit lock 1", "", [&] { return rack->unit.isLocked(); }},
            {"unit lock 0", "", [&] { return !rack->unit.isLocked(); }},
            {"unit add 7", "Success: Unit 7 sicessfully added",
             [&] { return rack->unit.module(7); }},
            {"unit remove 7", "Success: Unit 7 successfully removed",
             [&] { return !rack->unit.module(7); }},
        };
        for (const auto& [args, said, done] : steps) {
            const ProgramRun r = cli(args);
            QVERIFY2(r.exitCode == 0 && done(), args);
            QCOMPARE(r.err, *said ? QString("cu-tavik-cli: %1\n").arg(said) : QString());
        }
        QSignalSpy poweredOff(&rack->unit, &SimUnit::poweredOff);
        QCOMPARE(cli("unit power-off").exitCode, 0);
        QVERIFY(poweredOff.size() == 1 || poweredOff.wait(2000));
    }

    void presetsRoundTrip()
    {
        QCOMPARE(cli("set 1 current 1.2e-5").exitCode, 0);
        QCOMPARE(cli("set 3 cmp_ref_level 0.25").exitCode, 0);
        const ProgramRun save = cli("preset save HOME/preset.json");
        QVERIFY2(save.exitCode == 0 && save.err.isEmpty(), qPrintable(save.err));
        const QJsonArray data = json(contents(path("preset.json"))).value("data").toArray();
        QCOMPARE(data.size(), 3); // every SSPD channel
        const QJsonObject first = data.at(0).toObject(), third = data.at(2).toObject();
        QVERIFY(first.value("address") == 1 &&
                qAbs(first.value("current").toDouble() - 1.2e-5) < 1e-8);
        QVERIFY(third.value("type") == 1 &&
                qAbs(third.value("cmp_ref_level").toDouble() - 0.25) < 1e-6);
        QCOMPARE(cli("set 1 current 0").exitCode, 0);
        QCOMPARE(cli("preset restore HOME/preset.json").exitCode, 0);
        QVERIFY(qAbs(rack->bias(1) - 1.2e-5) < 1e-8);

        QCOMPARE(cli("preset save HOME/one.json --channels 2").exitCode, 0);
        const QJsonArray one = json(contents(path("one.json"))).value("data").toArray();
        QVERIFY(one.size() == 1 && one.at(0).toObject().value("address") == 2);
        // A harmful value is refused, and the rest restored.
        const QJsonObject harmful{{"type", 0}, {"address", 1}, {"current", 1}};
        const QJsonObject fine{{"type", 0}, {"address", 2}, {"current", 3e-6}};
        QVERIFY(writeJson(path("harmful.json"), {{"data", QJsonArray{harmful, fine}}}));
        const ProgramRun restore = cli("preset restore HOME/harmful.json");
        QCOMPARE(restore.exitCode, 1);
        QVERIFY2(
            restore.err.contains("Preset for unit 1: current 1 A is outside -0.001 to 0.001 A"),
            qPrintable(restore.err));
        QVERIFY(qAbs(rack->bias(1) - 1.2e-5) < 1e-8 && qAbs(rack->bias(2) - 3e-6) < 1e-9);
    }

    void eepromRoundTrip()
    {
        QJsonObject calibration = json(cli("eeprom read 1").out.toUtf8()); // standard output
        QVERIFY(calibration.value("UDID") == "5456-4B00-0001-0000-0000-0001" &&
                calibration.value("CurrentAdcCoeffs") == QJsonArray({1, 0}));
        calibration.insert("CurrentAdcCoeffs", QJsonArray{1.25, 0.5});
        QVERIFY(writeJson(path("sspd1.json"), calibration));
        QSignalSpy stored(&rack->unit, &SimUnit::moduleStateStored);
        const ProgramRun write = cli("eeprom write 1 HOME/sspd1.json --store");
        QVERIFY2(write.exitCode == 0 && write.err.isEmpty(), qPrintable(write.err));
        QCOMPARE(rack->currentAdcSlope(), 1.25);
        QVERIFY(stored.size() == 1 && stored.first().first().value<quint8>() == 1);
    }

    // What the tool refuses once it reaches the unit, or a unit's faults: the reason on
    // standard error, nothing written to a module (biases and calibration stay) and no result
    // file left. One case a line: name|exit code|arguments|part of the message.
    void refusals_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<SimFaults>("faults");
        const auto row = [](const QString& line, SimFaults faults = {}) {
            const QStringList f = line.split(u'|');
            QTest::newRow(qPrintable(f[0])) << f[2] << f[1].toInt() << f.value(3) << faults;
        };
        // The engine and the driver commands wait --timeout-ms (500 ms unless given); a module
        // that never answers leaves nothing worth saving.
        row("slow engine|1|list|the unit at 127.0.0.1 port 9876 did not answer within 500 ms",
            {.latencyMs = 700});
        row("slow query|1|--timeout-ms 100 query SYST:DEVJ?|no answer within 100 ms from the unit",
            {.latencyMs = 200});
        row("query waits|0|--timeout-ms 1000 query SYST:DEVJ?", {.latencyMs = 700});
        row("engine waits|0|list --timeout-ms 1000", {.latencyMs = 700});
        row("preset of a silent module|1|--timeout-ms 100 preset save HOME/no.csv --channels 5|"
            "module 5 gave no reading",
            {.dropEvery = 1});
        // Sweep and characterise drive only an SSPD channel. A step lost in rounding never
        // reaches the end; 10^11 steps would run for years.
        row("sweep temp|1|sweep current --channel 4 --from 1e-5 --to 2e-5 --step 1e-6 --out "
            "HOME/no.csv|module 4 is no SSPD channel");
        row("step lost|1|sweep iv --channel 1 --from 1e-4 --to 2e-4 --step 1e-30 --out HOME/no.csv|"
            "Sweep not started: the step must be a number above 0");
        row("many steps|1|sweep iv --channel 1 --from 0 --to 1e-4 --step 1e-15 --out HOME/no.csv|"
            "Sweep not started: from 0 to 0.0001 in steps of 1e-15 takes 1e+11 steps; at most "
            "100000 are allowed");
        row("no directory|2|sweep iv --channel 1 --from 1e-5 --to 2e-5 --step 1e-6 --out "
            "HOME/none/x.csv|cannot write");
        // Raw reads and writes check the module's kind, and keep values within their type and
        // the application's limits; a device named is written, not replaced.
        const QString cases = QStringLiteral(R"(
temp of an SSPD|1|monitor --mode temp --channels 2 --duration 0.2|no temperature module
set unknown|2|set 1 colour 1|unknown parameter colour
set on another module|2|set 4 current 1e-6|no parameter current
set beyond the panel|2|set 1 current 0.5
set absent module|1|set 9 current 1e-6|no module at address 9
characterise temp|1|characterise --channel 4 --out HOME/no|module 4 is no SSPD channel
characterise absent|1|characterise --channel 9 --out HOME/no|the unit has no module at address 9
unit refuses|1|unit remove 42|cu-tavik-cli: Error: Error at 'SYST:DEVL:REMV 42' command
preset missing|1|preset restore HOME/missing.json|ERROR!: Couldn't open file; HOME/missing.json
eeprom read without constants|1|eeprom read 5
eeprom of another type|1|eeprom write 4 HOME/other.json|holds constants of a VX9SDM0
eeprom file without constants|1|eeprom write 1 HOME/none.json|holds none of the module's constants
eeprom of another|1|eeprom write 1 HOME/other.json|of module 5456-4B00-0001-0000-0000-0002
refused|1|--port 9999 list|cannot reach the unit at 127.0.0.1 port 9999: Connection refused
unknown query|1|query FOO?|the unit does not know FOO?
read as temp|1|read 1 temp0 data|module 1 is a VX9SDM0 (KIND sspd0), not of KIND temp0
write as SSPD|1|write 4 sspd0 current 1e-5|module 4 is a VX9TDM0 (KIND temp0), not of KIND sspd0
write SSPD as heater|1|write 2 heater floatValue 1|VX9SDM0
nan|2|write 1 sspd0 current nan
beyond float|2|write 1 sspd0 current 1e39
beyond the application|2|write 1 sspd0 current 2e-4
sensor current beyond the application|2|write 4 temp0 tempSensorCurrent 1e-3
forced nan|2|--force write 1 sspd0 current nan
negative count|2|write 1 sspd0 autoResetCounts -- -1
byte overflow|2|write 5 temp1 relays 300
enumeration overflow|2|write 5 temp1 switcherMode 5e9
field beyond the application|2|write 1 sspd0 params {"timeConst":500}
malformed structure|2|--force write 1 sspd0 params {bad
unknown field|2|--force write 1 sspd0 params {"timeConst":0.5,"colour":1}
field of the wrong type|2|--force write 1 sspd0 params {"timeConst":"slow"}
full device|1|eeprom read 1 --out /dev/full|cannot write /dev/full: No space left on device)");
        for (const QString& line : cases.split(u'\n', Qt::SkipEmptyParts))
            row(line);
    }
    void refusals()
    {
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(SimFaults, faults);
        QDir().mkpath(path("no"));
        rack->unit.setFaults(faults);
        const ProgramRun r = cli(words(args));
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.err.isEmpty(), exitCode == 0);
        QVERIFY2(r.err.contains(message.replace("HOME/", home.path() + u'/')), qPrintable(r.err));
        QVERIFY(rack->bias(1) == 0 && rack->bias(2) == 0 && rack->currentAdcSlope() == 1.0);
        QVERIFY(!QFile::exists(path("no.csv")));
        QCOMPARE(QDir(path("no")).entryList(QDir::Files), QStringList());
        QVERIFY(!QFileInfo("/dev/full").isFile());
    }

    // A structure given in part merges over the module's value, and is not written when that
    // value cannot be read.
    void partialStructureWriteKeepsTheOtherFields()
    {
        const auto params = [&] { return json(cli("read 1 sspd0 params").out.toUtf8()); };
        QJsonObject expected = params();
        QVERIFY(expected.value("timeConst").toDouble() != 0.5);
        const char* write =
            R"(--force --tries 1 --timeout-ms 100 write 1 sspd0 params {"timeConst":0.5})";
        rack->unit.setFaults({.dropEvery = 1});
        QCOMPARE(cli(write).exitCode, 1);
        rack->unit.setFaults({});
        QCOMPARE(params(), expected);
        QCOMPARE(cli(write).exitCode, 0);
        expected.insert("timeConst", 0.5);
        QCOMPARE(params(), expected);
    }

    // Lost output fails the command: standard output on a full device is reported, and a
    // result file on a full disk keeps its old content whole.
    void failedWritesAreReported()
    {
        for (const char* args : {"list", "read 1 sspd0 current", "monitor --duration 5"}) {
            const ProgramRun r = cli(words(args), {}, "/dev/full");
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains("cannot write to standard output: No space left on device"),
                     args);
        }
        QTemporaryDir mountPoint;
        const QStringList script = {
            "-m", "--propagation", "private",        "sh", "-c", FullDiskScript,
            "sh", CLI_PATH,        mountPoint.path()};
        const ProgramRun r = cli(script + words("sweep current --channel 1 --from 1e-5 --to "
                                                "1.02e-5 --step 1e-7 --time-constant 0.01"),
                                 {}, {}, "unshare");
        if (r.exitCode == 99)
            QSKIP("no tmpfs can be mounted here");
        QVERIFY(r.exitCode == 1 && r.out == "old result\n"); // the old file stays whole
        QVERIFY2(r.err.contains("cannot write"), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestCliEngine)
#include "tst_cliengine.moc"
