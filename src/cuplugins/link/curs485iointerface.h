#pragma once
// RS-485 line of a Raspberry Pi (500000 baud, 8N1): module packets framed by the bus codec,
// with the transceiver direction switched through GPIO 24 around every write.
#include "cuiointerface.h"

class QSerialPort;

class cuRs485IOInterface : public cuIOInterfaceImpl
{
    Q_OBJECT
public:
    static constexpr int BaudRate = 500000;
    static constexpr int DirectionPin = 24;

    explicit cuRs485IOInterface(QObject* parent = nullptr);
    ~cuRs485IOInterface() override;

    void setPortName(const QString& name);
    QString portName() const { return m_portName; }
    QSerialPort* serialPort() const { return m_serialPort; }

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
    // Opens the port unless it is already open.
    bool ensureOpen();
    static void directionTransmit();
    static void directionReceive();

    QSerialPort* m_serialPort = nullptr;
    QString m_portName;
};
