// Fuzzes cu-tavik-cli's reader of the values a raw `write` sends: text (the rest of the
// input) for a property of a type byte 0 picks. An accepted value must be of that type and
// hold only finite numbers, a structure given in part must merge over a module's value, and
// the check against the application's limits must take any accepted value.
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1 || size > 256)
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
    const QString text = QString::fromUtf8(fuzzBytes(bytes, size, 1));

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
