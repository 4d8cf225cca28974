#pragma once
// The Raspberry Pi's BCM283x GPIO register block, mapped from /dev/gpiomem. GPIO 24 switches
// the RS-485 transceiver between transmit and receive. A failure to map ends the process.
#include <QtGlobal>

class GpioMemory
{
public:
    static constexpr int RegisterCount = 45;
    static constexpr int MapSize = RegisterCount * 4; // 180 bytes
    static constexpr long MapOffset = 0x3F200000;
    enum Register {
        FunctionSelect0 = 0,
        OutputSet0 = 0x1C / 4,
        OutputClear0 = 0x28 / 4,
        Level0 = 0x34 / 4
    };

    GpioMemory();
    ~GpioMemory();
    GpioMemory(const GpioMemory&) = delete;
    GpioMemory& operator=(const GpioMemory&) = delete;

    // mode 1 makes the pin an output; anything else an input. Pins 0 to 39 only.
    void setPinMode(int pin, int mode);
    // Pins 0 to 31 (register bank 0) only; value 1 sets the pin, anything else clears it.
    void writePin(int pin, int value);
    bool readPin(int pin) const;
    // Word index 0 to 44; others are ignored (read as 0).
    void writeRegister(int index, quint32 value);
    quint32 readRegister(int index) const;

    // Tests map a stand-in file instead of the device; the program never calls this.
    // The path is copied; null restores the device.
    static void setDevicePathForTesting(const char* path);
    static const char* devicePath();

private:
    volatile quint32* m_registers = nullptr;
};
