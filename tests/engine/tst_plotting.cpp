// Readings and chart steps on the GUI thread: how a record from the worker thread updates the
// device list and the chart series of each mode, how the histogram lays out and counts its
// bins, and the chart rectangle that follows each step; the preset file written from the
// ticked channels, the text tables of chart series, and files that cannot be written.
#include "engine/mychartrect.h"
#include "engine/settings.h"
#include "enginetestsupport.h"

#include <QAreaSeries>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineSeries>
#include <QScatterSeries>
#include <cmath>
#include <csignal>
#include <sys/resource.h>
#include <tuple>

namespace {

const QString MuA = QStringLiteral("\u03BC\u0410");

double nowMs()
{
    return double(QDateTime::currentMSecsSinceEpoch());
}

// Chart edges change only beyond a relative 1e-12, which on dates is up to about 2 ms: an
// edge may keep a value that close to the expected one.
bool edgeWithin(double edge, double low, double high)
{
    const double slack = qAbs(edge) * 1e-12;
    return edge >= low - slack && edge <= high + slack;
}

void setRow(QList<DriverDataItem>* rows, const QString& name, const QVariant& value)
{
    for (DriverDataItem& row : *rows) {
        if (row.name() == name)
            row.setValue(value);
    }
}

// Left, right, bottom, top, to 1e-9.
QList<double> edges(const MyChartRect* r)
{
    QList<double> e{r->left(), r->right(), r->bottom(), r->top()};
    for (double& v : e)
        v = std::round(v * 1e9) / 1e9;
    return e;
}

QByteArray readAll(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
bool writeFile(const QString& fileName, const QByteArray& bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// While it lives, no file of this process may grow beyond a few bytes, as on a full disk.
class FileSizeLimit
{
public:
    FileSizeLimit()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = 16;
        active = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    bool active = false;

private:
    rlimit m_old{};
};

} // namespace

class TestPlotting : public QObject
{
    Q_OBJECT

    WorkerAsync* worker = nullptr;
    Settings* settings = nullptr;
    DataProviderList* list = nullptr;
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList errorsAfter(const std::function<void()>& action)
    {
        QSignalSpy errors(worker, &WorkerAsync::sendErrorMessage);
        action();
        QStringList texts;
        for (const QList<QVariant>& error : errors)
            texts << error.at(0).toString() + ' ' + error.at(1).toString();
        return texts;
    }
    void setRecord(int row, const DataProviderItem& values)
    {
        DataProviderItem record = list->items().at(row);
        record.insert(values);
        list->setItemAt(row, record);
    }

    void updateData(int address, const Record& data)
    {
        // Named as the worker's queued signal names the type.
        QVERIFY(QMetaObject::invokeMethod(worker, "updateData", Qt::DirectConnection,
                                          Q_ARG(int, address),
                                          QGenericArgument("QHash<QString,QVariant>", &data)));
    }

    void updatePlot()
    {
        QVERIFY(QMetaObject::invokeMethod(worker, "updatePlot", Qt::DirectConnection));
    }

    // The screen's order: show the mode's rectangle and rows, then start the mode.
    void enterMode(WorkerAsync::WorkerMode mode, const QList<QAbstractSeries*>& series)
    {
        settings->setSeries(series);
        worker->initializeGUI(mode);
        worker->activateMode(mode);
    }

    MyChartRect* rectOf(WorkerAsync::WorkerMode mode)
    {
        worker->initializeGUI(mode);
        return settings->chartRect();
    }

private slots:
    void initTestCase()
    {
        worker = WorkerAsync::instance();
        settings = worker->settings();
        list = worker->dataList();
    }

    void init()
    {
        // Two SSPD channels, a temperature channel, and a second record of address 2.
        const QJsonObject inventory{
            {"count", 4},
            {"info", QJsonArray{QJsonObject{{"address", 1}, {"type", "VX9SDM0"}},
                                QJsonObject{{"address", 2}, {"type", "VX9SDM1"}},
                                QJsonObject{{"address", 4}, {"type", "VX9TDM0"}},
                                QJsonObject{{"address", 2}, {"type", "VX9SDM0"}}}}};
        QVERIFY(QMetaObject::invokeMethod(worker, "initDataList", Qt::DirectConnection,
                                          Q_ARG(QJsonObject, inventory)));
        settings->setAutoscale(true);
        settings->setMode(WorkerAsync::CpsVsTimeWindowed);
        settings->setTimeWindowSize(30);
    }

    void cleanup()
    {
        worker->activateMode(WorkerAsync::WorkerModeNoAction);
        settings->setSeries({});
    }

    void cleanupTestCase() { delete WorkerAsync::instance(); }

    void readingsMergeIntoTheLastRecordOfTheirAddress()
    {
        worker->activateMode(WorkerAsync::WorkerModeAllChannels);
        QSignalSpy updated(list, &DataProviderList::dataUpdated);
        updateData(2, Record{{"cps", 12.5}, {"status", 1}, {"new_key", "x"}});
        QCOMPARE(updated.count(), 1);
        QCOMPARE(updated.at(0).at(0).toInt(), 3);
        QStringList keys = updated.at(0).at(1).toStringList();
        keys.sort();
        QCOMPARE(keys, (QStringList{"cps", "new_key", "status"}));
        const DataProviderItem record = list->items().at(3);
        QCOMPARE(record.value("cps").toDouble(), 12.5);
        QCOMPARE(record.value("new_key").toString(), QStringLiteral("x"));
        // The earlier record of the same address is left alone.
        QCOMPARE(list->items().at(1).value("cps").toInt(), 0);
        QVERIFY(!list->items().at(1).contains("new_key"));
        // An address without a record, or an empty reading, changes nothing.
        const QList<DataProviderItem> before = list->items();
        updateData(9, Record{{"cps", 1.0}});
        updateData(1, Record());
        QCOMPARE(updated.count(), 1);
        QCOMPARE(list->items(), before);
    }

    void timeModesAppendToTheSeriesOfTheirAddress()
    {
        QLineSeries sspd1, sspd10, temperature1, temperature4;
        sspd1.setName("SSPD 1");
        sspd10.setName("SSPD 10");
        temperature1.setName("Temperature 1");
        temperature4.setName("Temperature 4");
        enterMode(WorkerAsync::WorkerModeCpsVersTime,
                  {&sspd1, &sspd10, &temperature1, &temperature4});
        QSignalSpy added(&sspd1, &QXYSeries::pointAdded);
        const double before = nowMs();
        updateData(1, Record{{"cps", 250.0}, {"temperature", 3.0}});
        updateData(1, Record{{"cps", 0}});
        updateData(1, Record{{"cps", -3.0}});
        updateData(1, Record{{"current", 1e-5}});
        const double after = nowMs();
        // The counts axis is logarithmic: nothing below 1e-5.
        QList<double> y;
        for (const QPointF& p : sspd1.points()) {
            y << p.y();
            QVERIFY(p.x() >= before && p.x() <= after);
        }
        QCOMPARE(y, QList<double>({250.0, 1e-5, 1e-5}));
        QVERIFY(sspd10.count() == 0 && temperature1.count() == 0);
        // Appends go without a repaint per point.
        QCOMPARE(added.count(), 0);
        enterMode(WorkerAsync::WorkerModeTemperatureVersTime,
                  {&sspd1, &sspd10, &temperature1, &temperature4});
        updateData(4, Record{{"temperature", 0.0}, {"cps", 5.0}});
        updateData(4, Record{{"temperature", 2.25}});
        QCOMPARE(temperature4.count(), 2);
        QCOMPARE(temperature4.at(0).y(), 0.0);
        QCOMPARE(temperature4.at(1).y(), 2.25);
        QCOMPARE(sspd1.count(), 3);
        // The home view plots nothing.
        enterMode(WorkerAsync::WorkerModeAllChannels, {&sspd1, &temperature4});
        updateData(1, Record{{"cps", 7.0}});
        updateData(4, Record{{"temperature", 4.5}});
        QVERIFY(sspd1.count() == 3 && temperature4.count() == 2);
    }

    void sweepModesPlotTheirReadingAndStatus_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<Record>("reading");
        QTest::addColumn<QPointF>("point");
        QTest::addColumn<QString>("status");
        QTest::newRow("counts vs current")
            << int(WorkerAsync::WorkerModeCpsVersCurrent)
            << Record{{"cps", 123456.0}, {"current", 1.5e-5}} << QPointF(15.0, 123456.0)
            << QStringLiteral("X: 15.0 %1\r\nY: 1.235e5 cps").arg(MuA);
        QTest::newRow("counts vs trigger")
            << int(WorkerAsync::WorkerModeCpsVersTrigger)
            << Record{{"cps", 12.5}, {"cmp_ref_level", 0.0375}} << QPointF(37.5, 12.5)
            << QStringLiteral("X: 37.5 mV\r\nY: 12.5 cps");
        QTest::newRow("IV curve") << int(WorkerAsync::WorkerModeIVCurves)
                                  << Record{{"current", 1.23e-5}, {"voltage", 0.0042}}
                                  << QPointF(4.2, 12.3)
                                  << QStringLiteral("X: 4.2 mV\r\nY: 12.3 %1").arg(MuA);
    }
    void sweepModesPlotTheirReadingAndStatus()
    {
        QFETCH(int, mode);
        QFETCH(Record, reading);
        QFETCH(QPointF, point);
        QFETCH(QString, status);
        QLineSeries other, sweep;
        enterMode(WorkerAsync::WorkerMode(mode), {&other, &sweep});
        worker->setStatusText("before");
        updateData(1, reading);
        QCOMPARE(worker->statusText(), status);
        QCOMPARE(sweep.count(), 1);
        QVERIFY(qAbs(sweep.at(0).x() - point.x()) < 1e-9 * qMax(1.0, qAbs(point.x())));
        QVERIFY(qAbs(sweep.at(0).y() - point.y()) < 1e-9 * qMax(1.0, qAbs(point.y())));
        QCOMPARE(other.count(), 0);
        // A reading without one of the keys the mode needs changes neither text nor plot.
        worker->setStatusText("before");
        for (auto it = reading.constBegin(); it != reading.constEnd(); ++it) {
            Record partial = reading;
            partial.remove(it.key());
            updateData(1, partial);
        }
        QCOMPARE(worker->statusText(), QStringLiteral("before"));
        QCOMPARE(sweep.count(), 1);
    }

    void histogramLaysOutItsBinsAndCountsReadings()
    {
        QLineSeries upper;
        QAreaSeries histogram(&upper);
        QList<DriverDataItem>* rows = worker->sweepParameterRows(WorkerAsync::WorkerModeHistogram);
        const QList<DriverDataItem> defaults = *rows;
        enterMode(WorkerAsync::WorkerModeHistogram, {&histogram});
        updateData(1, Record{{"cps", 2.5}});
        QCOMPARE(worker->statusText(), QStringLiteral("cps: 2.5"));
        QCOMPARE(upper.count(), 4000);
        QCOMPARE(upper.at(1), QPointF(0.05, 0));
        QCOMPARE(upper.at(2), QPointF(0.95, 0));
        QCOMPARE(upper.at(3999).x(), 999.95);
        QCOMPARE(
            QList<double>({upper.at(8).y(), upper.at(9).y(), upper.at(10).y(), upper.at(11).y()}),
            QList<double>({0, 1, 1, 0}));
        QLineSeries* lower = histogram.lowerSeries();
        QVERIFY(lower);
        QCOMPARE(lower->parent(), &histogram);
        QCOMPARE(lower->points(), (QList<QPointF>{QPointF(0.05, 0), QPointF(999.95, 0)}));
        // The layout stays until the upper series is emptied, whatever the rows say now.
        setRow(rows, "step", 2);
        updateData(1, Record{{"cps", 2.9}});
        QCOMPARE(upper.count(), 4000);
        QCOMPARE(upper.at(10).y(), 2.0);
        *rows = defaults;
        // Less than one bin below the start counts into the first bin; further out nothing.
        updateData(1, Record{{"cps", -0.5}});
        updateData(1, Record{{"cps", -1.5}});
        updateData(1, Record{{"cps", 999.5}});
        updateData(1, Record{{"cps", 1000.5}});
        updateData(1, Record{{"cps", 1e300}});
        updateData(1, Record{{"status", 2}});
        int total = 0;
        for (int i = 1; i < upper.count(); i += 4)
            total += int(upper.at(i).y());
        QCOMPARE(total, 4);
        QCOMPARE(upper.at(1).y(), 1.0);
        QCOMPARE(upper.at(3997).y(), 1.0);
        QCOMPARE(upper.at(3998).y(), 1.0);
        // A new layout replaces the base line this one made.
        QPointer<QLineSeries> oldLower(lower);
        upper.clear();
        setRow(rows, "from", 100);
        setRow(rows, "to", 110);
        setRow(rows, "step", 2.5);
        updateData(1, Record{{"cps", 104}});
        QCOMPARE(upper.count(), 16);
        QCOMPARE(upper.at(5).y(), 1.0);
        QCOMPARE(histogram.lowerSeries()->points(),
                 (QList<QPointF>{QPointF(100.125, 0), QPointF(109.875, 0)}));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!oldLower);
        *rows = defaults;
    }

    // Rows that give no bins that can be drawn are refused until sound rows come.
    void histogramRefusesBinsThatCannotBeDrawn()
    {
        QLineSeries upper;
        QAreaSeries histogram(&upper);
        QList<DriverDataItem>* rows = worker->sweepParameterRows(WorkerAsync::WorkerModeHistogram);
        const QList<DriverDataItem> defaults = *rows;
        enterMode(WorkerAsync::WorkerModeHistogram, {&histogram});
        const auto layOut = [&](double from, double to, double step, double cps) {
            setRow(rows, "from", from);
            setRow(rows, "to", to);
            setRow(rows, "step", step);
            updateData(1, Record{{"cps", cps}});
        };
        // Zero or no width, an endless end, an end before the start, over 100 000 bins.
        for (const auto& [from, to, step] : QList<std::tuple<double, double, double>>{
                 {0, 1000, 0}, {0, 1000, qQNaN()}, {0, qInf(), 1}, {1000, 0, 1}, {0, 100001, 1}}) {
            layOut(from, to, step, 0.5);
            QVERIFY2(upper.count() == 0 && !histogram.lowerSeries(),
                     qPrintable(QString::number(to)));
            QVERIFY2(worker->statusText().startsWith("Histogram not laid out"),
                     qPrintable(worker->statusText()));
        }
        layOut(0, 1000, 1, 0.5);
        QCOMPARE(upper.count(), 4000);
        QCOMPARE(upper.at(1).y(), 1.0);
        upper.clear();
        layOut(0, 100000, 1, 99999.5); // the largest allowed
        QCOMPARE(upper.count(), 400000);
        QCOMPARE(upper.at(399997).y(), 1.0);
        *rows = defaults;
    }

    // The live view shows the last 20 s and scales Y to the visible points even without
    // autoscale (equal values get a band of +-10); time plots show their window.
    void timeViewsShowTheirWindow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("window");
        QTest::addColumn<bool>("autoscale");
        QTest::addColumn<QList<QPointF>>("points"); // age in ms, value
        QTest::addColumn<double>("span");
        QTest::addColumn<QPointF>("y");
        const int live = WorkerAsync::WorkerModeSspdSingleChannel;
        const int time = WorkerAsync::WorkerModeCpsVersTime;
        const QList<QPointF> windowed{{50000, 100}, {20000, 3}, {10, 8}};
        QTest::newRow("live") << live << 60 << false
                              << QList<QPointF>{{30000, 1000}, {1000, 5}, {0, 7}} << 20000.0
                              << QPointF(5, 7);
        QTest::newRow("live, equal values")
            << live << 30 << false << QList<QPointF>{{30000, 1000}, {1000, 7}, {0, 7}} << 20000.0
            << QPointF(-3, 17);
        QTest::newRow("60 s") << time << 60 << true << windowed << 60000.0 << QPointF(3, 100);
        QTest::newRow("30 s") << time << 30 << true << windowed << 30000.0 << QPointF(3, 8);
    }
    void timeViewsShowTheirWindow()
    {
        QFETCH(int, mode);
        QFETCH(int, window);
        QFETCH(bool, autoscale);
        QFETCH(QList<QPointF>, points);
        QFETCH(double, span);
        QFETCH(QPointF, y);
        QLineSeries sspd;
        sspd.setName("SSPD 1");
        MyChartRect* rect = rectOf(WorkerAsync::WorkerMode(mode));
        const double t = nowMs();
        for (const QPointF& p : points)
            sspd.append(t - p.x(), p.y());
        settings->setTimeWindowSize(window);
        settings->setAutoscale(autoscale);
        enterMode(WorkerAsync::WorkerMode(mode), {&sspd});
        const double before = nowMs();
        updatePlot();
        const double after = nowMs();
        QVERIFY(edgeWithin(rect->left(), before + 500 - span, after + 500 - span));
        QVERIFY(edgeWithin(rect->right(), before + 500, after + 500));
        QCOMPARE(QPointF(rect->bottom(), rect->top()), y);
    }

    // Without autoscale Y stays where the user put it; with it, too, without visible points.
    // A free-running plot shows its first 10 s, then keeps its start and grows.
    void timePlotKeepsYAndGrowsWhenFreeRunning()
    {
        QLineSeries sspd;
        sspd.setName("SSPD 1");
        MyChartRect* rect = rectOf(WorkerAsync::WorkerModeCpsVersTime);
        sspd.append(nowMs() - 10, 8.0);
        settings->setAutoscale(false);
        enterMode(WorkerAsync::WorkerModeCpsVersTime, {&sspd});
        rect->setBottom(0.5);
        rect->setTop(500);
        updatePlot();
        QCOMPARE(QPointF(rect->bottom(), rect->top()), QPointF(0.5, 500.0));
        settings->setAutoscale(true);
        sspd.replace({QPointF(nowMs() - 3600000, 5.0)});
        updatePlot();
        QCOMPARE(QPointF(rect->bottom(), rect->top()), QPointF(0.5, 500.0));
        settings->setSeries({});
        updatePlot();
        QCOMPARE(QPointF(rect->bottom(), rect->top()), QPointF(0.5, 500.0));
        settings->setMode(WorkerAsync::CpsVsTimeFreeRunning);
        enterMode(WorkerAsync::WorkerModeCpsVersTime, {&sspd});
        sspd.replace({QPointF(nowMs() - 5000, 1.0)});
        double before = nowMs();
        updatePlot();
        double after = nowMs();
        QVERIFY(edgeWithin(rect->left(), before - 9500, after - 9500));
        sspd.replace(0, QPointF(nowMs() - 60000, 1.0));
        rect->setLeft(12345.0);
        before = nowMs();
        updatePlot();
        after = nowMs();
        QCOMPARE(rect->left(), 12345.0);
        QVERIFY(edgeWithin(rect->right(), before + 500, after + 500));
    }

    // Sweep rectangles grow with the readings (a single point gets a band of +-10, counts keep
    // clear of the log floor); the histogram's spans the bins and the tallest bar.
    void sweepAndHistogramRectanglesFollowTheReadings()
    {
        QLineSeries sweep;
        MyChartRect* rect = rectOf(WorkerAsync::WorkerModeIVCurves);
        enterMode(WorkerAsync::WorkerModeIVCurves, {&sweep});
        const QList<double> empty = edges(rect);
        updatePlot();
        QCOMPARE(edges(rect), empty);
        for (const auto& [point, expected] :
             QList<std::pair<QPointF, QList<double>>>{{{2, 3}, {-8, 12, -7, 13}},
                                                      {{4, -1}, {2, 4, -1, 3}},
                                                      {{10, 50}, {2, 10, -1, 50}}}) {
            sweep.append(point);
            updatePlot();
            QCOMPARE(edges(rect), expected);
        }
        QLineSeries counts;
        rect = rectOf(WorkerAsync::WorkerModeCpsVersCurrent);
        enterMode(WorkerAsync::WorkerModeCpsVersCurrent, {&counts});
        updateData(1, Record{{"cps", 0}, {"current", 1.5e-5}});
        updateData(1, Record{{"cps", 0}, {"current", 1.51e-5}});
        updatePlot();
        QCOMPARE(edges(rect), QList<double>({15.0, 15.1, 0.1, 1.0}));
        QLineSeries upper;
        QAreaSeries histogram(&upper);
        rect = rectOf(WorkerAsync::WorkerModeHistogram);
        enterMode(WorkerAsync::WorkerModeHistogram, {&histogram});
        for (double cps : {2.5, 2.5, 2.5, 7.0})
            updateData(1, Record{{"cps", cps}});
        updatePlot();
        QCOMPARE(edges(rect), QList<double>({0.05, 999.95, 0.0, 4.0}));
    }

    void rescaleFitsTheRectangleToAllData()
    {
        MyChartRect* rect = rectOf(WorkerAsync::WorkerModeIVCurves);
        settings->setSeries({});
        worker->rescaleChartRec(WorkerAsync::WorkerModeIVCurves);
        QCOMPARE(settings->chartRect(), rect);
        QCOMPARE(edges(rect), QList<double>({-10.0, 10.0, -10.0, 10.0}));
        QLineSeries a;
        QScatterSeries b;
        a.append(5.0, 1.0);
        settings->setSeries({&a, &b});
        b.append(-2.0, 30.0);
        b.append(1.0, -4.0);
        worker->rescaleChartRec(WorkerAsync::WorkerModeIVCurves);
        QCOMPARE(edges(rect), QList<double>({-2.0, 5.0, -4.0, 30.0}));
        // The histogram fits its bars, not the base line.
        QLineSeries upper, lower;
        upper.append({QPointF(0.05, 0), QPointF(0.05, 6), QPointF(0.95, 6), QPointF(0.95, 0)});
        lower.append({QPointF(-50, -50), QPointF(50, -50)});
        QAreaSeries histogram(&upper, &lower);
        settings->setSeries({&histogram});
        worker->rescaleChartRec(WorkerAsync::WorkerModeHistogram);
        MyChartRect* histogramRect = settings->chartRect();
        QVERIFY(histogramRect != rect);
        QCOMPARE(edges(histogramRect), QList<double>({0.05, 0.95, 0.0, 6.0}));
    }

    // The ticked channels go to the file with every key; flags become numbers, texts their
    // numeric value (0 when they are none). The CLI's preset test checks the values.
    void presetFileHoldsTheTickedChannels()
    {
        setRecord(0, {{"restore", true}});
        setRecord(1, {{"restore", true}, {"numeric_text", "12.5"}});
        const QString file = path("presets.json");
        QCOMPARE(errorsAfter([&] { worker->savePresets(file); }), QStringList());
        const QJsonDocument document = QJsonDocument::fromJson(readAll(file));
        QCOMPARE(readAll(file), document.toJson(QJsonDocument::Indented));
        const QJsonObject channel = document["data"][1].toObject();
        QCOMPARE(channel.keys(), QJsonObject::fromVariantMap(list->items().at(1)).keys());
        QVERIFY(channel.value("address") == 2 && channel.value("type") == 1);
        QCOMPARE(channel.value("restore"), QJsonValue(1.0));
        QCOMPARE(channel.value("selected"), QJsonValue(0.0));
        QCOMPARE(channel.value("numeric_text"), QJsonValue(12.5));
    }

    // Files that cannot be written are reported; a write that fails half way keeps the
    // previous file, and no half-written copy.
    void unusableFilesAreReported()
    {
        // Nothing ticked: the presets file is left alone.
        const QString kept = path("kept.json");
        QVERIFY(writeFile(kept, "previous presets, longer than the limit"));
        QCOMPARE(errorsAfter([&] { worker->savePresets(kept); }),
                 QStringList{"ERROR! No channels selected for preset save"});
        setRecord(0, {{"restore", true}});
        QLineSeries series;
        for (int i = 0; i < 10; ++i)
            series.append(i, i * i);
        const QString missing = path("no/such/dir/file.txt");
        const QString file = path("old-series.txt");
        QVERIFY(writeFile(file, "0.0\t1.0\r\n"));
        const QString error = QStringLiteral("ERROR! Couldn't write file; ");
        QCOMPARE(errorsAfter([&] {
                     worker->savePresets(missing);
                     worker->saveSeries(&series, missing);
                     FileSizeLimit full;
                     QVERIFY(full.active);
                     worker->savePresets(kept);
                     worker->saveSeries(&series, file);
                     worker->saveMultipleSeries({QVariant::fromValue(&series)}, file);
                 }),
                 QStringList(
                     {error + missing, error + missing, error + kept, error + file, error + file}));
        QCOMPARE(readAll(kept), QByteArray("previous presets, longer than the limit"));
        QCOMPARE(readAll(file), QByteArray("0.0\t1.0\r\n"));
        QCOMPARE(
            QDir(dir.path()).entryList({"kept.json*", "old-series*"}, QDir::Files | QDir::Hidden),
            QStringList({"kept.json", "old-series.txt"}));
        QVERIFY(writeFile(path("array.json"), R"([{"data": []}])"));
        QCOMPARE(errorsAfter([&] { worker->restorePresets(path("array.json")); }),
                 QStringList{"ERROR! Wrong data. Missed \"data\" member."});
    }

    void seriesExportsAreTabSeparatedTables()
    {
        QLineSeries series;
        series.append(1e-6, 123.4567891);
        series.append(-2.5, 0.0);
        series.append(1.7e12, -0.0000004);
        worker->saveSeries(&series, path("series.txt"));
        QCOMPARE(readAll(path("series.txt")), QByteArray("0.000001\t123.456789\r\n"
                                                         "-2.500000\t0.000000\r\n"
                                                         "1700000000000.000000\t-0.000000\r\n"));
        QScatterSeries empty;
        worker->saveSeries(&empty, path("empty.txt"));
        QVERIFY(QFile::exists(path("empty.txt")));
        QCOMPARE(readAll(path("empty.txt")), QByteArray());
        worker->saveSeries(nullptr, path("none.txt"));
        QVERIFY(!QFile::exists(path("none.txt")));
        // Several series go side by side.
        QLineSeries first, second, third;
        first.setName("SSPD 1");
        second.setName("empty");
        third.setName("IV");
        first.append({QPointF(1.0, 2.0), QPointF(3.0, 4.0)});
        third.append({QPointF(0.5, 1e-6), QPointF(0.25, 123.4567891), QPointF(-1.0, 7.0)});
        QObject notASeries;
        worker->saveMultipleSeries({QVariant::fromValue(&first), QVariant(5),
                                    QVariant::fromValue(&second), QVariant::fromValue(&notASeries),
                                    QVariant::fromValue(static_cast<QObject*>(&third))},
                                   path("multiple.txt"));
        QCOMPARE(readAll(path("multiple.txt")),
                 QByteArray("|SSPD 1|\t|empty|\t|IV|\t\r\n"
                            "1.000000\t2.000000\t---\t---\t0.500000\t0.000001\t\r\n"
                            "3.000000\t4.000000\t---\t---\t0.250000\t123.456789\t\r\n"
                            "---\t---\t---\t---\t-1.000000\t7.000000\t\r\n"));
        // Without points nothing is written.
        worker->saveMultipleSeries({QVariant::fromValue(&second)}, path("nothing.txt"));
        worker->saveMultipleSeries({QVariant(3), QVariant("SSPD 1")}, path("nothing.txt"));
        QVERIFY(!QFile::exists(path("nothing.txt")));
    }
};

TAVIK_ENGINE_TEST_MAIN(TestPlotting)
#include "tst_plotting.moc"
