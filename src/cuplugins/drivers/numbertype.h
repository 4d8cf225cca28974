#pragma once
// Which stored types are plain numbers: the integer and floating-point types a module value,
// a calibration constant or a setting from a file may hold. Booleans, texts and lists are
// not, whatever QVariant would make of them.
#include <QMetaType>

inline bool cuIsNumberType(int typeId)
{
    switch (typeId) {
    case QMetaType::Float:
    case QMetaType::Double:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}
