// cu-tavik-cli firmware update, end to end between two programs: the real cu-tavik-sim
// (the demo rack, serving the sample catalogue on 127.0.0.1:8080) and the real
// cu-tavik-cli, so that what the unit sends must cross between processes.
#include "programrun.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <QSignalSpy>
#include <QTest>

namespace {

const QString BaseUrl = QStringLiteral("http://127.0.0.1:8080/vx9Rack/Bin/Firmware/");

ProgramRun cli(const QStringList& arguments)
{
    ProgramOptions options;
    options.timeoutMs = 60000;
    return runProgram(QStringLiteral(CLI_PATH), arguments, options);
}

QString firmwareOf(int module)
{
    const ProgramRun run = cli({"identity", QString::number(module)});
    return QJsonDocument::fromJson(run.out.toUtf8()).object().value("firmware").toString();
}

} // namespace

class TestCliFirmwareUpdate : public QObject
{
    Q_OBJECT

    QProcess m_sim;

private slots:
    void init()
    {
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start(QStringLiteral(SIM_PATH),
                    {"--firmware-dir", QStringLiteral(SAMPLE_CATALOGUE), "--http-port", "8080"});
        QVERIFY(m_sim.waitForStarted(5000));
        // Its second line says the catalogue is served.
        QSignalSpy output(&m_sim, &QProcess::readyReadStandardOutput);
        while (!m_sim.readAllStandardOutput().contains("firmware catalogue"))
            QVERIFY(output.wait(5000));
    }
    void cleanup()
    {
        m_sim.terminate();
        QVERIFY(m_sim.waitForFinished(5000));
    }

    void updatesTheModule()
    {
        QCOMPARE(firmwareOf(1), "1.3.2");
        const ProgramRun run =
            cli({"firmware", "update", "1", "--version", "1.3.3", "--base-url", BaseUrl});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY2(run.out.startsWith("module 1: VX9SDM0 modification 1 hardware 2 firmware 1.3.2; "
                                    "update to 1.3.3\nstatus: Server was started at port 9879\n"),
                 qPrintable(run.out));
        QVERIFY(run.out.contains("status: Downloading done (2048 byte). Start to transfer...\n"));
        QVERIFY(
            run.out.endsWith("progress: 100%\nstatus: Verifying module 1\nstatus: Completed\n"));
        QCOMPARE(firmwareOf(1), "1.3.3");
        // The unit was unlocked: it takes no further update.
        QVERIFY(cli({"query", "SYST:UPDT 1"}).out.contains("not locked"));
    }

    void refusesAVersionNotInTheCatalogue()
    {
        const ProgramRun run =
            cli({"firmware", "update", "1", "--version", "1.4.0", "--base-url", BaseUrl});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("firmware 1.4.0 is not in the catalogue at " + BaseUrl +
                                  " for VX9SDM1V2 (versions: 1.2.3, 1.3.3)"),
                 qPrintable(run.err));
        QVERIFY(!run.out.contains("status:"));
        QCOMPARE(firmwareOf(1), "1.3.2");
    }
};

QTEST_GUILESS_MAIN(TestCliFirmwareUpdate)
#include "tst_clifirmwareupdate.moc"
