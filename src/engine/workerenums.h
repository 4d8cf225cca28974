#pragma once
// The command queue carries plain numbers, as QML and the tools send them; the engine reads
// them as its own enumerations here and works with those alone.
#include <QMetaEnum>
#include <optional>

// The enumerator with that value; nullopt when the enumeration names none.
template <typename Enum> std::optional<Enum> enumFromNumber(int number)
{
    if (!QMetaEnum::fromType<Enum>().valueToKey(number))
        return std::nullopt;
    return static_cast<Enum>(number);
}
