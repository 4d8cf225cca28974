// Fuzzes the calibration file reader, applied to the storage of a module type with EEPROM
// constants (byte 0 modulo 3) from the file (the rest). It must keep the set of items, leave
// every value storable (finite floats), and read back exactly what it would write.
#include "fuzzcheck.h"
#include "models/eepromcalibrationfile.h"
#include "models/eepromdataitem.h"
#include "models/eepromdatastorage.h"
#include <QLoggingCategory>
#include <QVariantMap>

// A storage of the type with every value set, so that a change by the file shows.
static QVariantMap buildMap(int type, double value)
{
    QVariantMap map{{"type", type}, {"address", 1}, {"type_str", "VX9"}, {"UDID", "0"}};
    for (const char* name :
         {"Current_ADC", "Current_DAC", "CurrentMonitor_ADC", "Voltage_ADC", "Cmp_Ref_DAC",
          "tempSensorCurrentAdc", "tempSensorCurrentDac", "tempSensorVoltage",
          "pressSensorVoltageP", "pressSensorVoltageN", "pressSensorCoeffs"}) {
        map.insert(QLatin1String(name), QVariant::fromValue(EepromPair{value, -value}));
        value += 1.0;
    }
    map.insert("PulseWidth", value / 2);
    for (int i = 0; i < 100; ++i)
        map.insert(QStringLiteral("tempTable_%1").arg(i),
                   QVariant::fromValue(EepromPair{value + i, value - i}));
    return map;
}

// Built once per type and base: building them took a good part of each run.
static const QVariantMap& moduleMap(int type, double value)
{
    static const QVariantMap maps[2][3] = {
        {buildMap(0, 1.5), buildMap(1, 1.5), buildMap(2, 1.5)},
        {buildMap(0, 1000.25), buildMap(1, 1000.25), buildMap(2, 1000.25)}};
    return maps[value == 1.5 ? 0 : 1][type];
}

static QVariantList itemsOf(const EepromDataStorage& storage, bool values)
{
    QVariantList items;
    for (const EepromDataItem* item : storage.items())
        items << (values ? item->value() : QVariant(item->name()));
    return items;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Every malformed entry is logged; at fuzzing speed that is only noise.
    QLoggingCategory::setFilterRules(QStringLiteral("tavik.models.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1 || qint64(size) > EepromCalibrationFile::maxFileSize)
        return 0;
    const int type = bytes[0] % 3;
    EepromDataStorage storage;
    storage.initialize(moduleMap(type, 1.5));
    const QVariantList names = itemsOf(storage, false);
    int updates = 0;
    QObject::connect(&storage, &EepromDataStorage::updated, [&updates] { ++updates; });
    check(storage.loadFromData(fuzzBytes(bytes, size, 1)) && updates == 1);
    check(itemsOf(storage, false) == names);
    for (const EepromDataItem* item : storage.items()) {
        const QVariant v = item->value();
        const EepromPair pair = v.value<EepromPair>();
        check(item->type() == EepromDataItem::Pair
                  ? v.metaType() == QMetaType::fromType<EepromPair>() &&
                        EepromDataItem::isStorable(pair.first) &&
                        EepromDataItem::isStorable(pair.second)
                  : v.typeId() == QMetaType::Double && EepromDataItem::isStorable(v.toDouble()));
    }
    // What the storage now holds survives its own file unchanged.
    EepromDataStorage copy;
    copy.initialize(moduleMap(type, 1000.25));
    check(copy.loadFromData(EepromCalibrationFile::toJson(storage)));
    check(itemsOf(copy, true) == itemsOf(storage, true));
    return 0;
}
