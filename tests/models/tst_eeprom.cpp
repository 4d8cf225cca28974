// The EEPROM constants: the storage's item tables per module type and its bookkeeping, the
// calibration file written from and read into it (and the files it refuses), and the list
// model the dialog edits them through.
#include "models/eepromcalibrationfile.h"
#include "models/eepromdatamodel.h"
#include "models/eepromdatastorage.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <limits>
#include <sys/resource.h>

namespace {

constexpr int ValueRole = 261;

QVariant pairOf(double first, double second)
{
    return QVariant::fromValue(EepromPair{first, second});
}

// Modules as a read delivers them.
QVariantMap sspdM0Map()
{
    return {{"type", 0},
            {"address", 5},
            {"type_str", "VX9SDM0"},
            {"UDID", "0011-2233-4455-6677-8899-AABB"},
            {"Current_ADC", pairOf(1.25, -0.5)},
            {"Current_DAC", pairOf(2.5, 0.125)},
            {"Voltage_ADC", pairOf(3.0, 0.0)},
            {"Cmp_Ref_DAC", pairOf(-4.0, 1.0)}};
}
QVariantMap sspdM1Map()
{
    QVariantMap map = sspdM0Map();
    map.insert({{"type", 1},
                {"type_str", "VX9SDM1"},
                {"CurrentMonitor_ADC", pairOf(0.75, 0.25)},
                {"PulseWidth", 12.5}});
    return map;
}
QVariantMap tempM0Map()
{
    QVariantMap map{{"type", 2},
                    {"address", 7},
                    {"type_str", "VX9TDM0"},
                    {"UDID", "FFFF-0000-FFFF-0000-FFFF-0000"}};
    const QStringList names = {"tempSensorCurrentAdc", "tempSensorCurrentDac", "tempSensorVoltage",
                               "pressSensorVoltageP",  "pressSensorVoltageN",  "pressSensorCoeffs"};
    for (int i = 0; i < names.size(); ++i)
        map[names.at(i)] = pairOf(2 * i + 1, 2 * i + 2);
    for (int i = 0; i < 100; ++i)
        map[QStringLiteral("tempTable_%1").arg(i)] = pairOf(0.25 * i, 300.0 - i);
    return map;
}

QStringList namesOf(const EepromDataStorage& storage)
{
    QStringList names;
    for (const EepromDataItem* item : storage.items())
        names << item->name();
    return names;
}
// Every item's value, to see that a load left everything alone.
QVariantList valuesOf(const EepromDataStorage& storage)
{
    QVariantList values;
    for (const EepromDataItem* item : storage.items())
        values << item->value();
    return values;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}
QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestEeprom : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // Each module type's items (order, groups, values), the keys of its calibration file (those
    // of the files in use), a sample value in it, and the file read back into an empty storage;
    // another type's file changes nothing.
    void storageAndCalibrationFileOfEachType_data()
    {
        QTest::addColumn<QVariantMap>("map");
        QTest::addColumn<QString>("names"); // the first seven
        QTest::addColumn<QString>("groups");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        const QString sspd = "Bias unit (slope, intercept)|Read out (slope, intercept)";
        QTest::newRow("sspd m0")
            << sspdM0Map() << "Current_ADC Current_DAC Voltage_ADC Cmp_Ref_DAC" << sspd
            << "CurrentAdcCoeffs CurrentDacCoeffs DeviceType UDID VoltageAdcCoeffs "
               "leCmpRefDacCoeffs"
            << "CurrentAdcCoeffs" << QJsonValue(QJsonArray{1.25, -0.5});
        QTest::newRow("sspd m1")
            << sspdM1Map()
            << "Current_ADC Current_DAC CurrentMonitor_ADC Voltage_ADC Cmp_Ref_DAC PulseWidth"
            << sspd
            << "CurrentAdcCoeffs CurrentDacCoeffs CurrentMonitorAdcCoeffs DeviceType PulseWidth "
               "UDID VoltageAdcCoeffs leCmpRefDacCoeffs"
            << "PulseWidth" << QJsonValue(12.5);
        QTest::newRow("temp m0")
            << tempM0Map()
            << "tempSensorCurrentAdc tempSensorCurrentDac tempSensorVoltage pressSensorVoltageP "
               "pressSensorVoltageN pressSensorCoeffs tempTable_0"
            << "Temperature sensor (slope, intercept)|Pressure sensor (slope, intercept)|"
               "Temperature table (voltage, temperature)"
            << "DeviceType PressSensorCoeffs PressSensorVoltageNCoeffs PressSensorVoltagePCoeffs "
               "TempSensorCurrentADCCoeffs TempSensorCurrentDACCoeffs TempSensorVoltageCoeffs "
               "TempTable UDID"
            << "PressSensorCoeffs" << QJsonValue(QJsonArray{11, 12});
    }
    void storageAndCalibrationFileOfEachType()
    {
        QFETCH(QVariantMap, map);
        QFETCH(QString, names);
        QFETCH(QString, groups);
        QFETCH(QString, keys);
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        EepromDataStorage storage;
        storage.initialize(map);
        QCOMPARE(namesOf(storage).mid(0, 7).join(' '), names);
        QCOMPARE(storage.groups(), QVariant(groups.split('|')).toList());
        QCOMPARE(QVariantList({storage.address(), storage.deviceType(), storage.typeString(),
                               storage.udid()}),
                 QVariantList({map["address"], map["type"], map["type_str"], map["UDID"]}));
        for (const EepromDataItem* item : storage.items()) {
            QCOMPARE(item->value(), map.value(item->name()));
            QCOMPARE(item->type(),
                     item->name() == "PulseWidth" ? EepromDataItem::Single : EepromDataItem::Pair);
        }
        if (storage.deviceType() == 2) {
            QCOMPARE(storage.get(105)->displayedName(), QString("99"));
            QCOMPARE(storage.getByName("pressSensorVoltageP")->displayedName(),
                     QString("Voltage \"+\" ADC:"));
        }

        QVERIFY(writeFile(path("file.json"), QByteArray(100000, 'x'))); // replaced
        QVERIFY(storage.saveToFile(path("file.json")));
        const QJsonObject object = QJsonDocument::fromJson(readFile(path("file.json"))).object();
        QCOMPARE(object.keys().join(' '), keys);
        QCOMPARE(object.value(key), value);
        QCOMPARE(object["UDID"], map["UDID"].toJsonValue());
        if (storage.deviceType() == 2)
            QCOMPARE(object["TempTable"].toArray().at(99).toArray(), (QJsonArray{24.75, 201.0}));
        // Indented, as people read and edit these files.
        QVERIFY(readFile(path("file.json")).contains("\n    \""));
        EepromDataStorage loaded;
        loaded.initialize({{"type", map["type"]}});
        QSignalSpy updated(&loaded, &EepromDataStorage::updated);
        QVERIFY(loaded.loadFromFile(path("file.json")));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(valuesOf(loaded), valuesOf(storage));
        EepromDataStorage other;
        other.initialize(map["type"] == 2 ? sspdM0Map() : tempM0Map());
        const QVariantList before = valuesOf(other);
        QVERIFY(other.loadFromFile(path("file.json")));
        QCOMPARE(valuesOf(other), before);
    }

    // Bad entries are skipped one by one; the good ones beside them are taken.
    void loadSkipsMalformedEntries_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("one element") << QByteArray(R"({"CurrentAdcCoeffs": [1]})");
        QTest::newRow("three elements") << QByteArray(R"({"CurrentAdcCoeffs": [1, 2, 3]})");
        QTest::newRow("texts") << QByteArray(R"({"CurrentAdcCoeffs": ["1", "2"]})");
        QTest::newRow("beyond float") << QByteArray(R"({"CurrentAdcCoeffs": [1e39, 2]})");
        QTest::newRow("pulse width text") << QByteArray(R"({"PulseWidth": "5"})");
        QTest::newRow("truncated") << QByteArray("{\"CurrentAdcCoeffs\": [9, 9], \"Current");
        QTest::newRow("array document") << QByteArray(R"([{"CurrentAdcCoeffs": [9, 9]}])");
        QTest::newRow("deep nesting") << QByteArray(100000, '[');
    }
    void loadSkipsMalformedEntries()
    {
        QFETCH(QByteArray, json);
        QVERIFY(writeFile(path("bad.json"), json));
        EepromDataStorage storage;
        storage.initialize(sspdM1Map());
        const QVariantList before = valuesOf(storage);
        QSignalSpy updated(&storage, &EepromDataStorage::updated);
        QVERIFY(storage.loadFromFile(path("bad.json")));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(valuesOf(storage), before);

        QVERIFY(writeFile(path("mixed.json"),
                          R"({"CurrentAdcCoeffs": [10, 20], "CurrentDacCoeffs": ["x", 1],
                                                  "PulseWidth": 40.5, "VoltageAdcCoeffs": [1, 2, 3]})"));
        QVERIFY(storage.loadFromFile(path("mixed.json")));
        QCOMPARE(storage.getByName("Current_ADC")->pairValue(), EepromPair(10.0, 20.0));
        QCOMPARE(storage.getByName("Current_DAC")->pairValue(), EepromPair(2.5, 0.125));
        QCOMPARE(storage.getByName("PulseWidth")->value(), QVariant(40.5));

        // Table rows too; a short table goes as far as it goes.
        EepromDataStorage temp;
        temp.initialize(tempM0Map());
        QVERIFY(writeFile(path("table.json"),
                          R"({"TempTable": [[1, 2], [3], "x", [4, 5], [6, 7, 8]]})"));
        QVERIFY(temp.loadFromFile(path("table.json")));
        QList<EepromPair> table;
        for (int i = 0; i < 6; ++i)
            table << temp.getByName(QStringLiteral("tempTable_%1").arg(i))->pairValue();
        QCOMPARE(table, (QList<EepromPair>{
                            {1, 2}, {0.25, 299}, {0.5, 298}, {4, 5}, {1, 296}, {1.25, 295}}));
    }

    void filesThatCannotBeReadOrWrittenChangeNothing()
    {
        EepromDataStorage storage;
        storage.initialize(tempM0Map());
        const QVariantList before = valuesOf(storage);
        QSignalSpy updated(&storage, &EepromDataStorage::updated);
        QVERIFY(!storage.loadFromFile(QString()));
        QVERIFY(!storage.loadFromFile(path("missing.json")));
        // A valid document drowned in padding is far beyond any calibration file.
        QByteArray huge = R"({"CurrentAdcCoeffs": [9, 9]})";
        huge.append(QByteArray(EepromCalibrationFile::maxFileSize, ' '));
        QVERIFY(writeFile(path("huge.json"), huge));
        QVERIFY(!storage.loadFromFile(path("huge.json")));
        QCOMPARE(updated.count(), 0);
        QCOMPARE(valuesOf(storage), before);

        QVERIFY(!storage.saveToFile(QString()));
        QVERIFY(!storage.saveToFile(path("no/such/dir/file.json")));
        // A write that fails half-way (as on a full disk) keeps the old file, and no copy.
        const QByteArray old = R"({"DeviceType": "old"})";
        QVERIFY(writeFile(path("keep.json"), old));
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit tight = saved;
        tight.rlim_cur = 64;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const bool ok = storage.saveToFile(path("keep.json"));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!ok);
        QCOMPARE(readFile(path("keep.json")), old);
        QCOMPARE(QDir(dir.path()).entryList({"keep.json*"}, QDir::Files), QStringList{"keep.json"});
    }

    void modelShowsAndEditsTheItems()
    {
        EepromDataStorage storage;
        storage.initialize(sspdM1Map());
        EepromDataModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setStorage(&storage);
        QCOMPARE(model.roleNames(), (QHash<int, QByteArray>{{257, "group"},
                                                            {258, "name"},
                                                            {259, "displayedName"},
                                                            {260, "type"},
                                                            {261, "value"}}));
        QCOMPARE(model.rowCount(), 6);
        const QModelIndex first = model.index(0);
        const QVariantMap pair{{"first", 1.25}, {"second", -0.5}};
        QCOMPARE(QVariantList({first.data(257), first.data(258), first.data(259), first.data(260),
                               first.data(ValueRole)}),
                 QVariantList({"Bias unit (slope, intercept)", "Current_ADC",
                               "Current ADC:", int(EepromDataItem::Pair), pair}));
        QCOMPARE(model.allCategories(), storage.groups());

        // A pair takes a list or what data() hands out; a single value becomes a double;
        // number texts count.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy valueChanged(storage.getByName("Current_DAC"), &EepromDataItem::valueChanged);
        QVERIFY(model.setData(model.index(1), QVariantList{1.5, -0.25}, ValueRole));
        QCOMPARE(storage.getByName("Current_DAC")->value(), pairOf(1.5, -0.25));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{ValueRole});
        // The item announces a change once, and only a real one.
        storage.getByName("Current_DAC")->setValue(pairOf(1.5, -0.25));
        QCOMPARE(valueChanged.count(), 1);
        QVERIFY(model.setData(model.index(0), pair, ValueRole));
        QVERIFY(model.setData(model.index(3), QVariantList{"0.5", " -2 "}, ValueRole));
        QCOMPARE(storage.getByName("Voltage_ADC")->pairValue(), EepromPair(0.5, -2.0));
        QVERIFY(model.setData(model.index(5), 20, ValueRole));
        QCOMPARE(storage.getByName("PulseWidth")->value().typeId(), int(QMetaType::Double));
        QVERIFY(model.setData(model.index(5), "7.25", ValueRole));
        QCOMPARE(storage.getByName("PulseWidth")->value(), QVariant(7.25));
        QVERIFY(!model.setData(model.index(5), "Other", 258));

        // Edits that are no numbers (row 0: a pair, 5: a single value) change nothing.
        const QList<QPair<int, QVariant>> refused = {{0, QVariantList{1.0}},
                                                     {0, "1, 2"},
                                                     {0, QVariantList{true, false}},
                                                     {0, QVariantList{1.0, 1e39}},
                                                     {5, "wide"},
                                                     {5, std::numeric_limits<double>::quiet_NaN()},
                                                     {5, -1e300}};
        const QVariantList before = valuesOf(storage);
        changed.clear();
        for (const auto& [row, value] : refused)
            QVERIFY(!model.setData(model.index(row), value, ValueRole));
        QCOMPARE(valuesOf(storage), before);
        QCOMPARE(changed.count(), 0);
    }

    void modelFollowsTheStorage()
    {
        auto* storage = new EepromDataStorage;
        storage->initialize(sspdM1Map());
        EepromDataModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy storageChanged(&model, &EepromDataModel::storageChanged);
        model.setStorage(storage);
        model.setStorage(storage);
        QCOMPARE(storageChanged.count(), 1);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        storage->removeItem("Current_ADC");
        QVERIFY(storage->loadFromData(R"({"CurrentDacCoeffs": [6, 7]})"));
        QCOMPARE(reset.count(), 2);
        storage->initialize({{"type", 2}});
        QCOMPARE(model.rowCount(), 106);
        // The storage left no longer reaches the model; a destroyed one leaves it empty.
        EepromDataStorage other;
        model.setStorage(&other);
        reset.clear();
        storage->clear();
        QCOMPARE(reset.count(), 0);
        model.setStorage(storage);
        delete storage;
        QVERIFY(!model.storage() && model.rowCount() == 0);
    }
};

QTEST_GUILESS_MAIN(TestEeprom)
#include "tst_eeprom.moc"
