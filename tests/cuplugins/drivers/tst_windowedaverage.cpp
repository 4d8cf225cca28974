// Moving average and trend over a window of values.
#include "drivers/windowedaverage.h"

#include <QTest>
#include <cmath>

class TestWindowedAverage : public QObject
{
    Q_OBJECT

private slots:
    void averageCoversOnlyTheLastValues()
    {
        WindowedAverage average(4);
        QCOMPARE(average.addValue(1), 1.0);
        QCOMPARE(average.addValue(2), 1.5);
        QCOMPARE(average.addValue(3), 2.0);
        QCOMPARE(average.addValue(4), 2.5);
        // 1 leaves the window.
        QCOMPARE(average.addValue(5), 3.5);
        QCOMPARE(average.addValue(-10), 0.5);
    }

    void trendStartsOnceTheWindowIsMoreThanHalfFull()
    {
        WindowedAverage average(4);
        average.addValue(1);
        average.addValue(2);
        QCOMPARE(average.trend(), 0.0); // two values are not more than half of four
        average.addValue(3);            // first average kept: 2
        QCOMPARE(average.trend(), 0.0);
        average.addValue(4); // 2.5
        QCOMPARE(average.trend(), 0.5);
        average.addValue(5); // 3.5
        QCOMPARE(average.trend(), 1.5);
        average.addValue(6); // 4.5
        QCOMPARE(average.trend(), 2.5);
        average.addValue(7); // 5.5; the oldest average (2) leaves, four are kept
        QCOMPARE(average.trend(), 3.0);
    }

    void oddWindowStartsTheTrendEarlier()
    {
        WindowedAverage average(3);
        average.addValue(10); // one value is not more than 3 / 2 = 1
        average.addValue(6);  // average 8, first kept
        QCOMPARE(average.trend(), 0.0);
        average.addValue(2); // average 6
        QCOMPARE(average.trend(), -2.0);
    }

    void clearStartsAfresh()
    {
        WindowedAverage average(2);
        average.addValue(1);
        average.addValue(3);
        average.addValue(5);
        QVERIFY(average.trend() != 0.0);
        average.clear();
        QCOMPARE(average.trend(), 0.0);
        QCOMPARE(average.addValue(8), 8.0);
        QCOMPARE(average.trend(), 0.0);
        QCOMPARE(average.addValue(4), 6.0);
    }

    void emptyWindowActsAsOneValue()
    {
        WindowedAverage average(0);
        QCOMPARE(average.windowSize(), 1u);
        QCOMPARE(average.addValue(5), 5.0);
        QCOMPARE(average.addValue(7), 7.0);
        QVERIFY(!std::isnan(average.trend()));
        QCOMPARE(average.trend(), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestWindowedAverage)
#include "tst_windowedaverage.moc"
