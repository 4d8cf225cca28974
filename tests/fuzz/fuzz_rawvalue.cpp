// Fuzzes cu-tavik-cli's reader of raw `write` values: text (the rest) for a type byte 0 picks.
// An accepted value is of that type with finite numbers only, a partial structure merges over
// a module's value, and the check against the application's limits takes it.
#include "drivers/crelaysstatus.h"
#include "drivers/cudid.h"
#include "drivers/structurejson.h"
#include "drivers/structures/sspdstructs.h"
#include "drivers/structures/tempstructs.h"
#include "fuzzcheck.h"
#include "rawvalue.h"
#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

static bool allFinite(const QJsonValue& json)
{
    if (json.isDouble())
        return std::isfinite(json.toDouble());
    QList<QJsonValue> parts; // of an array or object; none of anything else
    for (const QJsonValue& v : json.toArray())
        parts << v;
    for (const QJsonValue& v : json.toObject())
        parts << v;
    return std::all_of(parts.cbegin(), parts.cend(), allFinite);
}

template <typename... T> static QList<QMetaType> metaTypes()
{
    return {QMetaType::fromType<T>()...};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1 || size > 256)
        return 0;
    static const QList<QMetaType> types =
        metaTypes<float, quint32, bool, cRelaysStatus, cUDID, pair_t<float>,
                  cmd::enum_VX9TDM1_SwitcherMode, VX9SDM0_Status_t, VX9SDM0V1_Param_t,
                  VX9SDM0V1_EEPROM_Const_t, VX9TDM0V1_EEPROM_Const_t>();
    const QMetaType type = types.at(bytes[0] % types.size());
    const QString text = QString::fromUtf8(fuzzBytes(bytes, size, 1));
    QString error;
    const std::optional<RawValue> raw = parseRawValue(text, type, &error);
    if (!raw) {
        check(!error.isEmpty());
        return 0;
    }
    check(raw->value.metaType() == type && allFinite(cuToJson(raw->value)));
    if (raw->partial) {
        check(type.flags() & QMetaType::IsGadget);
        const std::optional<QVariant> merged = mergedOver(*raw, QVariant(type), &error);
        check(merged && merged->metaType() == type);
    }
    (void)beyondLimits(QStringLiteral("sspd0"), QStringLiteral("params"), *raw);
    (void)beyondLimits(QStringLiteral("temp0"), QStringLiteral("current"), *raw);
    return 0;
}
