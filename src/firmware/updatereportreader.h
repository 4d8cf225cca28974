#pragma once
// The unit's reports during a firmware update ("STATUS", "PROGRESS", "ERROR",
// "COMPLETED"), taken whole from the bytes as they arrive: a report split across arrivals
// waits for its rest, and every report of an arrival is read. Free of sockets, so that it
// can be tested and fuzzed on bytes alone.
#include <QByteArray>
#include <QList>
#include <QString>

// The file server and the unit both speak the data stream encoding of version 22 (Qt 6.7).
// For strings, byte arrays and integers it is the Qt 6.0 encoding, so a Qt that has no
// name for 22 reads and writes the same bytes.
inline constexpr int UpdateStreamVersion = 22;

struct UpdateReport
{
    enum Kind { Status, Progress, Error, Completed };
    Kind kind = Status;
    QString text;       // Status, Error
    qint32 percent = 0; // Progress
};

class UpdateReportReader
{
public:
    enum class Problem {
        None,
        // A well-formed tag this side does not know; its fields cannot be skipped.
        UnknownTag,
        // Bytes that are no report: an implausible length, a broken string.
        Malformed,
    };

    // Longest tag and longest text taken; a longer announced length is garbage, refused
    // before its bytes arrive, so that a bad length cannot hold the reader without end.
    static constexpr quint32 MaxTagBytes = 64;
    static constexpr quint32 MaxTextBytes = 64 * 1024;

    // Appends bytes and returns every report they complete, in order. On a problem the
    // reports before it are returned, the rest of what was received is dropped (the
    // framing is lost with it) and problem() says what happened until the next call.
    QList<UpdateReport> feed(const QByteArray& bytes);
    Problem problem() const { return m_problem; }
    QString problemText() const { return m_problemText; }
    // Bytes of a report still waiting for its rest.
    qsizetype buffered() const { return m_buffer.size(); }
    void clear();

private:
    QByteArray m_buffer;
    Problem m_problem = Problem::None;
    QString m_problemText;
};
