// Fuzzes the readers of the unit's module list: the JSON answer to "SYST:DEVJ?", the legacy
// "<br>" text of "SYST:DEVL?" and the records built from the JSON. Nothing may run past the
// data present (whatever "count" says); records carry their type's keys and agree with their
// driver; a legacy list written back reads the same. Byte 1 picks a made-up "count", byte 0
// modulo 3 what the rest is: the answer, the "info" array's text, or up to 8 modules of three
// bytes (describe(): the JSON parser is not instrumented). At most 256 bytes, for speed.
#include "engine/modulelistparser.h"
#include "engine/modulerecords.h"
#include "fuzzcheck.h"
#include <QJsonArray>
#include <QJsonDocument>

// The keys of a record: 11 of every module, and those of its type code.
constexpr qsizetype Keys[] = {11 + 17, 11 + 18, 11 + 6, 11 + 2, 11};

static void fuzzJson(const QString& answer)
{
    const QJsonObject list = moduleListObject(answer);
    const QList<ModuleListEntry> entries = jsonModuleEntries(list);
    const QList<DataProviderItem> records = moduleRecords(list);
    // One entry per object among the first "count" of "info", and never more.
    const int count = list.value(QLatin1String("count")).toInt(-1);
    const QJsonArray info = list.value(QLatin1String("info")).toArray();
    qsizetype objects = 0;
    for (qsizetype i = 0; i < count && i < info.size(); ++i)
        objects += info.at(i).isObject() ? 1 : 0;
    check(entries.size() == objects && records.size() == objects);
    for (qsizetype i = 0; i < objects; ++i) {
        const DataProviderItem& record = records.at(i);
        // The worker's driver sits on the low eight bits of the address the record keeps.
        const QVariant address = record.value(QStringLiteral("address"));
        check(address.typeId() == QMetaType::Int &&
              quint8(address.toInt()) == entries.at(i).address);
        const QVariant type = record.value(QStringLiteral("type"));
        const int code = type.toInt();
        check(type.typeId() == QMetaType::Int && code >= 0 && code <= 4);
        check(code == moduleDeviceType(entries.at(i).type) &&
              record.value("status") == QVariant(0));
        for (const char* flag : {"restore", "selected", "operate"})
            check(record.value(QLatin1String(flag)) == QVariant(false));
        check(record.size() == Keys[code]);
    }
}

static void fuzzLegacy(const QString& answer)
{
    const QList<ModuleListEntry> entries = legacyModuleEntries(answer);
    check(entries.size() <= answer.count(QStringLiteral("<br>")) + 1);
    QStringList lines;
    for (const ModuleListEntry& entry : entries) {
        check(!entry.type.contains(u':') && !entry.type.contains(QStringLiteral("<br>")));
        check(entry.type == entry.type.trimmed());
        lines << QStringLiteral("m=0:addr=%1:type=%2").arg(entry.address).arg(entry.type);
    }
    check(legacyModuleEntries(lines.join(QStringLiteral("<br>"))) == entries);
}

// One module as a JSON entry and a legacy line: a modulo 8 writes address b left out, as b,
// b + 200, -b, b + 0.5, text, beyond 32 bits, or the entry is the number b; c picks the type
// (some a unit should not send; an empty one leaves "type" out).
static std::pair<QJsonValue, QString> describe(quint8 a, quint8 b, quint8 c)
{
    static const char* const types[] = {"VX9SDM0", "VX9SDM1",         "VX9TDM0", "VX9TDM1",
                                        "VX9HTM0", "VX9SDM1 VX9TDM0", "vx9sdm0", " VX9TDM1\r\n",
                                        "",        "VX9SDM0=:x",      "VX9SIS0"};
    const int form = a % 8;
    if (form == 7)
        return {b, QStringLiteral("no module here %1").arg(b)};
    const QJsonValue addresses[] = {QJsonValue::Undefined, b,      b + 200, -int(b), b + 0.5,
                                    QString::number(b),    3e9 + b};
    const QString type = QString::fromLatin1(types[c % std::size(types)]);
    QJsonObject entry{{"Firmware", QStringLiteral("1.%1").arg(c)}};
    QString address = QStringLiteral("addr");
    if (form != 0) {
        entry.insert("address", addresses[form]);
        address += u'=' + (form == 5 ? QStringLiteral("x%1").arg(b)
                                     : QString::number(addresses[form].toDouble(), 'g', 12));
    }
    entry.insert("type", type.isEmpty() ? QJsonValue::Undefined : QJsonValue(type));
    return {entry, QStringLiteral("m=%1:%2:type").arg(a).arg(address) +
                       (type.isEmpty() ? QString() : u'=' + type)};
}

// "count": mostly -4 to 19; from 240 on, counts far beyond any list, or no count at all.
static QByteArray countText(quint8 b)
{
    static const char* const odd[] = {"2147483647", "1000000000", "-2147483648", "2147483648",
                                      "1.5",        "\"3\"",      "null",        "1e300"};
    return b >= 240 ? QByteArray(odd[(b - 240) % std::size(odd)]) : QByteArray::number(b % 24 - 4);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 2 || size > 256)
        return 0;
    const QByteArray count = countText(bytes[1]);
    // The link hands the unit's answer on as UTF-8 text.
    const QByteArray rest = fuzzBytes(bytes, size, 2);
    QString json = QString::fromUtf8(rest);
    QString legacy = json;
    if (bytes[0] % 3 == 1) {
        json = QString::fromUtf8("{\"count\":" + count + ",\"info\":[" + rest + "]}");
    } else if (bytes[0] % 3 == 2) {
        QJsonArray info;
        QStringList lines;
        for (qsizetype i = 0; i + 2 < qMin<qsizetype>(rest.size(), 3 * 8); i += 3) {
            const auto [json, line] =
                describe(quint8(rest.at(i)), quint8(rest.at(i + 1)), quint8(rest.at(i + 2)));
            info.append(json);
            lines << line;
        }
        json = QString::fromUtf8("{\"count\":" + count + ",\"info\":" +
                                 QJsonDocument(info).toJson(QJsonDocument::Compact) + "}");
        legacy = lines.join(QStringLiteral("<br>")) + QStringLiteral("\r\n");
    }
    fuzzJson(json);
    fuzzLegacy(legacy);
    return 0;
}
