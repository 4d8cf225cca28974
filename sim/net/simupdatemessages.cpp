#include "simupdatemessages.h"

#include <QDataStream>
#include <QIODevice>

namespace {

const QString FileDataTag = QStringLiteral("FILE_DATA");
// A QString travels as its UTF-16 byte count; 0xFFFFFFFF marks a null string or array.
constexpr quint32 NullMarker = 0xFFFFFFFFu;

FileDataParse invalid(const QString& error)
{
    FileDataParse parse;
    parse.result = FileDataParse::Result::Invalid;
    parse.error = error;
    return parse;
}

template <typename... Fields> QByteArray encode(const QString& tag, const Fields&... fields)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(UpdateStreamVersion);
    out << tag;
    ((out << fields), ...);
    return bytes;
}

} // namespace

FileDataParse parseFileDataMessage(const QByteArray& bytes)
{
    // Stateless: the caller keeps what arrived and asks again with more, so nothing is
    // taken from its buffer until the whole message is there.
    QDataStream in(bytes);
    in.setVersion(UpdateStreamVersion);
    const auto readPastEnd = [&in] { return in.status() != QDataStream::Ok; };

    // The tag is checked on its length first, so that garbage fails at once instead of
    // after waiting for a string of whatever length it announces.
    quint32 tagBytes = 0;
    in >> tagBytes;
    if (readPastEnd())
        return {};
    if (tagBytes == NullMarker)
        return invalid(QStringLiteral("message without a tag"));
    if (tagBytes != quint32(FileDataTag.size() * 2))
        return invalid(QStringLiteral("not an image message (tag of %1 bytes)").arg(tagBytes));
    QByteArray tagUtf16(tagBytes, Qt::Uninitialized);
    if (in.readRawData(tagUtf16.data(), int(tagBytes)) != int(tagBytes))
        return {};
    QString tag(FileDataTag.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < tag.size(); ++i)
        tag[i] = QChar(quint16(quint8(tagUtf16[2 * i]) << 8 | quint8(tagUtf16[2 * i + 1])));
    if (tag != FileDataTag)
        return invalid(QStringLiteral("unexpected message instead of the image"));

    qint64 size = 0;
    in >> size;
    if (readPastEnd())
        return {};
    if (size < 0)
        return invalid(QStringLiteral("negative image size %1").arg(size));
    if (size > UpdateMaxImageSize)
        return invalid(QStringLiteral("image of %1 bytes exceeds the limit of %2 bytes")
                           .arg(size)
                           .arg(UpdateMaxImageSize));

    quint32 imageBytes = 0;
    in >> imageBytes;
    if (readPastEnd())
        return {};
    const qint64 length = imageBytes == NullMarker ? 0 : qint64(imageBytes);
    if (length != size)
        return invalid(QStringLiteral("image size %1 does not match the %2 bytes of the image")
                           .arg(size)
                           .arg(length));
    const qint64 start = in.device()->pos();
    if (bytes.size() - start < length)
        return {};

    FileDataParse parse;
    parse.result = FileDataParse::Result::Complete;
    parse.image = bytes.mid(start, length);
    parse.consumed = start + length;
    return parse;
}

QByteArray encodeStatusReport(const QString& text)
{
    return encode(QStringLiteral("STATUS"), text);
}

QByteArray encodeProgressReport(qint32 percent)
{
    return encode(QStringLiteral("PROGRESS"), percent);
}

QByteArray encodeErrorReport(const QString& text)
{
    return encode(QStringLiteral("ERROR"), text);
}

QByteArray encodeCompletedReport()
{
    return encode(QStringLiteral("COMPLETED"));
}
