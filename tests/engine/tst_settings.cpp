// The shared plot and channel settings and the chart rectangle: defaults, the change rules
// of every property, and the hand-over of parameter rows to the models.
#include "engine/mychartrect.h"
#include "engine/settings.h"
#include "models/datamodel.h"
#include "models/dataproviderlist.h"
#include "models/driverdatamodel.h"

#include <QDateTimeAxis>
#include <QLineSeries>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QValueAxis>

namespace {

DataProviderItem sspdRecord(int address, double current)
{
    return DataProviderItem{{"address", address},
                            {"type", int(DataProviderList::DeviceTypeSspdM0)},
                            {"current", current},
                            {"status_shorted", 1}};
}

QVariant activeRowValue(const QString& name)
{
    for (const DriverDataItem& row : DataModel::instance()->activeRows()) {
        if (row.name() == name)
            return row.value();
    }
    return {};
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void freshSettingsHoldTheDefaults()
    {
        Settings settings;
        QCOMPARE(settings.timeConstant(), 1.0);
        QCOMPARE(settings.mode(), WorkerAsync::CpsVsTimeWindowed);
        QCOMPARE(int(settings.mode()), 1);
        QCOMPARE(settings.autoscale(), true);
        QCOMPARE(settings.timeWindowSize(), 30.0);
        QVERIFY(settings.series().isEmpty());

        MyChartRect* rect = settings.chartRect();
        QVERIFY(rect);
        QCOMPARE(rect->parent(), &settings);
        QCOMPARE(rect->top(), 100.0);
        QCOMPARE(rect->bottom(), 1e-9);
        QCOMPARE(rect->left(), 1e-9);
        QCOMPARE(rect->right(), 100.0);

        DriverDataModel* sweep = settings.SweepParameterModel();
        QVERIFY(sweep);
        QCOMPARE(sweep->parent(), &settings);
        QCOMPARE(sweep->rowCount(), 0);
    }

    void propertiesAreReachableByName()
    {
        Settings settings;
        QVERIFY(
            settings.setProperty("mode", QVariant::fromValue(WorkerAsync::CpsVsTimeFreeRunning)));
        QCOMPARE(settings.mode(), WorkerAsync::CpsVsTimeFreeRunning);
        QCOMPARE(settings.property("timeWindowSize").toDouble(), 30.0);
        QVERIFY(!settings.setProperty("SweepParameterModel", QVariant()));
    }

    void doublesChangeOnlyBeyondTheTolerance_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<bool>("onRect");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("next");
        QTest::addColumn<int>("emissions");

        QTest::newRow("time constant, 1e-13 relative")
            << QByteArray("timeConstant") << false << 1.0 << 1.0 + 1e-13 << 0;
        QTest::newRow("time constant, 1e-3")
            << QByteArray("timeConstant") << false << 1.0 << 1.001 << 1;
        QTest::newRow("window, 1e-13 relative")
            << QByteArray("timeWindowSize") << false << 60.0 << 60.0 * (1 + 1e-13) << 0;
        QTest::newRow("window, to 0") << QByteArray("timeWindowSize") << false << 60.0 << 0.0 << 1;
        QTest::newRow("top, 0 to 1e-300") << QByteArray("top") << true << 0.0 << 1e-300 << 1;
        QTest::newRow("top, 0 to 0") << QByteArray("top") << true << 0.0 << 0.0 << 0;
        QTest::newRow("bottom, tiny relative")
            << QByteArray("bottom") << true << 1e-9 << 1e-9 * (1 + 1e-13) << 0;
        QTest::newRow("bottom, sign") << QByteArray("bottom") << true << 1e-9 << -1e-9 << 1;
        QTest::newRow("left, 1e-13 relative")
            << QByteArray("left") << true << 1.7e12 << 1.7e12 * (1 + 1e-13) << 0;
        QTest::newRow("left, one ms on a date")
            << QByteArray("left") << true << 1.7e12 << 1.7e12 + 1000 << 1;
        QTest::newRow("right, 2e-12 relative")
            << QByteArray("right") << true << 5.0 << 5.0 * (1 + 2e-12) << 1;
    }

    void doublesChangeOnlyBeyondTheTolerance()
    {
        QFETCH(QByteArray, property);
        QFETCH(bool, onRect);
        QFETCH(double, start);
        QFETCH(double, next);
        QFETCH(int, emissions);

        Settings settings;
        QObject* object = onRect ? static_cast<QObject*>(settings.chartRect()) : &settings;
        QVERIFY(object->setProperty(property, start));
        const QMetaProperty meta =
            object->metaObject()->property(object->metaObject()->indexOfProperty(property));
        QSignalSpy spy(object, meta.notifySignal());
        QVERIFY(spy.isValid());

        QVERIFY(object->setProperty(property, next));
        QCOMPARE(spy.count(), emissions);
        QCOMPARE(object->property(property).toDouble(), emissions ? next : start);
    }

    void modeAndAutoscaleChangeOnlyOnADifferentValue()
    {
        Settings settings;
        QSignalSpy modeSpy(&settings, &Settings::modeChanged);
        QSignalSpy autoscaleSpy(&settings, &Settings::autoscaleChanged);
        settings.setMode(WorkerAsync::CpsVsTimeWindowed);
        settings.setAutoscale(true);
        QCOMPARE(modeSpy.count(), 0);
        QCOMPARE(autoscaleSpy.count(), 0);
        settings.setMode(WorkerAsync::CpsVsTimeFreeRunning);
        settings.setAutoscale(false);
        QCOMPARE(modeSpy.count(), 1);
        QCOMPARE(autoscaleSpy.count(), 1);
        QCOMPARE(settings.mode(), WorkerAsync::CpsVsTimeFreeRunning);
        QCOMPARE(settings.autoscale(), false);
    }

    void seriesCompareByPointersInOrder()
    {
        Settings settings;
        QLineSeries a, b;
        QSignalSpy spy(&settings, &Settings::seriesChanged);

        settings.setSeries({});
        QCOMPARE(spy.count(), 0);
        settings.setSeries({&a, &b});
        QCOMPARE(spy.count(), 1);
        settings.setSeries({&a, &b});
        QCOMPARE(spy.count(), 1);
        settings.setSeries({&b, &a});
        QCOMPARE(spy.count(), 2);
        QCOMPARE(settings.series(), (QList<QAbstractSeries*>{&b, &a}));
        settings.setSeries({&b});
        QCOMPARE(spy.count(), 3);
        settings.setSeries({});
        QCOMPARE(spy.count(), 4);
        QVERIFY(settings.series().isEmpty());
    }

    void chartRectChangesOnlyWithAnotherObject()
    {
        Settings settings;
        MyChartRect* original = settings.chartRect();
        QSignalSpy spy(&settings, &Settings::chartRectChanged);

        settings.setChartRect(original);
        QCOMPARE(spy.count(), 0);

        // A rectangle with equal edges is still another object.
        auto* other = new MyChartRect(&settings);
        settings.setChartRect(other);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(settings.chartRect(), other);

        // The replaced rectangle is kept, not deleted.
        QPointer<MyChartRect> guard(original);
        settings.setChartRect(original);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard);
        QCOMPARE(spy.count(), 2);
    }

    void dateTimeEdgesStoreMillisecondsSinceTheEpoch()
    {
        MyChartRect rect;
        QSignalSpy leftSpy(&rect, &MyChartRect::leftChanged);
        QSignalSpy rightSpy(&rect, &MyChartRect::rightChanged);
        const QDateTime start(QDate(2024, 3, 1), QTime(12, 30, 15, 250), Qt::UTC);
        const QDateTime end = start.addSecs(60);

        rect.setLeft(start);
        rect.setRight(end);
        QCOMPARE(rect.left(), double(start.toMSecsSinceEpoch()));
        QCOMPARE(rect.right(), double(end.toMSecsSinceEpoch()));
        QCOMPARE(rect.right() - rect.left(), 60000.0);
        QCOMPARE(leftSpy.count(), 1);
        QCOMPARE(rightSpy.count(), 1);

        // The same instant in another time zone is the same edge.
        rect.setLeft(start.toLocalTime());
        QCOMPARE(leftSpy.count(), 1);
        rect.setRight(start);
        QCOMPARE(rightSpy.count(), 2);
    }

    void activeChannelAlwaysRebuildsTheRowsAndAnnounces()
    {
        DataProviderList list;
        list.appendItem(sspdRecord(3, 1.5e-5));
        list.appendItem(sspdRecord(7, 2e-6));
        DataModel::instance()->setList(&list);

        Settings settings;
        QSignalSpy changed(&settings, &Settings::activeChannelChanged);
        QSignalSpy reset(DataModel::instance()->driverModel(), &QAbstractItemModel::modelReset);

        settings.setActiveChannel(3);
        QCOMPARE(settings.activeChannel(), 3);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(DataModel::instance()->activeAddress(), 3);
        QCOMPARE(activeRowValue("current").toDouble(), 1.5e-5);

        // The record changes without any signal; writing the same channel again shows it.
        DataProviderItem changedRecord = list.items().at(0);
        changedRecord.insert("current", 2.25e-5);
        QVERIFY(list.setItemAt(0, changedRecord));
        settings.setActiveChannel(3);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(reset.count(), 2);
        QCOMPARE(activeRowValue("current").toDouble(), 2.25e-5);

        settings.setActiveChannel(7);
        QCOMPARE(changed.count(), 3);
        QCOMPARE(activeRowValue("current").toDouble(), 2e-6);

        DataModel::instance()->setList(nullptr);
    }

    void sweepParametersPointTheModelAtTheRows()
    {
        Settings settings;
        DriverDataModel* model = settings.SweepParameterModel();
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        QList<DriverDataItem> rows{
            DriverDataItem("from", "From:", 1.0, "Bias source", 2, true, 2, 1e6, -10, 10),
            DriverDataItem("to", "To:", 2.0, "Bias source", 2, true, 2, 1e6, -10, 10),
        };

        settings.setSweepParameters(&rows);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(settings.sweepParameters(), &rows);

        // The model shows the rows themselves, not a copy.
        QVERIFY(model->setData(model->index(1), 3.5, DriverDataModel::ValueRole));
        QCOMPARE(rows.at(1).value().toDouble(), 3.5);

        settings.setSweepParameters(nullptr);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(settings.sweepParameters(), &rows);
    }

    // Both ends in one change, so that the chart lays its series out once; a time axis takes
    // date-times as QML hands them over; anything but an axis is left alone.
    void axisRangeSetsBothEndsAtOnce()
    {
        Settings settings;
        QValueAxis values;
        values.setRange(0, 1);
        QSignalSpy ranges(&values, &QValueAxis::rangeChanged);
        QVERIFY(QMetaObject::invokeMethod(&settings, "setAxisRange", Q_ARG(QObject*, &values),
                                          Q_ARG(QVariant, 5.0), Q_ARG(QVariant, 7.0)));
        QCOMPARE(ranges.count(), 1);
        QCOMPARE(values.min(), 5.0);
        QCOMPARE(values.max(), 7.0);

        QDateTimeAxis times;
        const QDateTime from = QDateTime::fromMSecsSinceEpoch(1700000000000);
        settings.setAxisRange(&times, from, from.addSecs(60));
        QCOMPARE(times.min(), from);
        QCOMPARE(times.max(), from.addSecs(60));

        settings.setAxisRange(&settings, 1.0, 2.0);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
