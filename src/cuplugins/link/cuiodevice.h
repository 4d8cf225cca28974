#pragma once
// Addressed endpoint on a transport: a module driver sends packets to its own bus address
// through it and sees every packet the transport receives.
#include <QObject>

class cuIOInterface;

class cuIODevice : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual cuIOInterface* interface() = 0;
    virtual void setInterface(cuIOInterface* iface) = 0;
    virtual quint8 address() = 0;
    virtual void setAddress(const quint8& address) = 0;

signals:
    void errorInformation(QString text);

public slots:
    virtual void sendMsg(quint8 command, quint8 dataLength, quint8* data) = 0;
    virtual void msgReceived(quint8 address, quint8 command, quint8 dataLength, quint8* data) = 0;
};

class cuIODeviceImpl : public cuIODevice
{
    Q_OBJECT
public:
    using cuIODevice::cuIODevice;

    cuIOInterface* interface() override { return m_interface; }
    // A null interface is ignored. The endpoint stays connected to every transport it
    // was given; attaching the same transport twice delivers each packet once.
    void setInterface(cuIOInterface* iface) override;
    quint8 address() override { return m_address; }
    void setAddress(const quint8& address) override { m_address = address; }

public slots:
    void sendMsg(quint8 command, quint8 dataLength, quint8* data) override;
    void msgReceived(quint8 address, quint8 command, quint8 dataLength, quint8* data) override;
    // Decides by address whether a packet is this endpoint's own and treats it.
    virtual bool handleMsg(quint8 address, quint8 command, quint8 dataLength, quint8* data) = 0;

private:
    cuIOInterface* m_interface = nullptr;
    quint8 m_address = 0;
};
