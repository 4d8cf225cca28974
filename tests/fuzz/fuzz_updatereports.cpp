// Fuzzes the file server's reader of the unit's update reports with arbitrary bytes.
// Whatever arrives, the reader must not crash; the reports it takes must encode back to
// exactly the bytes they came from; and where the whole input holds no problem, the same
// bytes arriving in two pieces must give the same reports.
//
// Input layout: byte 0 picks where the stream is split (its share of the rest); the rest
// is the stream.
#include "firmware/updatereportreader.h"

#include <QDataStream>
#include <QIODevice>

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

QByteArray encode(const QList<UpdateReport>& reports)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(UpdateStreamVersion);
    for (const UpdateReport& r : reports) {
        switch (r.kind) {
        case UpdateReport::Status:
            out << QStringLiteral("STATUS") << r.text;
            break;
        case UpdateReport::Progress:
            out << QStringLiteral("PROGRESS") << r.percent;
            break;
        case UpdateReport::Error:
            out << QStringLiteral("ERROR") << r.text;
            break;
        case UpdateReport::Completed:
            out << QStringLiteral("COMPLETED");
            break;
        }
    }
    return bytes;
}

bool same(const QList<UpdateReport>& a, const QList<UpdateReport>& b)
{
    return encode(a) == encode(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray stream(reinterpret_cast<const char*>(bytes) + 1, qsizetype(size - 1));

    UpdateReportReader whole;
    const QList<UpdateReport> reports = whole.feed(stream);
    for (const UpdateReport& r : reports)
        check(r.text.size() * 2 <= qsizetype(UpdateReportReader::MaxTextBytes));
    const QByteArray encoded = encode(reports);
    check(stream.startsWith(encoded));
    if (whole.problem() != UpdateReportReader::Problem::None) {
        check(whole.buffered() == 0 && !whole.problemText().isEmpty());
        return 0;
    }
    // Nothing is lost: what was not taken waits for its rest.
    check(encoded.size() + whole.buffered() == stream.size());

    const qsizetype at = stream.size() * bytes[0] / 255;
    UpdateReportReader pieces;
    QList<UpdateReport> inPieces = pieces.feed(stream.left(at));
    check(pieces.problem() == UpdateReportReader::Problem::None);
    inPieces += pieces.feed(stream.mid(at));
    check(pieces.problem() == UpdateReportReader::Problem::None);
    check(same(inPieces, reports) && pieces.buffered() == whole.buffered());
    return 0;
}
