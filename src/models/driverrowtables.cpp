#include "driverrowtables.h"

#include "driverdatamodel.h"

namespace {
using Model = DriverDataModel;

// Which SSPD models show a row.
enum class Sspd { Both, M0Only, M1Only };

struct RowDef
{
    const char* name;
    const char* displayedName;
    const char* group;
    int type;
    int precision;
    double scale;
    double min;
    double max;
    Sspd models = Sspd::Both;
};

const RowDef SspdRows[] = {
    {"current", "Current (μA)", "Bias source", Model::DriverDataTypeDouble, 1, 1e6, -100, 100},
    {"currentMonitor", "Current monitor (μA)", "Bias source",
     Model::DriverDataTypeConstantDoubleFixed, 1, 1e6, -100, 100, Sspd::M1Only},
    {"voltage", "Voltage (mV)", "Bias source", Model::DriverDataTypeConstantDoubleFixed, 2, 1000, 0,
     0},
    {"status_shorted", "Shorted", "Bias source", Model::DriverDataTypeBool, 0, 1, 0, 0},
    {"status_amplifier_on", "Amplifier", "Read out", Model::DriverDataTypeBool, 0, 1, 0, 0},
    {"status_comparator_on", "Comparator", "Read out", Model::DriverDataTypeBool, 0, 1, 0, 0},
    {"cmp_ref_level", "Trigger (mV)", "Read out", Model::DriverDataTypeDouble, 0, 1000, -100, 1000},
    {"status_hfmode_on", "HF mode", "Read out", Model::DriverDataTypeBool, 0, 1, 0, 0,
     Sspd::M1Only},
    {"status_counter_on", "Counter on", "Counter", Model::DriverDataTypeBool, 0, 1, 0, 0},
    {"status_rfkey_to_cmp", "RF out to comparator", "Counter", Model::DriverDataTypeBool, 0, 1, 0,
     0, Sspd::M0Only},
    {"time_const", "Time constant (sec)", "Counter", Model::DriverDataTypeDouble, 2, 1, 0.01, 100},
    {"counts", "Counts", "Counter", Model::DriverDataTypeConstantDoublePrecision, 4, 1, 0, 0},
    {"cps", "Counts per seconds (1/sec)", "Counter", Model::DriverDataTypeConstantDoublePrecision,
     4, 1, 0, 0},
    {"status_autoreset_on", "Auto reset on", "Auto reset system", Model::DriverDataTypeBool, 0, 1,
     0, 0},
    {"auto_reset_threshold", "Threshold (V)", "Auto reset system", Model::DriverDataTypeDouble, 2,
     1, 0, 1},
    {"auto_reset_time_out", "Time out (sec)", "Auto reset system", Model::DriverDataTypeDouble, 2,
     1, 0.01, 1},
    {"auto_reset_counts", "Auto reset events count", "Auto reset system",
     Model::DriverDataTypeConstantDoubleFixed, 0, 1, 0, 0},
};

const RowDef TemperatureRows[] = {
    {"temperature", "Temperature (K)", "Temperature", Model::DriverDataTypeConstantDoubleFixed, 2,
     1, 0, 0},
    {"operate", "Commutator", "Temperature", Model::DriverDataTypeBool, 0, 1, 0, 0},
    {"temperature_sensor_current", "Current (μA)", "Advanced", Model::DriverDataTypeDouble, 1, 1e6,
     0, 25},
    {"temperature_sensor_voltage", "Voltage (V)", "Advanced",
     Model::DriverDataTypeConstantDoubleFixed, 3, 1, 0, 0},
    {"pressure_sensor_voltage_pos", "Pressure sensor P (V)", "Advanced",
     Model::DriverDataTypeConstantDoubleFixed, 3, 1, 0, 0},
    {"pressure_sensor_voltage_neg", "Pressure sensor N (V)", "Advanced",
     Model::DriverDataTypeConstantDoubleFixed, 3, 1, 0, 0},
    {"pressure", "Pressure (mbar)", "Advanced", Model::DriverDataTypeConstantDoubleFixed, 3, 1, 0,
     0},
};

DriverDataItem makeRow(const RowDef& def, const DataProviderItem& record)
{
    const QString name = QString::fromUtf8(def.name);
    const QString displayedName = QString::fromUtf8(def.displayedName);
    const QString group = QString::fromUtf8(def.group);
    const QVariant value = record.value(name);
    if (def.type == Model::DriverDataTypeBool)
        return DriverDataItem::boolItem(name, displayedName, value, group);
    return DriverDataItem(name, displayedName, value, group, def.type, true, def.precision,
                          def.scale, def.min, def.max);
}
} // namespace

void appendDriverRows(QList<DriverDataItem>& rows, const DataProviderItem& record)
{
    const QVariant typeValue = record.value(QStringLiteral("type"));
    bool ok = false;
    const int type = typeValue.toInt(&ok);
    if (!ok)
        return;
    if (type == DataProviderList::DeviceTypeSspdM0 || type == DataProviderList::DeviceTypeSspdM1) {
        const Sspd excluded =
            type == DataProviderList::DeviceTypeSspdM0 ? Sspd::M1Only : Sspd::M0Only;
        for (const RowDef& def : SspdRows) {
            if (def.models != excluded)
                rows.append(makeRow(def, record));
        }
    } else if (type == DataProviderList::DeviceTypeTempM0) {
        for (const RowDef& def : TemperatureRows)
            rows.append(makeRow(def, record));
    }
}
