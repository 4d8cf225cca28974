// The device list and its list model (roles grown from record keys, merged readings, the
// status flash), the parameter rows of the active module, and the default sweep rows.
#include "models/datamodel.h"
#include "models/dataproviderlist.h"
#include "models/driverdatamodel.h"
#include "models/sweepparameterlists.h"

#include <QAbstractItemModelTester>
#include <QPointF>
#include <QSignalSpy>
#include <QTest>

namespace {

using Rows = DriverDataModel;

DataProviderItem record(int address, int type, int status = DataProviderList::DeviceStatusIdle)
{
    return {{"address", address}, {"type", type}, {"status", status}, {"selected", false},
            {"restore", false},   {"cps", 0},     {"current", 0}};
}

// "name scale range" of each row (the name alone for scale 1 and no range), so that a wrong
// unit scale or limit shows.
QStringList described(const QAbstractItemModel* model)
{
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex i = model->index(row, 0);
        const QPointF range = i.data(Rows::RangeRole).toPointF();
        const double scale = i.data(Rows::ScaleRole).toDouble();
        rows << i.data(Rows::NameRole).toString();
        if (scale != 1 || !range.isNull())
            rows.last() += QStringLiteral(" %1 %2..%3").arg(scale).arg(range.x()).arg(range.y());
    }
    return rows;
}

QList<DriverDataItem> ownRows()
{
    return {DriverDataItem("current", "Current (μA)", 1e-6, "Bias source",
                           Rows::DriverDataTypeDouble, true, 1, 1e6, -100, 100),
            DriverDataItem("voltage", "", 0.01, "Bias source",
                           Rows::DriverDataTypeConstantDoubleFixed, true, 2, 1000, 0, 0),
            DriverDataItem::boolItem("operate", "Commutator", 1, "Temperature")};
}

} // namespace

class TestDataModels : public QObject
{
    Q_OBJECT

    DataModel* model = nullptr;
    DataProviderList* list = nullptr;
    QAbstractItemModelTester* tester = nullptr;
    QAbstractItemModelTester* panelTester = nullptr;

    int role(const QString& name) const { return model->roleNames().key(name.toLatin1(), -1); }
    DriverDataModel* panel() const { return model->driverModel(); }
    QVariant panelValue(const QString& name) const
    {
        for (int row = 0; row < panel()->rowCount(); ++row)
            if (panel()->index(row).data(Rows::NameRole).toString() == name)
                return panel()->index(row).data(Rows::ValueRole);
        return {};
    }
    // Fills the list the way the worker does after an inventory: append, then announce.
    void fill(const QList<DataProviderItem>& records)
    {
        list->removeAll();
        for (const DataProviderItem& r : records)
            list->appendItem(r);
        emit list->updated();
    }

private slots:
    void init()
    {
        model = DataModel::instance();
        model->setStatusFlashInterval(10);
        list = new DataProviderList(this);
        model->setList(list);
        tester = new QAbstractItemModelTester(
            model, QAbstractItemModelTester::FailureReportingMode::QtTest, this);
        panelTester = new QAbstractItemModelTester(
            panel(), QAbstractItemModelTester::FailureReportingMode::QtTest, this);
    }
    void cleanup()
    {
        delete tester;
        delete panelTester;
        model->setList(nullptr);
        delete list;
    }

    void rolesGrowFromKeysAndKeepTheirNumbersUntilTheListEmpties()
    {
        list->appendItem({{"address", 1}, {"type", 2}, {"temperature", 4.2}});
        list->appendItem({{"address", 2}, {"cps", 10}, {"type", 0}});
        emit list->updated();
        // Keys of the first record in map order, then keys new in later records.
        QCOMPARE(model->roleNames(),
                 (QHash<int, QByteArray>{
                     {256, "address"}, {257, "temperature"}, {258, "type"}, {259, "cps"}}));
        list->removeItem(0);
        list->appendItem({{"address", 3}, {"operate", true}});
        emit list->updated();
        QCOMPARE(role("temperature"), 257);
        QCOMPARE(model->data(model->index(1), 260), QVariant(true));
        list->removeAll();
        emit list->updated();
        QVERIFY(model->roleNames().isEmpty());
        list->appendItem({{"cps", 1}});
        emit list->updated();
        QCOMPARE(role("cps"), 256);
    }

    // The model follows its list's rows (indexes beyond them change nothing), and leaves a
    // list it no longer shows, and a destroyed list, alone.
    void listsComeAndGo()
    {
        QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
        fill({record(1, 0), record(2, 1), record(3, 2)});
        list->removeItem(3);
        list->removeItem(-1);
        QVERIFY(!list->setItemAt(3, record(6, 0)) && !list->setItemAt(-1, record(6, 0)));
        QVERIFY(list->setItemAt(0, record(6, 0)));
        QCOMPARE(model->data(0, "address"), QVariant(6));
        QCOMPARE(model->rowCount(), 3);
        list->removeAll();
        QCOMPARE(removed.count(), 3);
        DataProviderList other;
        other.appendItem(record(7, 1));
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        model->setList(&other);
        model->setList(&other);
        QCOMPARE(reset.count(), 1);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        list->appendItem(record(1, 0));
        QCOMPARE(inserted.count(), 0);
        auto* doomed = new DataProviderList;
        doomed->appendItem(record(4, 0));
        model->setList(doomed);
        delete doomed;
        QVERIFY(!model->list() && model->rowCount() == 0 && model->roleNames().isEmpty());
        QVERIFY(!model->setData(model->index(0), 1, 256) && !model->data(0, "address").isValid());
        model->selectAll(true);
        model->setList(list);
    }

    void readingsMergeOnlyKnownKeysIntoTheFirstMatch()
    {
        fill({record(5, 0), record(6, 0), record(5, 1)});
        QSignalSpy updated(list, &DataProviderList::dataUpdated);
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        list->updateItem({{"address", 5}, {"cps", 12.5}, {"current", 1e-6}, {"unknown_key", 1}});
        QCOMPARE(updated.count(), 1);
        QCOMPARE(updated.at(0).at(0).toInt(), 0);
        QCOMPARE(updated.at(0).at(1).toStringList(), QStringList({"address", "cps", "current"}));
        QCOMPARE(list->items().at(0).value("cps"), QVariant(12.5));
        QVERIFY(!list->items().at(0).contains("unknown_key"));
        QCOMPARE(list->items().at(2).value("cps"), QVariant(0)); // later records stay
        // Only the changed roles are refreshed, never the address.
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 0);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>().size(), 2);
        QVERIFY(changed.at(0).at(2).value<QList<int>>().contains(role("current")));

        // Only the address matches: reported with nothing but the address, refreshing nothing
        // (an empty role list would mean every role).
        list->updateItem({{"address", 6}, {"pressure", 1e-3}});
        QCOMPARE(updated.at(1).at(1).toStringList(), QStringList({"address"}));
        QCOMPARE(changed.count(), 1);
        emit list->dataUpdated(7, {"cps"}); // a row the list does not have
        QCOMPARE(changed.count(), 1);
        // No match, or no address: nothing at all.
        list->updateItem({{"address", 9}, {"cps", 1}});
        list->updateItem({{"cps", 1}});
        QCOMPARE(updated.count(), 3); // with the one emitted above
    }

    void activeStatusFlashesBackToIdle()
    {
        fill({record(5, 0), record(6, 0)});
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        list->updateItem({{"address", 5}, {"status", 1}});
        QCOMPARE(model->data(0, "status").toInt(), 1);
        QTRY_COMPARE(model->data(0, "status").toInt(), 0);
        QCOMPARE(list->items().at(0).value("status").toInt(), 0);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(2).value<QList<int>>(), QList<int>({role("status")}));

        // A fault before the flash ends stays lit; module 6 flashes as a marker.
        list->updateItem({{"address", 5}, {"status", 1}});
        list->updateItem({{"address", 5}, {"status", 2}});
        list->updateItem({{"address", 6}, {"status", 1}});
        QTRY_COMPARE(model->data(1, "status").toInt(), 0);
        QCOMPARE(model->data(0, "status").toInt(), 2);

        // The unit's list is rebuilt before the flash ends: row 0 is now another module.
        list->updateItem({{"address", 5}, {"status", 1}});
        fill({record(8, 0, DataProviderList::DeviceStatusActive), record(6, 0)});
        list->updateItem({{"address", 6}, {"status", 1}});
        QTRY_COMPARE(model->data(1, "status").toInt(), 0);
        QCOMPARE(model->data(0, "status").toInt(), 1);
    }

    void dataAndSetDataCheckRowAndRole()
    {
        fill({record(5, 1), {{"address", 6}, {"temperature", 3.5}}});
        QCOMPARE(model->data(1, "temperature"), QVariant(3.5));
        for (const auto& [row, name] : QList<std::pair<int, QString>>{
                 {0, "no_such_key"}, {-1, "type"}, {2, "type"}, {1, "type"}})
            QVERIFY(!model->data(row, name).isValid());
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        QVERIFY(model->setData(model->index(0), true, role("selected")));
        QCOMPARE(list->items().at(0).value("selected"), QVariant(true));
        // Row 1 has no "selected": nothing is stored, so nothing is reported as stored.
        QVERIFY(!model->setData(model->index(1), true, role("selected")));
        QVERIFY(!model->setData(model->index(0), 1, 256 + model->roleNames().size()));
        QCOMPARE(changed.count(), 1);
        model->selectAll(false);
        QCOMPARE(model->data(0, "selected"), QVariant(false));
        QVERIFY(!list->items().at(1).contains("selected"));
    }

    void parameterRowsFollowTheModuleType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("rows");
        const QString readOut = "voltage 1000 0..0 status_shorted status_amplifier_on "
                                "status_comparator_on cmp_ref_level 1000 -100..1000 ";
        const QString tail = "time_const 1 0.01..100 counts cps status_autoreset_on "
                             "auto_reset_threshold 1 0..1 auto_reset_time_out 1 0.01..1 "
                             "auto_reset_counts";
        QTest::newRow("SSPD model 0") << 0
                                      << "current 1e+06 -100..100 " + readOut +
                                             "status_counter_on status_rfkey_to_cmp " + tail;
        QTest::newRow("SSPD model 1") << 1
                                      << "current 1e+06 -100..100 currentMonitor 1e+06 -100..100 " +
                                             readOut + "status_hfmode_on status_counter_on " + tail;
        QTest::newRow("temperature model 0")
            << 2
            << QString("temperature operate temperature_sensor_current 1e+06 0..25 "
                       "temperature_sensor_voltage pressure_sensor_voltage_pos "
                       "pressure_sensor_voltage_neg pressure");
        QTest::newRow("temperature model 1") << 3 << QString();
        QTest::newRow("unknown module") << 4 << QString();
    }
    void parameterRowsFollowTheModuleType()
    {
        QFETCH(int, type);
        QFETCH(QString, rows);
        fill({{{"address", 9}, {"type", 2}}, {{"address", 1}, {"type", type}}});
        model->setActiveDriver(9);
        QSignalSpy reset(panel(), &QAbstractItemModel::modelReset);
        model->setActiveDriver(1);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model->activeAddress(), 1);
        QCOMPARE(described(panel()).join(' '), rows);
        // An unknown address leaves the panel as it was.
        model->setActiveDriver(42);
        QCOMPARE(reset.count(), 1);
    }

    void parameterRowsShowTheActiveRecord()
    {
        fill({{{"address", 1}, {"type", 0}, {"current", 1.5e-5}, {"status_shorted", 1}},
              {{"address", 2}, {"type", 0}, {"current", 3e-5}}});
        model->setActiveDriver(1);
        QCOMPARE(panelValue("current"), QVariant(1.5e-5));
        // Switch rows hold bools whatever the record holds; a key the record lacks is empty.
        QCOMPARE(panelValue("status_shorted"), QVariant(true));
        QCOMPARE(panelValue("status_amplifier_on"), QVariant(false));
        QVERIFY(!panelValue("counts").isValid());
        // Constants are not editable.
        QVERIFY(!panel()->flags(panel()->index(1)).testFlag(Qt::ItemIsEditable));
        // The active module's readings reach its rows; another module's do not.
        QSignalSpy changed(panel(), &QAbstractItemModel::dataChanged);
        list->updateItem({{"address", 1}, {"current", 2e-5}, {"cps", 0}});
        list->updateItem({{"address", 2}, {"current", 3e-5}});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>({Rows::ValueRole}));
        QCOMPARE(panelValue("current"), QVariant(2e-5));
        // Duplicate addresses take the last record.
        list->appendItem({{"address", 1}, {"type", 2}});
        model->setActiveDriver(1);
        QCOMPARE(panel()->rowCount(), 7);
    }

    void rowModelAnnouncesOnlyRealChanges()
    {
        QList<DriverDataItem> rows = ownRows();
        DriverDataModel rowModel;
        rowModel.setList(&rows);
        QSignalSpy changed(&rowModel, &QAbstractItemModel::dataChanged);
        rowModel.updateValues({"current"}, {{"current", 1e-6}, {"voltage", 0.5}});
        // Read-back noise far below any shown digit is no change.
        rowModel.updateValues({"current"}, {{"current", 1e-6 * (1 + 1e-14)}});
        // An integer reading equal to the bool a switch row holds is no change.
        rowModel.updateValues({"operate"}, {{"operate", 1}});
        QCOMPARE(changed.count(), 0);
        rowModel.updateValues({"current"}, {{"current", 2e-6}, {"voltage", 0.5}});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(rows.at(0).value(), QVariant(2e-6));
        QCOMPARE(rows.at(1).value(), QVariant(0.01)); // "voltage" was not among the keys
        // A named key the record lacks clears the value.
        rowModel.updateValues({"voltage"}, {});
        QVERIFY(!rows.at(1).value().isValid());
        QCOMPARE(rowModel.index(1).data(Rows::DisplayedNameRole), QVariant("voltage"));
        // Only the value role is writable, and only within the rows.
        QVERIFY(!rowModel.setData(rowModel.index(0), "other", Rows::NameRole));
        QVERIFY(!rowModel.setData(rowModel.index(3), 1.0, Rows::ValueRole));
        QVERIFY(rowModel.setData(rowModel.index(0), 5e-6, Rows::ValueRole));
        QCOMPARE(rows.at(0).value(), QVariant(5e-6));
        // A null list keeps the rows shown.
        rowModel.setList(nullptr);
        QCOMPARE(rowModel.rowCount(), 3);
    }

    void sweepDefaults_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QVariantList>("values");
        const QStringList bias = {"from 1e+06 -1000..1000", "to 1e+06 -1000..1000",
                                  "step 1e+06 0..1000"};
        const QString tc = "time_constant 1 0.01..10";
        const QString position = "current";
        QTest::newRow("counts vs current")
            << 5 << bias + QStringList{"trigger 1000 0..5000", tc, position}
            << QVariantList{1.5e-5, 2.5e-5, 1e-7, 0.1, 1, 0};
        QTest::newRow("counts vs trigger")
            << 6
            << QStringList{"from 1000 -3000..3000", "to 1000 -3000..3000", "step 1000 0..3000", tc,
                           position}
            << QVariantList{0, 0.2, 0.005, 1, 0};
        QTest::newRow("IV curve") << 7 << bias + QStringList{tc, position}
                                  << QVariantList{1.5e-5, 2.5e-5, 1e-7, 1, 0};
        QTest::newRow("histogram")
            << 8 << QStringList{"from 1 0..1e+09", "to 1 0..1e+09", "step 1 0..1e+09", tc, position}
            << QVariantList{0, 1000.0, 1, 1, 0};
    }
    void sweepDefaults()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, rows);
        QFETCH(QVariantList, values);
        QMap<int, QList<DriverDataItem>> lists = defaultSweepParameterLists();
        QCOMPARE(lists.keys(), QList<int>({5, 6, 7, 8}));
        DriverDataModel rowModel;
        rowModel.setList(&lists[mode]);
        QCOMPARE(described(&rowModel), rows);
        for (int i = 0; i < values.size(); ++i) {
            // Integer defaults stay integers: the panel shows them without a decimal part.
            QCOMPARE(lists[mode].at(i).value().typeId(), values.at(i).typeId());
            QCOMPARE(lists[mode].at(i).value(), values.at(i));
        }
        // The running position is hidden.
        QVERIFY(!lists[mode].last().visible() && lists[mode].first().visible());
        // Edits stay in the list across model switches.
        QVERIFY(rowModel.setData(rowModel.index(1), 5000, Rows::ValueRole));
        rowModel.setList(&lists[mode == 5 ? 6 : 5]);
        rowModel.setList(&lists[mode]);
        QCOMPARE(rowModel.index(1).data(Rows::ValueRole), QVariant(5000));
    }
};

QTEST_GUILESS_MAIN(TestDataModels)
#include "tst_datamodels.moc"
