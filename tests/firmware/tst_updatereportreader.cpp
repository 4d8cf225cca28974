// The reader of the unit's reports on chunks as they might arrive: one report, several,
// reports split anywhere, and what it does with tags it does not know and with garbage.
#include "firmware/updatereportreader.h"
#include "updatestream.h"

#include <QTest>

namespace {

// What the reader made of the chunks: "S:text", "P:n", "E:text", "C" per report, and
// "!unknown" / "!malformed" when a chunk ended in a problem.
QStringList read(UpdateReportReader& reader, const QList<QByteArray>& chunks)
{
    QStringList seen;
    for (const QByteArray& chunk : chunks) {
        for (const UpdateReport& r : reader.feed(chunk)) {
            switch (r.kind) {
            case UpdateReport::Status:
                seen << "S:" + r.text;
                break;
            case UpdateReport::Progress:
                seen << "P:" + QString::number(r.percent);
                break;
            case UpdateReport::Error:
                seen << "E:" + r.text;
                break;
            case UpdateReport::Completed:
                seen << "C";
                break;
            }
        }
        if (reader.problem() == UpdateReportReader::Problem::UnknownTag)
            seen << "!unknown";
        else if (reader.problem() == UpdateReportReader::Problem::Malformed)
            seen << "!malformed";
    }
    return seen;
}

const QByteArray Several = UpdateStream().status("Writing").progress(40).error("Ош").completed();
const QStringList SeveralRead = {"S:Writing", "P:40", "E:Ош", "C"};

} // namespace

class TestUpdateReportReader : public QObject
{
    Q_OBJECT
private slots:
    void readsChunks_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one report")
            << QList<QByteArray>{UpdateStream().progress(40)} << QStringList{"P:40"};
        QTest::newRow("several in one chunk") << QList<QByteArray>{Several} << SeveralRead;
        QTest::newRow("completion behind progress")
            << QList<QByteArray>{UpdateStream().progress(40).progress(50).completed()}
            << QStringList{"P:40", "P:50", "C"};
        QTest::newRow("empty and null text")
            << QList<QByteArray>{UpdateStream().status(""), UpdateStream().text("STATUS").u32(~0u)}
            << QStringList{"S:", "S:"};
        QTest::newRow("unknown tag drops the chunk, the next is read")
            << QList<QByteArray>{UpdateStream().progress(10).text("HELLO").progress(20),
                                 UpdateStream().progress(30)}
            << QStringList{"P:10", "!unknown", "P:30"};
        QTest::newRow("tag length beyond any tag")
            << QList<QByteArray>{UpdateStream().progress(10).u32(0x7FFFFFF0),
                                 UpdateStream().completed()}
            << QStringList{"P:10", "!malformed", "C"};
        QTest::newRow("odd string length")
            << QList<QByteArray>{UpdateStream().u32(3).bytes("abc")} << QStringList{"!malformed"};
        QTest::newRow("text announced beyond the limit, no bytes yet")
            << QList<QByteArray>{UpdateStream().text("ERROR").u32(1u << 20)}
            << QStringList{"!malformed"};
    }
    void readsChunks()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, expected);
        UpdateReportReader reader;
        QCOMPARE(read(reader, chunks), expected);
        QCOMPARE(reader.buffered(), 0);
    }

    void reportsSplitAnywhereWaitForTheirRest()
    {
        for (qsizetype at = 0; at <= Several.size(); ++at) {
            UpdateReportReader reader;
            QCOMPARE(read(reader, {Several.left(at), Several.mid(at)}), SeveralRead);
        }
        UpdateReportReader reader;
        QList<QByteArray> bytes;
        for (char c : Several)
            bytes << QByteArray(1, c);
        QCOMPARE(read(reader, bytes), SeveralRead);
        // A part of a report stays buffered, nothing read from it yet.
        QVERIFY(reader.feed(Several.left(7)).isEmpty());
        QCOMPARE(reader.buffered(), 7);
        reader.clear();
        QCOMPARE(read(reader, {Several}), SeveralRead);
    }
};

QTEST_GUILESS_MAIN(TestUpdateReportReader)
#include "tst_updatereportreader.moc"
