// cu-tavik-sim end to end: it says where it listens, serves the demo rack, ends cleanly on
// SIGTERM and SIGINT and after a power off, and refuses a bad rack file with a clear message.
#include "simtestclient.h"

#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

class TestSimProgram : public QObject
{
    Q_OBJECT

    // Starts the program and waits for its line on standard output.
    bool start(QProcess& process, const QStringList& args)
    {
        process.start(SIM_PATH, args);
        if (!process.waitForStarted(5000))
            return false;
        QSignalSpy output(&process, &QProcess::readyReadStandardOutput);
        while (!process.canReadLine()) {
            if (!output.wait(5000))
                return false;
        }
        return true;
    }
    bool finished(QProcess& process)
    {
        QSignalSpy done(&process, &QProcess::finished);
        return process.state() == QProcess::NotRunning || done.wait(5000);
    }

private slots:
    void servesTheDemoRackAndEndsOnSignals_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void servesTheDemoRackAndEndsOnSignals()
    {
        QFETCH(int, signal);
        QProcess process;
        QVERIFY(start(process, {"--port", "9876", "--seed", "4"}));
        QCOMPARE(
            process.readLine().trimmed(),
            QByteArray("cu-tavik-sim: unit with 6 module(s) listening on 127.0.0.1 port 9876"));
        SimTestClient client;
        QVERIFY(client.connectTo(9876));
        QVERIFY(client.query("SYST:DEVJ?").startsWith("{\"count\":6,"));
        QCOMPARE(client.request(1, 6).value(0).data.left(8), QByteArray("VX9SDM0\0", 8));
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(finished(process));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(client.waitClosed());
    }

    void powerOffEndsTheProgram()
    {
        QProcess process;
        QVERIFY(start(process, {"--port", "9876"}));
        SimTestClient client;
        QVERIFY(client.connectTo(9876));
        QCOMPARE(client.query("SYST:POFF"), QByteArray("ok"));
        QVERIFY(client.waitClosed());
        QVERIFY(finished(process));
        QCOMPARE(process.exitCode(), 0);
    }

    void faultsFromTheCommandLine()
    {
        QProcess process;
        QVERIFY(start(process, {"--port", "9876", "--mute"}));
        SimTestClient client;
        QVERIFY(client.connectTo(9876));
        client.send("SYST:DEVJ?\r\n");
        QVERIFY(client.silentFor(200));
        process.terminate();
        QVERIFY(finished(process));
    }

    void discoverableOnRequest()
    {
        QProcess process;
        QVERIFY(start(process, {"--port", "9876", "--discoverable"}));
        QVERIFY(process.readLine().trimmed().endsWith("port 9876, discoverable"));
        process.terminate();
        QVERIFY(finished(process));
        QCOMPARE(process.exitCode(), 0);
    }

    void badRackFileIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("rack.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"modules": [{"address": 1, "type": "VX9QQM0"}]})");
        file.close();
        QProcess process;
        process.start(SIM_PATH, {"--port", "9876", "--rack", path});
        QVERIFY(finished(process));
        QCOMPARE(process.exitCode(), 1);
        const QString error = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(error.contains(path + ": modules[0]: unknown module type \"VX9QQM0\""),
                 qPrintable(error));
    }

    void badOptionIsAUsageError()
    {
        QProcess process;
        process.start(SIM_PATH, {"--port", "x"});
        QVERIFY(finished(process));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().contains("--port"));
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
