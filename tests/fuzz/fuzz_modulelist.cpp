// Fuzzes the readers of the unit's module list answers with arbitrary bytes: the JSON answer
// to "SYST:DEVJ?", the legacy "<br>"-separated text of "SYST:DEVL?", and the device list
// records built from the JSON list. Whatever the unit sends, nothing may crash or run past
// the data present (whatever "count" promises), every record must carry the keys of its
// type, the driver made for an entry and the record shown for it must agree on address and
// type, and a legacy list written back from what was read must read the same.
//
// Input layout: byte 1 picks the "count" where one is made up (below); byte 0 modulo 3 picks
//   0: the bytes after byte 1 are the answer, read both as JSON and as legacy text;
//   1: they are the text of the "info" array of a JSON list, and the legacy text;
//   2: they describe up to 8 modules, three bytes each (below), written both as a JSON
//      list and as legacy text. The JSON parser is not instrumented, so the fuzzer cannot
//      find its way into well-formed lists by itself; this form puts it there at once.
#include "engine/modulelistparser.h"
#include "engine/modulerecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// Longer lists find nothing that short ones miss, and every module listed costs the
// checked allocator dearly: inputs beyond these are not used, so that runs stay fast.
constexpr size_t MaxInput = 256;
constexpr qsizetype MaxDescribed = 8;

// Keys of every record, and the further keys of each type code (a model-1 temperature
// module has the two of its readings from the start).
constexpr qsizetype CommonKeys = 11;
constexpr qsizetype SspdKeys = 16;
constexpr qsizetype ExtraKeys[] = {SspdKeys + 1, SspdKeys + 2, 6, 2, 0};

void checkRecord(const DataProviderItem& record, const ModuleListEntry& entry)
{
    const QVariant address = record.value(QStringLiteral("address"));
    check(address.typeId() == QMetaType::Int);
    // The worker's driver sits on the low eight bits of the address the record keeps.
    check(quint8(address.toInt() & 0xFF) == entry.address);

    const QVariant type = record.value(QStringLiteral("type"));
    check(type.typeId() == QMetaType::Int);
    const int code = type.toInt();
    check(code >= 0 && code <= 4);
    check(code == moduleDeviceType(entry.type));

    check(record.value(QStringLiteral("status")) == QVariant(0));
    for (const char* flag : {"restore", "selected", "operate"})
        check(record.value(QLatin1String(flag)) == QVariant(false));
    check(record.size() == CommonKeys + ExtraKeys[code]);
}

void fuzzJson(const QString& answer)
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
    check(entries.size() == objects);
    check(records.size() == entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        checkRecord(records.at(i), entries.at(i));
}

void fuzzLegacy(const QString& answer)
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

// Type strings a unit may send, and some it should not; an empty name leaves "type" out.
const char* const Types[] = {"VX9SDM0", "VX9SDM1",         "VX9TDM0", "VX9TDM1",
                             "VX9HTM0", "VX9SDM1 VX9TDM0", "vx9sdm0", " VX9TDM1\r\n",
                             "",        "VX9SDM0=:x",      "VX9SIS0"};

// One module of the described form: byte a modulo 8 picks how its address is written (left
// out, b, b + 200, -b, b + 0.5, as text, beyond 32 bits, or the entry is the number b and
// no object), byte b is the address, byte c picks the type string.
struct Described
{
    QJsonValue json;
    QString legacyLine;
};

Described describe(quint8 a, quint8 b, quint8 c)
{
    const QString type = QString::fromLatin1(Types[c % std::size(Types)]);
    QJsonObject entry;
    QString addressField = QStringLiteral("addr=%1");
    switch (a % 8) {
    case 0:
        addressField = QStringLiteral("addr");
        break;
    case 1:
        entry.insert("address", b);
        addressField = addressField.arg(b);
        break;
    case 2:
        entry.insert("address", b + 200);
        addressField = addressField.arg(b + 200);
        break;
    case 3:
        entry.insert("address", -int(b));
        addressField = addressField.arg(-int(b));
        break;
    case 4:
        entry.insert("address", b + 0.5);
        addressField = addressField.arg(b + 0.5);
        break;
    case 5:
        entry.insert("address", QString::number(b));
        addressField = addressField.arg(QStringLiteral("x%1").arg(b));
        break;
    case 6:
        entry.insert("address", 3e9 + b);
        addressField = addressField.arg(qint64(3e9) + b);
        break;
    default:
        return {QJsonValue(b), QStringLiteral("no module here %1").arg(b)};
    }
    if (!type.isEmpty())
        entry.insert("type", type);
    entry.insert("Firmware", QStringLiteral("1.%1").arg(c));
    const QString typeField = type.isEmpty() ? QStringLiteral("type") : "type=" + type;
    return {entry, QStringLiteral("m=%1:%2:%3").arg(a).arg(addressField, typeField)};
}

// "count" as a list writes it: mostly -4 to 19 (none, fewer and more entries than listed);
// from byte value 240 on, counts far beyond any list, and values that do not read as one.
QByteArray countText(quint8 b)
{
    static const char* const odd[] = {"2147483647", "1000000000", "-2147483648", "2147483648",
                                      "1.5",        "\"3\"",      "null",        "1e300"};
    if (b >= 240)
        return odd[(b - 240) % std::size(odd)];
    return QByteArray::number(b % 24 - 4);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 2 || size > MaxInput)
        return 0;
    const QByteArray count = countText(bytes[1]);
    // The link hands the unit's answer on as UTF-8 text.
    const QByteArray rest(reinterpret_cast<const char*>(bytes) + 2, qsizetype(size - 2));

    switch (bytes[0] % 3) {
    case 0:
        fuzzJson(QString::fromUtf8(rest));
        fuzzLegacy(QString::fromUtf8(rest));
        break;
    case 1:
        fuzzJson(QString::fromUtf8("{\"count\":" + count + ",\"info\":[" + rest + "]}"));
        fuzzLegacy(QString::fromUtf8(rest));
        break;
    default: {
        QJsonArray info;
        QStringList lines;
        for (qsizetype i = 0; i + 2 < qMin(rest.size(), 3 * MaxDescribed); i += 3) {
            const Described module =
                describe(quint8(rest.at(i)), quint8(rest.at(i + 1)), quint8(rest.at(i + 2)));
            info.append(module.json);
            lines << module.legacyLine;
        }
        fuzzJson(QString::fromUtf8("{\"count\":" + count + ",\"info\":" +
                                   QJsonDocument(info).toJson(QJsonDocument::Compact) + "}"));
        fuzzLegacy(lines.join(QStringLiteral("<br>")) + QStringLiteral("\r\n"));
        break;
    }
    }
    return 0;
}
