// The EEPROM constants as a list model: rows and roles over the storage, edits of pair and
// single values, and the resets that follow the storage's changes.
#include "models/eepromdatamodel.h"

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

constexpr int GroupRole = 257;
constexpr int NameRole = 258;
constexpr int DisplayedNameRole = 259;
constexpr int TypeRole = 260;
constexpr int ValueRole = 261;

QVariant pairOf(double first, double second)
{
    return QVariant::fromValue(EepromPair{first, second});
}

QVariantMap sspdM1Map()
{
    return {{"type", 1},
            {"address", 3},
            {"type_str", "VX9SDM1"},
            {"UDID", "0000-1111-2222-3333-4444-5555"},
            {"Current_ADC", pairOf(1.25, -0.5)},
            {"Current_DAC", pairOf(2.5, 0.125)},
            {"CurrentMonitor_ADC", pairOf(0.75, 0.25)},
            {"Voltage_ADC", pairOf(3.0, 0.0)},
            {"Cmp_Ref_DAC", pairOf(-4.0, 1.0)},
            {"PulseWidth", 12.5}};
}

QVariantMap firstSecond(double first, double second)
{
    return {{"first", first}, {"second", second}};
}

} // namespace

class TestEepromModel : public QObject
{
    Q_OBJECT

    std::unique_ptr<EepromDataStorage> storage;
    std::unique_ptr<EepromDataModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;

    QModelIndex row(const QString& name) const
    {
        for (int r = 0; r < model->rowCount(); ++r) {
            if (model->data(model->index(r), NameRole).toString() == name)
                return model->index(r);
        }
        return {};
    }

private slots:
    void init()
    {
        storage = std::make_unique<EepromDataStorage>();
        storage->initialize(sspdM1Map());
        model = std::make_unique<EepromDataModel>();
        tester = std::make_unique<QAbstractItemModelTester>(
            model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        model->setStorage(storage.get());
    }
    void cleanup()
    {
        tester.reset();
        model.reset();
        storage.reset();
    }

    void instanceIsOneObjectWithoutParent()
    {
        EepromDataModel* first = EepromDataModel::instance();
        QVERIFY(first);
        QCOMPARE(EepromDataModel::instance(), first);
        QVERIFY(!first->parent());
        QVERIFY(!first->storage());
        QCOMPARE(first->rowCount(), 0);
    }

    void rolesAreNamedFrom257()
    {
        const QHash<int, QByteArray> roles = model->roleNames();
        QCOMPARE(roles.size(), 5);
        QCOMPARE(roles.value(GroupRole), QByteArray("group"));
        QCOMPARE(roles.value(NameRole), QByteArray("name"));
        QCOMPARE(roles.value(DisplayedNameRole), QByteArray("displayedName"));
        QCOMPARE(roles.value(TypeRole), QByteArray("type"));
        QCOMPARE(roles.value(ValueRole), QByteArray("value"));
    }

    void rowsShowTheItems()
    {
        QCOMPARE(model->rowCount(), 6);
        const QModelIndex first = model->index(0);
        QCOMPARE(first.data(GroupRole), QVariant("Bias unit (slope, intercept)"));
        QCOMPARE(first.data(NameRole), QVariant("Current_ADC"));
        QCOMPARE(first.data(DisplayedNameRole), QVariant("Current ADC:"));
        QCOMPARE(first.data(TypeRole), QVariant(int(EepromDataItem::Pair)));
        QCOMPARE(first.data(ValueRole).toMap(), firstSecond(1.25, -0.5));

        const QModelIndex last = model->index(5);
        QCOMPARE(last.data(NameRole), QVariant("PulseWidth"));
        QCOMPARE(last.data(TypeRole), QVariant(int(EepromDataItem::Single)));
        QCOMPARE(last.data(ValueRole), QVariant(12.5));

        QCOMPARE(model->allCategories(), storage->groups());
    }

    void dataOutsideTheRowsIsInvalid()
    {
        QVERIFY(!model->data(QModelIndex(), NameRole).isValid());
        QVERIFY(!model->data(model->index(0), Qt::UserRole + 100).isValid());
        EepromDataModel empty;
        QCOMPARE(empty.rowCount(), 0);
        QVERIFY(empty.allCategories().isEmpty());
        QVERIFY(!empty.setData(QModelIndex(), 1.0, ValueRole));
    }

    void pairEditReadsBack()
    {
        const QModelIndex index = row("Current_DAC");
        EepromDataItem* item = storage->getByName("Current_DAC");
        QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
        QSignalSpy valueChanged(item, &EepromDataItem::valueChanged);

        QVERIFY(model->setData(index, QVariantList{1.5, -0.25}, ValueRole));
        QCOMPARE(index.data(ValueRole).toMap(), firstSecond(1.5, -0.25));
        QCOMPARE(item->value(), pairOf(1.5, -0.25));
        QCOMPARE(valueChanged.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), index);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{ValueRole});

        // What data() hands out can be written back as it is.
        QVERIFY(model->setData(index, firstSecond(2.0, 4), ValueRole));
        QCOMPARE(item->pairValue(), EepromPair(2.0, 4.0));
        QCOMPARE(changed.count(), 2);
    }

    void singleEditStoresADouble()
    {
        const QModelIndex index = row("PulseWidth");
        QVERIFY(model->setData(index, 20, ValueRole));
        QCOMPARE(index.data(ValueRole), QVariant(20.0));
        QCOMPARE(storage->getByName("PulseWidth")->value().typeId(), int(QMetaType::Double));
    }

    void onlyTheValueRoleIsEditable()
    {
        const QModelIndex index = row("PulseWidth");
        QVERIFY(!model->setData(index, "Other", NameRole));
        QVERIFY(!model->setData(index, 1.0, Qt::EditRole));
        QCOMPARE(index.data(NameRole), QVariant("PulseWidth"));
        QCOMPARE(index.data(ValueRole), QVariant(12.5));
    }

    void editsThatAreNoNumbersAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("pair: one number") << "Current_ADC" << QVariant(QVariantList{1.0});
        QTest::newRow("pair: three numbers")
            << "Current_ADC" << QVariant(QVariantList{1.0, 2.0, 3.0});
        QTest::newRow("pair: empty list") << "Current_ADC" << QVariant(QVariantList{});
        QTest::newRow("pair: a number") << "Current_ADC" << QVariant(5.0);
        QTest::newRow("pair: a text") << "Current_ADC" << QVariant("1, 2");
        QTest::newRow("pair: a word") << "Current_ADC" << QVariant(QVariantList{"a", 2.0});
        QTest::newRow("pair: booleans") << "Current_ADC" << QVariant(QVariantList{true, false});
        QTest::newRow("pair: nested")
            << "Current_ADC" << QVariant(QVariantList{QVariantList{1.0, 2.0}, 3.0});
        QTest::newRow("pair: nan") << "Current_ADC" << QVariant(QVariantList{nan, 1.0});
        QTest::newRow("pair: infinity") << "Current_ADC" << QVariant(QVariantList{1.0, -inf});
        QTest::newRow("pair: beyond float") << "Current_ADC" << QVariant(QVariantList{1e39, 1.0});
        QTest::newRow("pair: map without second")
            << "Current_ADC" << QVariant(QVariantMap{{"first", 1.0}});
        QTest::newRow("pair: invalid") << "Current_ADC" << QVariant();
        QTest::newRow("single: word") << "PulseWidth" << QVariant("wide");
        QTest::newRow("single: list") << "PulseWidth" << QVariant(QVariantList{1.0, 2.0});
        QTest::newRow("single: nan") << "PulseWidth" << QVariant(nan);
        QTest::newRow("single: beyond float") << "PulseWidth" << QVariant(-1e300);
        QTest::newRow("single: invalid") << "PulseWidth" << QVariant();
    }
    void editsThatAreNoNumbersAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        const QModelIndex index = row(name);
        const QVariant before = storage->getByName(name)->value();
        QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(!model->setData(index, value, ValueRole));
        QCOMPARE(storage->getByName(name)->value(), before);
        QCOMPARE(changed.count(), 0);
    }

    void numberTextsAreAccepted()
    {
        QVERIFY(model->setData(row("Voltage_ADC"), QVariantList{"0.5", " -2 "}, ValueRole));
        QCOMPARE(storage->getByName("Voltage_ADC")->pairValue(), EepromPair(0.5, -2.0));
        QVERIFY(model->setData(row("PulseWidth"), "7.25", ValueRole));
        QCOMPARE(storage->getByName("PulseWidth")->value(), QVariant(7.25));
    }

    void storageChangesResetTheModel()
    {
        QSignalSpy reset(model.get(), &QAbstractItemModel::modelReset);

        storage->addItem("Extra", "extra", "Extra:", EepromDataItem::Single, 1.0);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model->rowCount(), 7);

        storage->removeItem("Current_ADC");
        QCOMPARE(reset.count(), 2);
        QCOMPARE(model->rowCount(), 6);

        QVERIFY(storage->loadFromData(R"({"CurrentDacCoeffs": [6, 7]})"));
        QCOMPARE(reset.count(), 3);
        QCOMPARE(row("Current_DAC").data(ValueRole).toMap(), firstSecond(6, 7));

        storage->clear();
        QCOMPARE(reset.count(), 4);
        QCOMPARE(model->rowCount(), 0);
    }

    void initializeShowsTheNewModule()
    {
        QVariantMap temp{{"type", 2}};
        storage->initialize(temp);
        QCOMPARE(model->rowCount(), 106);
        QCOMPARE(model->index(105).data(DisplayedNameRole), QVariant("99"));
        QCOMPARE(model->index(105).data(ValueRole).toMap(), firstSecond(0, 0));
    }

    void storageIsSwappedAndForgotten()
    {
        QSignalSpy storageChanged(model.get(), &EepromDataModel::storageChanged);
        model->setStorage(storage.get());
        QCOMPARE(storageChanged.count(), 0);

        EepromDataStorage other;
        model->setStorage(&other);
        QCOMPARE(storageChanged.count(), 1);
        QCOMPARE(model->rowCount(), 0);
        // The old storage no longer reaches the model.
        QSignalSpy reset(model.get(), &QAbstractItemModel::modelReset);
        storage->clear();
        QCOMPARE(reset.count(), 0);

        auto* doomed = new EepromDataStorage;
        doomed->initialize(sspdM1Map());
        model->setStorage(doomed);
        QCOMPARE(model->rowCount(), 6);
        const int changesBefore = storageChanged.count();
        delete doomed;
        QCOMPARE(storageChanged.count(), changesBefore + 1);
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(!model->storage());
        QVERIFY(!model->data(model->index(0), NameRole).isValid());
    }
};

QTEST_GUILESS_MAIN(TestEepromModel)
#include "tst_eeprommodel.moc"
