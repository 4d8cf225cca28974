// cu-tavik-cli against the real simulator as a second program, so that what the unit sends
// must cross between processes: "cu-tavik-sim --discoverable" with the sample firmware
// catalogue on 127.0.0.1:8080, in this test's own veth namespace (where the simulator is this
// computer, hence 127.0.0.1).
#include "programrun.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

class TestCliSim : public QObject
{
    Q_OBJECT

    QProcess sim;
    const QString baseUrl = QStringLiteral("http://127.0.0.1:8080/vx9Rack/Bin/Firmware/");

    static ProgramRun cli(const QStringList& args) { return runProgram(CLI_PATH, args); }

private slots:
    void initTestCase()
    {
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(SIM_PATH,
                  {"--discoverable", "--firmware-dir", SAMPLE_CATALOGUE, "--http-port", "8080"});
        QSignalSpy output(&sim, &QProcess::readyReadStandardOutput);
        QByteArray said;
        while (!said.contains("firmware catalogue") && output.wait(10000))
            said += sim.readAllStandardOutput();
        QVERIFY2(said.contains("discoverable") && said.contains("firmware catalogue"), said);
    }
    void cleanupTestCase()
    {
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    void discoverFindsTheSimulator()
    {
        const ProgramRun r = cli({"discover", "--wait-ms", "300"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("127.0.0.1\n"));
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, 9878));
        const ProgramRun busy = cli({"discover"});
        QCOMPARE(busy.exitCode, 1);
        QVERIFY2(busy.err.contains("answer port 9878 is in use"), qPrintable(busy.err));
        QVERIFY(busy.out.isEmpty());
    }

    void firmwareUpdate()
    {
        const auto firmwareOfModule1 = [] {
            return QJsonDocument::fromJson(cli({"identity", "1"}).out.toUtf8())["firmware"]
                .toString();
        };
        // A version not in the catalogue is refused before anything starts.
        const ProgramRun refused =
            cli({"firmware", "update", "1", "--version", "1.4.0", "--base-url", baseUrl});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains("firmware 1.4.0 is not in the catalogue at " + baseUrl +
                                      " for VX9SDM1V2 (versions: 1.2.3, 1.3.3)"),
                 qPrintable(refused.err));
        QVERIFY(!refused.out.contains("status:"));
        QCOMPARE(firmwareOfModule1(), "1.3.2");

        const ProgramRun r =
            cli({"firmware", "update", "1", "--version", "1.3.3", "--base-url", baseUrl});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.out.startsWith("module 1: VX9SDM0 modification 1 hardware 2 firmware 1.3.2; "
                                  "update to 1.3.3\nstatus: Server was started at port 9879\n"),
                 qPrintable(r.out));
        QVERIFY(r.out.contains("status: Downloading done (2048 byte). Start to transfer...\n"));
        QVERIFY(r.out.endsWith("progress: 100%\nstatus: Verifying module 1\nstatus: Completed\n"));
        QCOMPARE(firmwareOfModule1(), "1.3.3");
        // The unit was unlocked: it takes no further update.
        QVERIFY(cli({"query", "SYST:UPDT 1"}).out.contains("not locked"));
    }
};

QTEST_GUILESS_MAIN(TestCliSim)
#include "tst_clisim.moc"
