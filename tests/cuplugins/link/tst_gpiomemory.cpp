// GPIO register access, checked against a stand-in file that is mapped at the GPIO block's
// offset like /dev/gpiomem, and the process exit when the block cannot be mapped.
#include "link/gpiomemory.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
bool inForkedChild = false;
}

// A forked child holds only this thread, so under LeakSanitizer everything the other threads
// own would be reported as leaked when the child exits; the check is off in the child.
extern "C" int __lsan_is_turned_off()
{
    return inForkedChild;
}

namespace {

struct ChildResult
{
    int exitStatus = -1;
    QByteArray standardError;
};

// Runs body in a forked child and collects its exit status and standard error.
ChildResult runInChild(const std::function<void()>& body)
{
    ChildResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return result;
    // Buffered test output would otherwise be written twice, once by the child.
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        inForkedChild = true;
        ::close(pipeFds[0]);
        dup2(pipeFds[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        body();
        _exit(99);
    }
    ::close(pipeFds[1]);
    char chunk[256];
    ssize_t got;
    while ((got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0)
        result.standardError.append(chunk, got);
    ::close(pipeFds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    return result;
}

} // namespace

class TestGpioMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void setPinModeChangesOnlyThePinsBits();
    void setPinModeRangeOfPins();
    void writePinUsesSetAndClearRegisters();
    void readPinReadsTheLevelRegister();
    void rawRegisterAccess();
    void devicePathDefaultsToTheDevice();

    void unopenableDeviceEndsTheProcess();
    void unmappableDeviceEndsTheProcess();

private:
    quint32 fileRegister(int index) const;
    void setFileRegister(int index, quint32 value) const;

    QTemporaryDir* m_dir = nullptr;
    QByteArray m_path;
    int m_fd = -1;
};

void TestGpioMemory::initTestCase()
{
    // Next to the test binary, i.e. in the build tree: the block is mapped executable,
    // which a noexec mount (often /tmp) refuses.
    m_dir = new QTemporaryDir(QCoreApplication::applicationDirPath() + "/gpiomem-XXXXXX");
    QVERIFY(m_dir->isValid());
    struct statvfs fs;
    QCOMPARE(statvfs(QFile::encodeName(m_dir->path()).constData(), &fs), 0);
    if (fs.f_flag & ST_NOEXEC)
        QSKIP("the build directory is on a noexec mount; executable mappings are refused");

    m_path = QFile::encodeName(m_dir->filePath("gpiomem"));
    m_fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    QVERIFY(m_fd >= 0);
    // Sparse: only the page of the register block ever takes space.
    QCOMPARE(ftruncate(m_fd, GpioMemory::MapOffset + 4096), 0);
    GpioMemory::setDevicePathForTesting(m_path.constData());
}

void TestGpioMemory::init()
{
    const QByteArray zeros(4096, '\0');
    QCOMPARE(pwrite(m_fd, zeros.constData(), zeros.size(), GpioMemory::MapOffset),
             ssize_t(zeros.size()));
}

void TestGpioMemory::cleanupTestCase()
{
    GpioMemory::setDevicePathForTesting(nullptr);
    if (m_fd >= 0)
        ::close(m_fd);
    delete m_dir;
}

quint32 TestGpioMemory::fileRegister(int index) const
{
    quint32 value = 0xDEADBEEF;
    if (pread(m_fd, &value, sizeof value, GpioMemory::MapOffset + index * 4) != sizeof value)
        return 0xDEADBEEF;
    return value;
}

void TestGpioMemory::setFileRegister(int index, quint32 value) const
{
    QCOMPARE(pwrite(m_fd, &value, sizeof value, GpioMemory::MapOffset + index * 4),
             ssize_t(sizeof value));
}

void TestGpioMemory::setPinModeChangesOnlyThePinsBits()
{
    setFileRegister(2, 0xFFFFFFFF);
    {
        GpioMemory gpio;
        gpio.setPinMode(24, 1);
    }
    // Pin 24: function select register 2, bits 12 to 14, 001 = output.
    QCOMPARE(fileRegister(2), quint32(0xFFFFFFFF & ~(7u << 12)) | (1u << 12));
    {
        GpioMemory gpio;
        gpio.setPinMode(24, 0);
    }
    QCOMPARE(fileRegister(2), quint32(0xFFFFFFFF & ~(7u << 12)));

    setFileRegister(2, 0);
    {
        GpioMemory gpio;
        gpio.setPinMode(24, 1);
        gpio.setPinMode(25, 1);
        gpio.setPinMode(25, 2); // no other function: input
    }
    QCOMPARE(fileRegister(2), 1u << 12);
    QCOMPARE(fileRegister(1), 0u);
    QCOMPARE(fileRegister(3), 0u);
}

void TestGpioMemory::setPinModeRangeOfPins()
{
    {
        GpioMemory gpio;
        gpio.setPinMode(0, 1);
        gpio.setPinMode(9, 1);
        gpio.setPinMode(39, 1);
        gpio.setPinMode(40, 1);
        gpio.setPinMode(-1, 1);
    }
    QCOMPARE(fileRegister(0), (1u << 0) | (1u << 27));
    QCOMPARE(fileRegister(3), 1u << 27);
    for (int i = 4; i < GpioMemory::RegisterCount; ++i)
        QCOMPARE(fileRegister(i), 0u);
}

void TestGpioMemory::writePinUsesSetAndClearRegisters()
{
    {
        GpioMemory gpio;
        gpio.writePin(24, 1);
    }
    QCOMPARE(fileRegister(GpioMemory::OutputSet0), 1u << 24);
    QCOMPARE(fileRegister(GpioMemory::OutputSet0), fileRegister(0x1C / 4));
    QCOMPARE(fileRegister(GpioMemory::OutputClear0), 0u);
    {
        GpioMemory gpio;
        gpio.writePin(5, 0);
    }
    QCOMPARE(fileRegister(0x28 / 4), 1u << 5);
    {
        GpioMemory gpio;
        gpio.writePin(7, 2); // anything but 1 clears
    }
    QCOMPARE(fileRegister(GpioMemory::OutputClear0), 1u << 7);
    QCOMPARE(fileRegister(GpioMemory::OutputSet0), 1u << 24);
}

void TestGpioMemory::readPinReadsTheLevelRegister()
{
    setFileRegister(0x34 / 4, (1u << 24) | (1u << 3));
    GpioMemory gpio;
    QVERIFY(gpio.readPin(24));
    QVERIFY(gpio.readPin(3));
    QVERIFY(!gpio.readPin(4));
    QVERIFY(!gpio.readPin(25));

    gpio.writeRegister(GpioMemory::Level0, 1u << 31);
    QVERIFY(gpio.readPin(31));
    QVERIFY(!gpio.readPin(24));
    QCOMPARE(fileRegister(GpioMemory::Level0), 1u << 31);
}

void TestGpioMemory::rawRegisterAccess()
{
    setFileRegister(44, 0x12345678);
    GpioMemory gpio;
    QCOMPARE(gpio.readRegister(44), quint32(0x12345678));
    gpio.writeRegister(0, 0xCAFEF00D);
    gpio.writeRegister(44, 0x87654321);
    QCOMPARE(fileRegister(0), quint32(0xCAFEF00D));
    QCOMPARE(fileRegister(44), quint32(0x87654321));
    // Beyond the block nothing is touched.
    gpio.writeRegister(45, 0xFFFFFFFF);
    gpio.writeRegister(-1, 0xFFFFFFFF);
    QCOMPARE(fileRegister(45), 0u);
    QCOMPARE(gpio.readRegister(45), 0u);
}

void TestGpioMemory::devicePathDefaultsToTheDevice()
{
    QCOMPARE(GpioMemory::devicePath(), m_path.constData());
    GpioMemory::setDevicePathForTesting(nullptr);
    QCOMPARE(GpioMemory::devicePath(), "/dev/gpiomem");
    GpioMemory::setDevicePathForTesting(m_path.constData());
    QCOMPARE(GpioMemory::devicePath(), m_path.constData());
}

void TestGpioMemory::unopenableDeviceEndsTheProcess()
{
    const QByteArray missing = QFile::encodeName(m_dir->filePath("no-such-device"));
    const ChildResult r = runInChild([&] {
        GpioMemory::setDevicePathForTesting(missing.constData());
        GpioMemory gpio;
    });
    QCOMPARE(r.exitStatus, 1);
    QCOMPARE(r.standardError,
             QByteArray("can't open /dev/gpiomem: ") + strerror(ENOENT) + QByteArray("\n"));
}

void TestGpioMemory::unmappableDeviceEndsTheProcess()
{
    // /dev/null opens read-write but cannot be mapped.
    const ChildResult r = runInChild([] {
        GpioMemory::setDevicePathForTesting("/dev/null");
        GpioMemory gpio;
    });
    QCOMPARE(r.exitStatus, 1);
    QVERIFY2(r.standardError.startsWith("mmap error: "), r.standardError.constData());
}

QTEST_GUILESS_MAIN(TestGpioMemory)
#include "tst_gpiomemory.moc"
