#include "bootloader.h"

#include "bootlog.h"
#include "drivers/commondriver.h"
#include "link/curs485iointerface.h"
#include "link/eventwait.h"
#include "link/gpiomemory.h"
#include "link/velnorprotocol.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QtEndian>

namespace {

// The RS-485 transceiver's direction line, driven the way the RS-485 transport drives it.
void directionTransmit()
{
    GpioMemory gpio;
    gpio.setPinMode(cuRs485IOInterface::DirectionPin, 1);
    gpio.writeRegister(GpioMemory::OutputSet0, quint32(1) << cuRs485IOInterface::DirectionPin);
}

void directionReceive()
{
    GpioMemory gpio;
    gpio.writeRegister(GpioMemory::OutputClear0, quint32(1) << cuRs485IOInterface::DirectionPin);
}

bool isOk(const QByteArray& answer)
{
    return answer.size() == 2 && answer.startsWith("Ok");
}

} // namespace

Bootloader::Bootloader(QObject* parent) : QObject(parent), m_port(new QSerialPort(this)) {}

QByteArray Bootloader::blockPacket(const QByteArray& imageBytes)
{
    QByteArray data = imageBytes.left(BlockSize);
    data.append(BlockSize - data.size(), char(0xFF));
    uchar crc[4];
    qToLittleEndian(
        cVelnorProtocolPC::crc32stm32(reinterpret_cast<uchar*>(data.data()), BlockSize, true), crc);
    return BlockMark + data + QByteArray(reinterpret_cast<const char*>(crc), 4);
}

void Bootloader::load(const QString& fileName)
{
    QByteArray image;
    if (!readImage(fileName, &image)) {
        emit loaderFinished();
        return;
    }
    if (!m_waitForDevice)
        sendBusBootloaderCommand();
    pause(10);

    bool programmed = false;
    if (openPort() && handshake()) {
        readInfo();
        for (int cycle = 1;; ++cycle) {
            if (!erase())
                break;
            if (program(image)) {
                programmed = true;
                break;
            }
            emit errorLoader(QString());
            if (cycle == MaxProgramCycles) {
                emit errorLoader(
                    tr("Programming failed %1 times in a row, giving up").arg(MaxProgramCycles));
                break;
            }
            emit errorLoader(tr("Fatal error. Bootloader will be start again"));
            emit infoLoader(tr("Restart bootloader"));
            emit restart();
        }
        if (programmed)
            startApplication();
    }
    // Closed before the end is announced, so a front end may reuse the port at once.
    m_port->close();
    emit loaderFinished();
}

// The whole image is read before the module is touched: a file that turns out unreadable
// after the erase would leave the module without any program.
bool Bootloader::readImage(const QString& fileName, QByteArray* image)
{
    if (m_portName.isEmpty()) {
        emit errorLoader(tr("PortName is not setted"));
        return false;
    }
    const QFileInfo info(fileName);
    if (!info.exists() || info.isDir()) {
        emit errorLoader(tr("Can't find file: %1").arg(fileName));
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        emit errorLoader(tr("Can't open *.bin file"));
        return false;
    }
    *image = file.read(MaxImageSize + 1);
    if (image->isEmpty()) {
        emit errorLoader(tr("The firmware file is empty: %1").arg(fileName));
        return false;
    }
    if (image->size() > MaxImageSize) {
        emit errorLoader(
            tr("The firmware file is larger than %1 bytes: %2").arg(MaxImageSize).arg(fileName));
        return false;
    }
    return true;
}

// Every module on the bus leaves its application for the bootloader.
void Bootloader::sendBusBootloaderCommand()
{
    auto* driver = new CommonDriver;
    auto* transport = new cuRs485IOInterface;
    transport->setPortName(m_portName);
    driver->setAddress(BroadcastAddress);
    driver->setInterface(transport);
    driver->bootloaderCommand()->execute();
    delete driver;
    delete transport;
}

bool Bootloader::openPort()
{
    emit infoLoader(QStringLiteral("Opening Serial Port"));
    QCoreApplication::processEvents();
    m_port->setPortName(m_portName);
    m_port->setBaudRate(cuRs485IOInterface::BaudRate, QSerialPort::AllDirections);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    if (m_port->isOpen() || m_port->open(QIODevice::ReadWrite))
        return true;
    qCDebug(lcBoot) << "cannot open" << m_portName << m_port->errorString();
    emit errorLoader(tr("Error at opening serialPort: %1").arg(int(m_port->error())));
    return false;
}

bool Bootloader::handshake()
{
    emit infoLoader(QStringLiteral("Initialization Bootloader"));
    if (m_waitForDevice)
        emit infoLoader(QStringLiteral("Please connect device to the ControlUnit"));
    QCoreApplication::processEvents();
    // With waitForDevice the user plugs the module in meanwhile, so there is no bound.
    for (;;) {
        sendData("Init");
        const bool answered = waitForBytes(2, m_timeouts.handshakeMs) || m_port->bytesAvailable();
        if (!answered && !m_waitForDevice) {
            emit errorLoader(tr("No any answer from device"));
            return false;
        }
        if (isOk(m_port->read(2)))
            return true;
        if (!m_waitForDevice) {
            emit errorLoader(tr("Wrong answer from Bootloader"));
            return false;
        }
    }
}

// A failed query is reported and the load goes on: the text is for the user only.
void Bootloader::readInfo()
{
    emit infoLoader(QStringLiteral("Getting bootloader info"));
    QCoreApplication::processEvents();
    sendData("G");
    QString info;
    if (waitForBytes(1, m_timeouts.infoMs)) {
        pause(100);
        const QByteArray answer = m_port->read(BlockSize);
        if (answer.isEmpty())
            emit errorLoader(tr("Wrong answer from Bootloader"));
        else
            info = QString::fromLatin1(answer);
    } else {
        emit errorLoader(tr("No any answer from device"));
    }
    emit infoLoader(QStringLiteral("Info: %1").arg(info));
}

// false only when the pointer reset is never acknowledged; a failed erase is reported and
// programming is tried all the same.
bool Bootloader::erase()
{
    emit infoLoader(QStringLiteral("Reset pointer to the program memory"));
    QCoreApplication::processEvents();
    for (int tries = 0;; ++tries) {
        if (tries == MaxPointerResets) {
            emit errorLoader(tr("The bootloader did not acknowledge the pointer reset in %1 tries, "
                                "giving up")
                                 .arg(MaxPointerResets));
            return false;
        }
        sendData("C");
        if (waitForBytes(2, m_timeouts.pointerResetMs) && isOk(m_port->read(2)))
            break;
    }

    emit infoLoader(QStringLiteral("Delete Old Program (it may take up to 5 seconds)"));
    QCoreApplication::processEvents();
    sendData("D");
    if (!waitForBytes(2, m_timeouts.eraseMs) && !m_port->bytesAvailable()) {
        emit errorLoader(QString());
        emit errorLoader(tr("Error! No any answer from Bootloader"));
        return true;
    }
    const QByteArray answer = m_port->read(2);
    emit infoLoader(QString::fromLatin1(answer));
    if (!isOk(answer)) {
        emit errorLoader(QString());
        emit errorLoader(tr("Error! Wrong answer from Bootloaser"));
    }
    return true;
}

bool Bootloader::program(const QByteArray& image)
{
    QCoreApplication::processEvents();
    emit infoLoader(QStringLiteral("Start programming device"));
    const qint64 size = image.size();
    qint64 written = 0;
    for (qint64 offset = 0; offset < size; offset += BlockSize) {
        QCoreApplication::processEvents();
        const QByteArray packet = blockPacket(image.mid(offset, BlockSize));
        for (int resends = 0;; ++resends) {
            sendData(packet);
            waitForBytes(2, m_timeouts.blockMs);
            pause(5);
            const QByteArray answer = m_port->read(2);
            if (isOk(answer))
                break;
            if (answer.size() != 2 || !answer.startsWith("Er"))
                return false;
            if (resends == MaxBlockResends) {
                emit errorLoader(tr("Block %1 was refused %2 times")
                                     .arg(offset / BlockSize + 1)
                                     .arg(MaxBlockResends + 1));
                return false;
            }
            emit infoLoader(QStringLiteral("Packet error, try send packet again"));
        }
        written += BlockSize;
        // The last block counts whole, so this may pass 100 before the final report.
        emit loaderProgressChanged(int(written * 100.0 / size));
    }
    emit loaderProgressChanged(100);
    return true;
}

bool Bootloader::startApplication()
{
    emit infoLoader(QStringLiteral("Start Application"));
    QCoreApplication::processEvents();
    sendData("S");
    if (!waitForBytes(2, m_timeouts.startMs) && !m_port->bytesAvailable()) {
        emit errorLoader(tr("No any answer from Bootloader"));
        return false;
    }
    if (!isOk(m_port->read(2))) {
        emit errorLoader(tr("Wrong answer from Bootloader"));
        return false;
    }
    return true;
}

void Bootloader::sendData(const QByteArray& bytes)
{
    // An answer belongs to the command just sent; the rest of an earlier one (a long
    // information text, noise while a module is plugged in) would be taken for it.
    m_port->readAll();
    m_port->clear(QSerialPort::Input);
    qCDebug(lcBoot) << "send" << (bytes.size() > 4 ? bytes.left(1) : bytes) << bytes.size();

    directionTransmit();
    pause(5);
    m_port->write(bytes);
    m_port->flush();
    m_port->waitForBytesWritten(5);
    directionReceive();
}

bool Bootloader::waitForBytes(qint64 count, int timeoutMs)
{
    return cuWaitForEvents([&] { return m_port->bytesAvailable() >= count; }, timeoutMs);
}

void Bootloader::pause(int ms)
{
    cuWaitForEvents([] { return false; }, ms);
}
