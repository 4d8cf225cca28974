#include "driverdataitem.h"

#include "driverdatamodel.h"

DriverDataItem::DriverDataItem(const QString& name, const QString& displayedName,
                               const QVariant& value, const QString& group, int type, bool visible,
                               int precision, double scale, double min, double max)
    : m_name(name), m_displayedName(displayedName), m_visible(visible), m_value(value),
      m_group(group), m_type(type), m_scale(scale), m_precision(precision), m_min(min), m_max(max)
{
}

DriverDataItem DriverDataItem::boolItem(const QString& name, const QString& displayedName,
                                        const QVariant& value, const QString& group)
{
    return DriverDataItem(name, displayedName, value.toBool(), group,
                          DriverDataModel::DriverDataTypeBool, true, 0, 1.0, 0.0, 0.0);
}
