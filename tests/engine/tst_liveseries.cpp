// Live time series on a chart: the chart draws a copy thinned to its pixel columns, while the
// cap, the exports and the visible extremes still come from every point.
#include "engine/liveseries.h"
#include "engine/settings.h"
#include "enginetestsupport.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineSeries>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QValueAxis>

class TestLiveSeries : public QObject
{
    Q_OBJECT

private slots:
    void chartDrawsFewPointsWhileExportsKeepAll()
    {
        WorkerAsync* worker = WorkerAsync::instance();
        Settings* settings = worker->settings();
        QChart chart;
        auto* series = new QLineSeries;
        series->setName("SSPD 1");
        chart.addSeries(series);
        auto* time = new QDateTimeAxis;
        chart.addAxis(time, Qt::AlignBottom);
        series->attachAxis(time);
        chart.setPlotArea(QRectF(0, 0, 300, 200));

        // A full plot with one spike, then a reading that pushes out the oldest point.
        const double now = double(QDateTime::currentMSecsSinceEpoch());
        QList<QPointF> points;
        for (int i = 0; i < 10000; ++i)
            points.append(QPointF(now - (10000 - i) * 100.0, i == 5000 ? 1e6 : 10.0 + i % 7));
        series->replace(points);
        const QJsonObject inventory{
            {"count", 1}, {"info", QJsonArray{QJsonObject{{"address", 1}, {"type", "VX9SDM0"}}}}};
        QVERIFY(QMetaObject::invokeMethod(worker, "initDataList", Qt::DirectConnection,
                                          Q_ARG(QJsonObject, inventory)));
        settings->setSeries({series});
        worker->initializeGUI(WorkerAsync::WorkerModeCpsVersTime);
        worker->activateMode(WorkerAsync::WorkerModeCpsVersTime);
        const QVariantHash reading{{"cps", 5.0}};
        QSignalSpy appended(settings->liveSeries(), &LiveSeries::pointAppended);
        QVERIFY(QMetaObject::invokeMethod(worker, "updateData", Qt::DirectConnection, Q_ARG(int, 1),
                                          Q_ARG(QVariantHash, reading)));
        QCOMPARE(appended.count(), 1); // also at the cap, where the count stays
        settings->setAxisRange(time, QDateTime::fromMSecsSinceEpoch(qint64(now) - 1000000),
                               QDateTime::fromMSecsSinceEpoch(qint64(now) + 1000));

        QVERIFY(series->count() <= 2 * 300 + 4);
        const QList<QPointF> shown = series->points();
        QVERIFY(std::any_of(shown.begin(), shown.end(), [](QPointF p) { return p.y() == 1e6; }));
        QCOMPARE(shown.last().y(), 5.0);

        QTemporaryDir dir;
        worker->saveSeries(series, dir.filePath("one.txt"));
        worker->saveMultipleSeries({QVariant::fromValue<QObject*>(series)},
                                   dir.filePath("all.txt"));
        QFile one(dir.filePath("one.txt")), all(dir.filePath("all.txt"));
        QVERIFY(one.open(QIODevice::ReadOnly) && all.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = one.readAll().split('\n');
        QCOMPARE(lines.size(), 10000 + 1); // after the last CR LF, nothing
        QCOMPARE(lines.first(), QByteArray::number(points.at(1).x(), 'f', 6) + "\t11.000000\r");
        QVERIFY(lines.at(9999).endsWith("\t5.000000\r"));
        QCOMPARE(all.readAll().count("\r\n"), 1 + 10000);

        // Zooming in (the chart sets the range itself) shows the points there as they are.
        const QPointF spike = points.at(5000);
        time->setRange(QDateTime::fromMSecsSinceEpoch(qint64(spike.x()) - 2000),
                       QDateTime::fromMSecsSinceEpoch(qint64(spike.x()) + 2000));
        QVERIFY(series->points().contains(spike));
        QVERIFY(series->count() < 100);

        worker->activateMode(WorkerAsync::WorkerModeNoAction);
        settings->setSeries({});
    }

    void cleanupTestCase() { delete WorkerAsync::instance(); }
};

TAVIK_ENGINE_TEST_MAIN(TestLiveSeries)
#include "tst_liveseries.moc"
