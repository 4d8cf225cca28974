#include "eepromdatastorage.h"

#include "eepromcalibrationfile.h"
#include "modelslog.h"

namespace {

struct ItemSpec
{
    const char* group;
    const char* name;
    const char* displayedName;
    EepromDataItem::EepromDataType type;
};

constexpr const char* biasGroup = "Bias unit (slope, intercept)";
constexpr const char* readOutGroup = "Read out (slope, intercept)";
constexpr const char* tempSensorGroup = "Temperature sensor (slope, intercept)";
constexpr const char* pressSensorGroup = "Pressure sensor (slope, intercept)";
constexpr const char* tempTableGroup = "Temperature table (voltage, temperature)";

constexpr ItemSpec sspdM0Items[] = {
    {biasGroup, "Current_ADC", "Current ADC:", EepromDataItem::Pair},
    {biasGroup, "Current_DAC", "Current DAC:", EepromDataItem::Pair},
    {biasGroup, "Voltage_ADC", "Voltage ADC:", EepromDataItem::Pair},
    {readOutGroup, "Cmp_Ref_DAC", "Comparator DAC:", EepromDataItem::Pair},
};

constexpr ItemSpec sspdM1Items[] = {
    {biasGroup, "Current_ADC", "Current ADC:", EepromDataItem::Pair},
    {biasGroup, "Current_DAC", "Current DAC:", EepromDataItem::Pair},
    {biasGroup, "CurrentMonitor_ADC", "Current monitor:", EepromDataItem::Pair},
    {biasGroup, "Voltage_ADC", "Voltage ADC:", EepromDataItem::Pair},
    {readOutGroup, "Cmp_Ref_DAC", "Comparator DAC:", EepromDataItem::Pair},
    {readOutGroup, "PulseWidth", "Pulse width:", EepromDataItem::Single},
};

constexpr ItemSpec tempM0Items[] = {
    {tempSensorGroup, "tempSensorCurrentAdc", "Current ADC:", EepromDataItem::Pair},
    {tempSensorGroup, "tempSensorCurrentDac", "Current DAC:", EepromDataItem::Pair},
    {tempSensorGroup, "tempSensorVoltage", "Voltage ADC:", EepromDataItem::Pair},
    {pressSensorGroup, "pressSensorVoltageP", "Voltage \"+\" ADC:", EepromDataItem::Pair},
    {pressSensorGroup, "pressSensorVoltageN", "Voltage \"-\" ADC:", EepromDataItem::Pair},
    {pressSensorGroup, "pressSensorCoeffs", "Coefficients:", EepromDataItem::Pair},
};

constexpr int tempTableSize = 100;

// DeviceType codes of the device list that carry EEPROM constants.
enum { TypeSspdM0 = 0, TypeSspdM1 = 1, TypeTempM0 = 2 };

} // namespace

EepromDataStorage::EepromDataStorage(QObject* parent) : QObject(parent) {}

EepromDataItem* EepromDataStorage::get(int index) const
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    return m_items.at(index);
}

EepromDataItem* EepromDataStorage::getByName(const QString& name) const
{
    return m_index.value(name, nullptr);
}

QList<EepromDataItem*> EepromDataStorage::getByGroup(const QString& group) const
{
    QList<EepromDataItem*> found;
    for (EepromDataItem* item : m_items) {
        if (item->group() == group)
            found.append(item);
    }
    return found;
}

void EepromDataStorage::addItem(const QString& group, const QString& name,
                                const QString& displayedName, EepromDataItem::EepromDataType type,
                                const QVariant& value)
{
    if (EepromDataItem* item = m_index.value(name, nullptr)) {
        item->setGroup(group);
        item->setDisplayedName(displayedName);
        item->setType(type);
        item->setValue(value);
        return;
    }
    auto* item = new EepromDataItem(group, name, displayedName, type, value, this);
    m_items.append(item);
    m_index.insert(name, item);
    emit countChanged();
    emit itemAdded(item);
}

void EepromDataStorage::removeItem(const QString& name)
{
    EepromDataItem* item = m_index.take(name);
    if (!item)
        return;
    m_items.removeOne(item);
    // Whoever got the pointer from itemAdded or get() may still be using it in this pass
    // of the event loop.
    item->deleteLater();
    emit countChanged();
    emit itemRemoved(name);
}

void EepromDataStorage::clear()
{
    const QList<EepromDataItem*> items = m_items;
    m_items.clear();
    m_index.clear();
    qDeleteAll(items);
    if (!items.isEmpty())
        emit countChanged();
    emit storageCleared();
}

QVariantList EepromDataStorage::groups() const
{
    QStringList seen;
    QVariantList result;
    for (const EepromDataItem* item : m_items) {
        if (seen.contains(item->group()))
            continue;
        seen.append(item->group());
        result.append(item->group());
    }
    return result;
}

void EepromDataStorage::initialize(const QVariantMap& map)
{
    m_deviceType = map.value(QStringLiteral("type")).toInt();
    m_address = map.value(QStringLiteral("address")).toInt();
    m_typeString = map.value(QStringLiteral("type_str")).toString();
    m_udid = map.value(QStringLiteral("UDID")).toString();

    clear();

    auto addAll = [this, &map](const auto& specs) {
        for (const ItemSpec& spec : specs) {
            const QString name = QLatin1String(spec.name);
            addItem(QLatin1String(spec.group), name, QLatin1String(spec.displayedName), spec.type,
                    map.value(name));
        }
    };
    switch (m_deviceType) {
    case TypeSspdM0:
        addAll(sspdM0Items);
        break;
    case TypeSspdM1:
        addAll(sspdM1Items);
        break;
    case TypeTempM0:
        addAll(tempM0Items);
        for (int i = 0; i < tempTableSize; ++i) {
            const QString name = QStringLiteral("tempTable_%1").arg(i);
            addItem(QLatin1String(tempTableGroup), name, QString::number(i), EepromDataItem::Pair,
                    map.value(name));
        }
        break;
    default:
        break;
    }
}

bool EepromDataStorage::saveToFile(const QString& fileName) const
{
    if (fileName.isEmpty())
        return false;
    return EepromCalibrationFile::save(*this, fileName);
}

bool EepromDataStorage::loadFromFile(const QString& fileName)
{
    if (fileName.isEmpty())
        return false;
    QByteArray data;
    if (!EepromCalibrationFile::read(fileName, &data))
        return false;
    return loadFromData(data);
}

bool EepromDataStorage::loadFromData(const QByteArray& data)
{
    if (data.size() > EepromCalibrationFile::maxFileSize) {
        qCWarning(lcModels) << "calibration data too large, ignored:" << data.size() << "bytes";
        return false;
    }
    EepromCalibrationFile::apply(this, data);
    emit updated();
    return true;
}

#include "moc_eepromdatastorage.cpp"
