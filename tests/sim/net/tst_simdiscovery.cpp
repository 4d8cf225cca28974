// The simulated unit answers the application's discovery broadcast by connecting back to
// the sender and sending some bytes, and ignores every other datagram. Runs in a namespace
// with a veth pair, so that the broadcast has a real broadcast address to go to.
#include "net/simdiscovery.h"

#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

namespace {

const QHostAddress Broadcast(QStringLiteral("10.213.7.255"));
const QHostAddress FirstAddress(QStringLiteral("10.213.7.1"));
const QHostAddress SecondAddress(QStringLiteral("10.213.7.2"));
constexpr quint16 DiscoveryPort = 9877;
constexpr quint16 AnswerPort = 9878;

// The application's end of the answers: every connection and the bytes it brought.
class AnswerCollector : public QObject
{
public:
    bool listen(const QHostAddress& address)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++m_connections;
                connect(socket, &QTcpSocket::readyRead, this,
                        [this, socket] { m_bytes += socket->readAll(); });
            }
        });
        return m_server.listen(address, AnswerPort);
    }
    int connections() const { return m_connections; }
    QByteArray bytes() const { return m_bytes; }

private:
    QTcpServer m_server;
    int m_connections = 0;
    QByteArray m_bytes;
};

bool sendFrom(const QHostAddress& source, const QByteArray& datagram)
{
    QUdpSocket socket;
    if (!socket.bind(source, 0))
        return false;
    return socket.writeDatagram(datagram, Broadcast, DiscoveryPort) == datagram.size();
}

bool answeredTo(const QSignalSpy& spy, const QHostAddress& peer)
{
    for (const QList<QVariant>& arguments : spy)
        if (arguments.at(0).value<QHostAddress>().isEqual(peer,
                                                          QHostAddress::ConvertV4MappedToIPv4))
            return true;
    return false;
}

} // namespace

class TestSimDiscovery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void answersTheBroadcastWithAConnectionCarryingBytes();
    void ignoresEveryOtherDatagram();
    void refusesToStartOnABusyPort();
};

void TestSimDiscovery::initTestCase()
{
    // Outside the namespace of the veth pair the broadcast would leave the machine.
    QVERIFY2(QNetworkInterface::allAddresses().contains(FirstAddress) &&
                 QNetworkInterface::allAddresses().contains(SecondAddress),
             "needs the veth pair: run through scripts/netns-run --veth");
}

void TestSimDiscovery::answersTheBroadcastWithAConnectionCarryingBytes()
{
    AnswerCollector collector;
    QVERIFY(collector.listen(QHostAddress::AnyIPv4));
    SimDiscoveryResponder responder;
    responder.setAnswerText("Tavik test unit");
    QSignalSpy answered(&responder, &SimDiscoveryResponder::answered);
    QVERIFY(responder.start(DiscoveryPort, AnswerPort));

    QUdpSocket application;
    QCOMPARE(application.writeDatagram("cu-software", Broadcast, DiscoveryPort), 11);

    QTRY_VERIFY(collector.connections() >= 1);
    QTRY_VERIFY(collector.bytes().contains("Tavik test unit"));
    QTRY_VERIFY(!answered.isEmpty());
    const QHostAddress peer = answered.first().at(0).value<QHostAddress>();
    QVERIFY2(peer.isInSubnet(FirstAddress, 24), qPrintable(peer.toString()));
}

void TestSimDiscovery::ignoresEveryOtherDatagram()
{
    // Wrong requests come from one address, the right one from the other, and each
    // address has its own answer server, so an answer to a wrong request would show.
    AnswerCollector toWrong;
    AnswerCollector toRight;
    QVERIFY(toWrong.listen(SecondAddress));
    QVERIFY(toRight.listen(FirstAddress));
    SimDiscoveryResponder responder;
    QSignalSpy answered(&responder, &SimDiscoveryResponder::answered);
    QVERIFY(responder.start(DiscoveryPort, AnswerPort));

    const QList<QByteArray> wrong = {
        "cu-software\r\n", "cu-software ",           "CU-SOFTWARE",
        "cu-softwar",      "xcu-software",           QByteArray("cu-software\0", 12),
        QByteArray(),      QByteArray(4000, '\xA5'),
    };
    for (const QByteArray& datagram : wrong)
        QVERIFY(sendFrom(SecondAddress, datagram));
    QVERIFY(sendFrom(FirstAddress, "cu-software"));

    // Datagrams are handled in arrival order, so by the answer to the right request any
    // answer to a wrong one would be under way.
    QTRY_VERIFY(answeredTo(answered, FirstAddress));
    QTRY_VERIFY(!toRight.bytes().isEmpty());
    QCoreApplication::processEvents();
    QVERIFY(!answeredTo(answered, SecondAddress));
    QCOMPARE(toWrong.connections(), 0);
}

void TestSimDiscovery::refusesToStartOnABusyPort()
{
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress::AnyIPv4, DiscoveryPort, QUdpSocket::DontShareAddress));
    SimDiscoveryResponder responder;
    QVERIFY(!responder.start(DiscoveryPort, AnswerPort));

    other.close();
    QVERIFY(responder.start(DiscoveryPort, AnswerPort));
}

QTEST_GUILESS_MAIN(TestSimDiscovery)
#include "tst_simdiscovery.moc"
