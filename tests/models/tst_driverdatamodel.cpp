// Parameter rows: the row model over a list it does not own, the rows built for each module
// type from its device list record, and live values reaching the active module's rows.
#include "models/datamodel.h"
#include "models/dataproviderlist.h"
#include "models/driverdatamodel.h"
#include "models/driverrowtables.h"

#include <QAbstractItemModelTester>
#include <QPointF>
#include <QSignalSpy>
#include <QTest>

namespace {
using Model = DriverDataModel;

enum RowRole {
    NameRole = 257,
    ValueRole = 258,
    TypeRole = 259,
    GroupRole = 260,
    DisplayedNameRole = 261,
    VisibleRole = 262,
    ScaleRole = 263,
    PrecisionRole = 264,
    RangeRole = 265,
};

struct ExpectedRow
{
    QString name;
    QString displayedName;
    QString group;
    int type;
    int precision;
    double scale;
    QPointF range;
};

// Every SSPD row as a model 1 module shows it, plus the one row only model 0 has.
const QList<ExpectedRow>& sspdRows()
{
    static const QList<ExpectedRow> rows = {
        {"current", "Current (μA)", "Bias source", 2, 1, 1e6, {-100, 100}},
        {"currentMonitor", "Current monitor (μA)", "Bias source", 0, 1, 1e6, {-100, 100}},
        {"voltage", "Voltage (mV)", "Bias source", 0, 2, 1000, {0, 0}},
        {"status_shorted", "Shorted", "Bias source", 4, 0, 1, {0, 0}},
        {"status_amplifier_on", "Amplifier", "Read out", 4, 0, 1, {0, 0}},
        {"status_comparator_on", "Comparator", "Read out", 4, 0, 1, {0, 0}},
        {"cmp_ref_level", "Trigger (mV)", "Read out", 2, 0, 1000, {-100, 1000}},
        {"status_hfmode_on", "HF mode", "Read out", 4, 0, 1, {0, 0}},
        {"status_counter_on", "Counter on", "Counter", 4, 0, 1, {0, 0}},
        {"status_rfkey_to_cmp", "RF out to comparator", "Counter", 4, 0, 1, {0, 0}},
        {"time_const", "Time constant (sec)", "Counter", 2, 2, 1, {0.01, 100}},
        {"counts", "Counts", "Counter", 1, 4, 1, {0, 0}},
        {"cps", "Counts per seconds (1/sec)", "Counter", 1, 4, 1, {0, 0}},
        {"status_autoreset_on", "Auto reset on", "Auto reset system", 4, 0, 1, {0, 0}},
        {"auto_reset_threshold", "Threshold (V)", "Auto reset system", 2, 2, 1, {0, 1}},
        {"auto_reset_time_out", "Time out (sec)", "Auto reset system", 2, 2, 1, {0.01, 1}},
        {"auto_reset_counts", "Auto reset events count", "Auto reset system", 0, 0, 1, {0, 0}},
    };
    return rows;
}

const QList<ExpectedRow>& temperatureRows()
{
    static const QList<ExpectedRow> rows = {
        {"temperature", "Temperature (K)", "Temperature", 0, 2, 1, {0, 0}},
        {"operate", "Commutator", "Temperature", 4, 0, 1, {0, 0}},
        {"temperature_sensor_current", "Current (μA)", "Advanced", 2, 1, 1e6, {0, 25}},
        {"temperature_sensor_voltage", "Voltage (V)", "Advanced", 0, 3, 1, {0, 0}},
        {"pressure_sensor_voltage_pos", "Pressure sensor P (V)", "Advanced", 0, 3, 1, {0, 0}},
        {"pressure_sensor_voltage_neg", "Pressure sensor N (V)", "Advanced", 0, 3, 1, {0, 0}},
        {"pressure", "Pressure (mbar)", "Advanced", 0, 3, 1, {0, 0}},
    };
    return rows;
}

QList<ExpectedRow> expectedRows(int type)
{
    QList<ExpectedRow> rows;
    if (type == 2)
        return temperatureRows();
    if (type != 0 && type != 1)
        return rows;
    for (const ExpectedRow& row : sspdRows()) {
        if (type == 0 && (row.name == "currentMonitor" || row.name == "status_hfmode_on"))
            continue;
        if (type == 1 && row.name == "status_rfkey_to_cmp")
            continue;
        rows << row;
    }
    return rows;
}

DataProviderItem sspdRecord(int address, int type)
{
    return {{"address", address},
            {"type", type},
            {"status", 0},
            {"current", 1.5e-5},
            {"voltage", 0.012},
            {"status_shorted", 1},
            {"status_amplifier_on", 0},
            {"cmp_ref_level", 0.2},
            {"time_const", 1},
            {"cps", 0}};
}

DataProviderItem temperatureRecord(int address, int type)
{
    return {{"address", address}, {"type", type},    {"status", 0},
            {"temperature", 4.2}, {"operate", true}, {"pressure", 0}};
}

QList<DriverDataItem> ownRows()
{
    return {
        DriverDataItem("current", "Current (μA)", 1e-6, "Bias source", Model::DriverDataTypeDouble,
                       true, 1, 1e6, -100, 100),
        DriverDataItem("voltage", "", 0.01, "Bias source", Model::DriverDataTypeConstantDoubleFixed,
                       true, 2, 1000, 0, 0),
        DriverDataItem::boolItem("operate", "Commutator", 1, "Temperature"),
    };
}
} // namespace

class TestDriverDataModel : public QObject
{
    Q_OBJECT

    DataModel* dataModel = nullptr;
    DataProviderList* list = nullptr;
    QAbstractItemModelTester* tester = nullptr;

    DriverDataModel* panel() const { return dataModel->driverModel(); }
    QVariant panelValue(const QString& name) const
    {
        for (int row = 0; row < panel()->rowCount(); ++row) {
            const QModelIndex index = panel()->index(row);
            if (index.data(NameRole).toString() == name)
                return index.data(ValueRole);
        }
        return QVariant();
    }
    int panelRow(const QString& name) const
    {
        for (int row = 0; row < panel()->rowCount(); ++row) {
            if (panel()->index(row).data(NameRole).toString() == name)
                return row;
        }
        return -1;
    }

private slots:
    void init()
    {
        dataModel = DataModel::instance();
        list = new DataProviderList(this);
        list->appendItem(sspdRecord(1, 0));
        list->appendItem(sspdRecord(2, 1));
        list->appendItem(temperatureRecord(3, 2));
        list->appendItem(temperatureRecord(4, 3));
        list->appendItem({{"address", 5}, {"type", 4}});
        dataModel->setList(list);
        tester = new QAbstractItemModelTester(
            panel(), QAbstractItemModelTester::FailureReportingMode::QtTest, this);
    }
    void cleanup()
    {
        delete tester;
        tester = nullptr;
        dataModel->setList(nullptr);
        delete list;
        list = nullptr;
    }

    void rolesAreTheNineRowFields()
    {
        const QHash<int, QByteArray> roles = Model().roleNames();
        const QHash<int, QByteArray> expected = {
            {257, "name"},  {258, "value"},         {259, "type"},
            {260, "group"}, {261, "displayedName"}, {262, "visible"},
            {263, "scale"}, {264, "precision"},     {265, "range"},
        };
        QCOMPARE(roles, expected);
    }

    void rowsFollowTheModuleType_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::newRow("SSPD model 0") << 1 << 0 << 15;
        QTest::newRow("SSPD model 1") << 2 << 1 << 16;
        QTest::newRow("temperature model 0") << 3 << 2 << 7;
        QTest::newRow("temperature model 1") << 4 << 3 << 0;
        QTest::newRow("unknown module") << 5 << 4 << 0;
    }
    void rowsFollowTheModuleType()
    {
        QFETCH(int, address);
        QFETCH(int, type);
        QFETCH(int, count);
        // Start from another module so that every row set is really built.
        dataModel->setActiveDriver(address == 2 ? 3 : 2);
        QSignalSpy reset(panel(), &QAbstractItemModel::modelReset);
        dataModel->setActiveDriver(address);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(dataModel->activeAddress(), address);
        QCOMPARE(panel()->rowCount(), count);
        const QList<ExpectedRow> expected = expectedRows(type);
        QCOMPARE(expected.size(), count);
        for (int row = 0; row < count; ++row) {
            const QModelIndex index = panel()->index(row);
            const ExpectedRow& e = expected.at(row);
            QCOMPARE(index.data(NameRole).toString(), e.name);
            QCOMPARE(index.data(DisplayedNameRole).toString(), e.displayedName);
            QCOMPARE(index.data(GroupRole).toString(), e.group);
            QCOMPARE(index.data(TypeRole).toInt(), e.type);
            QCOMPARE(index.data(PrecisionRole).toInt(), e.precision);
            QCOMPARE(index.data(ScaleRole).toDouble(), e.scale);
            QCOMPARE(index.data(RangeRole).toPointF(), e.range);
            QCOMPARE(index.data(VisibleRole).toBool(), true);
        }
    }

    void rowsTakeTheRecordsValues()
    {
        dataModel->setActiveDriver(1);
        QCOMPARE(panelValue("current"), QVariant(1.5e-5));
        QCOMPARE(panelValue("cmp_ref_level"), QVariant(0.2));
        // Switch rows hold bools whatever the record holds.
        QCOMPARE(panelValue("status_shorted").typeId(), QMetaType::Bool);
        QCOMPARE(panelValue("status_shorted"), QVariant(true));
        QCOMPARE(panelValue("status_amplifier_on"), QVariant(false));
        QCOMPARE(panelValue("status_counter_on"), QVariant(false));
        // A key the record lacks.
        QVERIFY(!panelValue("counts").isValid());

        dataModel->setActiveDriver(3);
        QCOMPARE(panelValue("temperature"), QVariant(4.2));
        QCOMPARE(panelValue("operate"), QVariant(true));
    }

    void rangeReadsAsAPoint()
    {
        dataModel->setActiveDriver(2);
        const QVariant range = panel()->index(panelRow("current")).data(RangeRole);
        QCOMPARE(range.typeId(), QMetaType::QPointF);
        QCOMPARE(range.toPointF(), QPointF(-100, 100));
    }

    void flagsFollowTheRowType()
    {
        dataModel->setActiveDriver(1);
        QVERIFY(!panel()->flags(panel()->index(panelRow("voltage"))).testFlag(Qt::ItemIsEditable));
        QVERIFY(panel()->flags(panel()->index(panelRow("counts"))).testFlag(Qt::ItemIsEditable));
        QVERIFY(panel()->flags(panel()->index(panelRow("current"))).testFlag(Qt::ItemIsEditable));
        QVERIFY(panel()
                    ->flags(panel()->index(panelRow("status_shorted")))
                    .testFlag(Qt::ItemIsEditable));
        QVERIFY(panel()->flags(panel()->index(panelRow("voltage"))).testFlag(Qt::ItemIsEnabled));
        QCOMPARE(panel()->flags(QModelIndex()), Qt::NoItemFlags);

        Model empty;
        QCOMPARE(empty.rowCount(), 0);
        QCOMPARE(empty.flags(empty.index(0)), Qt::NoItemFlags);
    }

    void unknownAddressLeavesThePanelAsItWas()
    {
        dataModel->setActiveDriver(3);
        QSignalSpy reset(panel(), &QAbstractItemModel::modelReset);
        dataModel->setActiveDriver(42);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(panel()->rowCount(), 7);
        QCOMPARE(panel()->index(0).data(NameRole).toString(), QString("temperature"));
    }

    void duplicateAddressesTakeTheLastRecord()
    {
        list->appendItem(temperatureRecord(1, 2));
        dataModel->setActiveDriver(1);
        QCOMPARE(panel()->rowCount(), 7);
    }

    void activeModuleUpdatesReachItsRows()
    {
        dataModel->setActiveDriver(2);
        const int currentRow = panelRow("current");
        QSignalSpy changed(panel(), &QAbstractItemModel::dataChanged);

        list->updateItem({{"address", 2}, {"current", 2e-5}, {"cps", 0}});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), currentRow);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>({ValueRole}));
        QCOMPARE(panelValue("current"), QVariant(2e-5));

        // Another module's reading leaves the panel alone.
        list->updateItem({{"address", 1}, {"current", 3e-5}});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(panelValue("current"), QVariant(2e-5));
    }

    void updateValuesAnnouncesOnlyRealChanges()
    {
        QList<DriverDataItem> rows = ownRows();
        Model model;
        QAbstractItemModelTester check(&model,
                                       QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setList(&rows);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        model.updateValues({"current"}, {{"current", 1e-6}, {"voltage", 0.5}});
        QCOMPARE(changed.count(), 0);
        // Read-back noise far below any shown digit is no change.
        model.updateValues({"current"}, {{"current", 1e-6 * (1 + 1e-14)}});
        QCOMPARE(changed.count(), 0);

        model.updateValues({"current"}, {{"current", 2e-6}, {"voltage", 0.5}});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 0);
        QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 0);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>({ValueRole}));
        QCOMPARE(rows.at(0).value(), QVariant(2e-6));
        // "voltage" was not among the keys.
        QCOMPARE(rows.at(1).value(), QVariant(0.01));

        // A named key the record lacks clears the value.
        model.updateValues({"voltage"}, {});
        QCOMPARE(changed.count(), 2);
        QVERIFY(!rows.at(1).value().isValid());

        // An integer reading equal to the bool a switch row holds is no change.
        model.updateValues({"operate"}, {{"operate", 1}});
        QCOMPARE(changed.count(), 2);
    }

    void displayedNameFallsBackToName()
    {
        QList<DriverDataItem> rows = ownRows();
        Model model;
        model.setList(&rows);
        QCOMPARE(model.index(1).data(DisplayedNameRole).toString(), QString("voltage"));
        QCOMPARE(model.index(0).data(DisplayedNameRole).toString(), QString("Current (μA)"));
    }

    void onlyTheValueRoleIsWritable()
    {
        QList<DriverDataItem> rows = ownRows();
        Model model;
        model.setList(&rows);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        QVERIFY(!model.setData(model.index(0), "other", NameRole));
        QVERIFY(!model.setData(model.index(0), 5, PrecisionRole));
        QVERIFY(!model.setData(model.index(0), 1.0, Qt::EditRole));
        QCOMPARE(rows.at(0).name(), QString("current"));
        QCOMPARE(rows.at(0).precision(), 1);
        QCOMPARE(changed.count(), 0);

        QVERIFY(model.setData(model.index(0), 5e-6, ValueRole));
        QCOMPARE(rows.at(0).value(), QVariant(5e-6));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>({ValueRole}));

        QVERIFY(!model.setData(QModelIndex(), 1.0, ValueRole));
        QVERIFY(!model.setData(model.index(3), 1.0, ValueRole));
        Model empty;
        QVERIFY(!empty.setData(empty.index(0), 1.0, ValueRole));
    }

    void dataOutsideTheRowsIsInvalid()
    {
        QList<DriverDataItem> rows = ownRows();
        Model model;
        model.setList(&rows);
        QVERIFY(!model.data(QModelIndex(), NameRole).isValid());
        QVERIFY(!model.data(model.index(0), Qt::DisplayRole).isValid());
        QVERIFY(!model.data(model.index(0), 266).isValid());
        QCOMPARE(model.rowCount(model.index(0)), 0);
        Model empty;
        QVERIFY(!empty.data(empty.index(0), NameRole).isValid());
    }

    void nullListKeepsTheRowsShown()
    {
        QList<DriverDataItem> rows = ownRows();
        Model model;
        model.setList(&rows);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.setList(nullptr);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(model.rowCount(), 3);
    }

    void boolRowConvenience()
    {
        const DriverDataItem row = DriverDataItem::boolItem("operate", "Commutator", 1, "T");
        QCOMPARE(row.type(), int(Model::DriverDataTypeBool));
        QCOMPARE(row.value().typeId(), QMetaType::Bool);
        QCOMPARE(row.value(), QVariant(true));
        QVERIFY(row.visible());
        QCOMPARE(row.precision(), 0);
        QCOMPARE(row.scale(), 1.0);
        QCOMPARE(row.range(), QPointF(0, 0));
    }

    void appendDriverRowsAppends()
    {
        QList<DriverDataItem> rows = ownRows();
        appendDriverRows(rows, temperatureRecord(9, 2));
        QCOMPARE(rows.size(), 3 + 7);
        QCOMPARE(rows.at(3).name(), QString("temperature"));
        appendDriverRows(rows, {{"address", 9}});
        QCOMPARE(rows.size(), 10);
    }
};

QTEST_GUILESS_MAIN(TestDriverDataModel)
#include "tst_driverdatamodel.moc"
