#pragma once
// A file in the build tree that stands in for /dev/gpiomem, so that the RS-485 direction
// line can be driven on any machine and its registers read back by the test; and the
// pseudo-terminal that stands in for the line.
#include "link/gpiomemory.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <sys/statvfs.h>
#include <termios.h>
#include <unistd.h>

class GpioStandIn
{
public:
    enum class Result { Ready, NoExec, Failed };

    ~GpioStandIn()
    {
        GpioMemory::setDevicePathForTesting(nullptr);
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // In a new folder beside the test program (the block is mapped executable, which
    // noexec mounts refuse); the GPIO layer uses it from then on.
    Result create(const QString& folderPrefix)
    {
        m_dir = std::make_unique<QTemporaryDir>(QCoreApplication::applicationDirPath() + "/" +
                                                folderPrefix + "-XXXXXX");
        struct statvfs fs;
        if (!m_dir->isValid() || statvfs(QFile::encodeName(m_dir->path()).constData(), &fs) != 0)
            return Result::Failed;
        if (fs.f_flag & ST_NOEXEC)
            return Result::NoExec;
        m_path = QFile::encodeName(m_dir->filePath("gpiomem"));
        m_fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (m_fd < 0 || ftruncate(m_fd, GpioMemory::MapOffset + 4096) != 0)
            return Result::Failed;
        GpioMemory::setDevicePathForTesting(m_path.constData());
        return Result::Ready;
    }

    // Where the test keeps its other files.
    QString filePath(const QString& name) const { return m_dir->filePath(name); }
    int fd() const { return m_fd; }
    // Register index of the block as the GPIO layer maps it.
    quint32 reg(int index) const
    {
        quint32 value = 0xDEADBEEF;
        pread(m_fd, &value, sizeof value, GpioMemory::MapOffset + index * 4);
        return value;
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_path;
    int m_fd = -1;
};

// A raw pseudo-terminal whose non-blocking master side plays the far end of the line. The
// slave stays open, so the master never sees a hang-up while the port under test is closed.
struct PtyLine
{
    int master = -1, slave = -1;
    QString name; // of the slave side, the port under test

    bool open()
    {
        char path[256] = {};
        termios raw;
        if (openpty(&master, &slave, path, nullptr, nullptr) != 0 || tcgetattr(slave, &raw) != 0)
            return false;
        cfmakeraw(&raw);
        name = QString::fromLocal8Bit(path);
        return tcsetattr(slave, TCSANOW, &raw) == 0 &&
               fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) == 0;
    }
    ~PtyLine()
    {
        ::close(master);
        ::close(slave);
    }
};
