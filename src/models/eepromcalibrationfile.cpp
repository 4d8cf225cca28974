#include "eepromcalibrationfile.h"

#include "eepromdataitem.h"
#include "eepromdatastorage.h"
#include "modelslog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>

namespace {

struct PairKey
{
    const char* key;
    const char* item;
};

// File key and item name of every pair constant. The spelling of the keys is that of the
// files in use ("leCmpRefDacCoeffs" included) and must not change.
constexpr PairKey pairKeys[] = {
    {"VoltageAdcCoeffs", "Voltage_ADC"},
    {"CurrentAdcCoeffs", "Current_ADC"},
    {"CurrentDacCoeffs", "Current_DAC"},
    {"leCmpRefDacCoeffs", "Cmp_Ref_DAC"},
    {"CurrentMonitorAdcCoeffs", "CurrentMonitor_ADC"},
    {"TempSensorCurrentADCCoeffs", "tempSensorCurrentAdc"},
    {"TempSensorCurrentDACCoeffs", "tempSensorCurrentDac"},
    {"TempSensorVoltageCoeffs", "tempSensorVoltage"},
    {"PressSensorVoltagePCoeffs", "pressSensorVoltageP"},
    {"PressSensorVoltageNCoeffs", "pressSensorVoltageN"},
    {"PressSensorCoeffs", "pressSensorCoeffs"},
};

const QString pulseWidthKey = QStringLiteral("PulseWidth");
const QString pulseWidthItem = QStringLiteral("PulseWidth");
const QString tempTableKey = QStringLiteral("TempTable");
constexpr int tempTableSize = 100;

QString tempTableItem(int index)
{
    return QStringLiteral("tempTable_%1").arg(index);
}

QJsonArray pairArray(const EepromDataItem* item)
{
    const EepromPair pair = item->pairValue();
    return QJsonArray{pair.first, pair.second};
}

bool storableNumber(const QJsonValue& value, double* out)
{
    if (!value.isDouble() || !EepromDataItem::isStorable(value.toDouble()))
        return false;
    *out = value.toDouble();
    return true;
}

bool storablePair(const QJsonValue& value, EepromPair* out)
{
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    EepromPair pair;
    if (array.size() != 2 || !storableNumber(array.at(0), &pair.first) ||
        !storableNumber(array.at(1), &pair.second))
        return false;
    *out = pair;
    return true;
}

// Sets a pair item from a file entry; a wrong entry, or an item of another kind, is left
// alone.
void applyPair(EepromDataStorage* storage, const QString& itemName, const QJsonValue& value,
               const QString& what)
{
    EepromDataItem* item = storage->getByName(itemName);
    if (!item || item->type() != EepromDataItem::Pair)
        return;
    EepromPair pair;
    if (!storablePair(value, &pair)) {
        qCWarning(lcModels) << "calibration file: skipped malformed entry" << what;
        return;
    }
    item->setValue(QVariant::fromValue(pair));
}

} // namespace

namespace EepromCalibrationFile {

QByteArray toJson(const EepromDataStorage& storage)
{
    QJsonObject object;
    object.insert(QStringLiteral("DeviceType"), storage.typeString());
    object.insert(QStringLiteral("UDID"), storage.udid());
    for (const PairKey& entry : pairKeys) {
        if (const EepromDataItem* item = storage.getByName(QLatin1String(entry.item)))
            object.insert(QLatin1String(entry.key), pairArray(item));
    }
    if (const EepromDataItem* item = storage.getByName(pulseWidthItem))
        object.insert(pulseWidthKey, item->value().toDouble());
    QJsonArray table;
    for (int i = 0; i < tempTableSize; ++i) {
        if (const EepromDataItem* item = storage.getByName(tempTableItem(i)))
            table.append(pairArray(item));
    }
    if (!table.isEmpty())
        object.insert(tempTableKey, table);
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool save(const EepromDataStorage& storage, const QString& fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcModels) << "calibration file: cannot open" << fileName << file.errorString();
        return false;
    }
    const QByteArray json = toJson(storage);
    // flush() before commit(): commit() itself does not notice a failing final flush of the
    // buffered data, and would put a truncated file in place of the old one.
    if (file.write(json) != json.size() || !file.flush()) {
        qCWarning(lcModels) << "calibration file: cannot write" << fileName << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcModels) << "calibration file: cannot save" << fileName << file.errorString();
        return false;
    }
    return true;
}

bool read(const QString& fileName, QByteArray* data)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcModels) << "calibration file: cannot open" << fileName << file.errorString();
        return false;
    }
    // Read one byte past the limit rather than trusting size(), which is 0 for pipes and
    // the like.
    QByteArray bytes = file.read(maxFileSize + 1);
    if (bytes.size() > maxFileSize) {
        qCWarning(lcModels) << "calibration file: too large, not read:" << fileName;
        return false;
    }
    *data = bytes;
    return true;
}

void apply(EepromDataStorage* storage, const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        qCWarning(lcModels) << "calibration file: not JSON:" << error.errorString();
    else if (!document.isObject())
        qCWarning(lcModels) << "calibration file: not a JSON object";
    const QJsonObject object = document.object();

    for (const PairKey& entry : pairKeys) {
        const QString key = QLatin1String(entry.key);
        if (object.contains(key))
            applyPair(storage, QLatin1String(entry.item), object.value(key), key);
    }

    if (object.contains(pulseWidthKey)) {
        EepromDataItem* item = storage->getByName(pulseWidthItem);
        double value = 0.0;
        if (item && item->type() == EepromDataItem::Single) {
            if (storableNumber(object.value(pulseWidthKey), &value))
                item->setValue(value);
            else
                qCWarning(lcModels) << "calibration file: skipped malformed entry" << pulseWidthKey;
        }
    }

    const QJsonValue tableValue = object.value(tempTableKey);
    if (tableValue.isArray()) {
        const QJsonArray table = tableValue.toArray();
        const int entries = int(qMin<qsizetype>(table.size(), tempTableSize));
        for (int i = 0; i < entries; ++i) {
            applyPair(storage, tempTableItem(i), table.at(i),
                      QStringLiteral("%1[%2]").arg(tempTableKey).arg(i));
        }
    } else if (!tableValue.isUndefined()) {
        qCWarning(lcModels) << "calibration file: skipped malformed entry" << tempTableKey;
    }
}

} // namespace EepromCalibrationFile
