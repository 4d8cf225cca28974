// The GPIO register block and the RS-485 transport end to end: the GPIO block is a stand-in
// file mapped like /dev/gpiomem, and the serial line a pseudo-terminal whose master side
// plays the bus.
#include "../gpiostandin.h"
#include "busframes.h"
#include "link/curs485iointerface.h"
#include "link/eventwait.h"

#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <poll.h>

// Run as a child with this argument and a path, the program maps that file as the GPIO block.
constexpr char MapArgument[] = "--map-gpio";

class TestRs485Transport : public QObject
{
    Q_OBJECT

    GpioStandIn m_gpio;
    std::unique_ptr<PtyLine> m_line;
    // Packets the transport delivered, copied during the emission.
    QList<Packet> m_log;

    // What the transport wrote to the line: with untilFrames, until that many frame ends
    // arrived or the deadline passed; otherwise only what is there already.
    QByteArray readLine(int untilFrames = 1)
    {
        QByteArray got;
        const QDeadlineTimer deadline(3000);
        for (;;) {
            char chunk[512];
            const ssize_t n = ::read(m_line->master, chunk, sizeof chunk);
            if (n > 0) {
                got.append(chunk, n);
                continue;
            }
            if (got.count(char(0xFA)) >= untilFrames || deadline.hasExpired())
                return got;
            pollfd p{m_line->master, POLLIN, 0};
            poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime())));
        }
    }
    void writeLine(const QByteArray& bytes)
    {
        QCOMPARE(::write(m_line->master, bytes.constData(), bytes.size()), ssize_t(bytes.size()));
    }
    void open(cuRs485IOInterface& transport)
    {
        transport.setPortName(m_line->name);
        QVERIFY(transport.open());
        connect(&transport, &cuIOInterface::msgReceived, this,
                [this](quint8 a, quint8 c, quint8 n, quint8* d) {
                    m_log.append({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
                });
    }
    bool waitForPackets(int count)
    {
        return cuWaitForEvents([&] { return m_log.size() >= count; }, 3000);
    }

private slots:
    void initTestCase()
    {
        const GpioStandIn::Result made = m_gpio.create("rs485");
        if (made == GpioStandIn::Result::NoExec)
            QSKIP("the build directory is on a noexec mount; executable mappings are refused");
        QVERIFY2(made == GpioStandIn::Result::Ready, "no stand-in for the GPIO block");
    }
    void init()
    {
        const QByteArray zeros(4096, '\0');
        QCOMPARE(pwrite(m_gpio.fd(), zeros.constData(), zeros.size(), GpioMemory::MapOffset),
                 ssize_t(zeros.size()));
        m_line = std::make_unique<PtyLine>();
        QVERIFY(m_line->open());
        m_log.clear();
    }

    // Without the direction line the transceiver cannot be driven: the process ends.
    void gpioBlockMissingEndsTheProcess()
    {
        const auto run = [](const QString& path) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {MapArgument, path});
            child.waitForFinished(10000);
            return qMakePair(child.exitCode(), child.readAllStandardError());
        };
        auto [status, error] = run(m_gpio.filePath("no-such-device"));
        QCOMPARE(status, 1);
        QCOMPARE(error, QByteArray("can't open /dev/gpiomem: ") + strerror(ENOENT) + "\n");
        std::tie(status, error) = run("/dev/null"); // opens, cannot be mapped
        QCOMPARE(status, 1);
        QVERIFY2(error.startsWith("mmap error: "), error.constData());
    }

    void sendWritesOneFrameWithTheDirectionSwitched()
    {
        cuRs485IOInterface transport;
        transport.setPortName(m_line->name);
        QVERIFY(!transport.serialPort());
        QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::DirectMode));
        transport.setMode(cuIOInterfaceImpl::PacketMode); // left alone without a port
        QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::DirectMode));

        Packet p{0x12, 0x07, QByteArray::fromHex("00f9fafb55")};
        QVERIFY(
            transport.sendMsg(p.address, p.command, 5, reinterpret_cast<quint8*>(p.data.data())));
        QCOMPARE(readLine(), encode(p)); // the port opened on demand
        QVERIFY(transport.serialPort() && transport.serialPort()->isOpen());
        QCOMPARE(transport.serialPort()->baudRate(), 500000);
        QCOMPARE(transport.serialPort()->dataBits(), QSerialPort::Data8);
        QCOMPARE(transport.serialPort()->parity(), QSerialPort::NoParity);
        QCOMPARE(transport.serialPort()->stopBits(), QSerialPort::OneStop);
        QCOMPARE(transport.mode(), int(cuIOInterfaceImpl::PacketMode));
        // Transmit around the write: GPIO 24 an output, driven high, then low.
        QCOMPARE(m_gpio.reg(2), 1u << 12);
        QCOMPARE(m_gpio.reg(GpioMemory::OutputSet0), 1u << 24);
        QCOMPARE(m_gpio.reg(GpioMemory::OutputClear0), 1u << 24);

        QByteArray huge(255, char(0xFA)); // too long for a frame: nothing is written
        QVERIFY(transport.sendMsg(1, 2, 255, reinterpret_cast<quint8*>(huge.data())));
        QVERIFY(transport.sendMsg(1, 3, 0, nullptr));
        QCOMPARE(readLine(), encode({1, 3, {}}));
    }

    void receivedFramesBecomePackets()
    {
        cuRs485IOInterface transport;
        open(transport);
        const Packet a{0x21, 0x01, "one"}, b{0x22, 0x02, QByteArray::fromHex("f9fafb")},
            c{0x23, 0x03, {}}, d{0x24, 0x04, QByteArray(120, char(0xF9))};
        writeLine(encode(a) + encode(b)); // two frames in one write
        QVERIFY(waitForPackets(2));
        QCOMPARE(m_log, (QList<Packet>{a, b}));

        // A frame split across writes: the first half is taken in before the rest comes.
        const QByteArray fd = encode(d);
        QSignalSpy arrived(transport.serialPort(), &QIODevice::readyRead);
        writeLine(fd.left(fd.size() / 2));
        QVERIFY(arrived.wait(3000));
        QCoreApplication::processEvents();
        QCOMPARE(m_log.size(), 2);
        writeLine(fd.mid(fd.size() / 2));
        QVERIFY(waitForPackets(3));
        QCOMPARE(m_log.last(), d);

        // Line noise, an unfinished frame and a corrupted one before a good frame.
        QByteArray corrupted = encode(a);
        corrupted[3] = char(corrupted[3] ^ 0x01);
        writeLine(QByteArray::fromHex("0001fa02fb") + encode(b).left(4) + corrupted + encode(c));
        QVERIFY(waitForPackets(4));
        QCOMPARE(m_log.mid(3), QList<Packet>{c});
    }

    // Drivers answer from their handler, which encodes into the shared codec buffer.
    void receiverMayAnswerFromInsideTheDelivery()
    {
        cuRs485IOInterface transport;
        connect(&transport, &cuIOInterface::msgReceived, &transport,
                [&](quint8 address, quint8 command, quint8, quint8*) {
                    quint8 answer[4] = {0xF9, 0xFA, 0xFB, command};
                    transport.sendMsg(address, 0x80, 4, answer);
                });
        open(transport); // logged after the answer went out
        writeLine(encode({5, 1, "first"}) + encode({6, 2, "second"}));
        QVERIFY(waitForPackets(2));
        QCOMPARE(m_log, (QList<Packet>{{5, 1, "first"}, {6, 2, "second"}}));
        QCOMPARE(decode(readLine(2)), (QList<Packet>{{5, 0x80, QByteArray::fromHex("f9fafb01")},
                                                     {6, 0x80, QByteArray::fromHex("f9fafb02")}}));
    }

    // An empty or wrong port name: nothing opens, nothing is sent, and the direction line
    // stays untouched (a transceiver left at transmit would block the bus).
    void withoutAUsablePortEverythingRefuses()
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
            QCOMPARE(m_gpio.reg(GpioMemory::OutputSet0) | m_gpio.reg(GpioMemory::OutputClear0) |
                         m_gpio.reg(2),
                     0u);
        }
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], MapArgument) == 0) {
        GpioMemory::setDevicePathForTesting(argv[2]);
        GpioMemory gpio; // ends the process when the block cannot be mapped
        return 99;
    }
    QCoreApplication app(argc, argv);
    TestRs485Transport test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_rs485transport.moc"
