#include "updatereportreader.h"

#include <QBuffer>
#include <QDataStream>
#include <QtEndian>

namespace {

constexpr quint32 NullMarker = 0xFFFFFFFFu;

// Whether the length field the stream is at announces at most max bytes (a null string's
// marker included). A field not yet complete passes: the read rolls back and waits.
bool lengthWithin(QDataStream& in, quint32 max, quint32* announced)
{
    const QByteArray field = in.device()->peek(4);
    if (field.size() < 4)
        return true;
    *announced = qFromBigEndian<quint32>(field.constData());
    return *announced == NullMarker || *announced <= max;
}

} // namespace

QList<UpdateReport> UpdateReportReader::feed(const QByteArray& bytes)
{
    m_problem = Problem::None;
    m_problemText.clear();
    m_buffer += bytes;

    QList<UpdateReport> reports;
    QBuffer device(&m_buffer);
    device.open(QIODevice::ReadOnly);
    QDataStream in(&device);
    in.setVersion(UpdateStreamVersion);
    qint64 consumed = 0;
    const auto fail = [&](Problem problem, const QString& text) {
        m_problem = problem;
        m_problemText = text;
    };

    while (m_problem == Problem::None && !in.atEnd()) {
        in.startTransaction();
        quint32 announced = 0;
        if (!lengthWithin(in, MaxTagBytes, &announced)) {
            in.abortTransaction();
            fail(Problem::Malformed, QStringLiteral("tag of %1 bytes").arg(announced));
            break;
        }
        QString tag;
        in >> tag;
        UpdateReport report;
        bool known = true;
        if (in.status() != QDataStream::Ok) {
            // Incomplete or broken; decided below.
        } else if (tag == QLatin1String("STATUS") || tag == QLatin1String("ERROR")) {
            report.kind = tag.front() == u'S' ? UpdateReport::Status : UpdateReport::Error;
            if (!lengthWithin(in, MaxTextBytes, &announced)) {
                in.abortTransaction();
                fail(Problem::Malformed,
                     QStringLiteral("%1 text of %2 bytes").arg(tag).arg(announced));
                break;
            }
            in >> report.text;
        } else if (tag == QLatin1String("PROGRESS")) {
            report.kind = UpdateReport::Progress;
            in >> report.percent;
        } else if (tag == QLatin1String("COMPLETED")) {
            report.kind = UpdateReport::Completed;
        } else {
            known = false;
        }

        if (in.status() == QDataStream::ReadPastEnd) {
            in.commitTransaction(); // rolls back to the start of the report
            break;
        }
        if (in.status() != QDataStream::Ok) {
            in.abortTransaction();
            fail(Problem::Malformed, QStringLiteral("broken string"));
            break;
        }
        if (!known) {
            in.abortTransaction();
            fail(Problem::UnknownTag, QStringLiteral("unknown report \"%1\"").arg(tag));
            break;
        }
        in.commitTransaction();
        consumed = device.pos();
        reports.append(report);
    }

    if (m_problem != Problem::None)
        m_buffer.clear();
    else
        m_buffer.remove(0, consumed);
    return reports;
}

void UpdateReportReader::clear()
{
    m_buffer.clear();
    m_problem = Problem::None;
    m_problemText.clear();
}
