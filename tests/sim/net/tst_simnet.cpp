// The simulator on the network beside its unit port: the unit's side of a firmware update
// against a file server of this test, the firmware web server asked with raw requests, and
// the answers to discovery broadcasts. Runs in a namespace with a veth pair, so that the
// broadcast has a real broadcast address to go to.
#include "firmware/updatereportreader.h"
#include "modules/simheater.h"
#include "net/simcatalogueserver.h"
#include "net/simdiscovery.h"
#include "net/simfirmwareupdate.h"
#include "updatestream.h"

#include <QDir>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

namespace {

const QHostAddress Broadcast(QStringLiteral("10.213.7.255"));
const QHostAddress FirstAddress(QStringLiteral("10.213.7.1"));
const QHostAddress SecondAddress(QStringLiteral("10.213.7.2"));

QByteArray fileData(int size) // an image message as the file server sends it
{
    return UpdateStream().text("FILE_DATA").i64(size).u32(size).bytes(QByteArray(size, 'x'));
}

// The application's file server, reduced to what the unit sees of it; it sends what
// onConnect writes and keeps every report that comes back.
struct Update
{
    QTcpServer server;
    QPointer<QTcpSocket> unit;
    std::function<void(QTcpSocket*)> onConnect;
    bool abortOnReport = false;
    UpdateReportReader reader;
    QList<UpdateReport> reports;
    bool unreadable = false;
    SimHeater module{7, {"VX9HTM0", "0", "1", "1.2.3", "test module", {}}, nullptr};
    SimFirmwareUpdate update;
    QSignalSpy finished{&update, &SimFirmwareUpdate::finished};

    Update()
    {
        update.setStepIntervalMs(2);
        update.setPort(1); // nobody listens there in this namespace
    }

    bool start()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            unit = server.nextPendingConnection();
            QObject::connect(unit, &QTcpSocket::readyRead, &server, [this] {
                reports += reader.feed(unit->readAll());
                unreadable |= reader.problem() != UpdateReportReader::Problem::None;
                if (abortOnReport)
                    unit->abort();
            });
            onConnect(unit);
        });
        if (!server.listen(QHostAddress::LocalHost))
            return false;
        update.setPort(server.serverPort());
        return update.start(QHostAddress::LocalHost, &module);
    }
    // Waits for the end of the update and, after a good end, for the unit to close.
    bool endsWith(bool ok)
    {
        const auto closed = [this] {
            return !unit || unit->state() == QTcpSocket::UnconnectedState;
        };
        return (!finished.isEmpty() || finished.wait(10000)) && finished.size() == 1 &&
               finished.first().at(0).toBool() == ok && QTest::qWaitFor(closed, 5000) &&
               !unreadable;
    }
    QString firmware() const { return module.identity().firmware; }
};

} // namespace

class TestSimNet : public QObject
{
    Q_OBJECT

private slots:
    void updateReportsStepByStepAndGivesNewFirmware()
    {
        Update u;
        const QByteArray message = fileData(70000);
        // Odd piece sizes, each written from its own timer event, split every field.
        qsizetype at = 0;
        int piece = 0;
        QTimer feeder;
        connect(&feeder, &QTimer::timeout, this, [&] {
            static const int sizes[] = {1, 2, 3, 5, 13, 29, 1021, 4093};
            const qsizetype size = qMin<qsizetype>(sizes[piece++ % 8], message.size() - at);
            u.unit->write(message.mid(at, size));
            if ((at += size) == message.size())
                feeder.stop();
        });
        u.onConnect = [&](QTcpSocket*) { feeder.start(0); };
        QVERIFY(u.start());
        QVERIFY(!u.update.start(QHostAddress::LocalHost, &u.module)); // one at a time
        QVERIFY(u.endsWith(true) && !u.update.isRunning());
        // The report texts and their order the tool's firmware update test reads.
        QVERIFY(u.reports.first().text.contains("70000"));
        QCOMPARE(u.reports.last().kind, UpdateReport::Completed);
        QCOMPARE(u.firmware(), "1.2.4");
        QVERIFY(u.update.start(QHostAddress::LocalHost, &u.module)); // the next may start
    }

    // Bad image messages are refused with one error report; a server that stalls gets one
    // too; one that closes early, aborts on the first report or is not there ends the update.
    void updateFailsCleanly_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("how"); // 0: stays, 1: closes after it, 2: aborts on a report
        const QByteArray image(100, 'x');
        const QByteArray whole = fileData(500);
        const auto withSizes = [&](qint64 size, quint32 count) {
            return QByteArray(UpdateStream().text("FILE_DATA").i64(size).u32(count));
        };
        QTest::newRow("empty image") << fileData(0) << 0;
        QTest::newRow("null image") << withSizes(0, ~0u) << 0; // a null array's count
        QTest::newRow("another message") << QByteArray(UpdateStream().status("hello")) << 0;
        QTest::newRow("null tag") << QByteArray(UpdateStream().u32(~0u).i64(100).u32(100)) << 0;
        QTest::newRow("garbage") << QByteArray(64, '\xC3') << 0;
        QTest::newRow("size above the image") << withSizes(101, 100) + image << 0;
        QTest::newRow("size below the image") << withSizes(99, 100) + image << 0;
        QTest::newRow("negative size") << withSizes(-1, 0) << 0;
        // Refused on the announcement, without waiting for bytes that never come.
        QTest::newRow("huge size") << withSizes(qint64(1) << 40, ~0u - 1) << 0;
        QTest::newRow("huge array") << withSizes(0xFFFFFFF0, 0xFFFFFFF0) << 0;
        QTest::newRow("stalls") << whole.left(30) << 0;
        QTest::newRow("closes at once") << QByteArray() << 1;
        QTest::newRow("closes inside the tag") << whole.left(9) << 1;
        QTest::newRow("closes inside the image") << whole.chopped(100) << 1;
        QTest::newRow("aborts during the reports") << whole << 2;
        QTest::newRow("no server") << QByteArray() << 3;
    }
    void updateFailsCleanly()
    {
        QFETCH(QByteArray, message);
        QFETCH(int, how);
        Update u;
        u.onConnect = [message, how](QTcpSocket* socket) {
            socket->write(message);
            if (how == 1)
                socket->disconnectFromHost();
        };
        u.abortOnReport = how == 2;
        // Only a stalling server waits for the time-out; every refusal comes at once.
        u.update.setImageTimeoutMs(QTest::currentDataTag() == QByteArray("stalls") ? 100 : 60000);
        u.update.setStepIntervalMs(20); // slow enough for a close to come first
        QVERIFY(how == 3 ? u.update.start(QHostAddress::LocalHost, &u.module) : u.start());
        QVERIFY(u.endsWith(false) && !u.update.isRunning());
        QCOMPARE(u.firmware(), "1.2.3");
        if (how == 0) {
            QCOMPARE(u.reports.size(), 1);
            QCOMPARE(u.reports.first().kind, UpdateReport::Error);
            QVERIFY(!u.reports.first().text.isEmpty());
        }
    }

    void updateBumpsTheLastNumberOfTheVersion()
    {
        const QStringList rows = {"1.2.3",    "1.2.4",    "1.9",  "1.10",   "v0.09", "v0.10",
                                  "3.4 beta", "3.5 beta", "beta", "beta.1", "",      "1"};
        for (qsizetype i = 0; i < rows.size(); i += 2)
            QCOMPARE(SimFirmwareUpdate::nextFirmwareVersion(rows[i]), rows[i + 1]);
    }

    // Raw requests: a client library would tidy "..", which is just what must be refused.
    void catalogueServesListingsAndFilesAndNothingOutside()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + "/root";
        QFile image(root + "/Firmware/1.2.3/VX9SDM0V1_code.bin");
        QVERIFY(QDir().mkpath(root + "/Firmware/1.2.3") && image.open(QIODevice::WriteOnly));
        image.write("image bytes");
        image.close();
        QVERIFY(QFile::copy(image.fileName(), dir.path() + "/secret"));
        QVERIFY(QFile::link(dir.path(), root + "/Firmware/out"));
        SimCatalogueServer server(root);
        QString error;
        QVERIFY2(server.start(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        QVERIFY(
            !SimCatalogueServer(dir.path() + "/none").start(QHostAddress::LocalHost, 0, &error));

        // clang-format off
        const QList<std::tuple<QByteArray, int, QByteArray>> rows = { // path, status, body part
            {"/Firmware/1.2.3/", 200, "<a href=\"../\">../</a>"},
            {"/Firmware", 301, ""}, {"/Firmware/9.9.9/", 404, ""}, {"/%2e%2e/secret", 403, ""},
            {"/Firmware/../../secret", 403, ""}, {"/Firmware/out/secret", 403, ""}};
        // clang-format on
        for (const auto& [path, status, body] : rows) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
            socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            QByteArray received;
            QTRY_VERIFY((received += socket.readAll()).contains("\r\n\r\n") &&
                        received.contains(body));
            QVERIFY2(received.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '), path);
        }
    }

    void discoveryAnswersOnlyItsBroadcast()
    {
        // Outside the namespace of the veth pair the broadcast would leave the machine.
        QVERIFY2(QNetworkInterface::allAddresses().contains(FirstAddress) &&
                     QNetworkInterface::allAddresses().contains(SecondAddress),
                 "needs the veth pair: run through scripts/netns-run --veth");
        // Wrong requests come from one address, the right one from the other, and each
        // address has its own answer server, so an answer to a wrong request would show.
        QTcpServer toWrong, toRight;
        QVERIFY(toWrong.listen(SecondAddress, 9878) && toRight.listen(FirstAddress, 9878));
        SimDiscoveryResponder responder;
        responder.setAnswerText("Tavik test unit");
        QSignalSpy answered(&responder, &SimDiscoveryResponder::answered);
        QVERIFY(responder.start(9877, 9878));
        // clang-format off
        for (const QByteArray& datagram : QByteArrayList{"cu-software\r\n", "cu-software ",
                 "CU-SOFTWARE", "cu-softwar", "xcu-software", QByteArray("cu-software\0", 12),
                 QByteArray(), QByteArray(4000, '\xA5'), "cu-software"}) {
            // clang-format on
            QUdpSocket socket;
            QVERIFY(socket.bind(datagram == "cu-software" ? FirstAddress : SecondAddress, 0));
            QCOMPARE(socket.writeDatagram(datagram, Broadcast, 9877), datagram.size());
        }
        // Datagrams are handled in arrival order, so by the answer to the right request any
        // answer to a wrong one would be under way.
        QTRY_VERIFY(toRight.hasPendingConnections());
        std::unique_ptr<QTcpSocket> answer(toRight.nextPendingConnection());
        QTRY_VERIFY(answer->peek(100).contains("Tavik test unit"));
        QTRY_COMPARE(answered.size(), 1);
        QVERIFY(!toWrong.waitForNewConnection(100));

        QUdpSocket other; // a busy port is refused
        QVERIFY(other.bind(QHostAddress::AnyIPv4, 9879, QUdpSocket::DontShareAddress));
        QVERIFY(!responder.start(9879, 9878));
    }
};

QTEST_GUILESS_MAIN(TestSimNet)
#include "tst_simnet.moc"
