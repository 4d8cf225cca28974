// Fuzzes the reader of channel preset files with arbitrary bytes. Whatever the file holds,
// the reader must not crash, must refuse exactly the files without a top-level "data"
// member (with the one error text and no channels), must name no more channels than "data"
// holds, must either write or refuse each of a channel's two values, write only what a
// parameter write accepts, and the channels it read, saved again as the application writes
// presets, must read back with the same writes and no refusal.
//
// Input layout: byte 0 modulo 3 picks
//   0: the rest is the file;
//   1: the rest is the text of the "data" array of a file;
//   2: the rest describes up to 16 elements of "data", four bytes each (below). The JSON
//      parser is not instrumented, so the fuzzer cannot find its way into well-formed
//      channel objects by itself; this form puts it there at once.
#include "engine/parameterlimits.h"
#include "engine/presetfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// Longer files find nothing that short ones miss, and every element costs the checked
// allocator dearly: inputs beyond these are not used, so that runs stay fast.
constexpr size_t MaxInput = 256;
constexpr qsizetype MaxDescribed = 16;

QByteArray savedForm(const QList<PresetChannel>& channels)
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

// Values a key may have; an undefined one leaves the key out.
QJsonValue valueOf(quint8 form, quint8 b)
{
    switch (form % 10) {
    case 0:
        return QJsonValue(QJsonValue::Undefined);
    case 1:
        return b;
    case 2:
        return -int(b);
    case 3:
        return b * 1e-6;
    case 4:
        return b + 0.5;
    case 5:
        return QString::number(b);
    case 6:
        return b % 2 == 1;
    case 7:
        return 1.7e308;
    case 8:
        return 3e9 + b;
    default:
        return QJsonValue(QJsonValue::Null);
    }
}

// One element of "data" from bytes a to d: a modulo 4 = 3 makes it the number b and no
// object; otherwise a / 4 picks the form of "type" (0, 1 and 2 far more often than the
// rest), b that of "address", c that of "current" and d that of "cmp_ref_level", the value
// itself taken from the next byte along.
QJsonValue describe(quint8 a, quint8 b, quint8 c, quint8 d)
{
    if (a % 4 == 3)
        return b;
    QJsonObject channel;
    const quint8 typeForm = a / 4;
    const QJsonValue type = typeForm % 4 < 3 ? QJsonValue(typeForm % 4) : valueOf(typeForm, b);
    const QJsonValue values[] = {type, valueOf(b, c), valueOf(c, d), valueOf(d, a)};
    const char* const keys[] = {"type", "address", "current", "cmp_ref_level"};
    for (size_t i = 0; i < std::size(keys); ++i) {
        if (!values[i].isUndefined())
            channel.insert(QLatin1String(keys[i]), values[i]);
    }
    return channel;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1 || size > MaxInput)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(bytes) + 1, qsizetype(size - 1));
    QByteArray file;
    switch (bytes[0] % 3) {
    case 0:
        file = rest;
        break;
    case 1:
        file = "{\"data\":[" + rest + "]}";
        break;
    default: {
        QJsonArray data;
        for (qsizetype i = 0; i + 3 < qMin(rest.size(), 4 * MaxDescribed); i += 4)
            data.append(describe(quint8(rest.at(i)), quint8(rest.at(i + 1)), quint8(rest.at(i + 2)),
                                 quint8(rest.at(i + 3))));
        file = QJsonDocument(QJsonObject{{"data", data}}).toJson();
        break;
    }
    }

    const PresetFileContent content = readPresetFile(file);
    const QJsonObject document = QJsonDocument::fromJson(file).object();
    if (!document.contains(QLatin1String("data"))) {
        check(content.error == QStringLiteral("Wrong data. Missed \"data\" member."));
        check(content.channels.isEmpty());
        return 0;
    }
    check(content.error.isEmpty());
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
