// Fuzzes the reader of channel preset files. It must refuse exactly the files without "data"
// (with the one error text), name no more channels than "data" holds, write (within the
// limits) or refuse each of a channel's two values; saved again, what it read reads back.
// Byte 0 modulo 3 picks what the rest is: the file, the "data" array's text, or up to 16
// elements of four bytes (describe(): the JSON parser is not instrumented). At most 256 bytes.
#include "engine/parameterlimits.h"
#include "engine/presetfile.h"
#include "fuzzcheck.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

static QByteArray savedForm(const QList<PresetChannel>& channels)
{
    QJsonArray data;
    for (const PresetChannel& channel : channels) {
        QJsonObject object{{"type", 0}, {"address", channel.address}};
        for (const auto& [name, value] : channel.writes)
            object.insert(name, value);
        data.append(object);
    }
    return QJsonDocument(QJsonObject{{"data", data}}).toJson();
}

// Values a key may have, by form modulo 10.
static QJsonValue valueOf(quint8 form, quint8 b)
{
    const QJsonValue values[] = {
        QJsonValue::Undefined, b,          -int(b), b * 1e-6, b + 0.5,
        QString::number(b),    b % 2 == 1, 1.7e308, 3e9 + b,  QJsonValue::Null};
    return values[form % 10];
}

// One element of "data": a modulo 4 = 3 makes it the number b; otherwise a / 4 picks the
// form of "type" (mostly 0 to 2), b, c and d those of "address", "current", "cmp_ref_level",
// each value taken from the next byte along.
static QJsonValue describe(quint8 a, quint8 b, quint8 c, quint8 d)
{
    if (a % 4 == 3)
        return b;
    const quint8 typeForm = a / 4;
    const QJsonValue values[] = {typeForm % 4 < 3 ? QJsonValue(typeForm % 4) : valueOf(typeForm, b),
                                 valueOf(b, c), valueOf(c, d), valueOf(d, a)};
    const char* const keys[] = {"type", "address", "current", "cmp_ref_level"};
    QJsonObject channel;
    for (size_t i = 0; i < std::size(keys); ++i)
        channel.insert(QLatin1String(keys[i]), values[i]); // an undefined one is left out
    return channel;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1 || size > 256)
        return 0;
    const QByteArray rest = fuzzBytes(bytes, size, 1);
    QByteArray file = rest;
    if (bytes[0] % 3 == 1) {
        file = "{\"data\":[" + rest + "]}";
    } else if (bytes[0] % 3 == 2) {
        QJsonArray data;
        for (qsizetype i = 0; i + 3 < qMin<qsizetype>(rest.size(), 4 * 16); i += 4)
            data.append(describe(quint8(rest.at(i)), quint8(rest.at(i + 1)), quint8(rest.at(i + 2)),
                                 quint8(rest.at(i + 3))));
        file = QJsonDocument(QJsonObject{{"data", data}}).toJson();
    }
    const PresetFileContent content = readPresetFile(file);
    const QJsonObject document = QJsonDocument::fromJson(file).object();
    check(content.error == (document.contains(QLatin1String("data"))
                                ? QString()
                                : QStringLiteral("Wrong data. Missed \"data\" member.")));
    check(content.channels.size() <= document.value(QLatin1String("data")).toArray().size());
    qsizetype writes = 0;
    for (const PresetChannel& channel : content.channels) {
        writes += channel.writes.size();
        for (const auto& [name, value] : channel.writes)
            check(ParameterLimits::problem(name, value).isEmpty());
    }
    check(writes + content.refusals.size() == 2 * content.channels.size());
    // A refused value left out of the saved form reads back as the default 0.
    const PresetFileContent again = readPresetFile(savedForm(content.channels));
    check(again.error.isEmpty() && again.refusals.isEmpty());
    check(again.channels.size() == content.channels.size());
    for (qsizetype i = 0; i < content.channels.size(); ++i) {
        check(again.channels.at(i).address == content.channels.at(i).address);
        for (const auto& write : content.channels.at(i).writes)
            check(again.channels.at(i).writes.contains(write));
    }
    return 0;
}
