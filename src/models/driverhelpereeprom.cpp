// The EEPROM half of DriverHelper: a module's calibration structure (and the temperature
// module's sensor table) to named items and back.
#include "driverhelper.h"
#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm0.h"
#include "drivers/tempdriverm1.h"
#include "eepromdatastorage.h"
#include "modelslog.h"

namespace {

QString tableItem(int index)
{
    return QStringLiteral("tempTable_%1").arg(index);
}

QVariant pairValue(const pair_t<float>& pair)
{
    return QVariant::fromValue(EepromPair(pair.first, pair.second));
}

// Modules pad their type text with zero bytes; the text itself ends at the padding.
QString typeText(QString text)
{
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

// Storage items as the module's structure fields. Every lookup refuses an item that is
// missing, of the other kind or not a value an EEPROM float can hold, so that a storage
// made for another module or left empty by a failed read never reaches a module.
class ItemReader
{
public:
    explicit ItemReader(const EepromDataStorage* storage) : m_storage(storage) {}

    bool pair(const QString& name, pair_t<float>* out) const
    {
        const EepromDataItem* item = m_storage->getByName(name);
        EepromPair value;
        if (!item || item->type() != EepromDataItem::Pair ||
            !EepromDataItem::toStorablePair(item->value(), &value))
            return refuse(name);
        *out = {float(value.first), float(value.second)};
        return true;
    }
    bool single(const QString& name, float* out) const
    {
        const EepromDataItem* item = m_storage->getByName(name);
        double value = 0;
        if (!item || item->type() != EepromDataItem::Single ||
            !EepromDataItem::toStorableDouble(item->value(), &value))
            return refuse(name);
        *out = float(value);
        return true;
    }

private:
    static bool refuse(const QString& name)
    {
        qCWarning(lcModels) << "EEPROM item" << name << "missing or not a storable value";
        return false;
    }
    const EepromDataStorage* m_storage;
};

template <typename P, typename T> bool writeAcknowledged(P* property, const T& value, int tries)
{
    bool ok = false;
    property->writeSync(value, &ok, tries);
    return ok;
}

} // namespace

QVariantMap DriverHelper::readEepromConst(int tries)
{
    if (!m_driver)
        return {};
    QVariantMap map;
    map.insert("address", int(m_driver->address()));
    QString type;
    QString udid;
    if (auto* common = qobject_cast<CommonDriver*>(m_driver)) {
        common->typeString()->read(nullptr, 1);
        common->udid()->read(nullptr, 1);
        type = typeText(common->typeString()->cached());
        udid = common->udid()->cached().toString();
    }
    map.insert("type_str", type);
    map.insert("UDID", udid);
    // Every module gets its type code, so that the storage never takes another module's
    // table for it; modules without EEPROM items have codes that make no items.
    map.insert("type", m_type);

    // Constants go into the map only when the module answered them: values kept from an
    // earlier read, or zeros, would be shown and could be written back as calibration.
    bool ok = false;
    if (m_sspdM0) {
        const VX9SDM0V1_EEPROM_Const_t e = m_sspdM0->eepromConst()->read(&ok, tries);
        if (ok) {
            map.insert("Current_ADC", pairValue(e.currentAdc));
            map.insert("Voltage_ADC", pairValue(e.voltageAdc));
            map.insert("Current_DAC", pairValue(e.currentDac));
            map.insert("Cmp_Ref_DAC", pairValue(e.cmpRefDac));
        }
    } else if (m_sspdM1) {
        const VX9SDM1_EEPROM_Const_t e = m_sspdM1->eepromConst()->read(&ok, tries);
        if (ok) {
            map.insert("Current_ADC", pairValue(e.currentAdc));
            map.insert("Voltage_ADC", pairValue(e.voltageAdc));
            map.insert("Current_DAC", pairValue(e.currentDac));
            map.insert("CurrentMonitor_ADC", pairValue(e.currentMonitorAdc));
            map.insert("PulseWidth", double(e.pulseWidth));
            map.insert("Cmp_Ref_DAC", pairValue(e.cmpRefDac));
        }
    } else if (m_tempM0) {
        const VX9TDM0V1_EEPROM_Const_t e = m_tempM0->eepromConst()->read(&ok, tries);
        if (ok) {
            map.insert("tempSensorCurrentAdc", pairValue(e.tempSensorCurrentAdc));
            map.insert("tempSensorCurrentDac", pairValue(e.tempSensorCurrentDac));
            map.insert("tempSensorVoltage", pairValue(e.tempSensorVoltage));
            map.insert("pressSensorVoltageP", pairValue(e.pressSensorVoltageP));
            map.insert("pressSensorVoltageN", pairValue(e.pressSensorVoltageN));
            map.insert("pressSensorCoeffs", pairValue(e.pressSensorCoeffs));
            // A table that did not come in whole is left out as a whole: its entries
            // would mix this module's points with those of an earlier read.
            if (m_tempM0->readTempTable()) {
                const TempDriverM0::TempTable& table = m_tempM0->tempTable();
                for (int i = 0; i < TempDriverM0::TableSize; ++i)
                    map.insert(tableItem(i), pairValue(table[i]));
            } else {
                qCWarning(lcModels)
                    << "temperature table of address" << m_driver->address() << "not read";
            }
        }
    } else {
        return map;
    }
    if (!ok)
        qCWarning(lcModels) << "EEPROM constants of address" << m_driver->address() << "not read";
    return map;
}

bool DriverHelper::writeEepromConst(EepromDataStorage* storage, int tries)
{
    if (!storage || !m_driver)
        return false;
    // A storage filled from a module of another kind has a structure of another layout.
    if (storage->deviceType() >= 0 && storage->deviceType() != m_type) {
        qCWarning(lcModels) << "EEPROM constants of device type" << storage->deviceType()
                            << "not written to a module of type" << m_type;
        return false;
    }
    const ItemReader items(storage);
    if (m_sspdM0) {
        VX9SDM0V1_EEPROM_Const_t e{};
        if (!items.pair("Current_ADC", &e.currentAdc) ||
            !items.pair("Current_DAC", &e.currentDac) ||
            !items.pair("Voltage_ADC", &e.voltageAdc) || !items.pair("Cmp_Ref_DAC", &e.cmpRefDac))
            return false;
        return writeAcknowledged(m_sspdM0->eepromConst(), e, tries);
    }
    if (m_sspdM1) {
        VX9SDM1_EEPROM_Const_t e{};
        if (!items.pair("Current_ADC", &e.currentAdc) ||
            !items.pair("Current_DAC", &e.currentDac) ||
            !items.pair("Voltage_ADC", &e.voltageAdc) || !items.pair("Cmp_Ref_DAC", &e.cmpRefDac) ||
            !items.pair("CurrentMonitor_ADC", &e.currentMonitorAdc) ||
            !items.single("PulseWidth", &e.pulseWidth))
            return false;
        return writeAcknowledged(m_sspdM1->eepromConst(), e, tries);
    }
    if (m_tempM0) {
        VX9TDM0V1_EEPROM_Const_t e{};
        if (!items.pair("tempSensorCurrentAdc", &e.tempSensorCurrentAdc) ||
            !items.pair("tempSensorCurrentDac", &e.tempSensorCurrentDac) ||
            !items.pair("tempSensorVoltage", &e.tempSensorVoltage) ||
            !items.pair("pressSensorVoltageP", &e.pressSensorVoltageP) ||
            !items.pair("pressSensorVoltageN", &e.pressSensorVoltageN) ||
            !items.pair("pressSensorCoeffs", &e.pressSensorCoeffs))
            return false;
        // The whole table is checked before anything goes out, so that a bad entry cannot
        // leave the module with new constants and half a table.
        TempDriverM0::TempTable table{};
        for (int i = 0; i < TempDriverM0::TableSize; ++i) {
            if (!items.pair(tableItem(i), &table[i]))
                return false;
        }
        if (!writeAcknowledged(m_tempM0->eepromConst(), e, tries)) {
            qCWarning(lcModels) << "EEPROM constants not taken by address" << m_driver->address();
            return false;
        }
        m_tempM0->tempTable() = table;
        return m_tempM0->writeTempTable();
    }
    return false;
}
