// Fuzzes the unit's reader of the file server's image message (the rest, behind a correct tag
// when byte 0 is odd): it accepts only the message of the image it returns, calls every
// beginning of one incomplete, and does not take back a refusal when more bytes follow.
#include "fuzzcheck.h"
#include "net/simupdatemessages.h"
#include <QDataStream>
#include <QIODevice>

using Result = FileDataParse::Result;

// The message's head as the file server's stream writes it: the tag (byte count, then UTF-16
// big-endian), then the fields given (image size, array count).
template <typename... Fields> static QByteArray message(Fields... fields)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint32(18);
    for (char c : QByteArray("FILE_DATA"))
        out << quint16(c);
    ((out << fields), ...);
    return bytes;
}

static void checkAccepted(const QByteArray& stream, const FileDataParse& parse)
{
    check(parse.consumed > 0 && parse.consumed <= stream.size());
    check(parse.image.size() <= UpdateMaxImageSize);
    // That image's message, an empty array as count 0 or as the null marker.
    const quint64 size = quint64(parse.image.size());
    const QByteArray accepted = stream.left(parse.consumed);
    check(accepted == message(size, quint32(size)) + parse.image ||
          (size == 0 && accepted == message(quint64(0), 0xFFFFFFFFu)));
    // Every beginning of it waits for more: all short ones, and a spread of longer ones.
    const qsizetype step = qMax<qsizetype>(1, parse.consumed / 64);
    for (qsizetype length = 0; length < parse.consumed; length += length < 48 ? 1 : step) {
        const FileDataParse part = parseFileDataMessage(stream.left(length));
        check(part.result == Result::Incomplete && part.image.isEmpty() && part.consumed == 0);
    }
    // What follows the message does not change it.
    const FileDataParse alone = parseFileDataMessage(accepted);
    check(alone.result == Result::Complete && alone.consumed == parse.consumed &&
          alone.image == parse.image);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray stream =
        ((bytes[0] & 1) ? message() : QByteArray()) + fuzzBytes(bytes, size, 1);
    const FileDataParse parse = parseFileDataMessage(stream);
    if (parse.result == Result::Complete) {
        check(parse.error.isEmpty());
        checkAccepted(stream, parse);
        return 0;
    }
    check(parse.error.isEmpty() == (parse.result == Result::Incomplete));
    check(parse.image.isEmpty() && parse.consumed == 0);
    if (parse.result == Result::Invalid)
        check(parseFileDataMessage(stream + QByteArray(3, '\0')).result == Result::Invalid);
    return 0;
}
