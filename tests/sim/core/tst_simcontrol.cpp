// The simulator's control lines: faults replaced and cleared, bad lines refused, and a
// restart that takes the unit away for a while.
#include "core/simcontrol.h"
#include "core/simenvironment.h"
#include "core/simunit.h"

#include <QTest>

class TestSimControl : public QObject
{
    Q_OBJECT

private slots:
    void faultLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<bool>("mute");
        QTest::newRow("set") << QByteArray("faults --latency-ms 50 --mute") << QByteArray("ok")
                             << 50 << true;
        QTest::newRow("clear") << QByteArray("faults") << QByteArray("ok") << 0 << false;
        QTest::newRow("not a fault")
            << QByteArray("faults --port 1") << QByteArray("error: not a fault option: --port") << 7
            << false;
        QTest::newRow("bad number") << QByteArray("faults --drop-every x")
                                    << QByteArray("error: --drop-every must be a non-negative "
                                                  "whole number")
                                    << 7 << false;
        QTest::newRow("unknown") << QByteArray("jump") << QByteArray("error: unknown command: jump")
                                 << 7 << false;
    }

    void faultLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        QFETCH(int, latencyMs);
        QFETCH(bool, mute);
        SimEnvironment environment(1);
        SimUnit unit(&environment);
        SimFaults before;
        before.latencyMs = 7;
        unit.setFaults(before);
        SimControl control(&unit);
        QCOMPARE(control.execute(line), answer);
        QCOMPARE(unit.faults().latencyMs, latencyMs);
        QCOMPARE(unit.faults().mute, mute);
    }

    void restartTakesTheUnitAwayForAWhile()
    {
        SimEnvironment environment(1);
        SimUnit unit(&environment);
        unit.setPort(0);
        QVERIFY(unit.start());
        SimControl control(&unit);
        QCOMPARE(control.execute("restart x"),
                 QByteArray("error: restart needs a pause of 0 to 600000 ms"));
        QCOMPARE(control.execute("restart 100"), QByteArray("ok"));
        QVERIFY(!unit.isListening());
        QTRY_VERIFY(unit.isListening());
        QCOMPARE(control.execute("connections"), QByteArray("0"));
    }
};

QTEST_GUILESS_MAIN(TestSimControl)
#include "tst_simcontrol.moc"
