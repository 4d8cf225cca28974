// The TCP link to the unit: packet stream parsing, the text query, reconnection, and
// unit address texts as the stored setting and users write them.
#include "link/cutcpsocketiointerface.h"
#include "link/hostaddresstext.h"
#include "loopbackpeer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

class TestTcpTransport : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    // Each packet the link delivers, copied while its data pointer is valid.
    QList<QByteArray> received;

    void aim() // at the peer, without connecting
    {
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
    }
    void connectLink()
    {
        aim();
        QVERIFY(link->open());
        QTRY_COMPARE(peer->connectionCount(), 1);
    }

private slots:
    void init()
    {
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        link = std::make_unique<cuTcpSocketIOInterface>();
        received.clear();
        connect(link.get(), &cuIOInterface::msgReceived, this,
                [this](quint8 a, quint8 c, quint8 n, quint8* d) {
                    received << LoopbackPeer::packet(
                        a, c, QByteArray(reinterpret_cast<const char*>(d), n));
                });
    }
    void cleanup()
    {
        link.reset();
        peer.reset();
    }

    void sendConnectsOnDemandAndWritesTheBarePacket()
    {
        QCOMPARE(link->mode(), int(cuIOInterfaceImpl::PacketMode));
        QCOMPARE(link->port(), quint16(9876));
        QVERIFY(!link->isConnected());
        aim();
        quint8 data[] = {0x01, 0xF9, 0x00, 0xFF};
        QVERIFY(link->sendMsg(7, 0x22, 4, data));
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
    }
    void streamSplitsIntoPackets()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(int, expected);
        connectLink();
        QByteArray all;
        for (const QByteArray& chunk : chunks) {
            all += chunk;
            peer->sendToClient(chunk);
            QTest::qWait(20); // lets each chunk arrive on its own
        }
        QTRY_COMPARE(received.size(), expected);
        QVERIFY(all.startsWith(received.join()));
    }

    // Bytes left over (a packet never completed, or one whose wrong length byte swallowed
    // what follows) are dropped by the next send, so its answer is read in step again.
    void sendDropsWhatIsLeftOver_data()
    {
        QTest::addColumn<QByteArray>("leftOver");
        QTest::newRow("partial packet") << QByteArray::fromHex("0510050102");
        QTest::newRow("wrong length")
            << QByteArray::fromHex("0110ff") + LoopbackPeer::packet(1, 16, "ab");
    }
    void sendDropsWhatIsLeftOver()
    {
        QFETCH(QByteArray, leftOver);
        connectLink();
        peer->sendToClient(leftOver);
        QTest::qWait(30);
        QVERIFY(received.isEmpty());
        QVERIFY(link->sendMsg(5, 16, 0, nullptr));
        peer->sendToClient(LoopbackPeer::packet(5, 16, "cd"));
        QTRY_COMPARE(received, QList<QByteArray>{LoopbackPeer::packet(5, 16, "cd")});
    }

    // A handler that sends (and so empties the receive buffer) leaves the packet being
    // delivered intact.
    void handlersMaySendWhileTheStreamIsParsed()
    {
        connectLink();
        connect(link.get(), &cuIOInterface::msgReceived, this,
                [&](quint8, quint8 c, quint8, quint8*) {
                    if (c == 1)
                        link->sendMsg(9, 9, 0, nullptr);
                });
        const QByteArray first = LoopbackPeer::packet(1, 1, QByteArray(200, 'q'));
        peer->sendToClient(first + LoopbackPeer::packet(1, 2, "tail"));
        QTRY_VERIFY(!received.isEmpty());
        QCOMPARE(received.at(0), first);
    }

    // The answer is complete at CR LF, in one piece or several; a packet arriving meanwhile
    // belongs to it.
    void queryCollectsTheAnswerUpToCrLf()
    {
        peer->setTextResponder([this](const QByteArray& line) -> QByteArray {
            if (line == "SYST:DEVJ?")
                return "{\"count\":0}\r\n";
            QTimer::singleShot(20, peer.get(), [this] { peer->sendToClient("r\r\n"); });
            return LoopbackPeer::packet(1, 2, "zz") + "ok first<b";
        });
        aim();
        bool ok = false;
        QElapsedTimer t;
        t.start();
        QCOMPARE(link->query("SYST:DEVJ?\r\n", 5000, &ok), QString("{\"count\":0}\r\n"));
        QVERIFY(ok);
        QVERIFY2(t.elapsed() < 4000, "the query waited for the time-out despite CR LF");
        QCOMPARE(link->mode(), int(cuIOInterfaceImpl::PacketMode));
        QVERIFY(link->query("SYST:X\r\n", 1000, &ok).endsWith("ok first<br\r\n"));
        QTest::qWait(30);
        QVERIFY(received.isEmpty());
    }

    void queryOfAMissingUnit()
    {
        aim();
        bool ok = true;
        QTcpServer probe; // a port nobody listens on any more
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        link->setPort(probe.serverPort());
        probe.close();
        QCOMPARE(link->query("SYST:DEVJ?\r\n", 100, &ok), QString());
        QVERIFY(!ok);
        quint8 byte = 0;
        QVERIFY(!link->sendMsg(1, 2, 1, &byte));
        QVERIFY(!link->open());
    }

    // A new endpoint closes the connection, quietly; the next send connects to it. The unit
    // closing the connection is reported, and the next send reconnects.
    void reconnection()
    {
        connectLink();
        QSignalSpy lost(link.get(), &cuTcpSocketIOInterface::connectionLost);
        LoopbackPeer second;
        QVERIFY(second.listen());
        link->setPort(second.port());
        QVERIFY(!link->isConnected());
        QVERIFY(link->sendMsg(1, 6, 0, nullptr));
        QTRY_COMPARE(second.packets().size(), 1);
        QCOMPARE(peer->packets().size(), 0);

        link->setHostAddress(QHostAddress("127.0.0.2")); // nobody listens there
        QVERIFY(!link->sendMsg(1, 6, 0, nullptr));
        aim();
        QVERIFY(link->sendMsg(1, 7, 0, nullptr));
        QTRY_COMPARE(peer->packets().size(), 1);
        QCOMPARE(lost.size(), 0);

        peer->closeClients();
        QTRY_VERIFY(!link->isConnected());
        QCOMPARE(lost.size(), 1);
        QVERIFY(link->sendMsg(1, 8, 0, nullptr));
        QTRY_COMPARE(peer->connectionCount(), 3);
        QTRY_COMPARE(peer->packets().size(), 2);
    }

    void addressTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // empty: no address
        const char* const rows[][2] = {{"127.000.000.001", "127.0.0.1"},
                                       {"010.008.009.010", "10.8.9.10"},
                                       {"127.0.0.256", ""},
                                       {"127.0.x.1", ""},
                                       {"127..0.1", ""},
                                       {"::1", "::1"},
                                       {"", ""}};
        for (const auto& [text, expected] : rows)
            QTest::newRow(text) << QString(text) << QString(expected);
    }
    void addressTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QHostAddress address = cuHostAddressFromText(text);
        QCOMPARE(address.isNull(), expected.isEmpty());
        if (!expected.isEmpty())
            QCOMPARE(address, QHostAddress(expected));
    }
};

QTEST_GUILESS_MAIN(TestTcpTransport)
#include "tst_tcptransport.moc"
