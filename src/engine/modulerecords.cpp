#include "modulerecords.h"

#include <QJsonArray>
#include <QJsonValue>

#include <initializer_list>
#include <utility>

namespace {

// Initial values until the first reading of the module replaces them.
void addInitialValues(DataProviderItem* item, int type)
{
    if (type == DataProviderList::DeviceTypeSspdM1) {
        item->insert(QStringLiteral("currentMonitor"), 0);
        item->insert(QStringLiteral("status_hfmode_on"), 1);
    } else if (type == DataProviderList::DeviceTypeSspdM0) {
        item->insert(QStringLiteral("status_rfkey_to_cmp"), 0);
    }
    if (type == DataProviderList::DeviceTypeSspdM0 || type == DataProviderList::DeviceTypeSspdM1) {
        const std::initializer_list<std::pair<const char*, int>> sspd = {
            {"current", 0},
            {"counts", 0},
            {"voltage", 0},
            {"status_inite", 0},
            {"status_shorted", 1},
            {"status_amplifier_on", 0},
            {"status_comparator_on", 0},
            {"status_counter_on", 0},
            {"status_autoreset_on", 0},
            {"status_error", 0},
            {"cmp_ref_level", 0},
            {"time_const", 1},
            {"auto_reset_threshold", 0},
            {"auto_reset_time_out", 0},
            {"auto_reset_counts", 0},
            {"cps", 0},
        };
        for (const auto& [key, value] : sspd)
            item->insert(QLatin1String(key), value);
    } else if (type == DataProviderList::DeviceTypeTempM0) {
        for (const char* key :
             {"temperature", "pressure", "temperature_sensor_current", "temperature_sensor_voltage",
              "pressure_sensor_voltage_pos", "pressure_sensor_voltage_neg"})
            item->insert(QLatin1String(key), 0);
    } else if (type == DataProviderList::DeviceTypeTempM1) {
        // The keys its readings carry: a row shows only keys its record had from the start.
        for (const char* key : {"temperature", "temperature_sensor_voltage"})
            item->insert(QLatin1String(key), 0);
    }
}

DataProviderItem recordOf(const QJsonObject& entry)
{
    DataProviderItem item;
    item.insert(QStringLiteral("address"), entry.value(QLatin1String("address")).toInt(-1));
    for (const char* key : {"Firmware", "Hardware", "Modification", "UDID", "Description"})
        item.insert(QLatin1String(key), entry.value(QLatin1String(key)).toString());
    item.insert(QStringLiteral("restore"), false);
    item.insert(QStringLiteral("selected"), false);
    const int type = moduleDeviceType(entry.value(QLatin1String("type")).toString());
    item.insert(QStringLiteral("type"), type);
    item.insert(QStringLiteral("status"), 0);
    item.insert(QStringLiteral("operate"), false);
    addInitialValues(&item, type);
    return item;
}

} // namespace

int moduleDeviceType(const QString& type)
{
    int code = DataProviderList::DeviceTypeUnknown;
    if (type.contains(QLatin1String("VX9SDM1")))
        code = DataProviderList::DeviceTypeSspdM1;
    else if (type.contains(QLatin1String("VX9SDM0")))
        code = DataProviderList::DeviceTypeSspdM0;
    if (type.contains(QLatin1String("VX9TDM0")))
        code = DataProviderList::DeviceTypeTempM0;
    if (type.contains(QLatin1String("VX9TDM1")))
        code = DataProviderList::DeviceTypeTempM1;
    return code;
}

QList<DataProviderItem> moduleRecords(const QJsonObject& list)
{
    const int count = list.value(QLatin1String("count")).toInt(-1);
    const QJsonArray info = list.value(QLatin1String("info")).toArray();
    QList<DataProviderItem> records;
    // "count" may promise more entries than "info" holds.
    for (qsizetype i = 0; i < count && i < info.size(); ++i) {
        const QJsonValue value = info.at(i);
        if (value.isObject())
            records.append(recordOf(value.toObject()));
    }
    return records;
}
