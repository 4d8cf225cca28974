#pragma once
// How a property value travels: the raw bytes of its in-memory type (little-endian,
// IEEE-754 singles), except strings, which are 24-byte UTF-8 fields.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstring>
#include <type_traits>

template <typename T> struct DriverValue
{
    static_assert(std::is_trivially_copyable_v<T>, "a wire value must be a plain byte image");
    static constexpr int size = int(sizeof(T));

    // The first size bytes; missing bytes (an empty array above all) read as zero.
    static T decode(const QByteArray& bytes)
    {
        T value;
        std::memset(static_cast<void*>(&value), 0, sizeof value);
        std::memcpy(static_cast<void*>(&value), bytes.constData(),
                    std::min<qsizetype>(size, bytes.size()));
        return value;
    }
    static QByteArray encode(const T& value)
    {
        return QByteArray(reinterpret_cast<const char*>(&value), size);
    }
};

template <> struct DriverValue<bool>
{
    static constexpr int size = 1;

    // A module byte other than 0 or 1 must not land in a C++ bool as it is: any non-zero
    // byte reads as true.
    static bool decode(const QByteArray& bytes) { return !bytes.isEmpty() && bytes.at(0) != 0; }
    static QByteArray encode(bool value) { return QByteArray(1, value ? '\1' : '\0'); }
};

template <> struct DriverValue<QString>
{
    static constexpr int size = 24;

    // All bytes of the field, trailing NULs included: modules pad their texts with zeros.
    static QString decode(const QByteArray& bytes) { return QString::fromUtf8(bytes); }
    static QByteArray encode(const QString& value)
    {
        QByteArray bytes = value.toUtf8().left(size);
        bytes.append(size - bytes.size(), '\0');
        return bytes;
    }
};
