#include "structurejson.h"

#include "crelaysstatus.h"
#include "cudid.h"
#include "numbertype.h"
#include "pair.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QRegularExpression>
#include <cmath>
#include <cstring>

namespace {

// Whether a JSON number is a value of the integer (or floating) type without loss.
bool fits(double v, QMetaType type)
{
    double low = 0, high = 0;
    switch (type.id()) {
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    case QMetaType::Char:
        low = -128, high = 255; // signedness of char differs between x86 and ARM
        break;
    case QMetaType::SChar:
        low = -128, high = 127;
        break;
    case QMetaType::UChar:
        high = 255;
        break;
    case QMetaType::Short:
        low = -32768, high = 32767;
        break;
    case QMetaType::UShort:
        high = 65535;
        break;
    case QMetaType::Int:
        low = -2147483648.0, high = 2147483647.0;
        break;
    case QMetaType::UInt:
        high = 4294967295.0;
        break;
    default: // 64-bit integers: JSON numbers are doubles anyway
        low = -9007199254740992.0, high = 9007199254740992.0;
        if (type.id() == QMetaType::ULong || type.id() == QMetaType::ULongLong)
            low = 0;
        break;
    }
    return std::floor(v) == v && v >= low && v <= high;
}

// The enumerator of an enumeration type, looked up in the meta-object that declares it.
QMetaEnum enumeratorOf(QMetaType type)
{
    const QMetaObject* scope = type.metaObject();
    if (!scope)
        return {};
    QByteArray name = type.name();
    name = name.mid(name.lastIndexOf(':') + 1);
    const int index = scope->indexOfEnumerator(name.constData());
    return index < 0 ? QMetaEnum() : scope->enumerator(index);
}

qint64 enumValue(const QVariant& value)
{
    qint64 raw = 0;
    std::memcpy(&raw, value.constData(), qMin<qsizetype>(sizeof raw, value.metaType().sizeOf()));
    return raw;
}

} // namespace

QJsonValue cuToJson(const QVariant& value)
{
    const QMetaType type = value.metaType();
    if (type.id() == QMetaType::Bool)
        return value.toBool();
    if (cuIsNumberType(type.id()))
        return value.toDouble();
    if (type.id() == QMetaType::QString)
        return value.toString();
    if (type.id() == QMetaType::QByteArray)
        return QString::fromLatin1(value.toByteArray().toHex());
    if (type == QMetaType::fromType<pair_t<float>>()) {
        const auto pair = value.value<pair_t<float>>();
        return QJsonObject{{"first", double(pair.first)}, {"second", double(pair.second)}};
    }
    if (type == QMetaType::fromType<cUDID>())
        return value.value<cUDID>().toString();
    if (type == QMetaType::fromType<cRelaysStatus>())
        return double(value.value<cRelaysStatus>().raw());
    if (type.id() == QMetaType::QVariantList) {
        QJsonArray array;
        for (const QVariant& item : value.toList())
            array.append(cuToJson(item));
        return array;
    }
    if (type.flags() & QMetaType::IsEnumeration) {
        const qint64 raw = enumValue(value);
        const char* key = enumeratorOf(type).valueToKey(int(raw));
        return key ? QJsonValue(QString::fromLatin1(key)) : QJsonValue(double(raw));
    }
    if (type.flags() & QMetaType::IsGadget) {
        const QMetaObject* meta = type.metaObject();
        QJsonObject object;
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QMetaProperty field = meta->property(i);
            object.insert(QString::fromLatin1(field.name()),
                          cuToJson(field.readOnGadget(value.constData())));
        }
        return object;
    }
    return QJsonValue(QJsonValue::Undefined);
}

QVariant cuFromJson(const QJsonValue& json, QMetaType type, bool* ok)
{
    bool good = true;
    QVariant result(type); // value-initialised: all zero bytes for a wire structure
    if (type.id() == QMetaType::Bool) {
        good = json.isBool() || json.isDouble();
        result = json.isBool() ? json.toBool() : json.toDouble() != 0;
    } else if (cuIsNumberType(type.id())) {
        good = json.isDouble() && fits(json.toDouble(), type);
        QVariant number(json.toDouble());
        good = good && number.convert(type);
        if (good)
            result = number;
    } else if (type.id() == QMetaType::QString) {
        good = json.isString();
        result = json.toString();
    } else if (type.id() == QMetaType::QByteArray) {
        static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
        good = json.isString() && hex.match(json.toString()).hasMatch();
        result = QByteArray::fromHex(json.toString().toLatin1());
    } else if (type == QMetaType::fromType<pair_t<float>>()) {
        const QJsonObject object = json.toObject();
        good = json.isObject() && object.value("first").isDouble() &&
               object.value("second").isDouble();
        result = QVariant::fromValue(pair_t<float>{float(object.value("first").toDouble()),
                                                   float(object.value("second").toDouble())});
    } else if (type == QMetaType::fromType<cRelaysStatus>()) {
        good = json.isDouble() && fits(json.toDouble(), QMetaType::fromType<quint8>());
        // A number out of the byte's range must not be cast at all.
        result = QVariant::fromValue(cRelaysStatus(good ? quint8(json.toDouble()) : 0));
    } else if (type == QMetaType::fromType<cUDID>()) {
        result = QVariant::fromValue(cUDID::fromString(json.toString(), &good));
    } else if (type.flags() & QMetaType::IsEnumeration) {
        qint64 raw = 0;
        if (json.isString()) {
            raw = enumeratorOf(type).keyToValue(json.toString().toLatin1().constData(), &good);
        } else {
            good = json.isDouble() && fits(json.toDouble(), QMetaType::fromType<qint64>());
            raw = good ? qint64(json.toDouble()) : 0;
        }
        std::memcpy(result.data(), &raw, qMin<qsizetype>(sizeof raw, type.sizeOf()));
    } else if (type.flags() & QMetaType::IsGadget) {
        good = json.isObject();
        const QJsonObject object = json.toObject();
        const QMetaObject* meta = type.metaObject();
        for (int i = meta->propertyOffset(); good && i < meta->propertyCount(); ++i) {
            const QMetaProperty field = meta->property(i);
            const QJsonValue member = object.value(QString::fromLatin1(field.name()));
            if (member.isUndefined())
                continue;
            bool fieldOk = false;
            const QVariant fieldValue = cuFromJson(member, field.metaType(), &fieldOk);
            good = fieldOk && field.writeOnGadget(result.data(), fieldValue);
        }
    } else {
        good = false;
    }
    if (ok)
        *ok = good;
    return good ? result : QVariant(type);
}

bool cuMergeJson(const QJsonValue& json, QVariant* value, const QString& what, QString* error)
{
    const auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!json.isObject())
        return fail(QStringLiteral("%1 must be an object of its fields").arg(what));
    QJsonObject merged = cuToJson(*value).toObject();
    const QJsonObject given = json.toObject();
    for (auto it = given.begin(); it != given.end(); ++it) {
        if (!merged.contains(it.key()))
            return fail(QStringLiteral("unknown field \"%1\" in %2").arg(it.key(), what));
        merged.insert(it.key(), it.value());
    }
    bool ok = false;
    const QVariant result = cuFromJson(merged, value->metaType(), &ok);
    if (!ok)
        return fail(QStringLiteral("%1: a field has the wrong type or range").arg(what));
    *value = result;
    return true;
}
