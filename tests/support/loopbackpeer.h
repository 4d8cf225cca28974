#pragma once
// A stand-in control unit for tests: a TCP server on 127.0.0.1 (any free port) that reads
// the unit's byte layout on its own (address, command, length, data; text lines ending in
// CR LF) and answers as the test tells it. It lives on the test's thread, so it is served
// while the code under test waits in the event loop.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

struct PeerPacket
{
    quint8 address;
    quint8 command;
    QByteArray data;
};

class LoopbackPeer : public QObject
{
    Q_OBJECT
public:
    // Returns the raw bytes to send back (empty: stay silent).
    using PacketResponder = std::function<QByteArray(const PeerPacket&)>;
    using TextResponder = std::function<QByteArray(const QByteArray& line)>;

    explicit LoopbackPeer(QObject* parent = nullptr);
    ~LoopbackPeer() override;

    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }

    // Bytes that start with a printable letter are read as a text line; everything else
    // as packets. Without a responder the peer stays silent.
    void setPacketResponder(PacketResponder responder) { m_packetResponder = std::move(responder); }
    void setTextResponder(TextResponder responder) { m_textResponder = std::move(responder); }

    void sendToClient(const QByteArray& bytes);
    void closeClients();

    const QList<PeerPacket>& packets() const { return m_packets; }
    const QList<QByteArray>& lines() const { return m_lines; }
    QByteArray rawReceived() const { return m_raw; }
    int connectionCount() const { return m_connections; }

    // Packet bytes in the unit's layout, built here independently of the code under test.
    static QByteArray packet(quint8 address, quint8 command, const QByteArray& data = {});

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);

    QTcpServer m_server;
    QList<QTcpSocket*> m_clients;
    QByteArray m_pending;
    QByteArray m_raw;
    QList<PeerPacket> m_packets;
    QList<QByteArray> m_lines;
    PacketResponder m_packetResponder;
    TextResponder m_textResponder;
    int m_connections = 0;
};
