// The RS-485 transport end to end: the serial line is a pseudo-terminal whose master side
// plays the bus, and the GPIO block is a stand-in file that keeps the last value written to
// each register.
#include "../gpiostandin.h"
#include "link/curs485iointerface.h"
#include "link/eventwait.h"
#include "link/gpiomemory.h"
#include "link/velnorprotocol.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/statvfs.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Packet
{
    quint8 address = 0;
    quint8 command = 0;
    QByteArray data;
    bool operator==(const Packet&) const = default;
};

char* toString(const Packet& p)
{
    return qstrdup(QByteArray("Packet(" + QByteArray::number(p.address) + ", " +
                              QByteArray::number(p.command) + ", " + p.data.toHex(' ') + ")")
                       .constData());
}

// Encoded with a codec of its own, so the transport's shared one is not disturbed.
QByteArray frameOf(const Packet& p)
{
    cAbstractVelnorProtocol codec;
    if (!codec.codeData(p.address, p.command, quint8(p.data.size()),
                        reinterpret_cast<const uchar*>(p.data.constData())))
        return {};
    const QByteArray all(reinterpret_cast<const char*>(codec.buffer()),
                         cAbstractVelnorProtocol::BufferSize);
    return all.left(all.indexOf(char(0xFA)) + 1);
}

QList<Packet> decode(const QByteArray& bytes)
{
    cAbstractVelnorProtocol codec;
    QList<Packet> out;
    cuFeedBusBytes(codec, bytes, [&](quint8 a, quint8 c, quint8 n, quint8* d) {
        out.append({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
    });
    return out;
}

bool send(cuIOInterface& transport, Packet p)
{
    return transport.sendMsg(p.address, p.command, quint8(p.data.size()),
                             reinterpret_cast<quint8*>(p.data.data()));
}

// Collects the packets a transport delivers, copying them during the emission.
class PacketLog : public QObject
{
public:
    explicit PacketLog(cuIOInterface* transport)
    {
        connect(transport, &cuIOInterface::msgReceived, this,
                [this](quint8 a, quint8 c, quint8 n, quint8* d) {
                    packets.append({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
                });
    }
    bool waitFor(int count, int timeoutMs = 3000)
    {
        return cuWaitForEvents([&] { return packets.size() >= count; }, timeoutMs);
    }
    QList<Packet> packets;
};

} // namespace

class TestRs485Transport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sendMsgWritesOneFrameAndSwitchesDirection();
    void sendMsgOpensThePortOnDemand();
    void packetTooLongForAFrameWritesNothing();
    void receivedFramesBecomePackets();
    void receiverMayAnswerFromInsideTheDelivery();
    void packetModeRefusesRawAccess();
    void directModeReadsAndWritesRawBytes();
    void modeIsLeftAloneUntilThePortExists();
    void withoutAUsablePortEverythingRefuses();

private:
    quint32 gpioRegister(int index) const;
    QByteArray readMaster(int timeoutMs, bool untilFrameEnd);
    void writeMaster(const QByteArray& bytes);

    GpioStandIn m_gpio;
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
};

void TestRs485Transport::initTestCase()
{
    switch (m_gpio.create(QStringLiteral("rs485"))) {
    case GpioStandIn::Result::NoExec:
        QSKIP("the build directory is on a noexec mount; executable mappings are refused");
    case GpioStandIn::Result::Failed:
        QFAIL("no stand-in for the GPIO block");
    case GpioStandIn::Result::Ready:
        break;
    }
}

void TestRs485Transport::init()
{
    const QByteArray zeros(4096, '\0');
    QCOMPARE(pwrite(m_gpio.fd(), zeros.constData(), zeros.size(), GpioMemory::MapOffset),
             ssize_t(zeros.size()));

    char name[256] = {};
    QCOMPARE(openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
    m_slaveName = QString::fromLocal8Bit(name);
    termios raw;
    QCOMPARE(tcgetattr(m_slave, &raw), 0);
    cfmakeraw(&raw);
    QCOMPARE(tcsetattr(m_slave, TCSANOW, &raw), 0);
    QVERIFY(fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK) == 0);
    // The test keeps the slave open too, so the master never sees a hang-up in between.
}

void TestRs485Transport::cleanup()
{
    ::close(m_master);
    ::close(m_slave);
    m_master = m_slave = -1;
}

quint32 TestRs485Transport::gpioRegister(int index) const
{
    quint32 value = 0xDEADBEEF;
    if (pread(m_gpio.fd(), &value, sizeof value, GpioMemory::MapOffset + index * 4) != sizeof value)
        return 0xDEADBEEF;
    return value;
}

// Reads what the transport wrote to the line: with untilFrameEnd, until a 0xFA arrives or
// the deadline passes; otherwise only what is there already.
QByteArray TestRs485Transport::readMaster(int timeoutMs, bool untilFrameEnd)
{
    QByteArray got;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        char chunk[512];
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0) {
            got.append(chunk, n);
            continue;
        }
        if (!untilFrameEnd || got.contains(char(0xFA)) || deadline.hasExpired())
            return got;
        pollfd p{m_master, POLLIN, 0};
        poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime())));
    }
}

void TestRs485Transport::writeMaster(const QByteArray& bytes)
{
    QCOMPARE(::write(m_master, bytes.constData(), bytes.size()), ssize_t(bytes.size()));
}

void TestRs485Transport::sendMsgWritesOneFrameAndSwitchesDirection()
{
    cuRs485IOInterface transport;
    transport.setPortName(m_slaveName);
    QVERIFY(transport.open());

    const Packet p{0x12, 0x07, QByteArray::fromHex("00f9fafb55")};
    QVERIFY(send(transport, p));

    const QByteArray line = readMaster(3000, true);
    QVERIFY(!line.isEmpty());
    QCOMPARE(uchar(line.front()), uchar(0xF9));
    QCOMPARE(uchar(line.back()), uchar(0xFA));
    QCOMPARE(line.count(char(0xF9)), 1);
    QCOMPARE(line.count(char(0xFA)), 1);
    QCOMPARE(decode(line), QList<Packet>{p});
    QCOMPARE(line, frameOf(p));

    // Transmit: GPIO 24 made an output and driven high; receive afterwards: driven low.
    QCOMPARE((gpioRegister(2) >> 12) & 7u, 1u);
    QCOMPARE(gpioRegister(GpioMemory::OutputSet0), 1u << 24);
    QCOMPARE(gpioRegister(GpioMemory::OutputClear0), 1u << 24);
    QCOMPARE(gpioRegister(2) & ~(7u << 12), 0u);
}

void TestRs485Transport::sendMsgOpensThePortOnDemand()
{
    cuRs485IOInterface transport;
    transport.setPortName(m_slaveName);
    QVERIFY(!transport.serialPort());
    QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::DirectMode));

    const Packet p{0xFF, 11, {}};
    QVERIFY(transport.sendMsg(p.address, p.command, 0, nullptr));
    QVERIFY(transport.serialPort());
    QVERIFY(transport.serialPort()->isOpen());
    QCOMPARE(transport.serialPort()->baudRate(), cuRs485IOInterface::BaudRate);
    QCOMPARE(transport.serialPort()->dataBits(), QSerialPort::Data8);
    QCOMPARE(transport.serialPort()->parity(), QSerialPort::NoParity);
    QCOMPARE(transport.serialPort()->stopBits(), QSerialPort::OneStop);
    QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::PacketMode));
    QCOMPARE(decode(readMaster(3000, true)), QList<Packet>{p});
}

void TestRs485Transport::packetTooLongForAFrameWritesNothing()
{
    cuRs485IOInterface transport;
    transport.setPortName(m_slaveName);
    QVERIFY(transport.open());

    QByteArray huge(255, char(0xFA));
    QVERIFY(transport.sendMsg(1, 2, 255, reinterpret_cast<quint8*>(huge.data())));
    // The write is complete when sendMsg returns, so anything sent is already there.
    QCOMPARE(readMaster(0, false), QByteArray());

    const Packet p{1, 3, "next"};
    QVERIFY(send(transport, p));
    QCOMPARE(readMaster(3000, true), frameOf(p));
}

void TestRs485Transport::receivedFramesBecomePackets()
{
    cuRs485IOInterface transport;
    transport.setPortName(m_slaveName);
    QVERIFY(transport.open());
    PacketLog log(&transport);

    const Packet a{0x21, 0x01, "one"};
    const Packet b{0x22, 0x02, QByteArray::fromHex("f9fafb")};
    const Packet c{0x23, 0x03, {}};
    const Packet d{0x24, 0x04, QByteArray(120, char(0xF9))};

    writeMaster(frameOf(a));
    QVERIFY(log.waitFor(1));
    QCOMPARE(log.packets, QList<Packet>{a});

    // Two frames in one write.
    log.packets.clear();
    writeMaster(frameOf(b) + frameOf(c));
    QVERIFY(log.waitFor(2));
    QCOMPARE(log.packets, (QList<Packet>{b, c}));

    // A frame split across writes: the first half is taken in before the rest comes.
    log.packets.clear();
    const QByteArray fd = frameOf(d);
    QSignalSpy arrived(transport.serialPort(), &QIODevice::readyRead);
    writeMaster(fd.left(fd.size() / 2));
    QVERIFY(arrived.wait(3000));
    QCoreApplication::processEvents();
    QVERIFY(log.packets.isEmpty());
    writeMaster(fd.mid(fd.size() / 2));
    QVERIFY(log.waitFor(1));
    QCOMPARE(log.packets, QList<Packet>{d});

    // Line noise, an unfinished frame and a corrupted one before a good frame.
    log.packets.clear();
    QByteArray corrupted = frameOf(a);
    corrupted[3] = char(corrupted[3] ^ 0x01);
    writeMaster(QByteArray::fromHex("0001fa02fb") + frameOf(b).left(4) + corrupted + frameOf(c));
    QVERIFY(log.waitFor(1));
    QCOMPARE(log.packets, QList<Packet>{c});
}

// Drivers answer a packet from their handler, which encodes into the shared codec buffer.
void TestRs485Transport::receiverMayAnswerFromInsideTheDelivery()
{
    cuRs485IOInterface transport;
    transport.setPortName(m_slaveName);
    QVERIFY(transport.open());
    connect(&transport, &cuIOInterface::msgReceived, &transport,
            [&](quint8 address, quint8 command, quint8, quint8*) {
                quint8 answer[4] = {0xF9, 0xFA, 0xFB, command};
                transport.sendMsg(address, 0x80, 4, answer);
            });
    // Logged after the answer went out, so the data must not live in the codec buffer.
    PacketLog log(&transport);

    const Packet a{5, 1, "first"};
    const Packet b{6, 2, "second"};
    writeMaster(frameOf(a) + frameOf(b));
    QVERIFY(log.waitFor(2));
    QCOMPARE(log.packets, (QList<Packet>{a, b}));

    QByteArray line = readMaster(3000, true);
    while (line.count(char(0xFA)) < 2) {
        const QByteArray more = readMaster(3000, true);
        if (more.isEmpty())
            break;
        line += more;
    }
    QCOMPARE(decode(line), (QList<Packet>{{5, 0x80, QByteArray::fromHex("f9fafb01")},
                                          {6, 0x80, QByteArray::fromHex("f9fafb02")}}));
}

void TestRs485Transport::packetModeRefusesRawAccess()
{
    cuRs485IOInterface transport;
    transport.setPortName(m_slaveName);
    QVERIFY(transport.open());
    QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::PacketMode));

    QVERIFY(!transport.write("raw bytes"));
    QCOMPARE(readMaster(0, false), QByteArray());
    QCOMPARE(gpioRegister(GpioMemory::OutputSet0), 0u);

    writeMaster("pending");
    QVERIFY(transport.serialPort()->waitForReadyRead(3000));
    QCOMPARE(transport.readAll(), QByteArray());
}

void TestRs485Transport::directModeReadsAndWritesRawBytes()
{
    cuRs485IOInterface transport;
    transport.setPortName(m_slaveName);
    QVERIFY(transport.open());
    PacketLog log(&transport);
    transport.setMode(cuIOInterfaceImpl::DirectMode);
    QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::DirectMode));

    const QByteArray raw = QByteArray("Init") + char(0xFA);
    QVERIFY(transport.write(raw));
    QCOMPARE(readMaster(3000, true), raw);
    QCOMPARE(gpioRegister(GpioMemory::OutputSet0), 1u << 24);
    QCOMPARE(gpioRegister(GpioMemory::OutputClear0), 1u << 24);
    QCOMPARE((gpioRegister(2) >> 12) & 7u, 1u);

    // A frame on the line is left to the direct reader, not parsed.
    const QByteArray frame = frameOf({9, 9, "frame"});
    writeMaster(frame);
    QByteArray read;
    while (read.size() < frame.size() && transport.serialPort()->waitForReadyRead(3000))
        read += transport.readAll();
    read += transport.readAll();
    QCOMPARE(read, frame);
    QCoreApplication::processEvents();
    QVERIFY(log.packets.isEmpty());

    // Back in packet mode, frames are parsed again.
    transport.setMode(cuIOInterfaceImpl::PacketMode);
    const Packet p{9, 10, "again"};
    writeMaster(frameOf(p));
    QVERIFY(log.waitFor(1));
    QCOMPARE(log.packets, QList<Packet>{p});
}

void TestRs485Transport::modeIsLeftAloneUntilThePortExists()
{
    cuRs485IOInterface transport;
    transport.setPortName(m_slaveName);
    transport.setMode(cuIOInterfaceImpl::PacketMode);
    QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::DirectMode));
    QVERIFY(transport.open());
    QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::PacketMode));
}

// An empty or wrong port name: nothing opens, nothing is sent and the direction line stays
// untouched (a transceiver left at transmit would block the bus).
void TestRs485Transport::withoutAUsablePortEverythingRefuses()
{
    for (const QString& name : {QString(), m_gpio.filePath("no-such-tty")}) {
        cuRs485IOInterface transport;
        transport.setPortName(name);
        QVERIFY(!transport.open());
        quint8 data[2] = {1, 2};
        QVERIFY(!transport.sendMsg(1, 2, 2, data));
        QVERIFY(!transport.write("bytes"));
        QCOMPARE(transport.readAll(), QByteArray());
        QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::DirectMode));
        if (name.isEmpty())
            QVERIFY(!transport.serialPort());
        QCOMPARE(gpioRegister(GpioMemory::OutputSet0), 0u);
        QCOMPARE(gpioRegister(GpioMemory::OutputClear0), 0u);
        QCOMPARE(gpioRegister(2), 0u);
    }
}

QTEST_GUILESS_MAIN(TestRs485Transport)
#include "tst_rs485transport.moc"
