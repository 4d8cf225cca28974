#include "gpiomemory.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

std::string& testDevicePath()
{
    static std::string path;
    return path;
}

bool validRegister(int index)
{
    return index >= 0 && index < GpioMemory::RegisterCount;
}

// Output set, output clear and level register 0 cover pins 0 to 31.
bool inBank0(int pin)
{
    return pin >= 0 && pin < 32;
}

} // namespace

GpioMemory::GpioMemory()
{
    // Without the direction line the RS-485 transceiver cannot be driven at all, so a
    // missing or unmappable GPIO block ends the process rather than failing one write.
    const int fd = ::open(devicePath(), O_RDWR | O_SYNC);
    if (fd < 0) {
        perror("can't open /dev/gpiomem");
        exit(1);
    }
    void* map = mmap(nullptr, MapSize, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_SHARED | MAP_LOCKED,
                     fd, MapOffset);
    if (map == MAP_FAILED) {
        perror("mmap error");
        ::close(fd);
        exit(1);
    }
    // The mapping stays valid without the descriptor.
    if (::close(fd) != 0) {
        perror("couldn't close /dev/gpiomem file descriptor");
        exit(1);
    }
    m_registers = static_cast<volatile quint32*>(map);
}

GpioMemory::~GpioMemory()
{
    if (munmap(const_cast<quint32*>(m_registers), MapSize) != 0) {
        perror("munmap (gpio) failed");
        exit(1);
    }
}

void GpioMemory::setPinMode(int pin, int mode)
{
    if (pin < 0 || pin > 39)
        return;
    volatile quint32& select = m_registers[FunctionSelect0 + pin / 10];
    const int shift = (pin % 10) * 3;
    quint32 value = select & ~(quint32(7) << shift);
    if (mode == 1)
        value |= quint32(1) << shift;
    select = value;
}

void GpioMemory::writePin(int pin, int value)
{
    if (!inBank0(pin))
        return;
    m_registers[value == 1 ? OutputSet0 : OutputClear0] = quint32(1) << pin;
}

bool GpioMemory::readPin(int pin) const
{
    if (!inBank0(pin))
        return false;
    return (m_registers[Level0] >> pin) & 1;
}

void GpioMemory::writeRegister(int index, quint32 value)
{
    if (validRegister(index))
        m_registers[index] = value;
}

quint32 GpioMemory::readRegister(int index) const
{
    return validRegister(index) ? m_registers[index] : 0;
}

void GpioMemory::setDevicePathForTesting(const char* path)
{
    testDevicePath() = path ? path : "";
}

const char* GpioMemory::devicePath()
{
    const std::string& path = testDevicePath();
    return path.empty() ? "/dev/gpiomem" : path.c_str();
}
