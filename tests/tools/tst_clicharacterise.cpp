// cu-tavik-cli characterise against the simulated demo rack served in-process: the report,
// curve and plot it writes, --apply, and the command lines it refuses.
#include "core/simenvironment.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "modules/simsspdm0.h"
#include "programrun.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

class TestCliCharacterise : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

    ProgramRun cli(const QStringList& args)
    {
        ProgramOptions options;
        options.home = home.path();
        options.timeoutMs = 60000;
        return runProgram(CLI_PATH, args, options);
    }
    QByteArray file(const QString& name)
    {
        QFile f(home.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("tavik.sim.info=false"); }

    void writesReportCurveAndPlot_data()
    {
        QTest::addColumn<bool>("apply");
        QTest::newRow("bias back to zero") << false;
        QTest::newRow("applied") << true;
    }
    void writesReportCurveAndPlot()
    {
        QFETCH(bool, apply);
        SimEnvironment environment(3);
        SimUnit unit(&environment);
        QString error;
        QVERIFY2(SimRack::demo().install(&unit, &error) && unit.start(&error), qPrintable(error));

        QStringList args = {"characterise", "--channel", "2",     "--time-constant", "0.02",
                            "--trigger",    "0.05",      "--out", home.path()};
        if (apply)
            args << "--apply";
        const ProgramRun r = cli(args);
        QCOMPARE(r.exitCode, 0);
        for (const char* stage : {"Switching current", "Retrapping current", "Count curve",
                                  "Analysis", "Characterisation complete"})
            QVERIFY2(r.err.contains(QLatin1String(stage)), qPrintable(r.err));
        QVERIFY(r.out.contains("plateau reached"));

        const QJsonObject report = QJsonDocument::fromJson(file("characterise-2.json")).object();
        QCOMPARE(report.value("outcome").toString(), QString("complete"));
        QCOMPARE(report.value("module").toObject().value("udid").toString(),
                 QString("5456-4B00-0001-0000-0000-0002"));
        QCOMPARE(report.value("module").toObject().value("firmware").toString(), QString("1.3.2"));
        QCOMPARE(report.value("time_constant_s").toDouble(), double(0.02f));
        QVERIFY(report.value("recommended_bias_A").isDouble());
        QCOMPARE(report.value("applied").toBool(), apply);
        const QJsonArray points = report.value("points").toArray();
        QVERIFY(points.size() >= 40);

        const QStringList lines =
            QString::fromUtf8(file("characterise-2.csv")).split('\n', Qt::SkipEmptyParts);
        QStringList keys;
        for (const QString& line : lines)
            if (line.startsWith("# "))
                keys << line.mid(2, line.indexOf(':') - 2);
        for (const char* key :
             {"command", "program", "started", "unit", "module", "module_type", "module_udid",
              "module_firmware", "trigger", "time_constant", "ended"})
            QVERIFY2(keys.contains(QLatin1String(key)), key);
        QCOMPARE(lines.at(keys.size()), QString("bias_A,cps,voltage_V,latched"));
        QCOMPARE(lines.size() - keys.size() - 1, points.size());

        QImage plot;
        QVERIFY(plot.loadFromData(file("characterise-2.png"), "PNG"));
        QCOMPARE(plot.size(), QSize(900, 600));

        const double bias = static_cast<SimSspdM0*>(unit.module(2))->physics().bias();
        QCOMPARE(bias, apply ? double(float(report.value("recommended_bias_A").toDouble())) : 0.0);
    }

    void refusesBadCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no channel") << QStringList{"characterise"};
        QTest::newRow("dark limit 0")
            << QStringList{"characterise", "--channel", "1", "--dark-limit", "0"};
        QTest::newRow("time constant too long")
            << QStringList{"characterise", "--channel", "1", "--time-constant", "1000"};
        QTest::newRow("no directory")
            << QStringList{"characterise", "--channel", "1", "--out", "/nonexistent/dir"};
        QTest::newRow("foreign option")
            << QStringList{"characterise", "--channel", "1", "--from", "1"};
    }
    void refusesBadCommandLines()
    {
        QFETCH(QStringList, args);
        const ProgramRun r = cli(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(!r.err.isEmpty());
    }
};

QTEST_MAIN(TestCliCharacterise)
#include "tst_clicharacterise.moc"
