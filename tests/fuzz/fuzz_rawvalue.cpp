// Fuzzes cu-tavik-cli's reader of the values a raw `write` sends, with arbitrary text for
// values of the module structures' types. Whatever the text, the reader must not crash or
// cast out of range, and a value it accepts must be of the property's type and hold only
// finite numbers; a structure given in part must merge over a module's value, and the check
// against the application's limits must take any accepted value.
//
// Input layout: byte 0 picks the property's type; the rest is the text.
#include "drivers/crelaysstatus.h"
#include "drivers/cudid.h"
#include "drivers/structurejson.h"
#include "drivers/structures/sspdstructs.h"
#include "drivers/structures/tempstructs.h"
#include "rawvalue.h"

#include <QJsonArray>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool allFinite(const QJsonValue& json)
{
    if (json.isDouble())
        return std::isfinite(json.toDouble());
    if (json.isArray()) {
        for (const QJsonValue& v : json.toArray())
            if (!allFinite(v))
                return false;
    }
    if (json.isObject()) {
        for (const QJsonValue& v : json.toObject())
            if (!allFinite(v))
                return false;
    }
    return true;
}

constexpr size_t MaxInput = 256;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1 || size > MaxInput)
        return 0;
    const QMetaType types[] = {
        QMetaType::fromType<float>(),
        QMetaType::fromType<quint32>(),
        QMetaType::fromType<bool>(),
        QMetaType::fromType<cRelaysStatus>(),
        QMetaType::fromType<cUDID>(),
        QMetaType::fromType<pair_t<float>>(),
        QMetaType::fromType<cmd::enum_VX9TDM1_SwitcherMode>(),
        QMetaType::fromType<VX9SDM0_Status_t>(),
        QMetaType::fromType<VX9SDM0V1_Param_t>(),
        QMetaType::fromType<VX9SDM0V1_EEPROM_Const_t>(),
        QMetaType::fromType<VX9TDM0V1_EEPROM_Const_t>(),
    };
    const QMetaType type = types[bytes[0] % std::size(types)];
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(bytes) + 1, qsizetype(size - 1));

    QString error;
    const std::optional<RawValue> raw = parseRawValue(text, type, &error);
    if (!raw) {
        check(!error.isEmpty());
        return 0;
    }
    check(raw->value.metaType() == type);
    check(allFinite(cuToJson(raw->value)));
    if (raw->partial) {
        check(type.flags() & QMetaType::IsGadget);
        const std::optional<QVariant> merged = mergedOver(*raw, QVariant(type), &error);
        check(merged && merged->metaType() == type);
    }
    (void)beyondLimits(QStringLiteral("sspd0"), QStringLiteral("params"), *raw);
    (void)beyondLimits(QStringLiteral("temp0"), QStringLiteral("current"), *raw);
    return 0;
}
