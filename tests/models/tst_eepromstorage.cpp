// The EEPROM constants storage: item tables per module type, item bookkeeping and its
// signals, and the calibration file written from and read into it.
#include "models/eepromcalibrationfile.h"
#include "models/eepromdataitem.h"
#include "models/eepromdatastorage.h"

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
#include <sys/resource.h>

namespace {

QVariant pairOf(double first, double second)
{
    return QVariant::fromValue(EepromPair{first, second});
}

QStringList namesOf(const EepromDataStorage& storage)
{
    QStringList names;
    for (const EepromDataItem* item : storage.items())
        names << item->name();
    return names;
}

// An SSPD model 0 module as a read delivers it.
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
    map["type"] = 1;
    map["type_str"] = "VX9SDM1";
    map["CurrentMonitor_ADC"] = pairOf(0.75, 0.25);
    map["PulseWidth"] = 12.5;
    return map;
}

QVariantMap tempM0Map()
{
    QVariantMap map{{"type", 2},
                    {"address", 7},
                    {"type_str", "VX9TDM0"},
                    {"UDID", "FFFF-0000-FFFF-0000-FFFF-0000"},
                    {"tempSensorCurrentAdc", pairOf(1, 2)},
                    {"tempSensorCurrentDac", pairOf(3, 4)},
                    {"tempSensorVoltage", pairOf(5, 6)},
                    {"pressSensorVoltageP", pairOf(7, 8)},
                    {"pressSensorVoltageN", pairOf(9, 10)},
                    {"pressSensorCoeffs", pairOf(11, 12)}};
    for (int i = 0; i < 100; ++i)
        map[QStringLiteral("tempTable_%1").arg(i)] = pairOf(0.25 * i, 300.0 - i);
    return map;
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

QJsonObject readJsonObject(const QString& path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

} // namespace

class TestEepromStorage : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void initialiseCreatesTheTableOfTheType_data()
    {
        QTest::addColumn<QVariantMap>("map");
        QTest::addColumn<QStringList>("firstNames");
        QTest::addColumn<int>("count");
        QTest::addColumn<QVariantList>("groups");

        const QString bias = "Bias unit (slope, intercept)";
        const QString readOut = "Read out (slope, intercept)";
        QTest::newRow("sspd m0") << sspdM0Map()
                                 << QStringList{"Current_ADC", "Current_DAC", "Voltage_ADC",
                                                "Cmp_Ref_DAC"}
                                 << 4 << QVariantList{bias, readOut};
        QTest::newRow("sspd m1") << sspdM1Map()
                                 << QStringList{"Current_ADC", "Current_DAC", "CurrentMonitor_ADC",
                                                "Voltage_ADC", "Cmp_Ref_DAC", "PulseWidth"}
                                 << 6 << QVariantList{bias, readOut};
        QTest::newRow("temp m0") << tempM0Map()
                                 << QStringList{"tempSensorCurrentAdc", "tempSensorCurrentDac",
                                                "tempSensorVoltage",    "pressSensorVoltageP",
                                                "pressSensorVoltageN",  "pressSensorCoeffs",
                                                "tempTable_0",          "tempTable_1"}
                                 << 106
                                 << QVariantList{"Temperature sensor (slope, intercept)",
                                                 "Pressure sensor (slope, intercept)",
                                                 "Temperature table (voltage, temperature)"};
    }
    void initialiseCreatesTheTableOfTheType()
    {
        QFETCH(QVariantMap, map);
        QFETCH(QStringList, firstNames);
        QFETCH(int, count);
        QFETCH(QVariantList, groups);

        EepromDataStorage storage;
        storage.initialize(map);
        QCOMPARE(storage.count(), count);
        QCOMPARE(namesOf(storage).mid(0, firstNames.size()), firstNames);
        QCOMPARE(storage.groups(), groups);
        QCOMPARE(storage.address(), map["address"].toInt());
        QCOMPARE(storage.deviceType(), map["type"].toInt());
        QCOMPARE(storage.typeString(), map["type_str"].toString());
        QCOMPARE(storage.udid(), map["UDID"].toString());
        for (const EepromDataItem* item : storage.items()) {
            QCOMPARE(item->value(), map.value(item->name()));
            QCOMPARE(item->type(),
                     item->name() == "PulseWidth" ? EepromDataItem::Single : EepromDataItem::Pair);
        }
    }

    void initialiseLabelsTheTemperatureTable()
    {
        EepromDataStorage storage;
        storage.initialize(tempM0Map());
        const EepromDataItem* last = storage.get(105);
        QVERIFY(last);
        QCOMPARE(last->name(), QString("tempTable_99"));
        QCOMPARE(last->displayedName(), QString("99"));
        QCOMPARE(storage.getByName("pressSensorVoltageP")->displayedName(),
                 QString("Voltage \"+\" ADC:"));
        QCOMPARE(storage.getByGroup("Temperature table (voltage, temperature)").size(), 100);
    }

    void initialiseOtherTypeKeepsTheModuleButNoItems()
    {
        EepromDataStorage storage;
        storage.initialize(sspdM0Map());
        QSignalSpy cleared(&storage, &EepromDataStorage::storageCleared);
        QSignalSpy added(&storage, &EepromDataStorage::itemAdded);
        QSignalSpy updated(&storage, &EepromDataStorage::updated);

        storage.initialize({{"type", 3},
                            {"address", 11},
                            {"type_str", "VX9TDM1"},
                            {"UDID", "1234-5678-9ABC-DEF0-1234-5678"},
                            {"Current_ADC", pairOf(1, 1)}});
        QCOMPARE(storage.count(), 0);
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(added.count(), 0);
        QCOMPARE(updated.count(), 0);
        QCOMPARE(storage.address(), 11);
        QCOMPARE(storage.deviceType(), 3);
        QCOMPARE(storage.typeString(), QString("VX9TDM1"));
        QCOMPARE(storage.udid(), QString("1234-5678-9ABC-DEF0-1234-5678"));
    }

    void initialiseLeavesMissingValuesInvalid()
    {
        EepromDataStorage storage;
        storage.initialize({{"type", 1}});
        QCOMPARE(storage.count(), 6);
        QVERIFY(!storage.getByName("Current_ADC")->value().isValid());
        QCOMPARE(storage.getByName("Current_ADC")->pairValue(), EepromPair(0.0, 0.0));
    }

    void addAndRemoveSignalInOrder()
    {
        EepromDataStorage storage;
        QStringList order;
        connect(&storage, &EepromDataStorage::countChanged, this,
                [&] { order << QString("count %1").arg(storage.count()); });
        connect(&storage, &EepromDataStorage::itemAdded, this,
                [&](EepromDataItem* item) { order << "added " + item->name(); });
        connect(&storage, &EepromDataStorage::itemRemoved, this,
                [&](const QString& name) { order << "removed " + name; });
        connect(&storage, &EepromDataStorage::storageCleared, this, [&] { order << "cleared"; });

        storage.addItem("G", "a", "A:", EepromDataItem::Pair, pairOf(1, 2));
        storage.addItem("G", "b", "B:", EepromDataItem::Single, 3.0);
        storage.removeItem("a");
        storage.removeItem("a");
        storage.clear();
        // Clearing what is empty changes no count, but still tells the views.
        storage.clear();
        QCOMPARE(order, (QStringList{"count 1", "added a", "count 2", "added b", "count 1",
                                     "removed a", "count 0", "cleared", "cleared"}));
    }

    void addWithAnExistingNameUpdatesTheItem()
    {
        EepromDataStorage storage;
        storage.addItem("G", "a", "A:", EepromDataItem::Pair, pairOf(1, 2));
        EepromDataItem* item = storage.getByName("a");
        QSignalSpy counted(&storage, &EepromDataStorage::countChanged);
        QSignalSpy added(&storage, &EepromDataStorage::itemAdded);
        QSignalSpy group(item, &EepromDataItem::groupChanged);
        QSignalSpy label(item, &EepromDataItem::displayedNameChanged);
        QSignalSpy type(item, &EepromDataItem::typeChanged);
        QSignalSpy value(item, &EepromDataItem::valueChanged);

        storage.addItem("G", "a", "New:", EepromDataItem::Pair, pairOf(1, 5));
        QCOMPARE(storage.count(), 1);
        QCOMPARE(storage.getByName("a"), item);
        QCOMPARE(counted.count(), 0);
        QCOMPARE(added.count(), 0);
        QCOMPARE(group.count(), 0);
        QCOMPARE(type.count(), 0);
        QCOMPARE(label.count(), 1);
        QCOMPARE(value.count(), 1);
        QCOMPARE(item->pairValue(), EepromPair(1.0, 5.0));

        // The same values again change nothing.
        storage.addItem("G", "a", "New:", EepromDataItem::Pair, pairOf(1, 5));
        QCOMPARE(label.count(), 1);
        QCOMPARE(value.count(), 1);
    }

    void removedItemsLiveUntilTheEventLoopClearedOnesDieAtOnce()
    {
        EepromDataStorage storage;
        storage.initialize(sspdM0Map());
        QPointer<EepromDataItem> removed = storage.getByName("Current_ADC");
        QPointer<EepromDataItem> cleared = storage.getByName("Voltage_ADC");

        storage.removeItem("Current_ADC");
        QVERIFY(!storage.getByName("Current_ADC"));
        QCOMPARE(storage.count(), 3);
        QVERIFY(!removed.isNull());
        QTRY_VERIFY(removed.isNull());

        storage.clear();
        QVERIFY(cleared.isNull());
        QCOMPARE(storage.count(), 0);
        QVERIFY(!storage.getByName("Voltage_ADC"));
    }

    void lookupsHandleWhatIsNotThere()
    {
        EepromDataStorage storage;
        storage.initialize(sspdM0Map());
        QVERIFY(!storage.get(-1));
        QVERIFY(!storage.get(4));
        QCOMPARE(storage.get(3)->name(), QString("Cmp_Ref_DAC"));
        QVERIFY(!storage.getByName("PulseWidth"));
        QVERIFY(storage.getByGroup("nothing").isEmpty());
        const QList<EepromDataItem*> bias = storage.getByGroup("Bias unit (slope, intercept)");
        QCOMPARE(bias.size(), 3);
        QCOMPARE(bias.at(2)->name(), QString("Voltage_ADC"));
    }

    void groupsComeInOrderOfFirstAppearance()
    {
        EepromDataStorage storage;
        storage.addItem("B", "1", "", EepromDataItem::Single, 1.0);
        storage.addItem("A", "2", "", EepromDataItem::Single, 1.0);
        storage.addItem("B", "3", "", EepromDataItem::Single, 1.0);
        storage.addItem("C", "4", "", EepromDataItem::Single, 1.0);
        QCOMPARE(storage.groups(), (QVariantList{"B", "A", "C"}));
    }

    void itemSettersSignalOnlyRealChanges()
    {
        EepromDataItem item("G", "n", "N:", EepromDataItem::Pair, pairOf(1, 2));
        QSignalSpy value(&item, &EepromDataItem::valueChanged);
        QSignalSpy type(&item, &EepromDataItem::typeChanged);
        item.setValue(pairOf(1, 2));
        item.setType(EepromDataItem::Pair);
        QCOMPARE(value.count(), 0);
        QCOMPARE(type.count(), 0);
        item.setValue(pairOf(1, 2.5));
        item.setType(EepromDataItem::Single);
        QCOMPARE(value.count(), 1);
        QCOMPARE(type.count(), 1);
    }

    void saveWritesTheKeysOfTheType()
    {
        EepromDataStorage storage;
        storage.initialize(sspdM0Map());
        const QString file = path("m0.json");
        QVERIFY(storage.saveToFile(file));

        const QJsonObject object = readJsonObject(file);
        QStringList keys = object.keys();
        keys.sort();
        QCOMPARE(keys, (QStringList{"CurrentAdcCoeffs", "CurrentDacCoeffs", "DeviceType", "UDID",
                                    "VoltageAdcCoeffs", "leCmpRefDacCoeffs"}));
        QCOMPARE(object["DeviceType"].toString(), QString("VX9SDM0"));
        QCOMPARE(object["UDID"].toString(), QString("0011-2233-4455-6677-8899-AABB"));
        QCOMPARE(object["CurrentAdcCoeffs"].toArray(), (QJsonArray{1.25, -0.5}));
        QCOMPARE(object["leCmpRefDacCoeffs"].toArray(), (QJsonArray{-4.0, 1.0}));
        // Indented, as people read and edit these files.
        QVERIFY(readFile(file).contains("\n    \""));
    }

    void saveWritesPulseWidthAndTable()
    {
        EepromDataStorage m1;
        m1.initialize(sspdM1Map());
        QVERIFY(m1.saveToFile(path("m1.json")));
        QJsonObject object = readJsonObject(path("m1.json"));
        QCOMPARE(object["PulseWidth"].toDouble(), 12.5);
        QCOMPARE(object["CurrentMonitorAdcCoeffs"].toArray(), (QJsonArray{0.75, 0.25}));
        QVERIFY(!object.contains("TempTable"));

        EepromDataStorage temp;
        temp.initialize(tempM0Map());
        QVERIFY(temp.saveToFile(path("t0.json")));
        object = readJsonObject(path("t0.json"));
        QCOMPARE(object.size(), 9);
        const QJsonArray table = object["TempTable"].toArray();
        QCOMPARE(table.size(), 100);
        QCOMPARE(table.at(99).toArray(), (QJsonArray{24.75, 201.0}));
        QCOMPARE(object["PressSensorCoeffs"].toArray(), (QJsonArray{11, 12}));
    }

    void saveAndLoadRoundTrip_data()
    {
        QTest::addColumn<QVariantMap>("map");
        QTest::newRow("sspd m0") << sspdM0Map();
        QTest::newRow("sspd m1") << sspdM1Map();
        QTest::newRow("temp m0") << tempM0Map();
    }
    void saveAndLoadRoundTrip()
    {
        QFETCH(QVariantMap, map);
        EepromDataStorage original;
        original.initialize(map);
        const QString file = path("roundtrip.json");
        QVERIFY(original.saveToFile(file));

        QVariantMap empty{{"type", map["type"]}};
        EepromDataStorage loaded;
        loaded.initialize(empty);
        QSignalSpy updated(&loaded, &EepromDataStorage::updated);
        QVERIFY(loaded.loadFromFile(file));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(valuesOf(loaded), valuesOf(original));
    }

    void loadingAnotherTypeChangesNothing()
    {
        EepromDataStorage m0;
        m0.initialize(sspdM0Map());
        QVERIFY(m0.saveToFile(path("other.json")));

        EepromDataStorage temp;
        temp.initialize(tempM0Map());
        const QVariantList before = valuesOf(temp);
        QSignalSpy updated(&temp, &EepromDataStorage::updated);
        QVERIFY(temp.loadFromFile(path("other.json")));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(valuesOf(temp), before);
    }

    void loadTakesAShortTableAsFarAsItGoes()
    {
        QJsonArray table;
        for (int i = 0; i < 50; ++i)
            table.append(QJsonArray{-1.0 * i, 4.0 + i});
        QVERIFY(writeFile(path("short.json"),
                          QJsonDocument(QJsonObject{{"TempTable", table}}).toJson()));

        EepromDataStorage storage;
        storage.initialize(tempM0Map());
        QVERIFY(storage.loadFromFile(path("short.json")));
        QCOMPARE(storage.getByName("tempTable_0")->pairValue(), EepromPair(0.0, 4.0));
        QCOMPARE(storage.getByName("tempTable_49")->pairValue(), EepromPair(-49.0, 53.0));
        QCOMPARE(storage.getByName("tempTable_50")->pairValue(), EepromPair(12.5, 250.0));
        QCOMPARE(storage.getByName("tempTable_99")->pairValue(), EepromPair(24.75, 201.0));
    }

    void loadSkipsMalformedEntries_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("one element") << QByteArray(R"({"CurrentAdcCoeffs": [1]})");
        QTest::newRow("three elements") << QByteArray(R"({"CurrentAdcCoeffs": [1, 2, 3]})");
        QTest::newRow("texts") << QByteArray(R"({"CurrentAdcCoeffs": ["1", "2"]})");
        QTest::newRow("null element") << QByteArray(R"({"CurrentAdcCoeffs": [1, null]})");
        QTest::newRow("bool element") << QByteArray(R"({"CurrentAdcCoeffs": [true, 2]})");
        QTest::newRow("nested") << QByteArray(R"({"CurrentAdcCoeffs": [[1, 2], 3]})");
        QTest::newRow("object") << QByteArray(R"({"CurrentAdcCoeffs": {"first": 1}})");
        QTest::newRow("number") << QByteArray(R"({"CurrentAdcCoeffs": 7})");
        QTest::newRow("beyond float") << QByteArray(R"({"CurrentAdcCoeffs": [1e39, 2]})");
        QTest::newRow("pulse width text") << QByteArray(R"({"PulseWidth": "5"})");
        QTest::newRow("pulse width array") << QByteArray(R"({"PulseWidth": [5]})");
        QTest::newRow("pulse width beyond float") << QByteArray(R"({"PulseWidth": -1e300})");
        QTest::newRow("not json") << QByteArray("CurrentAdcCoeffs = 1, 2");
        QTest::newRow("truncated") << QByteArray("{\"CurrentAdcCoeffs\": [9, 9], \"Current");
        QTest::newRow("array document") << QByteArray(R"([{"CurrentAdcCoeffs": [9, 9]}])");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{\"", 5);
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
    }

    void loadAppliesTheGoodEntriesBesideBadOnes()
    {
        const QByteArray json = R"({
            "CurrentAdcCoeffs": [10, 20],
            "CurrentDacCoeffs": ["x", 1],
            "PulseWidth": 40.5,
            "VoltageAdcCoeffs": [1, 2, 3]
        })";
        QVERIFY(writeFile(path("mixed.json"), json));
        EepromDataStorage storage;
        storage.initialize(sspdM1Map());
        QVERIFY(storage.loadFromFile(path("mixed.json")));
        QCOMPARE(storage.getByName("Current_ADC")->pairValue(), EepromPair(10.0, 20.0));
        QCOMPARE(storage.getByName("Current_DAC")->pairValue(), EepromPair(2.5, 0.125));
        QCOMPARE(storage.getByName("Voltage_ADC")->pairValue(), EepromPair(3.0, 0.0));
        QCOMPARE(storage.getByName("PulseWidth")->value(), QVariant(40.5));
    }

    void loadSkipsBadTableRows()
    {
        const QByteArray json = R"({"TempTable": [[1, 2], [3], "x", [4, 5], [6, 7, 8]]})";
        QVERIFY(writeFile(path("table.json"), json));
        EepromDataStorage storage;
        storage.initialize(tempM0Map());
        QVERIFY(storage.loadFromFile(path("table.json")));
        QCOMPARE(storage.getByName("tempTable_0")->pairValue(), EepromPair(1.0, 2.0));
        QCOMPARE(storage.getByName("tempTable_1")->pairValue(), EepromPair(0.25, 299.0));
        QCOMPARE(storage.getByName("tempTable_2")->pairValue(), EepromPair(0.5, 298.0));
        QCOMPARE(storage.getByName("tempTable_3")->pairValue(), EepromPair(4.0, 5.0));
        QCOMPARE(storage.getByName("tempTable_4")->pairValue(), EepromPair(1.0, 296.0));
    }

    void loadOfWhatCannotBeReadChangesNothing()
    {
        EepromDataStorage storage;
        storage.initialize(sspdM0Map());
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
    }

    void saveReplacesAnOldFile()
    {
        const QString file = path("replace.json");
        QVERIFY(writeFile(file, QByteArray(100000, 'x')));
        EepromDataStorage storage;
        storage.initialize(sspdM0Map());
        QVERIFY(storage.saveToFile(file));
        QCOMPARE(readJsonObject(file)["DeviceType"].toString(), QString("VX9SDM0"));
    }

    void failedSaveKeepsTheOldFile()
    {
        EepromDataStorage storage;
        storage.initialize(tempM0Map());
        QVERIFY(!storage.saveToFile(QString()));
        QVERIFY(!storage.saveToFile(path("no/such/dir/file.json")));

        // A write that fails half-way (as on a full disk): the process may not write
        // files beyond a few bytes while saving.
        const QString file = path("keep.json");
        const QByteArray old = R"({"DeviceType": "old"})";
        QVERIFY(writeFile(file, old));
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit tight = saved;
        tight.rlim_cur = 64;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const bool ok = storage.saveToFile(file);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!ok);
        QCOMPARE(readFile(file), old);
        QCOMPARE(QDir(dir.path()).entryList({"keep.json*"}, QDir::Files), QStringList{"keep.json"});
    }
};

QTEST_GUILESS_MAIN(TestEepromStorage)
#include "tst_eepromstorage.moc"
