#include "curs485iointerface.h"

#include "gpiomemory.h"
#include "linklog.h"
#include "velnorprotocol.h"

#include <QSerialPort>
#include <QThread>

namespace {

// The frame lies at the start of the codec buffer and ends at the first 0xFA.
qsizetype encodedFrameLength(const uchar* buffer)
{
    for (int i = 0; i < cAbstractVelnorProtocol::BufferSize; ++i) {
        if (buffer[i] == cAbstractVelnorProtocol::FrameEnd)
            return i + 1;
    }
    return 0;
}

} // namespace

cuRs485IOInterface::cuRs485IOInterface(QObject* parent) : cuIOInterfaceImpl(parent) {}

cuRs485IOInterface::~cuRs485IOInterface()
{
    if (!m_serialPort)
        return;
    if (m_serialPort->isOpen())
        m_serialPort->close();
    delete m_serialPort;
}

void cuRs485IOInterface::setPortName(const QString& name)
{
    m_portName = name;
    // A closed port is opened again by name; an open one keeps its device until closed.
    if (m_serialPort && !m_serialPort->isOpen())
        m_serialPort->setPortName(name);
}

bool cuRs485IOInterface::openImpl()
{
    cVelnorProtocolPC::instance()->clearBuffer();
    if (m_portName.isEmpty())
        return false;
    if (!m_serialPort) {
        m_serialPort = new QSerialPort(m_portName);
        m_serialPort->setBaudRate(BaudRate, QSerialPort::AllDirections);
        m_serialPort->setDataBits(QSerialPort::Data8);
        m_serialPort->setParity(QSerialPort::NoParity);
    }
    if (!m_serialPort->isOpen() && !m_serialPort->open(QIODevice::ReadWrite)) {
        qCDebug(lcLink) << "cannot open serial port" << m_portName << m_serialPort->errorString();
        return false;
    }
    setMode(PacketMode);
    return true;
}

bool cuRs485IOInterface::ensureOpen()
{
    if (m_serialPort && m_serialPort->isOpen())
        return true;
    return open();
}

bool cuRs485IOInterface::sendMsgImpl(quint8 address, quint8 command, quint8 dataLength,
                                     quint8* data)
{
    // The port comes first: a link that cannot be opened must not leave the transceiver
    // driving the bus, and without a port name there is nothing to switch the line for.
    if (!ensureOpen())
        return false;
    directionTransmit();
    cAbstractVelnorProtocol* codec = cVelnorProtocolPC::instance();
    if (codec->codeData(address, command, dataLength, data)) {
        const uchar* frame = codec->buffer();
        m_serialPort->write(reinterpret_cast<const char*>(frame), encodedFrameLength(frame));
    } else {
        qCDebug(lcLink) << "packet does not fit a bus frame, not sent: address" << address
                        << "command" << command << "length" << dataLength;
    }
    m_serialPort->flush();
    // The UART still shifts the last bits out after flush(); switching to receive at once
    // would cut the frame's tail.
    QThread::usleep(2000);
    directionReceive();
    return true;
}

bool cuRs485IOInterface::write(const QByteArray& bytes)
{
    if (mode() == PacketMode)
        return false;
    if (!ensureOpen())
        return false;
    directionTransmit();
    // Give the transceiver time to turn around before the first bit, and the UART time to
    // empty before the line is released.
    QThread::usleep(5000);
    m_serialPort->write(bytes);
    m_serialPort->flush();
    QThread::usleep(5000);
    m_serialPort->waitForBytesWritten(5);
    directionReceive();
    return true;
}

QByteArray cuRs485IOInterface::readAll()
{
    if (mode() == PacketMode)
        return {};
    if (!ensureOpen())
        return {};
    return m_serialPort->readAll();
}

void cuRs485IOInterface::setMode(int mode)
{
    // Without a port there is no signal to wire; the mode follows with the first open().
    if (!m_serialPort || mode == this->mode())
        return;
    if (mode == PacketMode) {
        // Queued, so the parsing runs from the event loop and never inside readyRead.
        connect(m_serialPort, &QIODevice::readyRead, this, &cuRs485IOInterface::dataReady,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    } else {
        disconnect(m_serialPort, &QIODevice::readyRead, this, &cuRs485IOInterface::dataReady);
    }
    storeMode(mode);
}

void cuRs485IOInterface::dataReady()
{
    // A queued readyRead may still arrive after a switch to direct mode; its bytes then
    // belong to whoever reads the port directly.
    if (mode() != PacketMode || !m_serialPort)
        return;
    const QByteArray bytes = m_serialPort->readAll();
    cuFeedBusBytes(*cVelnorProtocolPC::instance(), bytes,
                   [this](quint8 address, quint8 command, quint8 dataLength, quint8* data) {
                       emit msgReceived(address, command, dataLength, data);
                   });
}

void cuRs485IOInterface::directionTransmit()
{
    GpioMemory gpio;
    gpio.setPinMode(DirectionPin, 1);
    gpio.writeRegister(GpioMemory::OutputSet0, quint32(1) << DirectionPin);
}

void cuRs485IOInterface::directionReceive()
{
    GpioMemory gpio;
    gpio.writeRegister(GpioMemory::OutputClear0, quint32(1) << DirectionPin);
}
