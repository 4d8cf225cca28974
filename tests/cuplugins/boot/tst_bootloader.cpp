// The serial bootloader end to end: the RS-485 line is a pseudo-terminal whose master side
// plays a module's bootloader from a script, and the GPIO block is a stand-in file.
#include "../gpiostandin.h"
#include "boot/bootloader.h"
#include "link/gpiomemory.h"
#include "link/velnorprotocol.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>
#include <QtEndian>

namespace {

using Script = QHash<QString, QList<QByteArray>>;

// The module's side of the line: reads each command as it comes and answers from a table
// keyed by "bus" (a codec frame), "Init", "G", "C", "D", "P" (a block) and "S"; a missing
// key is silence. A key answers in turn from its list, the last entry for ever after.
class ScriptedModule : public QObject
{
public:
    explicit ScriptedModule(int master)
        : m_master(master), m_notifier(master, QSocketNotifier::Read)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, &ScriptedModule::readLine);
    }

    QHash<QString, QList<QByteArray>> answers;
    QStringList commands;     // the keys, in order
    QList<QByteArray> blocks; // the block packets, in order
    QList<QByteArray> busFrames;

private:
    void readLine()
    {
        char chunk[512];
        ssize_t n;
        while ((n = ::read(m_master, chunk, sizeof chunk)) > 0)
            m_pending.append(chunk, n);
        while (!m_pending.isEmpty()) {
            qsizetype length = 1;
            QString key = QString::fromLatin1(m_pending.left(1));
            if (uchar(m_pending[0]) == 0xF9) {
                key = "bus";
                length = m_pending.indexOf(char(0xFA)) + 1;
            } else if (m_pending[0] == 'I') {
                key = "Init";
                length = 4;
            } else if (m_pending[0] == 'P') {
                length = Bootloader::BlockPacketSize;
            }
            if (length <= 0 || m_pending.size() < length)
                return;
            const QByteArray command = m_pending.left(length);
            m_pending.remove(0, length);
            commands << key;
            if (key == "P")
                blocks << command;
            if (key == "bus")
                busFrames << command;
            QList<QByteArray>& list = answers[key];
            const QByteArray answer = list.size() > 1 ? list.takeFirst() : list.value(0);
            QCOMPARE(::write(m_master, answer.constData(), answer.size()), ssize_t(answer.size()));
        }
    }

    int m_master;
    QSocketNotifier m_notifier;
    QByteArray m_pending;
};

const QByteArray Image = [] {
    QByteArray image;
    for (int i = 0; i < 300; ++i)
        image.append(char(i * 7 + 1));
    return image;
}();

} // namespace

class TestBootloader : public QObject
{
    Q_OBJECT

    GpioStandIn m_gpio;
    std::unique_ptr<PtyLine> m_line;
    QString m_imagePath;

    struct Run
    {
        QStringList infos, errors;
        QList<int> progress;
        int restarts = 0, finished = 0;
    };

    Run load(Bootloader& loader, const QString& file)
    {
        QSignalSpy info(&loader, &Bootloader::infoLoader), error(&loader, &Bootloader::errorLoader),
            progress(&loader, &Bootloader::loaderProgressChanged),
            restart(&loader, &Bootloader::restart), finished(&loader, &Bootloader::loaderFinished);
        loader.load(file);
        Run run{{}, {}, {}, int(restart.size()), int(finished.size())};
        for (const auto& a : info)
            run.infos << a.at(0).toString();
        for (const auto& a : error)
            run.errors << a.at(0).toString();
        for (const auto& a : progress)
            run.progress << a.at(0).toInt();
        return run;
    }

    void makeLoader(Bootloader& loader, ScriptedModule& module)
    {
        loader.setPortName(m_line->name);
        loader.setTimeouts({100, 100, 20, 100, 100, 100});
        module.answers = {{"Init", {"Ok"}}, {"G", {"boot 2.4"}}, {"C", {"Ok"}},
                          {"D", {"Ok"}},    {"P", {"Ok"}},       {"S", {"Ok"}}};
    }

private slots:
    void initTestCase()
    {
        const GpioStandIn::Result made = m_gpio.create("boot");
        if (made == GpioStandIn::Result::NoExec)
            QSKIP("the build directory is on a noexec mount; executable mappings are refused");
        QVERIFY2(made == GpioStandIn::Result::Ready, "no stand-in for the GPIO block");
        m_imagePath = m_gpio.filePath("image.bin");
        QFile image(m_imagePath);
        QVERIFY(image.open(QIODevice::WriteOnly));
        image.write(Image);
    }

    void init()
    {
        m_line = std::make_unique<PtyLine>();
        QVERIFY(m_line->open());
    }

    void writesTheImageInBlocks()
    {
        ScriptedModule module(m_line->master);
        Bootloader loader;
        makeLoader(loader, module);
        const Run run = load(loader, m_imagePath);

        QCOMPARE(run.errors, QStringList());
        QCOMPARE(run.finished, 1);
        QCOMPARE(run.progress, (QList<int>{42, 85, 128, 100}));
        QCOMPARE(run.infos, (QStringList{"Opening Serial Port", "Initialization Bootloader",
                                         "Getting bootloader info", "Info: boot 2.4",
                                         "Reset pointer to the program memory",
                                         "Delete Old Program (it may take up to 5 seconds)", "Ok",
                                         "Start programming device", "Start Application"}));
        QCOMPARE(module.commands.join(' '), QString("bus Init G C D P P P S"));
        QVERIFY(!loader.serialPort()->isOpen());
        QCOMPARE(loader.serialPort()->baudRate(), 500000);

        // The bus command: address 255, command 11, no data.
        QList<QByteArray> packets;
        cAbstractVelnorProtocol codec;
        cuFeedBusBytes(codec, module.busFrames.value(0),
                       [&](quint8 a, quint8 c, quint8 n, quint8*) {
                           packets << QByteArray(1, char(a)) + char(c) + char(n);
                       });
        QCOMPARE(packets, QList<QByteArray>{QByteArray::fromHex("ff0b00")});

        for (int i = 0; i < 3; ++i) {
            QByteArray data = Image.mid(i * 128, 128);
            data.append(128 - data.size(), char(0xFF));
            uchar crc[4];
            qToLittleEndian(
                cVelnorProtocolPC::crc32stm32(reinterpret_cast<uchar*>(data.data()), 128, true),
                crc);
            QCOMPARE(module.blocks.at(i), "P" + data + QByteArray(reinterpret_cast<char*>(crc), 4));
        }
        QCOMPARE(module.blocks.at(2).mid(1 + 44, 84), QByteArray(84, char(0xFF)));

        // Every write with the transceiver at transmit, and released to receive after it.
        QCOMPARE((m_gpio.reg(2) >> 12) & 7u, 1u);
        QCOMPARE(m_gpio.reg(GpioMemory::OutputSet0), 1u << 24);
        QCOMPARE(m_gpio.reg(GpioMemory::OutputClear0), 1u << 24);
    }

    // Each row: answers replaced in the script, whether the module is plugged in during the
    // load, the commands the module sees, and what the load reports.
    void scriptedModules_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<bool>("waitForDevice");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("blocks");
        QTest::addColumn<QStringList>("errors");
        QTest::addColumn<int>("restarts");
        QTest::addColumn<int>("lastProgress");

        const QString fatal = "Fatal error. Bootloader will be start again";
        QTest::newRow("block refused once is sent again")
            << Script{{"P", {"Ok", "Er", "Ok"}}} << false << "bus Init G C D P P P P S"
            << "1 2 2 3" << QStringList() << 0 << 100;
        QTest::newRow("silent module") << Script{{"Init", {""}}} << false << "bus Init"
                                       << "" << QStringList{"No any answer from device"} << 0 << -1;
        QTest::newRow("module plugged in later")
            << Script{{"Init", {"", "", "Ok"}}} << true << "Init Init Init G C D P P P S"
            << "1 2 3" << QStringList() << 0 << 100;
        // What the information query leaves unread is not taken for the next answer.
        QTest::newRow("long information text")
            << Script{{"G", {QByteArray(200, 'x')}}} << false << "bus Init G C D P P P S"
            << "1 2 3" << QStringList() << 0 << 100;
        QTest::newRow("fatal block restarts from the erase")
            << Script{{"P", {"Ok", "??", "Ok"}}} << false << "bus Init G C D P P C D P P P S"
            << "1 2 1 2 3" << QStringList{"", fatal} << 1 << 100;
        QTest::newRow("pointer reset bound")
            << Script{{"C", {"Er"}}} << false << "bus Init G" + QString(" C").repeated(50) << ""
            << QStringList{"The bootloader did not acknowledge the pointer reset in 50 tries, "
                           "giving up"}
            << 0 << -1;
        const QString pass = " C D P";
        QTest::newRow("programming pass bound")
            << Script{{"P", {"??"}}} << false << "bus Init G" + pass.repeated(5)
            << QString("1 ").repeated(5).trimmed()
            << QStringList{"", fatal,
                           "", fatal,
                           "", fatal,
                           "", fatal,
                           "", "Programming failed 5 times in a row, giving up"}
            << 4 << -1;
        QTest::newRow("block resend bound")
            << Script{{"P", {"Ok", "Er"}}, {"C", {"Ok", "Er"}}} << false
            << "bus Init G C D P" + QString(" P").repeated(21) + QString(" C").repeated(50)
            << "1" + QString(" 2").repeated(21)
            << QStringList{"Block 2 was refused 21 times", "", fatal,
                           "The bootloader did not acknowledge the pointer reset in 50 tries, "
                           "giving up"}
            << 1 << 42;
    }

    void scriptedModules()
    {
        QFETCH(Script, script);
        QFETCH(bool, waitForDevice);
        ScriptedModule module(m_line->master);
        Bootloader loader;
        makeLoader(loader, module);
        module.answers.insert(script);
        loader.setWaitForDevice(waitForDevice);
        const Run run = load(loader, m_imagePath);

        QTEST(module.commands.join(' '), "commands");
        // Each block sent, by its place in the image (0: not a block of the image).
        QStringList blocks;
        for (const QByteArray& block : module.blocks) {
            int index = 0;
            for (int i = 0; i < 3 && !index; ++i)
                index = block == Bootloader::blockPacket(Image.mid(i * 128, 128)) ? i + 1 : 0;
            blocks << QString::number(index);
        }
        QTEST(blocks.join(' '), "blocks");
        QTEST(run.errors, "errors");
        QTEST(run.restarts, "restarts");
        QTEST(run.progress.value(run.progress.size() - 1, -1), "lastProgress");
        QCOMPARE(run.finished, 1);
        QCOMPARE(run.infos.contains("Please connect device to the ControlUnit"), waitForDevice);
        QVERIFY(!loader.serialPort()->isOpen());
    }

    // Checked before anything reaches the line.
    void refusesBeforeTouchingTheModule_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("no port") << "" << m_imagePath << QStringList{"PortName is not setted"};
        QTest::newRow("empty file")
            << "slave" << m_gpio.filePath("empty.bin")
            << QStringList{"The firmware file is empty: " + m_gpio.filePath("empty.bin")};
    }

    void refusesBeforeTouchingTheModule()
    {
        QFETCH(QString, port);
        QFile(m_gpio.filePath("empty.bin")).open(QIODevice::WriteOnly);
        ScriptedModule module(m_line->master);
        Bootloader loader;
        makeLoader(loader, module);
        loader.setPortName(port == "slave" ? m_line->name : port);
        QFETCH(QString, file);
        const Run run = load(loader, file);
        QTEST(run.errors, "errors");
        QCOMPARE(run.finished, 1);
        QCoreApplication::processEvents();
        QCOMPARE(module.commands, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestBootloader)
#include "tst_bootloader.moc"
