// cu-tavik-cli refuses what would harm a module or mislead its user, end to end against the
// simulated demo rack on 127.0.0.1:9876, which this test's event loop serves while the
// program runs (the test has a network namespace of its own).
#include "core/simenvironment.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "link/eventwait.h"
#include "modules/simsspdm0.h"

#include "programrun.h"
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

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

// The demo rack: SSPD model 0 at 1 and 2, model 1 at 3, temperature models 0 and 1 at 4
// and 5, a heater at 6.
struct Rack
{
    Rack() { started = SimRack::demo().install(&unit, nullptr) && unit.start(nullptr); }
    double bias(quint8 address) const
    {
        return qobject_cast<SimSspdM0*>(unit.module(address))->physics().bias();
    }

    SimEnvironment environment{5};
    SimUnit unit{&environment};
    bool started = false;
};

} // namespace

class TestCliGuards : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<Rack> rack;

    // Runs the tool (or the program given) while this thread serves the unit.
    ProgramRun cli(const QStringList& args, const QString& stdoutFile = {},
                   const QString& program = CLI_PATH)
    {
        ProgramOptions options;
        options.home = home.path();
        options.stdoutFile = stdoutFile;
        return runProgram(program, args, options);
    }

    QJsonObject params(int module)
    {
        return QJsonDocument::fromJson(
                   cli({"read", QString::number(module), "sspd0", "params"}).out.toUtf8())
            .object();
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("tavik.sim.info=false"); }
    void init()
    {
        rack = std::make_unique<Rack>();
        QVERIFY(rack->started);
    }
    void cleanup() { rack.reset(); }

    void moduleOfAnotherKindIsRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("read an SSPD as temperature")
            << QStringList{"read", "1", "temp0", "data"} << 1
            << "module 1 is a VX9SDM0 (KIND sspd0), not of KIND temp0";
        QTest::newRow("write a temperature module as SSPD")
            << QStringList{"write", "4", "sspd0", "current", "1e-5"} << 1
            << "module 4 is a VX9TDM0 (KIND temp0), not of KIND sspd0";
        QTest::newRow("write an SSPD as heater")
            << QStringList{"write", "2", "heater", "floatValue", "1"} << 1 << "VX9SDM0";
        QTest::newRow("forced") << QStringList{"--force", "read", "1", "temp0", "typeString"} << 0
                                << QString();
    }
    void moduleOfAnotherKindIsRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const ProgramRun r = cli(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(r.out.isEmpty(), exitCode != 0);
        QCOMPARE(rack->bias(2), 0.0);
    }

    void rawWriteStaysWithinItsType_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<double>("bias");
        const QStringList current = {"write", "1", "sspd0", "current"};
        QTest::newRow("nan") << current + QStringList{"nan"} << 2 << 0.0;
        QTest::newRow("inf") << current + QStringList{"inf"} << 2 << 0.0;
        QTest::newRow("beyond float") << current + QStringList{"1e39"} << 2 << 0.0;
        QTest::newRow("beyond the application") << current + QStringList{"2e-4"} << 2 << 0.0;
        QTest::newRow("forced") << QStringList{"--force"} + current + QStringList{"2e-4"} << 0
                                << 2e-4;
        QTest::newRow("forced nan")
            << QStringList{"--force"} + current + QStringList{"nan"} << 2 << 0.0;
        QTest::newRow("negative count")
            << QStringList{"write", "1", "sspd0", "autoResetCounts", "--", "-1"} << 2 << 0.0;
        QTest::newRow("byte overflow")
            << QStringList{"write", "5", "temp1", "relays", "300"} << 2 << 0.0;
        QTest::newRow("enumeration overflow")
            << QStringList{"write", "5", "temp1", "switcherMode", "5e9"} << 2 << 0.0;
        QTest::newRow("field beyond the application")
            << QStringList{"write", "1", "sspd0", "params", R"({"timeConst": 500})"} << 2 << 0.0;
    }
    void rawWriteStaysWithinItsType()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(double, bias);
        const ProgramRun r = cli(args);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.err.isEmpty(), exitCode == 0);
        QVERIFY(qAbs(rack->bias(1) - bias) < 1e-10);
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
        QJsonObject expected = params(1);
        QVERIFY(expected.value("timeConst").toDouble() != 0.5);
        if (exitCode == 0)
            expected.insert("timeConst", 0.5);
        SimFaults drop;
        drop.dropEvery = unanswered ? 1 : 0;
        rack->unit.setFaults(drop);
        const ProgramRun r = cli({"--force", "--tries", "1", "--timeout-ms", "100", "write", "1",
                                  "sspd0", "params", value});
        QCOMPARE(r.exitCode, exitCode);
        rack->unit.setFaults({});
        QCOMPARE(params(1), expected);
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
        QTest::newRow("eeprom to a full device")
            << QStringList{"eeprom", "read", "1", "--out", "/dev/full"} << QString()
            << "cannot write /dev/full: No space left on device";
        QTest::newRow("preset to a full device")
            << QStringList{"preset", "save", "/dev/full"} << QString()
            << "cannot write /dev/full: No space left on device";
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
                    {}, "unshare");
            if (r.exitCode == 99)
                QSKIP("no tmpfs can be mounted here");
            QCOMPARE(r.out, QString("old result\n")); // the old file stays whole
        } else {
            r = cli(args, output == "stdout" ? "/dev/full" : QString());
        }
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFileInfo("/dev/full").isFile());
    }

    void answersSayWhatHappened_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<double>("currentAdcSlope"); // of module 1 afterwards
        const QStringList devj = {"query", "SYST:DEVJ?"};
        QTest::newRow("slow unit, engine") << QStringList{"list"} << 700 << 1
                                           << "the unit at 127.0.0.1 port 9876 did not answer "
                                              "within 500 ms"
                                           << 1.0;
        QTest::newRow("slow unit, query")
            << devj << 700 << 1 << "no answer within 500 ms from the unit" << 1.0;
        QTest::newRow("slow unit, longer time-out")
            << QStringList{"--timeout-ms", "1500"} + devj << 700 << 0 << QString() << 1.0;
        QTest::newRow("slow unit, engine with a longer time-out")
            << QStringList{"list", "--timeout-ms", "1500"} << 700 << 0 << QString() << 1.0;
        QTest::newRow("refused") << QStringList{"--port", "9999", "list"} << 0 << 1
                                 << "cannot reach the unit at 127.0.0.1 port 9999: Connection "
                                    "refused"
                                 << 1.0;
        QTest::newRow("unknown command")
            << QStringList{"query", "FOO?"} << 0 << 1 << "the unit does not know FOO?" << 1.0;
        QTest::newRow("no constants")
            << QStringList{"eeprom", "write", "1", home.filePath("none.json")} << 0 << 1
            << "holds none of the module's constants" << 1.0;
        const QStringList other = {"eeprom", "write", "1", home.filePath("other.json")};
        QTest::newRow("another module")
            << other << 0 << 1 << "constants of module 5456-4B00-0001-0000-0000-0002" << 1.0;
        QTest::newRow("another module, forced")
            << other + QStringList{"--force"} << 0 << 0 << QString() << 1.25;
    }
    void answersSayWhatHappened()
    {
        QFETCH(QStringList, args);
        QFETCH(int, latencyMs);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(double, currentAdcSlope);
        const auto save = [&](const char* name, const QJsonObject& calibration) {
            QFile file(home.filePath(name));
            return file.open(QIODevice::WriteOnly) &&
                   file.write(QJsonDocument(calibration).toJson()) > 0;
        };
        QVERIFY(save("none.json", {{"DeviceType", "VX9SDM0"}, {"Colour", 3}}));
        QVERIFY(save("other.json", {{"DeviceType", "VX9SDM0"},
                                    {"UDID", "5456-4B00-0001-0000-0000-0002"},
                                    {"CurrentAdcCoeffs", QJsonArray{1.25, 0.5}}}));
        SimFaults slow;
        slow.latencyMs = latencyMs;
        rack->unit.setFaults(slow);
        const ProgramRun r = cli(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        const QJsonObject eeprom = rack->unit.module(1)->eeprom().value("constants").toObject();
        QCOMPARE(eeprom.value("currentAdc").toObject().value("first").toDouble(), currentAdcSlope);
    }
};

QTEST_GUILESS_MAIN(TestCliGuards)
#include "tst_cliguards.moc"
