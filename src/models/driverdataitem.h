#pragma once
// One typed parameter row of a module or a sweep: the value under its record key, with the
// label, section, delegate kind, shown scale, digits and allowed range the panel needs.
#include <QPointF>
#include <QString>
#include <QVariant>

class DriverDataItem
{
public:
    DriverDataItem() = default;
    // type is a DriverDataModel::DriverDataModelType; min and max are in shown units.
    DriverDataItem(const QString& name, const QString& displayedName, const QVariant& value,
                   const QString& group, int type, bool visible, int precision, double scale,
                   double min, double max);
    // A switch row: visible, no digits, scale 1, range 0..0; the value is taken as a bool.
    static DriverDataItem boolItem(const QString& name, const QString& displayedName,
                                   const QVariant& value, const QString& group);

    QString name() const { return m_name; }
    QString displayedName() const { return m_displayedName; }
    bool visible() const { return m_visible; }
    QVariant value() const { return m_value; }
    void setValue(const QVariant& value) { m_value = value; }
    QString group() const { return m_group; }
    int type() const { return m_type; }
    double scale() const { return m_scale; }
    int precision() const { return m_precision; }
    double min() const { return m_min; }
    double max() const { return m_max; }
    // The range as the panel reads it: x is the minimum, y the maximum.
    QPointF range() const { return QPointF(m_min, m_max); }

private:
    QString m_name;
    QString m_displayedName;
    bool m_visible = true;
    QVariant m_value;
    QString m_group;
    qint32 m_type = 0;
    double m_scale = 1.0;
    int m_precision = 0;
    double m_min = 0.0;
    double m_max = 0.0;
};
