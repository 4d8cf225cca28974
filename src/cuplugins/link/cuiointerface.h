#pragma once
// Abstract byte transport to the control unit: packets addressed to modules in,
// packets from modules out, plus raw access in direct mode.
#include <QByteArray>
#include <QObject>

class cuIOInterface : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

public slots:
    // Makes the link usable (connects or opens the port).
    virtual bool open() = 0;
    // Sends one packet; false only when the link cannot be made usable.
    virtual bool sendMsg(quint8 address, quint8 command, quint8 dataLength, quint8* data) = 0;

signals:
    // One emission per received packet; data is valid only during the emission.
    void msgReceived(quint8 address, quint8 command, quint8 dataLength, quint8* data);
};

class cuIOInterfaceImpl : public cuIOInterface
{
    Q_OBJECT
public:
    // Receive modes: in packet mode arrivals are parsed into packets; in direct mode
    // nothing is read automatically and readAll()/write() act on the device.
    enum ReceiveMode { PacketMode = 0, DirectMode = 1 };

    using cuIOInterface::cuIOInterface;

    int mode() const { return m_mode; }

public slots:
    bool open() override;
    bool sendMsg(quint8 address, quint8 command, quint8 dataLength, quint8* data) override;
    virtual void setMode(int mode);
    virtual QByteArray readAll();
    virtual bool write(const QByteArray& bytes);

protected:
    virtual bool openImpl() = 0;
    virtual bool sendMsgImpl(quint8 address, quint8 command, quint8 dataLength, quint8* data) = 0;

    void storeMode(int mode) { m_mode = mode; }

private:
    int m_mode = DirectMode;
};
