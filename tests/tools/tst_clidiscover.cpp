// cu-tavik-cli discover end to end: the real program finds the simulator, started as
// "cu-tavik-sim --discoverable" in this test's own veth namespace (where it is this computer,
// hence 127.0.0.1), and fails when the answer port is taken.
#include "programrun.h"
#include <QProcess>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {
ProgramRun cli(const QStringList& args)
{
    ProgramOptions options;
    options.timeoutMs = 20000;
    return runProgram(CLI_PATH, args, options);
}
} // namespace

class TestCliDiscover : public QObject
{
    Q_OBJECT

    QProcess sim;

private slots:
    void initTestCase()
    {
        // Its unit port is of no interest here: any free one.
        sim.start(SIM_PATH, {"--discoverable", "--port", "0"});
        QSignalSpy started(&sim, &QProcess::readyReadStandardOutput);
        QVERIFY(started.wait(10000));
        QVERIFY(sim.readAllStandardOutput().contains("discoverable"));
    }
    void cleanupTestCase()
    {
        sim.terminate();
        sim.waitForFinished(5000);
    }

    void findsTheSimulator()
    {
        const ProgramRun r = cli({"discover", "--wait-ms", "300"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("127.0.0.1\n"));
    }

    void busyAnswerPortFails()
    {
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, 9878));
        const ProgramRun r = cli({"discover"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("answer port 9878 is in use"), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
    }

    void usageErrors()
    {
        QCOMPARE(cli({"discover", "extra"}).exitCode, 2);
        QCOMPARE(cli({"discover", "--wait-ms", "soon"}).exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestCliDiscover)
#include "tst_clidiscover.moc"
