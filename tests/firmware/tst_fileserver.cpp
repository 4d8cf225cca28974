// The file server between a stand-in unit (a socket of this test) and a stand-in web server
// (one fixed HTTP answer), all on loopback in the test's own namespace; and the reader of
// the unit's reports on chunks as they might arrive.
#include "cuplugins/link/unitports.h"
#include "firmware/fileserver.h"
#include "updatestream.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

const quint16 Port = UnitPorts::FileServer;

// Answers every request with the response given, the last byte a moment later so that the
// download is seen under way, then closes.
class WebServer : public QTcpServer
{
public:
    explicit WebServer(const QByteArray& response)
    {
        connect(this, &QTcpServer::newConnection, this, [this, response] {
            QTcpSocket* socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, response] {
                if (!socket->readAll().endsWith("\r\n\r\n"))
                    return;
                socket->write(response.chopped(1));
                QTimer::singleShot(30, socket, [socket, response] {
                    socket->write(response.right(1));
                    socket->disconnectFromHost();
                });
            });
        });
        listen(QHostAddress::LocalHost);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/x.bin").arg(serverPort()); }
};

struct Fixture
{
    FileServer server;
    QSignalSpy status{&server, &FileServer::statusChanged};
    QSignalSpy progress{&server, &FileServer::progressChanged};
    QSignalSpy errors{&server, &FileServer::errorOccurred};
    QSignalSpy connected{&server, &FileServer::clientConnected};
    QSignalSpy completed{&server, &FileServer::fileTransferCompleted};
    QTcpSocket unit;

    bool connectUnit()
    {
        server.startServer(Port);
        unit.connectToHost(QHostAddress::LocalHost, Port);
        return unit.waitForConnected(5000) && (!connected.isEmpty() || connected.wait(5000));
    }
    static QStringList texts(const QSignalSpy& spy)
    {
        QStringList all;
        for (const QList<QVariant>& args : spy)
            all << args.at(0).toString();
        return all;
    }
};

// What the reader made of the chunks: "S:text", "P:n", "E:text", "C:" per report, and "!" when
// a chunk ended in a problem ("!u" for an unknown tag).
QStringList read(UpdateReportReader& reader, const QList<QByteArray>& chunks)
{
    QStringList seen;
    for (const QByteArray& chunk : chunks) {
        for (const UpdateReport& r : reader.feed(chunk))
            seen << QString("SPEC").mid(r.kind, 1) + ":" + r.text +
                        (r.kind == UpdateReport::Progress ? QString::number(r.percent) : "");
        if (reader.problem() != UpdateReportReader::Problem::None)
            seen << (reader.problem() == UpdateReportReader::Problem::UnknownTag ? "!u" : "!");
    }
    return seen;
}

const QByteArray Several = UpdateStream().status("Writing").progress(40).error("Ош").completed();
const QStringList SeveralRead = {"S:Writing", "P:40", "E:Ош", "C:"};

} // namespace

class TestFileServer : public QObject
{
    Q_OBJECT
private slots:
    void startsServesOneUnitAndStops()
    {
        Fixture f;
        QVERIFY(f.connectUnit());
        QCOMPARE(Fixture::texts(f.status),
                 QStringList({"Server was started at port 9879", "Client is connected"}));
        QTcpSocket second; // waits unserved
        second.connectToHost(QHostAddress::LocalHost, Port);
        QVERIFY(!f.connected.wait(50) && f.status.size() == 2);
        f.server.stopServer();
        QTRY_COMPARE(f.unit.state(), QAbstractSocket::UnconnectedState);
        // A new start takes the port again, also over a running server.
        f.server.startServer(Port);
        f.server.startServer(Port);
        QVERIFY(f.errors.isEmpty());
        QTcpSocket again;
        again.connectToHost(QHostAddress::LocalHost, Port);
        QTRY_COMPARE(f.connected.size(), 2);
        // A port in use is an error.
        FileServer other;
        QSignalSpy errors(&other, &FileServer::errorOccurred);
        other.startServer(Port);
        QVERIFY(Fixture::texts(errors).value(0).startsWith("Can't start file server: "));
    }

    // The web server gives the size, or not (then the close ends the body).
    void downloadsAndSendsTheImage()
    {
        const QByteArray image("\x01\xFE\x7F", 3);
        for (const bool withSize : {true, false}) {
            WebServer web(withSize ? "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n" + image
                                   : "HTTP/1.0 200 OK\r\n\r\n" + image);
            Fixture f;
            QVERIFY(f.connectUnit());
            f.server.downloadAndSendFile(web.url());
            // The tag, the size as 8 bytes, the image with its 4-byte count.
            const QByteArray expected = UpdateStream().text("FILE_DATA").i64(3).u32(3).bytes(image);
            QByteArray received;
            QTRY_VERIFY((received += f.unit.readAll()).size() >= expected.size());
            QCOMPARE(received, expected);
            const QStringList statuses = Fixture::texts(f.status);
            QCOMPARE(statuses.at(2), "Start downloading...");
            QCOMPARE(statuses.last(), "Downloading done (3 byte). Start to transfer...");
            QVERIFY(statuses.contains("Downloading: 100% (3/3 bytes)") && f.errors.isEmpty());
            QCOMPARE(f.server.progress(), 100);
            QVERIFY(withSize || f.progress.size() == 1); // without a size only the end gives it
        }
    }

    void reportsDownloadErrorsAndAUnitThatLeft()
    {
        WebServer web("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        Fixture f;
        f.server.downloadAndSendFile(web.url());
        QCOMPARE(Fixture::texts(f.errors), QStringList{"Client doesn't connected"});
        QVERIFY(f.connectUnit());
        f.server.downloadAndSendFile(web.url());
        QTRY_COMPARE(f.errors.size(), 2);
        QVERIFY(Fixture::texts(f.errors).last().startsWith("Download error: "));
        QVERIFY(!QSignalSpy(&f.unit, &QTcpSocket::readyRead).wait(50));
        f.unit.disconnectFromHost();
        QTRY_VERIFY(Fixture::texts(f.errors).contains(
            u"\u041Esocket error: The remote host closed the connection"_qs));
        f.server.downloadAndSendFile(web.url());
        QCOMPARE(Fixture::texts(f.errors).last(), "Client doesn't connected");
    }

    void takesEveryReportOfTheUnit()
    {
        Fixture f;
        QVERIFY(f.connectUnit());
        f.unit.write(UpdateStream().status("Writing").progress(40).error("flash").progress(50));
        QTRY_COMPARE(f.progress.size(), 2);
        QCOMPARE(f.progress.at(0).at(0).toInt(), 40);
        QCOMPARE(f.server.progress(), 50);
        QCOMPARE(Fixture::texts(f.errors), QStringList{"Error at client: flash"});
        QCOMPARE(Fixture::texts(f.status).mid(2), QStringList({"Writing", "ERROR: flash"}));
        f.unit.write(UpdateStream().progress(60).completed()); // the completion behind it
        QTRY_COMPARE(f.completed.size(), 1);
        QCOMPARE(f.progress.at(2).at(0).toInt(), 60);
        QCOMPARE(f.server.progress(), 100);
        QCOMPARE(f.server.status(), "Completed");
        // Bytes that are no report are an error; reports after them are read again.
        f.unit.write(UpdateStream().u32(3).bytes("abc"));
        QTRY_COMPARE(f.errors.size(), 2);
        QVERIFY(Fixture::texts(f.errors).last().startsWith("Unreadable report from the unit: "));
        f.unit.write(UpdateStream().status("again"));
        QTRY_COMPARE(f.server.status(), "again");
    }

    void readerTakesReportsAsTheyArrive()
    {
        using Chunks = QList<QByteArray>;
        const QList<std::pair<Chunks, QStringList>> rows = {
            {{Several}, SeveralRead},
            {{UpdateStream().status(""), UpdateStream().text("STATUS").u32(~0u)}, {"S:", "S:"}},
            // An unknown tag drops the rest of its chunk; the next is read.
            {{UpdateStream().progress(10).text("HELLO").progress(20), UpdateStream().progress(30)},
             {"P:10", "!u", "P:30"}},
            {{UpdateStream().progress(10).u32(0x7FFFFFF0), UpdateStream().completed()}, // long tag
             {"P:10", "!", "C:"}},
            {{UpdateStream().u32(3).bytes("abc")}, {"!"}}, // odd string length
            // A text announced beyond the limit is refused before its bytes come.
            {{UpdateStream().text("ERROR").u32(1u << 20)}, {"!"}}};
        for (const auto& [chunks, expected] : rows) {
            UpdateReportReader reader;
            QCOMPARE(read(reader, chunks), expected);
            QCOMPARE(reader.buffered(), 0);
        }
        // A report split anywhere waits for its rest; a part stays buffered until cleared.
        for (qsizetype at = 0; at <= Several.size(); ++at) {
            UpdateReportReader reader;
            QCOMPARE(read(reader, {Several.left(at), Several.mid(at)}), SeveralRead);
        }
        UpdateReportReader reader;
        QVERIFY(reader.feed(Several.left(7)).isEmpty());
        QCOMPARE(reader.buffered(), 7);
        reader.clear();
        QCOMPARE(read(reader, {Several}), SeveralRead);
    }
};

QTEST_GUILESS_MAIN(TestFileServer)
#include "tst_fileserver.moc"
