#include "eepromdataitem.h"

#include "drivers/numbertype.h"

#include <QMetaType>
#include <QVariantList>
#include <QVariantMap>
#include <cmath>
#include <limits>

namespace {

// Pairs cross to the GUI thread inside QVariantMaps of queued signals; registering the
// type once makes it known by name as well.
void registerPairType()
{
    qRegisterMetaType<EepromPair>();
}
Q_CONSTRUCTOR_FUNCTION(registerPairType)

// A plain number, or a text holding one. Booleans, lists and the like are no numbers here,
// although QVariant would happily convert some of them.
bool toNumber(const QVariant& value, double* out)
{
    const int typeId = value.typeId();
    bool ok = false;
    double number = 0.0;
    if (cuIsNumberType(typeId)) {
        number = value.toDouble(&ok);
    } else if (typeId == QMetaType::QString || typeId == QMetaType::QByteArray) {
        number = value.toString().trimmed().toDouble(&ok);
    }
    if (!ok)
        return false;
    *out = number;
    return true;
}

// A list of two elements, from whatever sequence the caller handed over (QML arrays
// arrive as QVariantList, or as a QJSValue that converts to one).
bool toTwoElements(const QVariant& value, QVariant* first, QVariant* second)
{
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        if (map.size() != 2 || !map.contains(QStringLiteral("first")) ||
            !map.contains(QStringLiteral("second")))
            return false;
        *first = map.value(QStringLiteral("first"));
        *second = map.value(QStringLiteral("second"));
        return true;
    }
    QVariantList list;
    if (value.typeId() == QMetaType::QVariantList) {
        list = value.toList();
    } else if (value.typeId() != QMetaType::QString && value.typeId() != QMetaType::QByteArray &&
               value.canConvert<QVariantList>()) {
        list = value.value<QVariantList>();
    } else {
        return false;
    }
    if (list.size() != 2)
        return false;
    *first = list.at(0);
    *second = list.at(1);
    return true;
}

} // namespace

EepromDataItem::EepromDataItem(const QString& group, const QString& name,
                               const QString& displayedName, EepromDataType type,
                               const QVariant& value, QObject* parent)
    : QObject(parent), m_group(group), m_name(name), m_displayedName(displayedName), m_type(type),
      m_value(value)
{
}

void EepromDataItem::setGroup(const QString& group)
{
    if (m_group == group)
        return;
    m_group = group;
    emit groupChanged();
}

void EepromDataItem::setName(const QString& name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
}

void EepromDataItem::setDisplayedName(const QString& displayedName)
{
    if (m_displayedName == displayedName)
        return;
    m_displayedName = displayedName;
    emit displayedNameChanged();
}

void EepromDataItem::setType(EepromDataType type)
{
    if (m_type == type)
        return;
    m_type = type;
    emit typeChanged();
}

void EepromDataItem::setValue(const QVariant& value)
{
    if (m_value == value)
        return;
    m_value = value;
    emit valueChanged();
}

EepromPair EepromDataItem::toPair(const QVariant& value, bool* ok)
{
    if (ok)
        *ok = false;
    if (value.typeId() == QMetaType::fromType<EepromPair>().id()) {
        if (ok)
            *ok = true;
        return value.value<EepromPair>();
    }
    QVariant first;
    QVariant second;
    EepromPair pair{0.0, 0.0};
    if (!toTwoElements(value, &first, &second) || !toNumber(first, &pair.first) ||
        !toNumber(second, &pair.second))
        return {0.0, 0.0};
    if (ok)
        *ok = true;
    return pair;
}

bool EepromDataItem::toStorablePair(const QVariant& value, EepromPair* out)
{
    bool ok = false;
    const EepromPair pair = toPair(value, &ok);
    if (!ok || !isStorable(pair.first) || !isStorable(pair.second))
        return false;
    *out = pair;
    return true;
}

bool EepromDataItem::toStorableDouble(const QVariant& value, double* out)
{
    double number = 0.0;
    if (!toNumber(value, &number) || !isStorable(number))
        return false;
    *out = number;
    return true;
}

bool EepromDataItem::isStorable(double value)
{
    // The module keeps IEEE-754 single floats: anything beyond their range would turn into
    // an infinity (or worse) when narrowed for the write.
    return std::isfinite(value) && std::fabs(value) <= double(std::numeric_limits<float>::max());
}

#include "moc_eepromdataitem.cpp"
