// cu-tavik-cli through the measurement engine, end to end: the real program against the
// simulated demo rack on 127.0.0.1:9876 (or a scripted stand-in unit), which this test's
// event loop serves while the program runs. The test runs in a network namespace of its
// own, so the unit port is free.
#include "bytes.h"
#include "core/simenvironment.h"
#include "core/simmodulefactory.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "link/eventwait.h"
#include "loopbackpeer.h"
#include "modules/simsspdm0.h"

#include "programrun.h"
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QSet>
#include <QSettings>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <memory>

namespace {

// The demo rack: SSPD model 0 at 1 and 2, model 1 at 3, temperature models 0 and 1 at 4
// and 5, a heater at 6.
struct Rack
{
    Rack()
    {
        QString error;
        started = SimRack::demo().install(&unit, &error) && unit.start(&error);
        if (!started)
            qWarning() << "simulated unit:" << error;
    }

    SimSspdM0* sspd(quint8 address) const { return qobject_cast<SimSspdM0*>(unit.module(address)); }

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

CsvFile readCsv(const QString& path)
{
    CsvFile csv;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return csv;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
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

QList<QStringList> csvLines(const QString& text)
{
    QList<QStringList> lines;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts))
        lines.append(line.split(u','));
    return lines;
}

double pairFirst(const QJsonObject& eeprom, const char* field)
{
    return eeprom.value("constants").toObject().value(field).toObject().value("first").toDouble();
}

} // namespace

class TestCliEngine : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<Rack> rack;

    QString path(const QString& name) const { return home.filePath(name); }

    // Runs the tool while this thread keeps serving the unit; during() runs once the
    // program has started.
    ProgramRun cli(const QStringList& args, const std::function<void(QProcess&)>& during = {})
    {
        ProgramOptions options;
        options.home = home.path();
        options.during = during;
        return runProgram(CLI_PATH, args, options);
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("tavik.sim.info=false"); }

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
        QCOMPARE(info.at(2).toObject().value("address").toInt(), 3);
        QCOMPARE(info.at(2).toObject().value("type").toString(), QString("VX9SDM1"));
        QCOMPARE(info.at(2).toObject().value("UDID").toString(),
                 QString("5456-4B00-0002-0000-0000-0003"));
    }

    void storedAddressIsUsedAndKept()
    {
        // The screen's last address, in the form it stores.
        QDir().mkpath(home.path() + "/config/Norvane");
        QSettings stored(home.path() + "/config/Norvane/cu-tavik.conf", QSettings::IniFormat);
        // The unit listens on 127.0.0.1 only.
        stored.setValue("TcpIpAddress", "127.000.000.002");
        stored.sync();
        const ProgramRun storedUnit = cli({"list"});
        QCOMPARE(storedUnit.exitCode, 1);
        QVERIFY(storedUnit.err.contains("cannot reach the unit at 127.000.000.002 port 9876"));
        // Another unit for one command leaves the stored address alone.
        QCOMPARE(cli({"--unit", "127.0.0.1", "list"}).exitCode, 0);
        stored.sync();
        QCOMPARE(stored.value("TcpIpAddress").toString(), QString("127.000.000.002"));
        QVERIFY(QFile::remove(stored.fileName()));
    }

    void unreachableUnitFailsEveryEngineCommand()
    {
        rack.reset();
        for (const QStringList& args : {QStringList{"list"}, QStringList{"unit", "lock", "1"},
                                        QStringList{"monitor", "--duration", "0.1"}}) {
            const ProgramRun r = cli(args);
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains("cannot reach the unit at 127.0.0.1 port 9876"),
                     qPrintable(r.err));
            QCOMPARE(r.out, QString());
        }
    }

    void monitorAllPrintsEveryModuleOnce()
    {
        // The home view reads every module once a second.
        const ProgramRun r = cli({"monitor", "--duration", "1.4"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        const QList<QStringList> lines = csvLines(r.out);
        QCOMPARE(lines.value(0).join(u','),
                 QString("time,address,type,status,current,voltage,counts,cps,cmp_ref_level,"
                         "time_const,operate,temperature,pressure"));
        QHash<QString, QStringList> byAddress;
        for (const QStringList& line : lines.mid(1)) {
            QCOMPARE(line.size(), 13);
            QVERIFY(QDateTime::fromString(line.at(0), Qt::ISODateWithMs).isValid());
            byAddress.insert(line.at(1), line);
        }
        QCOMPARE(lines.size(), 6);
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
                                  "--time-constant", "0.05", "--duration", "0.6"});
        QCOMPARE(r.exitCode, 0);
        const QList<QStringList> lines = csvLines(r.out);
        QCOMPARE(lines.value(0).join(u','),
                 QString("time,address,status,cps,counts,current,voltage,cmp_ref_level,"
                         "time_const,operate"));
        QVERIFY2(lines.size() >= 5, qPrintable(r.out));
        QSet<QString> addresses;
        for (const QStringList& line : lines.mid(1)) {
            QCOMPARE(line.size(), 10);
            QCOMPARE(line.at(2), QString("ok"));
            addresses.insert(line.at(1));
        }
        QCOMPARE(addresses, (QSet<QString>{"1", "3"}));
        // The time plot gave the modules its time constant.
        QCOMPARE(lines.last().at(8), QString("0.05"));
    }

    void monitorTemperatureNeedsATemperatureChannel()
    {
        const ProgramRun r =
            cli({"monitor", "--mode", "temp", "--channels", "2", "--duration", "0.2"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("module 2 is no temperature module"));
    }

    void monitorEndsCleanlyOnCtrlC()
    {
        const ProgramRun r =
            cli({"monitor", "--mode", "temp", "--time-constant", "0.02"}, [](QProcess& process) {
                // Two readings, then Ctrl-C.
                cuWaitForEvents(
                    [&] {
                        return process.peek(4096).count('\n') >= 3 ||
                               process.state() != QProcess::Running;
                    },
                    10000);
                ::kill(pid_t(process.processId()), SIGINT);
            });
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.endsWith(u'\n'));
        const QList<QStringList> lines = csvLines(r.out);
        QVERIFY(lines.size() >= 3);
        QCOMPARE(lines.at(1).at(1), QString("4"));
        QCOMPARE(lines.at(1).size(), 8);
    }

    // A unit that falls silent for a while: the monitor says so and when it is back, and its
    // status tells of the failed readings unless --keep-going (which also goes on past the
    // three failures that otherwise end it).
    void monitorReportsASilentUnit_data()
    {
        QTest::addColumn<bool>("keepGoing");
        QTest::newRow("default") << false;
        QTest::newRow("keep going") << true;
    }
    void monitorReportsASilentUnit()
    {
        QFETCH(bool, keepGoing);
        QStringList args = {"--timeout-ms", "100", "monitor",         "--mode", "temp",
                            "--channels",   "4",   "--time-constant", "0.05"};
        if (keepGoing)
            args << "--keep-going";
        const auto linesWith = [](QProcess& process, const char* text) {
            return process.peek(1 << 20).count(text);
        };
        const ProgramRun r = cli(args, [&](QProcess& process) {
            const auto until = [&](const std::function<bool()>& done) {
                cuWaitForEvents([&] { return done() || process.state() != QProcess::Running; },
                                10000);
            };
            until([&] { return linesWith(process, ",ok,") >= 2; });
            SimFaults mute;
            mute.mute = true;
            rack->unit.setFaults(mute);
            const int faults = keepGoing ? 4 : 1;
            until([&] { return linesWith(process, ",fault,") >= faults; });
            rack->unit.setFaults({});
            const qsizetype before = linesWith(process, ",ok,");
            until([&] { return linesWith(process, ",ok,") > before; });
            ::kill(pid_t(process.processId()), SIGINT);
        });
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        const QStringList err = r.err.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(err.value(0).startsWith("cu-tavik-cli: the unit stopped answering at "),
                 qPrintable(r.err));
        QVERIFY2(err.value(1).startsWith("cu-tavik-cli: the unit answers again at "),
                 qPrintable(r.err));
        if (keepGoing) {
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(err.size(), 2);
        } else {
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(err.value(2).endsWith(" reading(s) failed"), qPrintable(r.err));
        }
    }

    // A unit that closes the connection: the monitor ends with status 1 at once, or with
    // --keep-going connects again and reads on.
    void monitorFollowsAClosedConnection_data()
    {
        QTest::addColumn<bool>("keepGoing");
        QTest::newRow("default") << false;
        QTest::newRow("keep going") << true;
    }
    void monitorFollowsAClosedConnection()
    {
        QFETCH(bool, keepGoing);
        QStringList args = {"monitor", "--mode",          "temp", "--channels",
                            "4",       "--time-constant", "0.05"};
        if (keepGoing)
            args << "--keep-going";
        QString err; // what the run printed on standard error while it was watched
        const ProgramRun r = cli(args, [&](QProcess& process) {
            const auto until = [&](const std::function<bool()>& done) {
                cuWaitForEvents(
                    [&] {
                        err += process.readAllStandardError();
                        return done() || process.state() != QProcess::Running;
                    },
                    10000);
            };
            until([&] { return process.peek(1 << 20).count(",ok,") >= 2; });
            SimFaults close;
            close.closeAfterPackets = 1;
            rack->unit.setFaults(close);
            until([&] { return err.contains("closed the connection"); });
            rack->unit.setFaults({});
            until([&] { return err.contains("connected again"); });
            const qsizetype before = process.peek(1 << 20).count(",ok,");
            until([&] { return process.peek(1 << 20).count(",ok,") > before; });
            if (process.state() == QProcess::Running) // without --keep-going it has ended
                ::kill(pid_t(process.processId()), SIGINT);
        });
        err += r.err;
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QVERIFY2(err.contains("cu-tavik-cli: the unit closed the connection at "), qPrintable(err));
        if (keepGoing) {
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(err.contains("cu-tavik-cli: connected again at "), qPrintable(err));
        } else {
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(err.contains("monitor ended: the unit closed the connection"),
                     qPrintable(err));
        }
    }

    void setWritesOneParameterByName()
    {
        const ProgramRun r = cli({"set", "1", "current", "1.5e-5"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QVERIFY(qAbs(rack->sspd(1)->physics().bias() - 1.5e-5) < 1e-12);
        QCOMPARE(rack->sspd(2)->physics().bias(), 0.0);

        // Negative values come after "--".
        QCOMPARE(cli({"set", "2", "current", "--", "-2e-6"}).exitCode, 0);
        QVERIFY(qAbs(rack->sspd(2)->physics().bias() + 2e-6) < 1e-12);
    }

    void setRefusesWhatTheModuleHasNot()
    {
        const ProgramRun unknown = cli({"set", "1", "colour", "1"});
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY(unknown.err.contains("unknown parameter colour"));

        const ProgramRun wrongModule = cli({"set", "4", "current", "1e-6"});
        QCOMPARE(wrongModule.exitCode, 2);
        QVERIFY(wrongModule.err.contains("no parameter current"));

        // Beyond what the parameter panel allows (-100 to 100 μA).
        const ProgramRun tooMuch = cli({"set", "1", "current", "0.5"});
        QCOMPARE(tooMuch.exitCode, 2);
        QCOMPARE(rack->sspd(1)->physics().bias(), 0.0);

        const ProgramRun absent = cli({"set", "9", "current", "1e-6"});
        QCOMPARE(absent.exitCode, 1);
        QVERIFY(absent.err.contains("no module at address 9"));
    }

    void sweepCurrentWritesTheEnginesPoints()
    {
        const QString out = path("current.csv");
        const ProgramRun r =
            cli({"sweep", "current", "--channel", "2", "--from", "15e-6", "--to", "15.3e-6",
                 "--step", "1e-7", "--time-constant", "0.01", "--out", out});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString()); // no progress line off a terminal
        const CsvFile csv = readCsv(out);
        QCOMPARE(csv.metadata.value("command"), QString("cu-tavik-cli sweep current"));
        QVERIFY(csv.metadata.value("program").startsWith("cu-tavik-cli "));
        QVERIFY(QDateTime::fromString(csv.metadata.value("started"), Qt::ISODateWithMs).isValid());
        QCOMPARE(csv.metadata.value("unit"), QString("127.0.0.1 port 9876"));
        QCOMPARE(csv.metadata.value("module"), QString("2"));
        QCOMPARE(csv.metadata.value("module_type"), QString("VX9SDM0"));
        QCOMPARE(csv.metadata.value("module_udid"), QString("5456-4B00-0001-0000-0000-0002"));
        QCOMPARE(csv.metadata.value("from"), QString("1.5e-05 A"));
        QCOMPARE(csv.metadata.value("step"), QString("1e-07 A"));
        QCOMPARE(csv.metadata.value("trigger"), QString("0.1 V"));
        QCOMPARE(csv.metadata.value("time_constant"), QString("0.01 s"));
        QVERIFY(csv.metadata.contains("ended"));
        QCOMPARE(csv.header, QString("current_A,cps"));
        // 15.0 to 15.3 μA, and the reading one step beyond the end.
        QCOMPARE(csv.rows.size(), 5);
        for (int i = 0; i < csv.rows.size(); ++i) {
            const double current = csv.rows.at(i).at(0).toDouble();
            QVERIFY2(qAbs(current - (15.0 + 0.1 * i) * 1e-6) < 0.02e-6,
                     qPrintable(csv.rows.at(i).join(u',')));
        }
        // The channel was switched on: photons count (the first reading may still hold a
        // gate window of the settling short).
        QVERIFY2(csv.rows.at(2).at(1).toDouble() > 100, qPrintable(csv.rows.at(2).join(u',')));
        // The engine leaves the channel on at the last current.
        QVERIFY(qAbs(rack->sspd(2)->physics().bias() - 15.4e-6) < 1e-10);
    }

    void sweepIvGoesDownwardsAndTriggerStepsTheLevel()
    {
        const QString iv = path("iv.csv");
        QCOMPARE(cli({"sweep", "iv", "--channel", "1", "--from", "2e-5", "--to=-2e-5", "--step",
                      "2e-5", "--time-constant", "0.01", "--out", iv})
                     .exitCode,
                 0);
        const CsvFile ivCsv = readCsv(iv);
        QCOMPARE(ivCsv.header, QString("voltage_V,current_A"));
        QCOMPARE(ivCsv.rows.size(), 4);
        QVERIFY(qAbs(ivCsv.rows.at(0).at(1).toDouble() - 2e-5) < 0.02e-6);
        QVERIFY(qAbs(ivCsv.rows.at(2).at(1).toDouble() + 2e-5) < 0.02e-6);

        const QString trigger = path("trigger.csv");
        QCOMPARE(cli({"sweep", "trigger", "--channel", "3", "--from", "0.1", "--to", "0.12",
                      "--step", "0.01", "--time-constant", "0.01", "--out", trigger})
                     .exitCode,
                 0);
        const CsvFile triggerCsv = readCsv(trigger);
        QCOMPARE(triggerCsv.header, QString("cmp_ref_level_V,cps"));
        QCOMPARE(triggerCsv.rows.size(), 4);
        QCOMPARE(triggerCsv.rows.at(1).at(0), QString("0.11"));
    }

    void histogramCountsReadingsForItsDuration()
    {
        const QString out = path("histogram.csv");
        const ProgramRun r =
            cli({"sweep", "histogram", "--channel", "1", "--from", "0", "--to", "1e6", "--step",
                 "2e5", "--time-constant", "0.01", "--duration", "0.4", "--out", out});
        QCOMPARE(r.exitCode, 0);
        const CsvFile csv = readCsv(out);
        QCOMPARE(csv.header, QString("bin_from_cps,bin_to_cps,count"));
        QCOMPARE(csv.metadata.value("bin_width"), QString("200000 cps"));
        QCOMPARE(csv.metadata.value("duration"), QString("0.4 s"));
        QCOMPARE(csv.rows.size(), 5);
        QCOMPARE(csv.rows.at(1).mid(0, 2), (QStringList{"200000", "400000"}));
        int readings = 0;
        for (const QStringList& row : csv.rows)
            readings += row.at(2).toInt();
        // The channel is off: every reading is in the first bin.
        QVERIFY(readings > 0);
        QCOMPARE(csv.rows.at(0).at(2).toInt(), readings);
    }

    void sweepProblemsEndWithoutAFile()
    {
        const QString out = path("nothing.csv");
        const ProgramRun temperature = cli({"sweep", "current", "--channel", "4", "--from", "1e-5",
                                            "--to", "2e-5", "--step", "1e-6", "--out", out});
        QCOMPARE(temperature.exitCode, 1);
        QVERIFY(temperature.err.contains("module 4 is no SSPD channel"));
        QVERIFY(!QFile::exists(out));

        // A step lost in rounding never reaches the end: the engine does not start it.
        const ProgramRun endless = cli({"sweep", "iv", "--channel", "1", "--from", "1e-4", "--to",
                                        "2e-4", "--step", "1e-30", "--out", out});
        QCOMPARE(endless.exitCode, 1);
        QVERIFY2(endless.err.contains("Sweep not started: the step must be a number above 0"),
                 qPrintable(endless.err));
        QVERIFY(!QFile::exists(out));
        QCOMPARE(rack->sspd(1)->physics().bias(), 0.0);

        // 10^11 steps would run for years: the engine does not start them either.
        const ProgramRun tooMany = cli({"sweep", "iv", "--channel", "1", "--from", "0", "--to",
                                        "1e-4", "--step", "1e-15", "--out", out});
        QCOMPARE(tooMany.exitCode, 1);
        QVERIFY2(tooMany.err.contains("Sweep not started: from 0 to 0.0001 in steps of 1e-15 "
                                      "takes 1e+11 steps; at most 100000 are allowed"),
                 qPrintable(tooMany.err));
        QVERIFY(!QFile::exists(out));

        const ProgramRun unwritable =
            cli({"sweep", "current", "--channel", "1", "--from", "1e-5", "--to", "2e-5", "--step",
                 "1e-6", "--out", path("no/such/dir.csv")});
        QCOMPARE(unwritable.exitCode, 2);
        QVERIFY(unwritable.err.contains("cannot write"));
    }

    void lostUnitEndsTheSweepWithWhatWasMeasured_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("dropped");
        QTest::addColumn<QString>("reason");
        QTest::newRow("IV curve, unit silent")
            << "iv" << false << "Sweep ended: the unit stopped answering";
        QTest::newRow("histogram, connection dropped")
            << "histogram" << true << "Histogram ended: the unit stopped answering";
    }
    void lostUnitEndsTheSweepWithWhatWasMeasured()
    {
        QFETCH(QString, kind);
        QFETCH(bool, dropped);
        QFETCH(QString, reason);
        const QString out = path(kind + "-lost.csv");
        QStringList args = {"sweep",           kind,   "--channel", "1", "--from", "0",
                            "--time-constant", "0.01", "--out",     out};
        if (kind == "histogram")
            args << "--to"
                 << "1e6"
                 << "--step"
                 << "1e3"
                 << "--duration"
                 << "60";
        else
            args << "--to"
                 << "1e-3"
                 << "--step"
                 << "1e-7";
        const ProgramRun r = cli(args, [&](QProcess&) {
            // Some readings first: the IV curve has stepped the bias, the histogram counted.
            if (kind == "iv")
                cuWaitForEvents([&] { return rack->sspd(1)->physics().bias() > 2e-7; }, 10000);
            else
                cuWaitForEvents([] { return false; }, 600);
            if (dropped) {
                rack->unit.stop();
            } else {
                SimFaults mute;
                mute.mute = true;
                rack->unit.setFaults(mute);
            }
        });
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(reason + "; the points so far are in " + out), qPrintable(r.err));
        const CsvFile csv = readCsv(out);
        QVERIFY(!csv.rows.isEmpty());
        QVERIFY(csv.metadata.contains("unit_lost"));
        QVERIFY(!csv.metadata.contains("ended"));
    }

    void presetsRoundTrip()
    {
        QCOMPARE(cli({"set", "1", "current", "1.2e-5"}).exitCode, 0);
        QCOMPARE(cli({"set", "3", "cmp_ref_level", "0.25"}).exitCode, 0);
        const QString file = path("preset.json");
        const ProgramRun save = cli({"preset", "save", file});
        QCOMPARE(save.exitCode, 0);
        QCOMPARE(save.err, QString());
        QFile json(file);
        QVERIFY(json.open(QIODevice::ReadOnly));
        const QJsonArray data =
            QJsonDocument::fromJson(json.readAll()).object().value("data").toArray();
        QCOMPARE(data.size(), 3); // every SSPD channel
        QCOMPARE(data.at(0).toObject().value("address").toInt(), 1);
        QVERIFY(qAbs(data.at(0).toObject().value("current").toDouble() - 1.2e-5) < 1e-8);
        QCOMPARE(data.at(2).toObject().value("type").toInt(), 1);

        QCOMPARE(cli({"set", "1", "current", "0"}).exitCode, 0);
        QCOMPARE(rack->sspd(1)->physics().bias(), 0.0);
        const ProgramRun restore = cli({"preset", "restore", file});
        QCOMPARE(restore.exitCode, 0);
        QVERIFY(qAbs(rack->sspd(1)->physics().bias() - 1.2e-5) < 1e-8);

        const ProgramRun chosen = cli({"preset", "save", path("one.json"), "--channels", "2"});
        QCOMPARE(chosen.exitCode, 0);
        QFile one(path("one.json"));
        QVERIFY(one.open(QIODevice::ReadOnly));
        const QJsonArray oneData =
            QJsonDocument::fromJson(one.readAll()).object().value("data").toArray();
        QCOMPARE(oneData.size(), 1);
        QCOMPARE(oneData.at(0).toObject().value("address").toInt(), 2);
    }

    void presetErrorsGoToStandardError()
    {
        const ProgramRun missing = cli({"preset", "restore", path("missing.json")});
        QCOMPARE(missing.exitCode, 1);
        QCOMPARE(missing.err.trimmed(),
                 QString("cu-tavik-cli: ERROR!: Couldn't open file; %1").arg(path("missing.json")));

        // A module that never answers leaves nothing worth saving.
        SimFaults drop;
        drop.dropEvery = 1; // every module answer; the unit itself still answers
        rack->unit.setFaults(drop);
        const ProgramRun silent = cli({"preset", "save", path("silent.json"), "--channels", "5"});
        QCOMPARE(silent.exitCode, 1);
        QVERIFY(silent.err.contains("module 5 gave no reading"));
        QVERIFY(!QFile::exists(path("silent.json")));
    }

    void presetRestoreRefusesHarmfulValues()
    {
        const QString file = path("harmful.json");
        QFile json(file);
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(R"({"data": [{"type": 0, "address": 1, "current": 1, "cmp_ref_level": 0},
                                {"type": 0, "address": 2, "current": 3e-6}]})");
        json.close();
        const ProgramRun restore = cli({"preset", "restore", file});
        QCOMPARE(restore.exitCode, 1);
        QVERIFY2(
            restore.err.contains("Preset for unit 1: current 1 A is outside -0.001 to 0.001 A"),
            qPrintable(restore.err));
        QCOMPARE(rack->sspd(1)->physics().bias(), 0.0);
        QVERIFY(qAbs(rack->sspd(2)->physics().bias() - 3e-6) < 1e-9);
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
        const ProgramRun remove = cli({"unit", "remove", "7"});
        QCOMPARE(remove.exitCode, 0);
        QVERIFY(!rack->unit.module(7));

        QCOMPARE(cli({"set", "1", "current", "1e-5"}).exitCode, 0);
        QCOMPARE(cli({"unit", "reset"}).exitCode, 0);
        QCOMPARE(rack->sspd(1)->physics().bias(), 0.0);

        QSignalSpy poweredOff(&rack->unit, &SimUnit::poweredOff);
        QCOMPARE(cli({"unit", "power-off"}).exitCode, 0);
        QVERIFY(poweredOff.size() == 1 || poweredOff.wait(2000));
    }

    void refusedUnitCommandExitsWithOne()
    {
        const ProgramRun r = cli({"unit", "remove", "42"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.trimmed(),
                 QString("cu-tavik-cli: Error: Error at 'SYST:DEVL:REMV 42' command"));
    }

    void eepromRoundTrip()
    {
        const QString file = path("sspd1.json");
        QCOMPARE(cli({"eeprom", "read", "1", "--out", file}).exitCode, 0);
        QFile json(file);
        QVERIFY(json.open(QIODevice::ReadOnly));
        QJsonObject calibration = QJsonDocument::fromJson(json.readAll()).object();
        json.close();
        QCOMPARE(calibration.value("DeviceType").toString(), QString("VX9SDM0"));
        QCOMPARE(calibration.value("UDID").toString(), QString("5456-4B00-0001-0000-0000-0001"));
        QCOMPARE(calibration.value("CurrentAdcCoeffs").toArray(), (QJsonArray{1, 0}));

        calibration.insert("CurrentAdcCoeffs", QJsonArray{1.25, 0.5});
        QVERIFY(json.open(QIODevice::WriteOnly | QIODevice::Truncate));
        json.write(QJsonDocument(calibration).toJson());
        json.close();
        QSignalSpy stored(&rack->unit, &SimUnit::moduleStateStored);
        const ProgramRun write = cli({"eeprom", "write", "1", file, "--store"});
        QCOMPARE(write.exitCode, 0);
        QCOMPARE(write.err, QString());
        QCOMPARE(pairFirst(rack->unit.module(1)->eeprom(), "currentAdc"), 1.25);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first().first().value<quint8>(), quint8(1));

        // Read back to standard output.
        const ProgramRun read = cli({"eeprom", "read", "1"});
        QCOMPARE(read.exitCode, 0);
        const QJsonObject again = QJsonDocument::fromJson(read.out.toUtf8()).object();
        QCOMPARE(again.value("CurrentAdcCoeffs").toArray(), (QJsonArray{1.25, 0.5}));

        // Another module's file is not sent.
        const ProgramRun wrongType = cli({"eeprom", "write", "4", file});
        QCOMPARE(wrongType.exitCode, 1);
        QVERIFY(wrongType.err.contains("holds constants of a VX9SDM0"));
        QCOMPARE(cli({"eeprom", "read", "5"}).exitCode, 1);
    }

    void unacknowledgedEepromWriteExitsWithOne()
    {
        // A unit with one SSPD module at 3 that answers its constants but never takes new
        // ones, and refuses to be locked.
        rack.reset();
        LoopbackPeer peer;
        QVERIFY(peer.listen(9876));
        const QJsonObject list{
            {"count", 1},
            {"info", QJsonArray{QJsonObject{{"address", 3}, {"type", "VX9SDM0"}}}},
            {"software_version", "1.4.0"}};
        peer.setTextResponder([&](const QByteArray& line) -> QByteArray {
            if (line == "SYST:DEVJ?")
                return QJsonDocument(list).toJson(QJsonDocument::Compact) + "\r\n";
            return "ERROR\r\n";
        });
        peer.setPacketResponder([](const PeerPacket& p) -> QByteArray {
            if (p.address != 3)
                return {};
            if (p.command == 5) // identifier
                return LoopbackPeer::packet(3, 5, QByteArray::fromHex("00112233445566778899aabb"));
            if (p.command == 6) // type
                return LoopbackPeer::packet(3, 6, Bytes().text("VX9SDM0", 24));
            if (p.command == 41) // EEPROM constants
                return LoopbackPeer::packet(
                    3, 41, Bytes().f32(1).f32(0).f32(1).f32(0).f32(1).f32(0).f32(1).f32(0));
            return {};
        });
        const QString file = path("peer.json");
        QCOMPARE(cli({"eeprom", "read", "3", "--out", file}).exitCode, 0);
        const ProgramRun write = cli({"eeprom", "write", "3", file, "--store"});
        QCOMPARE(write.exitCode, 1);
        QCOMPARE(write.err.trimmed(),
                 QString("cu-tavik-cli: Error: EEPROM constants of unit 3 were not written"));
        QCOMPARE(peer.packets().last().command, quint8(42)); // sent, and never stored

        const ProgramRun lock = cli({"unit", "lock", "1"});
        QCOMPARE(lock.exitCode, 1);
        QVERIFY(lock.err.contains("Error at 'SYST:LOCK 1' command"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("list with a word") << QStringList{"list", "all"};
        QTest::newRow("list with tries") << QStringList{"--tries", "2", "list"};
        QTest::newRow("query with duration") << QStringList{"query", "X", "--duration", "1"};
        QTest::newRow("monitor mode") << QStringList{"monitor", "--mode", "fast"};
        QTest::newRow("monitor all time constant")
            << QStringList{"monitor", "--time-constant", "0.1"};
        QTest::newRow("monitor channels") << QStringList{"monitor", "--channels", "1,x"};
        QTest::newRow("monitor duration") << QStringList{"monitor", "--duration", "0"};
        QTest::newRow("set value") << QStringList{"set", "1", "operate", "maybe"};
        QTest::newRow("set words") << QStringList{"set", "1", "current"};
        QTest::newRow("sweep kind") << QStringList{"sweep", "voltage", "--channel", "1"};
        QTest::newRow("sweep without out")
            << QStringList{"sweep", "current", "--channel", "1",      "--from",
                           "1e-5",  "--to",    "2e-5",      "--step", "1e-7"};
        QTest::newRow("sweep beyond the panel")
            << QStringList{"sweep", "current", "--channel", "1",    "--from", "0.5",
                           "--to",  "2e-5",    "--step",    "1e-7", "--out",  "x.csv"};
        QTest::newRow("sweep zero step")
            << QStringList{"sweep", "iv",   "--channel", "1", "--from", "1e-5",
                           "--to",  "2e-5", "--step",    "0", "--out",  "x.csv"};
        QTest::newRow("iv trigger")
            << QStringList{"sweep", "iv",     "--channel", "1",         "--from", "1e-5",  "--to",
                           "2e-5",  "--step", "1e-7",      "--trigger", "0.1",    "--out", "x.csv"};
        QTest::newRow("histogram without duration")
            << QStringList{"sweep", "histogram", "--channel", "1", "--from", "0",
                           "--to",  "10",        "--step",    "1", "--out",  "x.csv"};
        QTest::newRow("histogram bins") << QStringList{
            "sweep", "histogram", "--channel", "1",          "--from", "0",     "--to",
            "1e9",   "--step",    "1",         "--duration", "1",      "--out", "x.csv"};
        QTest::newRow("preset action") << QStringList{"preset", "load", "x.json"};
        QTest::newRow("preset restore channels")
            << QStringList{"preset", "restore", "x.json", "--channels", "1"};
        QTest::newRow("unit lock 2") << QStringList{"unit", "lock", "2"};
        QTest::newRow("unit add") << QStringList{"unit", "add", "300"};
        QTest::newRow("eeprom module") << QStringList{"eeprom", "read", "one"};
        QTest::newRow("eeprom store on read") << QStringList{"eeprom", "read", "1", "--store"};
        QTest::newRow("eeprom missing file")
            << QStringList{"eeprom", "write", "1", "/no/such/file.json"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        // Without a unit, a command that went as far as connecting would exit with 1.
        rack.reset();
        const ProgramRun r = cli(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("Try 'cu-tavik-cli --help'."));
        QCOMPARE(r.out, QString());
    }

    void helpNamesTheEngineCommands()
    {
        const ProgramRun r = cli({"--help"});
        QCOMPARE(r.exitCode, 0);
        for (const char* word :
             {"list", "monitor [--mode all|cps|temp]", "set MODULE NAME VALUE",
              "sweep current|trigger|iv", "sweep histogram", "preset save FILE",
              "preset restore FILE", "unit reset|system-reset|power-off", "eeprom read MODULE",
              "eeprom write MODULE FILE [--store]", "[--keep-going]",
              "time,address,status,cps,counts,current,voltage,cmp_ref_level,time_const,operate"})
            QVERIFY2(r.out.contains(word), word);
    }
};

QTEST_GUILESS_MAIN(TestCliEngine)
#include "tst_cliengine.moc"
