// cu-tavik-cli firmware list, the real program against the simulator's web server serving
// the sample catalogue the repository ships (in-process, served by this test's event loop).
#include "net/simcatalogueserver.h"
#include "programrun.h"

#include <QTest>

class TestFirmwareList : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
};

void TestFirmwareList::run_data()
{
    const QString base = QStringLiteral("http://127.0.0.1:8000/vx9Rack/Bin/Firmware/");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // the end of standard output
    QTest::addColumn<QString>("err"); // part of standard error

    const auto image = [&](const QString& entry) {
        return QStringLiteral("image %1 %2%1_code.bin\n").arg(entry, base);
    };
    QTest::newRow("demo modules' choices")
        << QStringList{"firmware", "list",           "--base-url", base,         "--family",
                       "VX9SD",    "--modification", "1",          "--hardware", "2"}
        << 0
        << image("1.3.3/VX9SDM1V2") + image("1.3.3/VX9SDM1V3") + image("1.3.3/VX9TDM0V1") +
               image("1.3.3/VX9TDM1V2") +
               "modifications 0 1\nrevisions 1 2 3\nversions 1.2.3 1.3.3\n"
        << QString();
    QTest::newRow("no server") << QStringList{"firmware", "list", "--base-url",
                                              "http://127.0.0.1:1/x/"}
                               << 1 << QString()
                               << "cu-tavik-cli: Error loading http://127.0.0.1:1/x/: ";
    QTest::newRow("no subcommand")
        << QStringList{"firmware"} << 2 << QString() << "firmware needs a subcommand";
    QTest::newRow("hardware without modification")
        << QStringList{"firmware", "list",  "--base-url", base,
                       "--family", "VX9SD", "--hardware", "2"}
        << 2 << QString() << "--hardware needs --modification";
    QTest::newRow("not a web address")
        << QStringList{"firmware", "list", "--base-url", "ftp://127.0.0.1/"} << 2 << QString()
        << "--base-url must be an http or https address";
}

void TestFirmwareList::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    SimCatalogueServer server(QStringLiteral(SAMPLE_CATALOGUE));
    QString error;
    QVERIFY2(server.start(QHostAddress::LocalHost, 8000, &error), qPrintable(error));

    ProgramOptions options;
    options.timeoutMs = 20000;
    const ProgramRun r = runProgram(QStringLiteral(CLI_PATH), arguments, options);
    QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
    QVERIFY2(r.out.endsWith(out), qPrintable(r.out));
    QVERIFY2(r.err.contains(err), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(TestFirmwareList)
#include "tst_firmwarelist.moc"
