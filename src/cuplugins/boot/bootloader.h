#pragma once
// Writes a firmware image into a module over the RS-485 line through the module's serial
// bootloader (handshake, information, erase, 128-byte blocks with a CRC, application start),
// reporting every step and the progress through signals.
#include <QObject>
#include <QString>

class QSerialPort;

class Bootloader : public QObject
{
    Q_OBJECT
public:
    static constexpr int BlockSize = 128;
    static constexpr int BlockPacketSize = 1 + BlockSize + 4; // 'P', data, CRC
    static constexpr char BlockMark = 'P';
    static constexpr quint8 BroadcastAddress = 255;
    // A module that never acknowledges the pointer reset, refuses a block again and again
    // or fails every programming pass would otherwise keep a load going for ever.
    static constexpr int MaxPointerResets = 50;
    static constexpr int MaxBlockResends = 20;
    static constexpr int MaxProgramCycles = 5;
    // Larger than any module's flash; a bigger file is not a firmware image.
    static constexpr qint64 MaxImageSize = 16 * 1024 * 1024;

    // How long each command waits for the module's answer.
    struct Timeouts
    {
        int handshakeMs = 2000;
        int infoMs = 2000;
        int pointerResetMs = 100;
        int eraseMs = 5000;
        int blockMs = 5000;
        int startMs = 1000;
    };

    explicit Bootloader(QObject* parent = nullptr);

    QString portName() const { return m_portName; }
    void setPortName(const QString& name) { m_portName = name; }
    // When true the module is plugged in while the load runs: no bus command is sent and
    // the handshake is repeated until the module answers.
    bool waitForDevice() const { return m_waitForDevice; }
    void setWaitForDevice(bool wait) { m_waitForDevice = wait; }
    Timeouts timeouts() const { return m_timeouts; }
    void setTimeouts(const Timeouts& timeouts) { m_timeouts = timeouts; }
    QSerialPort* serialPort() const { return m_port; }

    // Runs the whole load on this thread and returns when it has ended; this thread's
    // events keep flowing during every wait. loaderFinished() is emitted once, at the end.
    void load(const QString& fileName);

    // The packet of one block: 'P', the bytes padded with 0xFF to 128, the CRC of the 128
    // data bytes least significant byte first.
    static QByteArray blockPacket(const QByteArray& imageBytes);

signals:
    void loaderProgressChanged(int percent);
    void loaderFinished();
    void restart();
    void infoLoader(QString text);
    void errorLoader(QString text);

private:
    bool readImage(const QString& fileName, QByteArray* image);
    void sendBusBootloaderCommand();
    bool openPort();
    bool handshake();
    void readInfo();
    bool erase();
    // false: the pass failed and may be repeated from the erase.
    bool program(const QByteArray& image);
    bool startApplication();

    // Writes one command with the transceiver switched to transmit around it.
    void sendData(const QByteArray& bytes);
    // Waits until count bytes are buffered or timeoutMs have passed.
    bool waitForBytes(qint64 count, int timeoutMs);
    static void pause(int ms);

    QString m_portName;
    QSerialPort* m_port;
    bool m_waitForDevice = false;
    Timeouts m_timeouts;
};
