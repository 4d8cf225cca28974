#include "csvformat.h"

namespace Csv {

QString number(double value, int digits)
{
    return QString::number(value, 'g', digits);
}

QString value(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Float:
    case QMetaType::Double:
        return number(value.toDouble());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString();
    default:
        return value.isValid() ? value.toString() : QString();
    }
}

QString time(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString field(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

QString line(const QStringList& fields)
{
    QStringList escaped;
    escaped.reserve(fields.size());
    for (const QString& f : fields)
        escaped.append(field(f));
    return escaped.join(u',');
}

QString comment(const QString& key, const QString& value)
{
    QString flat = value;
    flat.replace(u'\n', u' ').replace(u'\r', u' ');
    return QStringLiteral("# %1: %2").arg(key, flat);
}

} // namespace Csv
