#pragma once
// TCP link to the control unit (UnitPorts::Unit): module packets in packet mode and the
// synchronous text query ("SYST:DEVJ?\r\n" and the like) on the same connection.
#include "cuiointerface.h"
#include "unitports.h"

#include <QHostAddress>

class QTcpSocket;

class cuTcpSocketIOInterface : public cuIOInterfaceImpl
{
    Q_OBJECT
public:
    static constexpr int ConnectTimeoutMs = 1000;
    // How long a text query of the unit waits for its answer.
    static constexpr int QueryTimeoutMs = 500;

    explicit cuTcpSocketIOInterface(QObject* parent = nullptr);
    ~cuTcpSocketIOInterface() override;

    // Changing the endpoint closes an open connection; the next operation connects anew.
    void setHostAddress(const QHostAddress& address);
    QHostAddress hostAddress() const { return m_hostAddress; }
    void setPort(quint16 port);
    quint16 port() const { return m_port; }

    // Open, and not (yet or any more) plainly unconnected.
    bool isConnected() const;

    // Writes command (which carries its own CR LF) and collects the answer until it holds
    // CR LF or timeoutMs pass. ok is false only when no connection could be made.
    QString query(const QString& command, int timeoutMs, bool* ok = nullptr);

    QTcpSocket* socket() const { return m_socket; }

signals:
    // The unit closed the connection or the network took it away; our own closing of the
    // socket does not count.
    void connectionLost();

public slots:
    void setMode(int mode) override;
    QByteArray readAll() override;
    bool write(const QByteArray& bytes) override;

protected:
    bool openImpl() override;
    bool sendMsgImpl(quint8 address, quint8 command, quint8 dataLength, quint8* data) override;

private slots:
    void dataReady();

private:
    void closeSocket();

    QTcpSocket* m_socket;
    QHostAddress m_hostAddress;
    quint16 m_port = UnitPorts::Unit;
    QByteArray m_receiveBuffer;
};
