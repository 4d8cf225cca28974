#pragma once
// Wire formats of the temperature modules, models 0 and 1: the byte images the modules send
// and accept (little-endian, IEEE-754 singles), exposed field by field to the meta-object
// system so that tools can show them by field name.
#include "drivers/pair.h"

#include <QMetaType>
#include <QObject>
#include <cstddef>

// Live data of a model-0 module.
struct VX9TDM0V1_Data_t
{
    Q_GADGET
public:
    Q_PROPERTY(float temperature MEMBER temperature)
    Q_PROPERTY(float pressure MEMBER pressure)
    Q_PROPERTY(float tempSensorCurrent MEMBER tempSensorCurrent)
    Q_PROPERTY(float tempSensorVoltage MEMBER tempSensorVoltage)
    Q_PROPERTY(float pressSensorVoltageP MEMBER pressSensorVoltageP)
    Q_PROPERTY(float pressSensorVoltageN MEMBER pressSensorVoltageN)
    Q_PROPERTY(bool commutator MEMBER commutator)

    float temperature;         // K
    float pressure;            // mbar
    float tempSensorCurrent;   // sensor excitation current, A
    float tempSensorVoltage;   // V
    float pressSensorVoltageP; // positive input of the pressure sensor, V
    float pressSensorVoltageN; // negative input of the pressure sensor, V
    bool commutator;           // the driver keeps it 0 or 1 whatever the module sends
    quint8 reserved[3];        // kept as received

    friend bool operator==(const VX9TDM0V1_Data_t&, const VX9TDM0V1_Data_t&) = default;
};
static_assert(sizeof(bool) == 1);
static_assert(sizeof(VX9TDM0V1_Data_t) == 28);
static_assert(offsetof(VX9TDM0V1_Data_t, temperature) == 0);
static_assert(offsetof(VX9TDM0V1_Data_t, pressure) == 4);
static_assert(offsetof(VX9TDM0V1_Data_t, tempSensorCurrent) == 8);
static_assert(offsetof(VX9TDM0V1_Data_t, tempSensorVoltage) == 12);
static_assert(offsetof(VX9TDM0V1_Data_t, pressSensorVoltageP) == 16);
static_assert(offsetof(VX9TDM0V1_Data_t, pressSensorVoltageN) == 20);
static_assert(offsetof(VX9TDM0V1_Data_t, commutator) == 24);
static_assert(offsetof(VX9TDM0V1_Data_t, reserved) == 25);
Q_DECLARE_METATYPE(VX9TDM0V1_Data_t)

// Calibration pairs (slope, intercept) a model-0 module keeps in its EEPROM.
struct VX9TDM0V1_EEPROM_Const_t
{
    Q_GADGET
public:
    Q_PROPERTY(pair_t<float> tempSensorCurrentAdc MEMBER tempSensorCurrentAdc)
    Q_PROPERTY(pair_t<float> tempSensorCurrentDac MEMBER tempSensorCurrentDac)
    Q_PROPERTY(pair_t<float> tempSensorVoltage MEMBER tempSensorVoltage)
    Q_PROPERTY(pair_t<float> pressSensorVoltageP MEMBER pressSensorVoltageP)
    Q_PROPERTY(pair_t<float> pressSensorVoltageN MEMBER pressSensorVoltageN)
    Q_PROPERTY(pair_t<float> pressSensorCoeffs MEMBER pressSensorCoeffs)

    pair_t<float> tempSensorCurrentAdc;
    pair_t<float> tempSensorCurrentDac;
    pair_t<float> tempSensorVoltage;
    pair_t<float> pressSensorVoltageP;
    pair_t<float> pressSensorVoltageN;
    pair_t<float> pressSensorCoeffs; // pressure from the two input voltages

    friend bool operator==(const VX9TDM0V1_EEPROM_Const_t&,
                           const VX9TDM0V1_EEPROM_Const_t&) = default;
};
static_assert(sizeof(VX9TDM0V1_EEPROM_Const_t) == 48);
static_assert(offsetof(VX9TDM0V1_EEPROM_Const_t, tempSensorCurrentAdc) == 0);
static_assert(offsetof(VX9TDM0V1_EEPROM_Const_t, tempSensorCurrentDac) == 8);
static_assert(offsetof(VX9TDM0V1_EEPROM_Const_t, tempSensorVoltage) == 16);
static_assert(offsetof(VX9TDM0V1_EEPROM_Const_t, pressSensorVoltageP) == 24);
static_assert(offsetof(VX9TDM0V1_EEPROM_Const_t, pressSensorVoltageN) == 32);
static_assert(offsetof(VX9TDM0V1_EEPROM_Const_t, pressSensorCoeffs) == 40);
Q_DECLARE_METATYPE(VX9TDM0V1_EEPROM_Const_t)

// One channel's setting pair of a model-1 module as the driver holds it. On the wire the
// four channels travel packed, five bytes each (flag, then value), without the padding.
struct VX9TDM1_ChannelSetting_t
{
    Q_GADGET
public:
    Q_PROPERTY(quint8 flag MEMBER flag)
    Q_PROPERTY(float value MEMBER value)

    quint8 flag; // 0 or 1
    quint8 reserved[3];
    float value;

    friend bool operator==(const VX9TDM1_ChannelSetting_t&,
                           const VX9TDM1_ChannelSetting_t&) = default;
};
static_assert(sizeof(VX9TDM1_ChannelSetting_t) == 8);
static_assert(offsetof(VX9TDM1_ChannelSetting_t, flag) == 0);
static_assert(offsetof(VX9TDM1_ChannelSetting_t, reserved) == 1);
static_assert(offsetof(VX9TDM1_ChannelSetting_t, value) == 4);
Q_DECLARE_METATYPE(VX9TDM1_ChannelSetting_t)

// One channel's four calibration constants of a model-1 module; the four channels travel
// back to back, 64 bytes.
struct VX9TDM1_Calibration_t
{
    Q_GADGET
public:
    Q_PROPERTY(float a MEMBER a)
    Q_PROPERTY(float b MEMBER b)
    Q_PROPERTY(float c MEMBER c)
    Q_PROPERTY(float d MEMBER d)

    float a;
    float b;
    float c;
    float d;

    friend bool operator==(const VX9TDM1_Calibration_t&, const VX9TDM1_Calibration_t&) = default;
};
static_assert(sizeof(VX9TDM1_Calibration_t) == 16);
static_assert(offsetof(VX9TDM1_Calibration_t, a) == 0);
static_assert(offsetof(VX9TDM1_Calibration_t, b) == 4);
static_assert(offsetof(VX9TDM1_Calibration_t, c) == 8);
static_assert(offsetof(VX9TDM1_Calibration_t, d) == 12);
Q_DECLARE_METATYPE(VX9TDM1_Calibration_t)

namespace cmd {
Q_NAMESPACE

// Switcher mode of a model-1 module. The module answers four bytes and takes one: only the
// low byte carries the mode, so every byte value is a valid mode.
enum enum_VX9TDM1_SwitcherMode : quint32 {
    VX9TDM1_SwitcherMode0 = 0,
    VX9TDM1_SwitcherMode1 = 1,
    VX9TDM1_SwitcherMode2 = 2,
    VX9TDM1_SwitcherMode3 = 3,
};
Q_ENUM_NS(enum_VX9TDM1_SwitcherMode)
} // namespace cmd
static_assert(sizeof(cmd::enum_VX9TDM1_SwitcherMode) == 4);
