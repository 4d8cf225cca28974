#pragma once
// Wire structures of the heater module: live data and EEPROM calibration constants, byte for
// byte as the module sends and receives them (little-endian, IEEE-754 singles).
#include "drivers/pair.h"

#include <QMetaType>
#include <QObject>
#include <cstddef>

// Live data of the heater.
struct VX9HTM0V0_Data_t
{
    Q_GADGET
public:
    Q_PROPERTY(char byte0 MEMBER byte0)
    Q_PROPERTY(char byte1 MEMBER byte1)
    Q_PROPERTY(float floatValue MEMBER floatValue)

    char byte0;
    char byte1;
    quint8 reserved[2]; // travels as the module sent it
    float floatValue;

    friend bool operator==(const VX9HTM0V0_Data_t&, const VX9HTM0V0_Data_t&) = default;
};
static_assert(sizeof(VX9HTM0V0_Data_t) == 8);
static_assert(offsetof(VX9HTM0V0_Data_t, byte0) == 0);
static_assert(offsetof(VX9HTM0V0_Data_t, byte1) == 1);
static_assert(offsetof(VX9HTM0V0_Data_t, reserved) == 2);
static_assert(offsetof(VX9HTM0V0_Data_t, floatValue) == 4);
Q_DECLARE_METATYPE(VX9HTM0V0_Data_t)

// Calibration constants the heater keeps in its EEPROM.
struct VX9HT0V0_EEPROM_Const_t
{
    Q_GADGET
public:
    Q_PROPERTY(pair_t<float> pair0 MEMBER pair0)
    Q_PROPERTY(pair_t<float> pair1 MEMBER pair1)
    Q_PROPERTY(float const0 MEMBER const0)
    Q_PROPERTY(float const1 MEMBER const1)
    Q_PROPERTY(float const2 MEMBER const2)
    Q_PROPERTY(float const3 MEMBER const3)

    pair_t<float> pair0;
    pair_t<float> pair1;
    float const0;
    float const1;
    float const2;
    float const3;

    friend bool operator==(const VX9HT0V0_EEPROM_Const_t&,
                           const VX9HT0V0_EEPROM_Const_t&) = default;
};
static_assert(sizeof(VX9HT0V0_EEPROM_Const_t) == 32);
static_assert(offsetof(VX9HT0V0_EEPROM_Const_t, pair0) == 0);
static_assert(offsetof(VX9HT0V0_EEPROM_Const_t, pair1) == 8);
static_assert(offsetof(VX9HT0V0_EEPROM_Const_t, const0) == 16);
static_assert(offsetof(VX9HT0V0_EEPROM_Const_t, const1) == 20);
static_assert(offsetof(VX9HT0V0_EEPROM_Const_t, const2) == 24);
static_assert(offsetof(VX9HT0V0_EEPROM_Const_t, const3) == 28);
Q_DECLARE_METATYPE(VX9HT0V0_EEPROM_Const_t)
