// The file server between a stand-in unit (a socket of this test) and a stand-in web
// server (a fixed HTTP answer per path), all on loopback in the test's own namespace.
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

// Answers every GET with the response set for its path, then closes; 404 otherwise.
class WebServer : public QObject
{
public:
    WebServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->peek(socket->bytesAvailable());
                    if (!request.contains("\r\n\r\n"))
                        return;
                    socket->readAll();
                    const QByteArray path = request.split(' ').value(1);
                    const QByteArray response = m_responses.value(
                        path, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                    // The last byte comes a moment later, so that the download is seen
                    // under way.
                    socket->write(response.chopped(1));
                    QTimer::singleShot(30, socket, [socket, response] {
                        socket->write(response.right(1));
                        socket->disconnectFromHost();
                    });
                });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url(const QByteArray& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    // With a size, the body's length goes in the header; without, the end of the body is
    // the close of the connection.
    void serve(const QByteArray& path, const QByteArray& body, bool withSize)
    {
        m_responses[path] =
            withSize ? "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                           "\r\n\r\n" + body
                     : "HTTP/1.0 200 OK\r\n\r\n" + body;
    }

private:
    QTcpServer m_server;
    QHash<QByteArray, QByteArray> m_responses;
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
    QStringList statuses() const { return texts(status); }
    QStringList errorTexts() const { return texts(errors); }
    static QStringList texts(const QSignalSpy& spy)
    {
        QStringList all;
        for (const QList<QVariant>& args : spy)
            all << args.at(0).toString();
        return all;
    }
};

} // namespace

class TestFileServer : public QObject
{
    Q_OBJECT
private slots:
    void startsServesOneUnitAndStops()
    {
        Fixture f;
        QVERIFY(f.connectUnit());
        QCOMPARE(f.statuses(),
                 QStringList({"Server was started at port 9879", "Client is connected"}));
        QCOMPARE(f.server.status(), "Client is connected");

        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, Port);
        QVERIFY(second.waitForConnected(5000));
        QTest::qWait(50);
        QCOMPARE(f.connected.size(), 1);
        QCOMPARE(f.status.size(), 2);

        f.server.stopServer();
        QTRY_COMPARE(f.unit.state(), QAbstractSocket::UnconnectedState);
        // A new start takes the port again, also over a running server.
        f.server.startServer(Port);
        f.server.startServer(Port);
        QVERIFY(f.errors.isEmpty());
        QTcpSocket again;
        again.connectToHost(QHostAddress::LocalHost, Port);
        QVERIFY(again.waitForConnected(5000));
        QTRY_COMPARE(f.connected.size(), 2);
    }

    void reportsAPortInUse()
    {
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, Port));
        Fixture f;
        f.server.startServer(Port);
        QCOMPARE(f.errors.size(), 1);
        QVERIFY(f.errorTexts().first().startsWith("Can't start file server: "));
        QVERIFY(f.status.isEmpty());
    }

    void downloadsAndSendsTheImage_data()
    {
        QTest::addColumn<bool>("withSize");
        QTest::newRow("web server gives the size") << true;
        QTest::newRow("web server gives no size") << false;
    }
    void downloadsAndSendsTheImage()
    {
        QFETCH(bool, withSize);
        WebServer web;
        QVERIFY(web.listen());
        web.serve("/1.2.3/VX9SDM0V1_code.bin", QByteArray("\x01\xFE\x7F", 3), withSize);
        Fixture f;
        QVERIFY(f.connectUnit());
        f.server.downloadAndSendFile(web.url("/1.2.3/VX9SDM0V1_code.bin"));

        // The tag, the size as 8 bytes, the image with its 4-byte count.
        const QByteArray expected =
            UpdateStream().text("FILE_DATA").i64(3).u32(3).bytes(QByteArray("\x01\xFE\x7F", 3));
        QCOMPARE(QByteArray(UpdateStream().text("FILE_DATA")).left(4), QByteArray("\0\0\0\x12", 4));
        QByteArray received;
        QTRY_VERIFY((received += f.unit.readAll()).size() >= expected.size());
        QCOMPARE(received, expected);

        QVERIFY(f.errors.isEmpty());
        const QStringList statuses = f.statuses();
        QCOMPARE(statuses.at(2), "Start downloading...");
        QCOMPARE(statuses.last(), "Downloading done (3 byte). Start to transfer...");
        if (withSize) {
            QVERIFY(statuses.contains("Downloading: 100% (3/3 bytes)"));
            QCOMPARE(f.server.progress(), 100);
        } else {
            // Only the end of the download gives its size.
            QCOMPARE(statuses.mid(3, 1), QStringList{"Downloading: 100% (3/3 bytes)"});
            QCOMPARE(f.progress.size(), 1);
        }
    }

    void reportsADownloadError()
    {
        WebServer web;
        QVERIFY(web.listen());
        Fixture f;
        f.server.downloadAndSendFile(web.url("/none"));
        QCOMPARE(f.errorTexts(), QStringList{"Client doesn't connected"});
        QVERIFY(f.connectUnit());
        f.server.downloadAndSendFile(web.url("/none"));
        QTRY_COMPARE(f.errors.size(), 2);
        QVERIFY(f.errorTexts().last().startsWith("Download error: "));
        QTest::qWait(50);
        QCOMPARE(f.unit.bytesAvailable(), 0);
    }

    void takesEveryReportOfAChunk()
    {
        Fixture f;
        QVERIFY(f.connectUnit());
        f.unit.write(UpdateStream().status("Writing").progress(40).error("flash").progress(50));
        QTRY_COMPARE(f.progress.size(), 2);
        QCOMPARE(f.progress.at(0).at(0).toInt(), 40);
        QCOMPARE(f.server.progress(), 50);
        QCOMPARE(f.errorTexts(), QStringList{"Error at client: flash"});
        QCOMPARE(f.statuses().mid(2), QStringList({"Writing", "ERROR: flash"}));

        // A report split across writes; the completion behind it in the same write.
        const QByteArray rest = UpdateStream().progress(60).completed();
        f.unit.write(rest.left(5));
        f.unit.flush();
        QTest::qWait(20);
        f.unit.write(rest.mid(5));
        QTRY_COMPARE(f.completed.size(), 1);
        QCOMPARE(f.progress.at(2).at(0).toInt(), 60);
        QCOMPARE(f.server.progress(), 100);
        QCOMPARE(f.server.status(), "Completed");
    }

    void forgetsAUnitThatLeft()
    {
        Fixture f;
        QVERIFY(f.connectUnit());
        f.unit.disconnectFromHost();
        QTRY_VERIFY(f.errorTexts().contains(
            u"\u041Esocket error: The remote host closed the connection"_qs));
        f.server.downloadAndSendFile("http://127.0.0.1:1/x");
        QCOMPARE(f.errorTexts().last(), "Client doesn't connected");
        f.server.stopServer();
    }
};

QTEST_GUILESS_MAIN(TestFileServer)
#include "tst_fileserver.moc"
