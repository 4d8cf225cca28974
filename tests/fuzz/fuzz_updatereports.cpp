// Fuzzes the file server's reader of the unit's update reports (the rest of the input): the
// reports taken must encode back to exactly their bytes, and where the input holds no
// problem, the same bytes in two pieces (split at byte 0's share) give the same reports.
#include "firmware/updatereportreader.h"
#include "fuzzcheck.h"
#include <QDataStream>
#include <QIODevice>
#include <array>

static QByteArray encode(const QList<UpdateReport>& reports)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(UpdateStreamVersion);
    for (const UpdateReport& r : reports) {
        out << QString::fromLatin1(
            std::array{"STATUS", "PROGRESS", "ERROR", "COMPLETED"}.at(size_t(r.kind)));
        if (r.kind == UpdateReport::Progress)
            out << r.percent;
        else if (r.kind != UpdateReport::Completed)
            out << r.text;
    }
    return bytes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray stream = fuzzBytes(bytes, size, 1);
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
    check(encode(inPieces) == encoded && pieces.buffered() == whole.buffered());
    return 0;
}
