// Fuzzes the unit's reader of the file server's image message with arbitrary bytes.
// Whatever arrives, the reader must not crash, must accept only a message that encodes
// exactly the image it returns, must call every beginning of an accepted message
// incomplete (so that a message arriving in pieces is never refused), and must not take
// back a refusal when more bytes follow.
//
// Input layout: byte 0 bit 0 set puts a correct tag in front of the rest, so that the
// fuzzer spends its time on the size and image fields. The rest is the stream.
#include "net/simupdatemessages.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void appendBigEndian(QByteArray* bytes, quint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        bytes->append(char((value >> (8 * i)) & 0xFF));
}

// The tag as the file server's stream writes it: byte count, then UTF-16 big-endian.
QByteArray tagBytes()
{
    QByteArray bytes;
    const QByteArray tag = "FILE_DATA";
    appendBigEndian(&bytes, quint64(tag.size() * 2), 4);
    for (char c : tag)
        appendBigEndian(&bytes, quint8(c), 2);
    return bytes;
}

using Result = FileDataParse::Result;

void checkAccepted(const QByteArray& stream, const FileDataParse& parse)
{
    check(parse.consumed > 0 && parse.consumed <= stream.size());
    check(parse.image.size() <= UpdateMaxImageSize);
    // The accepted bytes are the message of that image, with either encoding of an empty
    // array (count 0 or the null marker).
    QByteArray expected = tagBytes();
    appendBigEndian(&expected, quint64(parse.image.size()), 8);
    const QByteArray head = expected;
    appendBigEndian(&expected, quint64(parse.image.size()), 4);
    expected += parse.image;
    QByteArray nullForm = head;
    appendBigEndian(&nullForm, 0xFFFFFFFFu, 4);
    const QByteArray accepted = stream.left(parse.consumed);
    check(accepted == expected || (parse.image.isEmpty() && accepted == nullForm));

    // Every beginning of it waits for more: all short ones, and a spread of longer ones.
    const qsizetype step = qMax<qsizetype>(1, parse.consumed / 64);
    for (qsizetype length = 0; length < parse.consumed; length += length < 48 ? 1 : step) {
        const FileDataParse part = parseFileDataMessage(stream.left(length));
        check(part.result == Result::Incomplete);
        check(part.image.isEmpty() && part.consumed == 0);
    }
    // What follows the message does not change it.
    const FileDataParse alone = parseFileDataMessage(accepted);
    check(alone.result == Result::Complete && alone.consumed == parse.consumed &&
          alone.image == parse.image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    QByteArray stream = (bytes[0] & 1) ? tagBytes() : QByteArray();
    stream.append(reinterpret_cast<const char*>(bytes) + 1, qsizetype(size - 1));

    const FileDataParse parse = parseFileDataMessage(stream);
    switch (parse.result) {
    case Result::Complete:
        check(parse.error.isEmpty());
        checkAccepted(stream, parse);
        break;
    case Result::Invalid: {
        check(!parse.error.isEmpty() && parse.image.isEmpty() && parse.consumed == 0);
        const FileDataParse more = parseFileDataMessage(stream + QByteArray(3, '\0'));
        check(more.result == Result::Invalid);
        break;
    }
    case Result::Incomplete:
        check(parse.error.isEmpty() && parse.image.isEmpty() && parse.consumed == 0);
        break;
    }
    return 0;
}
