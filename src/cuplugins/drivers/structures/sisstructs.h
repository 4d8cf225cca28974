#pragma once
// Wire structures of the SIS modules (bias source and control line): live data, EEPROM
// calibration constants and the bias source's sweep parameters, byte for byte as the modules
// send and receive them (little-endian, IEEE-754 singles, bool as one byte).
#include "drivers/pair.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <algorithm>
#include <cstddef>
#include <cstring>

// Live data of the SIS bias source.
struct VX9BSM0_Data_t
{
    Q_GADGET
public:
    Q_PROPERTY(float value0 MEMBER value0)
    Q_PROPERTY(float value1 MEMBER value1)
    Q_PROPERTY(bool flag MEMBER flag)
    Q_PROPERTY(char modeByte MEMBER modeByte)

    float value0;
    float value1;
    bool flag;
    char modeByte;
    quint8 reserved[2]; // travels as the module sent it

    friend bool operator==(const VX9BSM0_Data_t&, const VX9BSM0_Data_t&) = default;
};
static_assert(sizeof(VX9BSM0_Data_t) == 12);
static_assert(offsetof(VX9BSM0_Data_t, value0) == 0);
static_assert(offsetof(VX9BSM0_Data_t, value1) == 4);
static_assert(offsetof(VX9BSM0_Data_t, flag) == 8);
static_assert(offsetof(VX9BSM0_Data_t, modeByte) == 9);
static_assert(offsetof(VX9BSM0_Data_t, reserved) == 10);
Q_DECLARE_METATYPE(VX9BSM0_Data_t)

// Calibration constants the bias source keeps in its EEPROM.
struct VX9BSM0V0_EEPROM_Const_t
{
    Q_GADGET
public:
    Q_PROPERTY(pair_t<float> pair0 MEMBER pair0)
    Q_PROPERTY(pair_t<float> pair1 MEMBER pair1)
    Q_PROPERTY(pair_t<float> pair2 MEMBER pair2)
    Q_PROPERTY(pair_t<float> pair3 MEMBER pair3)
    Q_PROPERTY(pair_t<float> pair4 MEMBER pair4)
    Q_PROPERTY(pair_t<float> pair5 MEMBER pair5)
    Q_PROPERTY(float const0 MEMBER const0)
    Q_PROPERTY(float const1 MEMBER const1)
    Q_PROPERTY(float const2 MEMBER const2)

    pair_t<float> pair0;
    pair_t<float> pair1;
    pair_t<float> pair2;
    pair_t<float> pair3;
    pair_t<float> pair4;
    pair_t<float> pair5;
    float const0;
    float const1;
    float const2;

    friend bool operator==(const VX9BSM0V0_EEPROM_Const_t&,
                           const VX9BSM0V0_EEPROM_Const_t&) = default;
};
static_assert(sizeof(VX9BSM0V0_EEPROM_Const_t) == 60);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, pair0) == 0);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, pair1) == 8);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, pair2) == 16);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, pair3) == 24);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, pair4) == 32);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, pair5) == 40);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, const0) == 48);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, const1) == 52);
static_assert(offsetof(VX9BSM0V0_EEPROM_Const_t, const2) == 56);
Q_DECLARE_METATYPE(VX9BSM0V0_EEPROM_Const_t)

// Sweep parameters of the bias source. The system passes them through whole without
// interpreting them, so they are kept as the module's opaque bytes.
struct VX9BSM0_SWEEP_PARAMS_t
{
    Q_GADGET
public:
    Q_PROPERTY(QByteArray bytes READ byteArray WRITE setByteArray)

    quint8 bytes[20];

    QByteArray byteArray() const
    {
        return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
    }
    // Missing bytes read as zero; bytes beyond the structure are dropped.
    void setByteArray(const QByteArray& data)
    {
        std::memset(bytes, 0, sizeof bytes);
        std::memcpy(bytes, data.constData(), std::min<size_t>(sizeof bytes, data.size()));
    }

    friend bool operator==(const VX9BSM0_SWEEP_PARAMS_t&, const VX9BSM0_SWEEP_PARAMS_t&) = default;
};
static_assert(sizeof(VX9BSM0_SWEEP_PARAMS_t) == 20);
static_assert(offsetof(VX9BSM0_SWEEP_PARAMS_t, bytes) == 0);
Q_DECLARE_METATYPE(VX9BSM0_SWEEP_PARAMS_t)

// Live data of the SIS control line.
struct VX9CLM0V0_Data_t
{
    Q_GADGET
public:
    Q_PROPERTY(float floatValue MEMBER floatValue)
    Q_PROPERTY(bool flag MEMBER flag)

    float floatValue;
    bool flag;
    quint8 reserved[3]; // travels as the module sent it

    friend bool operator==(const VX9CLM0V0_Data_t&, const VX9CLM0V0_Data_t&) = default;
};
static_assert(sizeof(VX9CLM0V0_Data_t) == 8);
static_assert(offsetof(VX9CLM0V0_Data_t, floatValue) == 0);
static_assert(offsetof(VX9CLM0V0_Data_t, flag) == 4);
static_assert(offsetof(VX9CLM0V0_Data_t, reserved) == 5);
Q_DECLARE_METATYPE(VX9CLM0V0_Data_t)

// Calibration constants the control line keeps in its EEPROM.
struct VX9CLM0V0_EEPROM_Const_t
{
    Q_GADGET
public:
    Q_PROPERTY(pair_t<float> pair0 MEMBER pair0)
    Q_PROPERTY(pair_t<float> pair1 MEMBER pair1)
    Q_PROPERTY(pair_t<float> pair2 MEMBER pair2)
    Q_PROPERTY(float const0 MEMBER const0)

    pair_t<float> pair0;
    pair_t<float> pair1;
    pair_t<float> pair2;
    float const0;

    friend bool operator==(const VX9CLM0V0_EEPROM_Const_t&,
                           const VX9CLM0V0_EEPROM_Const_t&) = default;
};
static_assert(sizeof(VX9CLM0V0_EEPROM_Const_t) == 28);
static_assert(offsetof(VX9CLM0V0_EEPROM_Const_t, pair0) == 0);
static_assert(offsetof(VX9CLM0V0_EEPROM_Const_t, pair1) == 8);
static_assert(offsetof(VX9CLM0V0_EEPROM_Const_t, pair2) == 16);
static_assert(offsetof(VX9CLM0V0_EEPROM_Const_t, const0) == 24);
Q_DECLARE_METATYPE(VX9CLM0V0_EEPROM_Const_t)
