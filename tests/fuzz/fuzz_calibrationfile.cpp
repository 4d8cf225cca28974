// Fuzzes the calibration file reader with arbitrary bytes, applied to the storages of the
// three module types that have EEPROM constants. Whatever the file holds, the reader must
// not crash, must keep the set of items as it was, must leave every value in a form the
// EEPROM can take (a pair of finite floats, or one for the pulse width), and must read back
// exactly what it would write for the storage it produced.
//
// Input layout: byte 0 picks the module type (0, 1 or 2, modulo 3); the rest is the file.
#include "models/eepromcalibrationfile.h"
#include "models/eepromdataitem.h"
#include "models/eepromdatastorage.h"

#include <QLoggingCategory>
#include <QVariantMap>

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// A storage of the type with every value set, so that a change by the file shows.
QVariantMap moduleMap(int type, double base)
{
    static const char* const pairNames[] = {
        "Current_ADC",         "Current_DAC",          "CurrentMonitor_ADC",   "Voltage_ADC",
        "Cmp_Ref_DAC",         "tempSensorCurrentAdc", "tempSensorCurrentDac", "tempSensorVoltage",
        "pressSensorVoltageP", "pressSensorVoltageN",  "pressSensorCoeffs"};
    QVariantMap map{{"type", type}, {"address", 1}, {"type_str", "VX9"}, {"UDID", "0"}};
    double value = base;
    for (const char* name : pairNames) {
        map.insert(QLatin1String(name), QVariant::fromValue(EepromPair{value, -value}));
        value += 1.0;
    }
    map.insert("PulseWidth", base / 2);
    for (int i = 0; i < 100; ++i)
        map.insert(QStringLiteral("tempTable_%1").arg(i),
                   QVariant::fromValue(EepromPair{base + i, base - i}));
    return map;
}

QStringList namesOf(const EepromDataStorage& storage)
{
    QStringList names;
    for (const EepromDataItem* item : storage.items())
        names << item->name();
    return names;
}

QVariantList valuesOf(const EepromDataStorage& storage)
{
    QVariantList values;
    for (const EepromDataItem* item : storage.items())
        values << item->value();
    return values;
}

void checkStorable(const EepromDataItem* item)
{
    const QVariant value = item->value();
    if (item->type() == EepromDataItem::Pair) {
        check(value.typeId() == QMetaType::fromType<EepromPair>().id());
        const EepromPair pair = value.value<EepromPair>();
        check(EepromDataItem::isStorable(pair.first) && EepromDataItem::isStorable(pair.second));
    } else {
        check(value.typeId() == QMetaType::Double);
        check(EepromDataItem::isStorable(value.toDouble()));
    }
}

} // namespace

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
    const QByteArray file(reinterpret_cast<const char*>(bytes) + 1, qsizetype(size - 1));

    EepromDataStorage storage;
    storage.initialize(moduleMap(type, 1.5));
    const QStringList names = namesOf(storage);
    int updates = 0;
    QObject::connect(&storage, &EepromDataStorage::updated, [&updates] { ++updates; });

    check(storage.loadFromData(file));
    check(updates == 1);
    check(namesOf(storage) == names);
    for (const EepromDataItem* item : storage.items())
        checkStorable(item);

    // What the storage now holds survives its own file unchanged.
    EepromDataStorage copy;
    copy.initialize(moduleMap(type, 1000.25));
    check(copy.loadFromData(EepromCalibrationFile::toJson(storage)));
    check(valuesOf(copy) == valuesOf(storage));
    return 0;
}
