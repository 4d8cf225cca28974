// The TCP link to the unit: packet stream parsing, the text query, modes and reconnection.
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
struct Received
{
    quint8 address;
    quint8 command;
    QByteArray data;
};

// Copies each emitted packet while its data pointer is valid.
QList<Received>* collect(cuTcpSocketIOInterface& link, QObject* context)
{
    auto* list = new QList<Received>;
    QObject::connect(&link, &cuIOInterface::msgReceived, context,
                     [list](quint8 a, quint8 c, quint8 n, quint8* d) {
                         list->append({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
                     });
    QObject::connect(context, &QObject::destroyed, [list] { delete list; });
    return list;
}

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort(); // closed again when probe goes
}
} // namespace

class TestTcpTransport : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    std::unique_ptr<QObject> context;

    void connectLink()
    {
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        QVERIFY(link->open());
        QTRY_COMPARE(peer->connectionCount(), 1);
    }

private slots:
    void init()
    {
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        link = std::make_unique<cuTcpSocketIOInterface>();
        context = std::make_unique<QObject>();
    }
    void cleanup()
    {
        context.reset();
        link.reset();
        peer.reset();
    }

    void startsInPacketModeOnTheUnitPort()
    {
        QCOMPARE(link->mode(), int(cuIOInterfaceImpl::PacketMode));
        QCOMPARE(link->port(), quint16(9876));
        QVERIFY(link->hostAddress().isNull());
        QVERIFY(!link->isConnected());
    }

    void sendWritesTheBarePacket()
    {
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        quint8 data[] = {0x01, 0xF9, 0x00, 0xFF};
        QVERIFY(link->sendMsg(7, 0x22, 4, data)); // connects on demand
        QTRY_COMPARE(peer->rawReceived(), QByteArray::fromHex("07220401f900ff"));
        QVERIFY(link->sendMsg(255, 12, 0, nullptr));
        QTRY_COMPARE(peer->rawReceived(), QByteArray::fromHex("07220401f900ff"
                                                              "ff0c00"));
    }

    void streamSplitsIntoPackets_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<int>("expected");
        const QByteArray a = LoopbackPeer::packet(3, 16, QByteArray::fromHex("0000803f"));
        const QByteArray b = LoopbackPeer::packet(4, 17, QByteArray::fromHex("aa"));
        const QByteArray c = LoopbackPeer::packet(5, 18, QByteArray::fromHex("0102030405"));
        QTest::newRow("two and a byte") << QList<QByteArray>{a + b + c.left(1)} << 2;
        QTest::newRow("rest arrives later") << QList<QByteArray>{a + b + c.left(1), c.mid(1)} << 3;
        QTest::newRow("header waits for five bytes")
            << QList<QByteArray>{c.left(3), c.mid(3, 2), c.mid(5)} << 1;
        QTest::newRow("empty data") << QList<QByteArray>{LoopbackPeer::packet(9, 6)} << 1;
        QTest::newRow("byte by byte") << [&] {
            QList<QByteArray> bytes;
            for (char ch : a + b)
                bytes << QByteArray(1, ch);
            return bytes;
        }() << 2;
    }
    void streamSplitsIntoPackets()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(int, expected);
        connectLink();
        auto* got = collect(*link, context.get());
        QByteArray all;
        for (const QByteArray& chunk : chunks) {
            all += chunk;
            peer->sendToClient(chunk);
            QTest::qWait(20); // lets each chunk arrive on its own
        }
        QTRY_COMPARE(got->size(), expected);
        // The packets delivered are the complete ones in the stream, in order.
        qsizetype offset = 0;
        for (const Received& r : *got) {
            QCOMPARE(r.address, quint8(all.at(offset)));
            QCOMPARE(r.command, quint8(all.at(offset + 1)));
            const int n = quint8(all.at(offset + 2));
            QCOMPARE(r.data, all.mid(offset + 3, n));
            offset += 3 + n;
        }
    }

    void partialPacketIsDroppedBySend()
    {
        connectLink();
        auto* got = collect(*link, context.get());
        // Three bytes of a packet announcing five data bytes: never completed.
        peer->sendToClient(QByteArray::fromHex("0510050102"));
        QTest::qWait(30);
        QVERIFY(link->sendMsg(5, 16, 0, nullptr));
        peer->sendToClient(LoopbackPeer::packet(5, 16, QByteArray::fromHex("0a0b")));
        QTRY_COMPARE(got->size(), 1);
        QCOMPARE(got->at(0).data, QByteArray::fromHex("0a0b"));
    }

    void misalignmentIsRecoveredByTheNextSend()
    {
        connectLink();
        auto* got = collect(*link, context.get());
        // A wrong length byte swallows what follows into one bogus packet.
        peer->sendToClient(QByteArray::fromHex("0110ff") + LoopbackPeer::packet(1, 16, "ab"));
        QTest::qWait(30);
        QCOMPARE(got->size(), 0);
        QVERIFY(link->sendMsg(1, 16, 0, nullptr));
        peer->sendToClient(LoopbackPeer::packet(1, 16, "cd"));
        QTRY_COMPARE(got->size(), 1);
        QCOMPARE(got->at(0).data, QByteArray("cd"));
    }

    void packetsAreNotParsedInsideTheReadySignal()
    {
        connectLink();
        int delivered = 0;
        connect(link.get(), &cuIOInterface::msgReceived, context.get(), [&] { ++delivered; });
        // Parsing runs from the event loop after readyRead, never inside it.
        connect(link->socket(), &QIODevice::readyRead, context.get(),
                [&] { QCOMPARE(delivered, 0); });
        peer->sendToClient(LoopbackPeer::packet(2, 20));
        QTRY_COMPARE(delivered, 1);
    }

    void directModeReadsAndWritesTheSocket()
    {
        connectLink();
        QVERIFY(!link->write("x"));
        QVERIFY(link->readAll().isEmpty());
        link->setMode(cuIOInterfaceImpl::DirectMode);
        QVERIFY(link->write("SYST:PING\r\n"));
        QTRY_COMPARE(peer->lines(), QList<QByteArray>{"SYST:PING"});
        peer->sendToClient("raw");
        QByteArray got;
        QTRY_VERIFY((got += link->readAll()) == "raw");
    }

    void queryCollectsTheAnswerUpToCrLf()
    {
        peer->setTextResponder([](const QByteArray& line) -> QByteArray {
            return line == "SYST:DEVJ?" ? QByteArray("{\"count\":0}\r\n") : QByteArray();
        });
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        bool ok = false;
        QElapsedTimer t;
        t.start();
        const QString answer = link->query("SYST:DEVJ?\r\n", 2000, &ok);
        QVERIFY(ok);
        QCOMPARE(answer, QString("{\"count\":0}\r\n"));
        QVERIFY2(t.elapsed() < 1500, "the query waited for the time-out despite CR LF");
        QCOMPARE(link->mode(), int(cuIOInterfaceImpl::PacketMode));
    }

    void queryAnswerInPieces()
    {
        peer->setTextResponder([this](const QByteArray&) {
            QTimer::singleShot(20, peer.get(), [this] { peer->sendToClient("r\n"); });
            return QByteArray("ok first<b");
        });
        connectLink();
        bool ok = false;
        QCOMPARE(link->query("SYST:X\r\n", 1000, &ok), QString("ok first<br\n"));
        QVERIFY(ok);
    }

    void querySilentPeerReturnsEmptyAfterTimeout()
    {
        connectLink();
        bool ok = false;
        QElapsedTimer t;
        t.start();
        QCOMPARE(link->query("SYST:DEVJ?\r\n", 150, &ok), QString());
        QVERIFY(ok);
        QVERIFY(t.elapsed() >= 140);
        QCOMPARE(link->mode(), int(cuIOInterfaceImpl::PacketMode));
    }

    void queryWithoutUnitFails()
    {
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(unusedPort());
        bool ok = true;
        QCOMPARE(link->query("SYST:DEVJ?\r\n", 100, &ok), QString());
        QVERIFY(!ok);
        QCOMPARE(link->query("SYST:DEVJ?\r\n", 100, nullptr), QString());
        quint8 byte = 0;
        QVERIFY(!link->sendMsg(1, 2, 1, &byte));
        QVERIFY(!link->open());
    }

    void queryKeepsDirectMode()
    {
        connectLink();
        link->setMode(cuIOInterfaceImpl::DirectMode);
        link->query("SYST:PING\r\n", 50);
        QCOMPARE(link->mode(), int(cuIOInterfaceImpl::DirectMode));
    }

    void packetArrivingDuringQueryBelongsToTheAnswer()
    {
        auto* got = collect(*link, context.get());
        peer->setTextResponder(
            [](const QByteArray&) { return LoopbackPeer::packet(1, 2, "zz") + "ok\r\n"; });
        connectLink();
        const QString answer = link->query("SYST:LOCK 1\r\n", 1000);
        QVERIFY(answer.endsWith("ok\r\n"));
        QTest::qWait(30);
        QCOMPARE(got->size(), 0);
    }

    void changingThePortReconnects()
    {
        connectLink();
        LoopbackPeer second;
        QVERIFY(second.listen());
        link->setPort(second.port());
        QVERIFY(!link->isConnected());
        QVERIFY(link->sendMsg(1, 6, 0, nullptr));
        QTRY_COMPARE(second.packets().size(), 1);
        QCOMPARE(second.packets().at(0).command, quint8(6));
        QCOMPARE(peer->packets().size(), 0);
    }

    void changingTheHostReconnects()
    {
        connectLink();
        QTRY_COMPARE(peer->connectionCount(), 1);
        // Nothing listens on 127.0.0.2: the peer is bound to 127.0.0.1 only.
        link->setHostAddress(QHostAddress(QStringLiteral("127.0.0.2")));
        QVERIFY(!link->isConnected());
        QVERIFY(!link->sendMsg(1, 6, 0, nullptr));
        link->setHostAddress(QHostAddress::LocalHost);
        QVERIFY(link->sendMsg(1, 6, 0, nullptr));
        QTRY_COMPARE(peer->connectionCount(), 2);
        QTRY_COMPARE(peer->packets().size(), 1);
    }

    void peerClosingIsNoticedAndSendReconnects()
    {
        connectLink();
        peer->closeClients();
        QTRY_VERIFY(!link->isConnected());
        QVERIFY(link->sendMsg(1, 7, 0, nullptr));
        QTRY_COMPARE(peer->connectionCount(), 2);
        QTRY_COMPARE(peer->packets().size(), 1);
    }

    void handlerMaySendWhileStreamIsParsed()
    {
        connectLink();
        QList<QByteArray> seen;
        // The first packet's handler sends, which empties the receive buffer; the packet
        // still being delivered must stay intact for every receiver.
        connect(link.get(), &cuIOInterface::msgReceived, context.get(),
                [&](quint8, quint8 c, quint8, quint8*) {
                    if (c == 1)
                        link->sendMsg(9, 9, 0, nullptr);
                });
        connect(link.get(), &cuIOInterface::msgReceived, context.get(),
                [&](quint8, quint8, quint8 n, quint8* d) {
                    seen << QByteArray(reinterpret_cast<const char*>(d), n);
                });
        peer->sendToClient(LoopbackPeer::packet(1, 1, QByteArray(200, 'q')) +
                           LoopbackPeer::packet(1, 2, "tail"));
        QTRY_VERIFY(!seen.isEmpty());
        QCOMPARE(seen.at(0), QByteArray(200, 'q'));
    }
};

QTEST_GUILESS_MAIN(TestTcpTransport)
#include "tst_tcptransport.moc"
