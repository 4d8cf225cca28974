// The simulator's firmware web server, asked with raw requests (a client library would
// tidy "..", which is just what must be refused): listings, files with their length, and
// nothing from outside the served directory.
#include "net/simcatalogueserver.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class TestSimCatalogueServer : public QObject
{
    Q_OBJECT

private slots:
    void request_data();
    void request();
};

void TestSimCatalogueServer::request_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body"); // part of the body; empty: not checked

    QTest::newRow("listing") << QByteArray("/Firmware/") << 200
                             << QByteArray("<a href=\"1.2.3/\">1.2.3/</a>");
    QTest::newRow("listing has parent link")
        << QByteArray("/Firmware/1.2.3/") << 200 << QByteArray("<a href=\"../\">../</a>");
    QTest::newRow("file") << QByteArray("/Firmware/1.2.3/VX9SDM0V1_code.bin") << 200
                          << QByteArray("image bytes");
    QTest::newRow("directory without slash") << QByteArray("/Firmware") << 301 << QByteArray();
    QTest::newRow("missing") << QByteArray("/Firmware/9.9.9/") << 404 << QByteArray();
    QTest::newRow("parent") << QByteArray("/Firmware/../../secret") << 403 << QByteArray();
    QTest::newRow("encoded parent") << QByteArray("/%2e%2e/secret") << 403 << QByteArray();
    QTest::newRow("symlink out") << QByteArray("/Firmware/out/secret") << 403 << QByteArray();
}

void TestSimCatalogueServer::request()
{
    QFETCH(QByteArray, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    QTemporaryDir dir;
    const QString root = dir.path() + "/root";
    QVERIFY(QDir().mkpath(root + "/Firmware/1.2.3"));
    QFile image(root + "/Firmware/1.2.3/VX9SDM0V1_code.bin");
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write("image bytes");
    image.close();
    QFile secret(dir.path() + "/secret");
    QVERIFY(secret.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(dir.path(), root + "/Firmware/out"));

    SimCatalogueServer server(root);
    QString error;
    QVERIFY2(server.start(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");

    // Headers, then as many body bytes as they announce.
    QByteArray received;
    static const QRegularExpression length(R"(\r\nContent-Length: (\d+)\r\n)",
                                           QRegularExpression::CaseInsensitiveOption);
    const auto complete = [&] {
        received += socket.readAll();
        const qsizetype end = received.indexOf("\r\n\r\n");
        const QRegularExpressionMatch match =
            length.match(QString::fromLatin1(received.left(end + 2)));
        return end >= 0 && match.hasMatch() &&
               received.size() - end - 4 == match.captured(1).toInt();
    };
    QTRY_VERIFY(complete());
    QVERIFY2(received.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '),
             received.constData());
    QVERIFY2(received.contains(body), received.constData());
}

QTEST_GUILESS_MAIN(TestSimCatalogueServer)
#include "tst_simcatalogueserver.moc"
