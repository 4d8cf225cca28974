#include "parameternames.h"

#include "models/dataproviderlist.h"
#include "models/driverdatamodel.h"
#include "models/driverrowtables.h"

#include <cmath>

namespace {

constexpr int SspdM0 = DataProviderList::DeviceTypeSspdM0;
constexpr int SspdM1 = DataProviderList::DeviceTypeSspdM1;
constexpr int TempM0 = DataProviderList::DeviceTypeTempM0;

} // namespace

const QList<ParameterName>& parameterNames()
{
    static const QList<ParameterName> names = {
        {"current", false, "A", {SspdM0, SspdM1}},
        {"time_const", false, "s", {SspdM0, SspdM1}},
        {"cmp_ref_level", false, "V", {SspdM0, SspdM1}},
        {"status_shorted", true, {}, {SspdM0, SspdM1}},
        {"operate", true, {}, {SspdM0, SspdM1, TempM0}},
        {"temperature_sensor_current", false, "A", {TempM0}},
        {"status_amplifier_on", true, {}, {SspdM0, SspdM1}},
        {"status_comparator_on", true, {}, {SspdM0, SspdM1}},
        {"status_counter_on", true, {}, {SspdM0, SspdM1}},
        {"status_rfkey_to_cmp", true, {}, {SspdM0}},
        {"status_hfmode_on", true, {}, {SspdM1}},
        {"status_autoreset_on", true, {}, {SspdM0, SspdM1}},
        {"auto_reset_threshold", false, "V", {SspdM0, SspdM1}},
        {"auto_reset_time_out", false, "s", {SspdM0, SspdM1}},
    };
    return names;
}

const ParameterName* findParameterName(const QString& name)
{
    for (const ParameterName& parameter : parameterNames()) {
        if (parameter.name == name)
            return &parameter;
    }
    return nullptr;
}

QString typeName(int deviceType)
{
    switch (deviceType) {
    case DataProviderList::DeviceTypeSspdM0:
        return QStringLiteral("SSPD model 0");
    case DataProviderList::DeviceTypeSspdM1:
        return QStringLiteral("SSPD model 1");
    case DataProviderList::DeviceTypeTempM0:
        return QStringLiteral("temperature model 0");
    case DataProviderList::DeviceTypeTempM1:
        return QStringLiteral("temperature model 1");
    default:
        return QStringLiteral("module of another kind");
    }
}

bool ParameterRange::contains(double value) const
{
    const double slack = 1e-9 * qMax(std::abs(min), std::abs(max));
    return value >= min - slack && value <= max + slack;
}

QString ParameterRange::text() const
{
    return QStringLiteral("%1 to %2").arg(min).arg(max);
}

std::optional<ParameterRange> panelRange(int deviceType, const QString& name)
{
    QList<DriverDataItem> rows;
    appendDriverRows(rows, DataProviderItem{{QStringLiteral("type"), deviceType}});
    for (const DriverDataItem& row : std::as_const(rows)) {
        if (row.name() == name && row.type() == DriverDataModel::DriverDataTypeDouble &&
            row.scale() != 0)
            return ParameterRange{row.min() / row.scale(), row.max() / row.scale()};
    }
    return std::nullopt;
}
