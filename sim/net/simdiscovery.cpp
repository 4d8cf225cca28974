#include "simdiscovery.h"

#include "core/simlog.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <functional>

namespace {

const QByteArray DiscoveryRequest = "cu-software";
// An answer that has not gone out by then never will; its socket is dropped.
constexpr int AnswerTimeoutMs = 3000;
// A flood of requests must not turn into a flood of sockets.
constexpr int MaxOpenAnswers = 16;

// One answer: connect back, send the text, close. Deletes itself however it ends.
class AnswerConnection : public QObject
{
public:
    explicit AnswerConnection(QObject* parent) : QObject(parent)
    {
        m_socket->setProxy(QNetworkProxy::NoProxy);
        m_deadline->setSingleShot(true);
    }

    void start(const QHostAddress& peer, quint16 port, const QByteArray& text,
               std::function<void()> onSent)
    {
        m_peer = peer;
        connect(m_deadline, &QTimer::timeout, this, [this] {
            fail(QStringLiteral("not delivered within %1 ms").arg(AnswerTimeoutMs));
        });
        connect(m_socket, &QTcpSocket::connected, this, [this, text] {
            m_written = m_socket->write(text) == text.size();
            // Closes once the text is out; then disconnected follows.
            m_socket->disconnectFromHost();
        });
        const auto sent = [this, onSent] {
            if (m_finished)
                return;
            m_finished = true;
            onSent();
            deleteLater();
        };
        connect(m_socket, &QTcpSocket::disconnected, this, sent);
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this, sent] {
            // The application may close as soon as it has read the text.
            if (m_socket->error() == QAbstractSocket::RemoteHostClosedError && m_written &&
                m_socket->bytesToWrite() == 0)
                sent();
            else
                fail(m_socket->errorString());
        });
        m_deadline->start(AnswerTimeoutMs);
        m_socket->connectToHost(peer, port);
    }

private:
    void fail(const QString& reason)
    {
        if (m_finished)
            return;
        m_finished = true;
        qCWarning(lcSim) << "discovery: cannot answer" << m_peer.toString() << "-" << reason;
        m_socket->abort();
        deleteLater();
    }

    QTcpSocket* m_socket = new QTcpSocket(this);
    QTimer* m_deadline = new QTimer(this);
    QHostAddress m_peer;
    bool m_written = false;
    bool m_finished = false;
};

} // namespace

SimDiscoveryResponder::SimDiscoveryResponder(QObject* parent) : QObject(parent) {}

void SimDiscoveryResponder::setAnswerText(const QByteArray& text)
{
    // The application lists only units that send something.
    m_answerText = text.isEmpty() ? QByteArray("cu-tavik-sim") : text;
}

bool SimDiscoveryResponder::start(quint16 udpPort, quint16 answerPort)
{
    delete m_udp;
    m_udp = new QUdpSocket(this);
    m_udp->setProxy(QNetworkProxy::NoProxy);
    m_answerPort = answerPort;
    if (!m_udp->bind(QHostAddress::AnyIPv4, udpPort, QUdpSocket::DontShareAddress)) {
        qCWarning(lcSim) << "discovery: cannot listen on UDP port" << udpPort << "-"
                         << m_udp->errorString();
        delete m_udp;
        m_udp = nullptr;
        return false;
    }
    connect(m_udp, &QUdpSocket::readyRead, this, &SimDiscoveryResponder::readDatagrams);
    qCInfo(lcSim) << "discovery: listening on UDP port" << udpPort;
    return true;
}

void SimDiscoveryResponder::readDatagrams()
{
    while (m_udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp->receiveDatagram();
        if (!datagram.isValid() || datagram.data() != DiscoveryRequest)
            continue;
        const QHostAddress peer = datagram.senderAddress();
        if (m_openAnswers >= MaxOpenAnswers) {
            qCWarning(lcSim) << "discovery: too many answers under way, request of"
                             << peer.toString() << "dropped";
            continue;
        }
        answer(peer);
    }
}

void SimDiscoveryResponder::answer(const QHostAddress& peer)
{
    ++m_openAnswers;
    auto* connection = new AnswerConnection(this);
    connect(connection, &QObject::destroyed, this, [this] { --m_openAnswers; });
    connection->start(peer, m_answerPort, m_answerText, [this, peer] {
        qCInfo(lcSim) << "discovery: answered" << peer.toString();
        emit answered(peer);
    });
}
