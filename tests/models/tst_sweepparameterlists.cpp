// The default parameter rows of the four sweeps and how the row model shows and edits them.
#include "models/driverdatamodel.h"
#include "models/sweepparameterlists.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr int ModeCpsVersCurrent = 5;
constexpr int ModeCpsVersTrigger = 6;
constexpr int ModeIVCurves = 7;
constexpr int ModeHistogram = 8;

constexpr int ValueRole = 258;
constexpr int DisplayedNameRole = 261;
constexpr int VisibleRole = 262;

QStringList names(const QList<DriverDataItem>& rows)
{
    QStringList result;
    for (const DriverDataItem& row : rows)
        result << row.name();
    return result;
}

const DriverDataItem* find(const QList<DriverDataItem>& rows, const QString& name)
{
    for (const DriverDataItem& row : rows) {
        if (row.name() == name)
            return &row;
    }
    return nullptr;
}
} // namespace

class TestSweepParameterLists : public QObject
{
    Q_OBJECT

    QMap<int, QList<DriverDataItem>> lists;

private slots:
    void init() { lists = defaultSweepParameterLists(); }

    void oneListPerSweepMode()
    {
        QCOMPARE(lists.keys(), QList<int>({5, 6, 7, 8}));
        QCOMPARE(names(lists.value(ModeCpsVersCurrent)),
                 QStringList({"from", "to", "step", "trigger", "time_constant", "current"}));
        QCOMPARE(names(lists.value(ModeCpsVersTrigger)),
                 QStringList({"from", "to", "step", "time_constant", "current"}));
        QCOMPARE(names(lists.value(ModeIVCurves)),
                 QStringList({"from", "to", "step", "time_constant", "current"}));
        QCOMPARE(names(lists.value(ModeHistogram)),
                 QStringList({"from", "to", "step", "time_constant", "current"}));
    }

    void rowsOfEveryList_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("displayedName");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("precision");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QPointF>("range");

        const QString bias = "Bias source";
        for (int mode : {ModeCpsVersCurrent, ModeIVCurves}) {
            const QByteArray m = QByteArray::number(mode) + " ";
            QTest::newRow(m + "from") << mode << "from"
                                      << "From (μA):" << bias << QVariant(1.5e-5) << 2 << 2 << 1e6
                                      << QPointF(-1000, 1000);
            QTest::newRow(m + "to")
                << mode << "to"
                << "To (μA):" << bias << QVariant(2.5e-5) << 2 << 2 << 1e6 << QPointF(-1000, 1000);
            QTest::newRow(m + "step")
                << mode << "step"
                << "Step (μA):" << bias << QVariant(1e-7) << 2 << 2 << 1e6 << QPointF(0, 1000);
            QTest::newRow(m + "time_constant") << mode << "time_constant"
                                               << "Time Constant (sec):" << bias << QVariant(1) << 2
                                               << 2 << 1.0 << QPointF(0.01, 10);
        }
        QTest::newRow("5 trigger") << ModeCpsVersCurrent << "trigger"
                                   << "Stop trigger (mV):" << bias << QVariant(0.1) << 2 << 0
                                   << 1000.0 << QPointF(0, 5000);

        const int t = ModeCpsVersTrigger;
        QTest::newRow("6 from") << t << "from"
                                << "From (mV):" << bias << QVariant(0) << 2 << 0 << 1000.0
                                << QPointF(-3000, 3000);
        QTest::newRow("6 to") << t << "to"
                              << "To (mV):" << bias << QVariant(0.2) << 2 << 0 << 1000.0
                              << QPointF(-3000, 3000);
        QTest::newRow("6 step") << t << "step"
                                << "Step (mV):" << bias << QVariant(0.005) << 2 << 0 << 1000.0
                                << QPointF(0, 3000);
        QTest::newRow("6 time_constant")
            << t << "time_constant"
            << "Time Constant (sec):" << bias << QVariant(1) << 2 << 2 << 1.0 << QPointF(0.01, 10);

        const int h = ModeHistogram;
        const QString histogram = "Histogram";
        QTest::newRow("8 from") << h << "from"
                                << "From  (cps):" << histogram << QVariant(0) << 3 << 2 << 1.0
                                << QPointF(0, 1e9);
        QTest::newRow("8 to") << h << "to"
                              << "To (cps):" << histogram << QVariant(1000.0) << 3 << 2 << 1.0
                              << QPointF(0, 1e9);
        QTest::newRow("8 step") << h << "step"
                                << "Bin width:" << histogram << QVariant(1) << 3 << 2 << 1.0
                                << QPointF(0, 1e9);
        QTest::newRow("8 time_constant") << h << "time_constant"
                                         << "Time Constant (sec):" << histogram << QVariant(1) << 2
                                         << 2 << 1.0 << QPointF(0.01, 10);
    }
    void rowsOfEveryList()
    {
        QFETCH(int, mode);
        QFETCH(QString, name);
        QFETCH(QString, displayedName);
        QFETCH(QString, group);
        QFETCH(QVariant, value);
        QFETCH(int, type);
        QFETCH(int, precision);
        QFETCH(double, scale);
        QFETCH(QPointF, range);

        const DriverDataItem* row = find(lists.value(mode), name);
        QVERIFY(row);
        QCOMPARE(row->displayedName(), displayedName);
        QCOMPARE(row->group(), group);
        // Integer defaults stay integers: the panel shows them without a decimal part.
        QCOMPARE(row->value().typeId(), value.typeId());
        QCOMPARE(row->value(), value);
        QCOMPARE(row->type(), type);
        QCOMPARE(row->precision(), precision);
        QCOMPARE(row->scale(), scale);
        QCOMPARE(row->range(), range);
        QVERIFY(row->visible());
    }

    void runningPositionIsAHiddenIntegerZero()
    {
        for (auto it = lists.cbegin(); it != lists.cend(); ++it) {
            const DriverDataItem& row = it.value().last();
            QCOMPARE(row.name(), QString("current"));
            QVERIFY(!row.visible());
            QVERIFY(row.displayedName().isEmpty());
            QVERIFY(row.group().isEmpty());
            QCOMPARE(row.value().typeId(), QMetaType::Int);
            QCOMPARE(row.value(), QVariant(0));
            QCOMPARE(row.type(), int(DriverDataModel::DriverDataTypeConstantDoublePrecision));
            QCOMPARE(row.precision(), 2);
            QCOMPARE(row.scale(), 1.0);
            QCOMPARE(row.range(), QPointF(0, 0));
        }
    }

    void ivCurvePanelHasFiveRowsAndNoStopTrigger()
    {
        DriverDataModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setList(&lists[ModeIVCurves]);
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.index(4).data(VisibleRole), QVariant(false));
        QCOMPARE(model.index(4).data(DisplayedNameRole), QVariant("current"));
        QVERIFY(!find(lists.value(ModeIVCurves), "trigger"));
    }

    void triggerSweepShowsMillivolts()
    {
        const QList<DriverDataItem>& rows = lists[ModeCpsVersTrigger];
        QCOMPARE(find(rows, "from")->value().typeId(), QMetaType::Int);
        QCOMPARE(find(rows, "from")->value().toDouble() * find(rows, "from")->scale(), 0.0);
        QCOMPARE(find(rows, "to")->value().toDouble() * find(rows, "to")->scale(), 200.0);
        QCOMPARE(find(rows, "step")->value().toDouble() * find(rows, "step")->scale(), 5.0);
    }

    void editsStayInTheListAcrossModelSwitches()
    {
        DriverDataModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setList(&lists[ModeHistogram]);
        // The edited type stores the number as typed, with no scaling.
        QVERIFY(model.setData(model.index(1), 5000, ValueRole));
        QVERIFY(model.flags(model.index(1)).testFlag(Qt::ItemIsEditable));

        model.setList(&lists[ModeCpsVersCurrent]);
        QCOMPARE(model.index(0).data(ValueRole), QVariant(1.5e-5));
        model.setList(&lists[ModeHistogram]);
        QCOMPARE(model.index(1).data(ValueRole), QVariant(5000));
        QCOMPARE(find(lists.value(ModeHistogram), "to")->value(), QVariant(5000));
    }
};

QTEST_GUILESS_MAIN(TestSweepParameterLists)
#include "tst_sweepparameterlists.moc"
