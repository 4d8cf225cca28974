#pragma once
// The messages of a firmware update between the file server and the unit: reading the
// image message the server sends, writing the reports the unit sends back. Pure functions
// over bytes, so that they can be tested and fuzzed without sockets.
#include <QByteArray>
#include <QString>

// Both sides serialise with the stream encoding of version 22 (Qt 6.7). For strings, byte
// arrays and integers it is the same as the Qt 6.0 encoding, so older Qt reads it too.
inline constexpr int UpdateStreamVersion = 22;

// Firmware images of the modules are far smaller; a larger announced size is refused
// before its bytes arrive, so that a bad length cannot make the unit buffer without end.
inline constexpr qint64 UpdateMaxImageSize = 16 * 1024 * 1024;

struct FileDataParse
{
    enum class Result {
        Incomplete, // a correct beginning; more bytes are needed
        Invalid,    // not a well-formed image message; error says why
        Complete,
    };
    Result result = Result::Incomplete;
    QString error;
    QByteArray image;
    // Bytes the complete message took from the start of the input.
    qsizetype consumed = 0;
};

// Reads the "FILE_DATA" message at the start of bytes: the tag, the image size (qint64)
// and the image (byte array). The size must match the image's own length.
FileDataParse parseFileDataMessage(const QByteArray& bytes);

// The unit's reports.
QByteArray encodeStatusReport(const QString& text);
QByteArray encodeProgressReport(qint32 percent);
QByteArray encodeErrorReport(const QString& text);
QByteArray encodeCompletedReport();
