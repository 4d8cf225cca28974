#pragma once
// Wire formats of the SSPD bias and read-out modules, models 0 and 1: the byte images the
// modules send and accept (little-endian, IEEE-754 singles), exposed field by field to
// the meta-object system so that tools can show them by field name.
#include "drivers/pair.h"

#include <QMetaType>
#include <QObject>
#include <bit>
#include <cstddef>

// Switch and state bits of a model-0 channel, bit 0 first.
struct VX9SDM0_Status_t
{
    Q_GADGET
public:
    Q_PROPERTY(bool inite READ getInite WRITE setInite)
    Q_PROPERTY(bool shorted READ getShorted WRITE setShorted)
    Q_PROPERTY(bool amplifierOn READ getAmplifierOn WRITE setAmplifierOn)
    Q_PROPERTY(bool rfKeyToComparator READ getRfKeyToComparator WRITE setRfKeyToComparator)
    Q_PROPERTY(bool comparatorOn READ getComparatorOn WRITE setComparatorOn)
    Q_PROPERTY(bool counterOn READ getCounterOn WRITE setCounterOn)
    Q_PROPERTY(bool autoResetOn READ getAutoResetOn WRITE setAutoResetOn)
    Q_PROPERTY(bool error READ getError WRITE setError)

    quint8 inite : 1;
    quint8 shorted : 1;
    quint8 amplifierOn : 1;
    quint8 rfKeyToComparator : 1;
    quint8 comparatorOn : 1;
    quint8 counterOn : 1;
    quint8 autoResetOn : 1;
    quint8 error : 1;

    static VX9SDM0_Status_t fromByte(quint8 byte) { return std::bit_cast<VX9SDM0_Status_t>(byte); }
    quint8 toByte() const { return std::bit_cast<quint8>(*this); }

    // Not shorted, and amplifier, RF key to comparator, comparator and counter all on.
    bool isOperating() const { return (toByte() & 0x3E) == 0x3C; }

    bool getInite() const { return inite; }
    void setInite(bool on) { inite = on; }
    bool getShorted() const { return shorted; }
    void setShorted(bool on) { shorted = on; }
    bool getAmplifierOn() const { return amplifierOn; }
    void setAmplifierOn(bool on) { amplifierOn = on; }
    bool getRfKeyToComparator() const { return rfKeyToComparator; }
    void setRfKeyToComparator(bool on) { rfKeyToComparator = on; }
    bool getComparatorOn() const { return comparatorOn; }
    void setComparatorOn(bool on) { comparatorOn = on; }
    bool getCounterOn() const { return counterOn; }
    void setCounterOn(bool on) { counterOn = on; }
    bool getAutoResetOn() const { return autoResetOn; }
    void setAutoResetOn(bool on) { autoResetOn = on; }
    bool getError() const { return error; }
    void setError(bool on) { error = on; }

    friend bool operator==(const VX9SDM0_Status_t&, const VX9SDM0_Status_t&) = default;
};
static_assert(sizeof(VX9SDM0_Status_t) == 1);
Q_DECLARE_METATYPE(VX9SDM0_Status_t)

// Live data of a model-0 channel.
struct VX9SDM0V1_Data_t
{
    Q_GADGET
public:
    Q_PROPERTY(float current MEMBER current)
    Q_PROPERTY(float voltage MEMBER voltage)
    Q_PROPERTY(float counts MEMBER counts)
    Q_PROPERTY(VX9SDM0_Status_t status MEMBER status)

    float current; // bias current, A
    float voltage; // voltage across the detector, V
    float counts;  // pulses counted during the last time constant
    VX9SDM0_Status_t status;
    quint8 reserved[3]; // kept as received

    friend bool operator==(const VX9SDM0V1_Data_t&, const VX9SDM0V1_Data_t&) = default;
};
static_assert(sizeof(VX9SDM0V1_Data_t) == 16);
static_assert(offsetof(VX9SDM0V1_Data_t, current) == 0);
static_assert(offsetof(VX9SDM0V1_Data_t, voltage) == 4);
static_assert(offsetof(VX9SDM0V1_Data_t, counts) == 8);
static_assert(offsetof(VX9SDM0V1_Data_t, status) == 12);
static_assert(offsetof(VX9SDM0V1_Data_t, reserved) == 13);
Q_DECLARE_METATYPE(VX9SDM0V1_Data_t)

// Channel parameters; model 1 uses the same structure.
struct VX9SDM0V1_Param_t
{
    Q_GADGET
public:
    Q_PROPERTY(float cmpRefLevel MEMBER cmpRefLevel)
    Q_PROPERTY(float timeConst MEMBER timeConst)
    Q_PROPERTY(float autoResetThreshold MEMBER autoResetThreshold)
    Q_PROPERTY(float autoResetTimeOut MEMBER autoResetTimeOut)
    Q_PROPERTY(quint32 autoResetCounts MEMBER autoResetCounts)

    float cmpRefLevel;        // comparator trigger level, V
    float timeConst;          // counting time constant, s
    float autoResetThreshold; // V
    float autoResetTimeOut;   // s
    quint32 autoResetCounts;  // number of auto-reset events

    friend bool operator==(const VX9SDM0V1_Param_t&, const VX9SDM0V1_Param_t&) = default;
};
static_assert(sizeof(VX9SDM0V1_Param_t) == 20);
static_assert(offsetof(VX9SDM0V1_Param_t, cmpRefLevel) == 0);
static_assert(offsetof(VX9SDM0V1_Param_t, timeConst) == 4);
static_assert(offsetof(VX9SDM0V1_Param_t, autoResetThreshold) == 8);
static_assert(offsetof(VX9SDM0V1_Param_t, autoResetTimeOut) == 12);
static_assert(offsetof(VX9SDM0V1_Param_t, autoResetCounts) == 16);
Q_DECLARE_METATYPE(VX9SDM0V1_Param_t)

// Calibration pairs (slope, intercept) a model-0 module keeps in its EEPROM.
struct VX9SDM0V1_EEPROM_Const_t
{
    Q_GADGET
public:
    Q_PROPERTY(pair_t<float> currentAdc MEMBER currentAdc)
    Q_PROPERTY(pair_t<float> voltageAdc MEMBER voltageAdc)
    Q_PROPERTY(pair_t<float> currentDac MEMBER currentDac)
    Q_PROPERTY(pair_t<float> cmpRefDac MEMBER cmpRefDac)

    pair_t<float> currentAdc;
    pair_t<float> voltageAdc;
    pair_t<float> currentDac;
    pair_t<float> cmpRefDac;

    friend bool operator==(const VX9SDM0V1_EEPROM_Const_t&,
                           const VX9SDM0V1_EEPROM_Const_t&) = default;
};
static_assert(sizeof(VX9SDM0V1_EEPROM_Const_t) == 32);
static_assert(offsetof(VX9SDM0V1_EEPROM_Const_t, currentAdc) == 0);
static_assert(offsetof(VX9SDM0V1_EEPROM_Const_t, voltageAdc) == 8);
static_assert(offsetof(VX9SDM0V1_EEPROM_Const_t, currentDac) == 16);
static_assert(offsetof(VX9SDM0V1_EEPROM_Const_t, cmpRefDac) == 24);
Q_DECLARE_METATYPE(VX9SDM0V1_EEPROM_Const_t)

// Switch and state bits of a model-1 channel, bit 0 first; bit 3 is the HF mode.
struct VX9SDM1_Status_t
{
    Q_GADGET
public:
    Q_PROPERTY(bool inite READ getInite WRITE setInite)
    Q_PROPERTY(bool shorted READ getShorted WRITE setShorted)
    Q_PROPERTY(bool amplifierOn READ getAmplifierOn WRITE setAmplifierOn)
    Q_PROPERTY(bool hfModeOn READ getHfModeOn WRITE setHfModeOn)
    Q_PROPERTY(bool comparatorOn READ getComparatorOn WRITE setComparatorOn)
    Q_PROPERTY(bool counterOn READ getCounterOn WRITE setCounterOn)
    Q_PROPERTY(bool autoResetOn READ getAutoResetOn WRITE setAutoResetOn)
    Q_PROPERTY(bool error READ getError WRITE setError)

    quint8 inite : 1;
    quint8 shorted : 1;
    quint8 amplifierOn : 1;
    quint8 hfModeOn : 1;
    quint8 comparatorOn : 1;
    quint8 counterOn : 1;
    quint8 autoResetOn : 1;
    quint8 error : 1;

    static VX9SDM1_Status_t fromByte(quint8 byte) { return std::bit_cast<VX9SDM1_Status_t>(byte); }
    quint8 toByte() const { return std::bit_cast<quint8>(*this); }

    // Not shorted, and amplifier, comparator and counter on; the HF mode does not matter.
    bool isOperating() const { return (toByte() & 0x36) == 0x34; }

    bool getInite() const { return inite; }
    void setInite(bool on) { inite = on; }
    bool getShorted() const { return shorted; }
    void setShorted(bool on) { shorted = on; }
    bool getAmplifierOn() const { return amplifierOn; }
    void setAmplifierOn(bool on) { amplifierOn = on; }
    bool getHfModeOn() const { return hfModeOn; }
    void setHfModeOn(bool on) { hfModeOn = on; }
    bool getComparatorOn() const { return comparatorOn; }
    void setComparatorOn(bool on) { comparatorOn = on; }
    bool getCounterOn() const { return counterOn; }
    void setCounterOn(bool on) { counterOn = on; }
    bool getAutoResetOn() const { return autoResetOn; }
    void setAutoResetOn(bool on) { autoResetOn = on; }
    bool getError() const { return error; }
    void setError(bool on) { error = on; }

    friend bool operator==(const VX9SDM1_Status_t&, const VX9SDM1_Status_t&) = default;
};
static_assert(sizeof(VX9SDM1_Status_t) == 1);
Q_DECLARE_METATYPE(VX9SDM1_Status_t)

// Live data of a model-1 channel.
struct VX9SDM1_Data_t
{
    Q_GADGET
public:
    Q_PROPERTY(float current MEMBER current)
    Q_PROPERTY(float currentMonitor MEMBER currentMonitor)
    Q_PROPERTY(float voltage MEMBER voltage)
    Q_PROPERTY(float counts MEMBER counts)
    Q_PROPERTY(VX9SDM1_Status_t status MEMBER status)

    float current;        // bias current, A
    float currentMonitor; // current seen by the current monitor, A
    float voltage;        // voltage across the detector, V
    float counts;         // pulses counted during the last time constant
    VX9SDM1_Status_t status;
    quint8 reserved[3]; // kept as received

    friend bool operator==(const VX9SDM1_Data_t&, const VX9SDM1_Data_t&) = default;
};
static_assert(sizeof(VX9SDM1_Data_t) == 20);
static_assert(offsetof(VX9SDM1_Data_t, current) == 0);
static_assert(offsetof(VX9SDM1_Data_t, currentMonitor) == 4);
static_assert(offsetof(VX9SDM1_Data_t, voltage) == 8);
static_assert(offsetof(VX9SDM1_Data_t, counts) == 12);
static_assert(offsetof(VX9SDM1_Data_t, status) == 16);
static_assert(offsetof(VX9SDM1_Data_t, reserved) == 17);
Q_DECLARE_METATYPE(VX9SDM1_Data_t)

using VX9SDM1_Param_t = VX9SDM0V1_Param_t;

// Calibration constants a model-1 module keeps in its EEPROM. The comparator reference
// pair follows the pulse width, unlike model 0.
struct VX9SDM1_EEPROM_Const_t
{
    Q_GADGET
public:
    Q_PROPERTY(pair_t<float> currentAdc MEMBER currentAdc)
    Q_PROPERTY(pair_t<float> voltageAdc MEMBER voltageAdc)
    Q_PROPERTY(pair_t<float> currentDac MEMBER currentDac)
    Q_PROPERTY(pair_t<float> currentMonitorAdc MEMBER currentMonitorAdc)
    Q_PROPERTY(float pulseWidth MEMBER pulseWidth)
    Q_PROPERTY(pair_t<float> cmpRefDac MEMBER cmpRefDac)

    pair_t<float> currentAdc;
    pair_t<float> voltageAdc;
    pair_t<float> currentDac;
    pair_t<float> currentMonitorAdc;
    float pulseWidth;
    pair_t<float> cmpRefDac;

    friend bool operator==(const VX9SDM1_EEPROM_Const_t&, const VX9SDM1_EEPROM_Const_t&) = default;
};
static_assert(sizeof(VX9SDM1_EEPROM_Const_t) == 44);
static_assert(offsetof(VX9SDM1_EEPROM_Const_t, currentAdc) == 0);
static_assert(offsetof(VX9SDM1_EEPROM_Const_t, voltageAdc) == 8);
static_assert(offsetof(VX9SDM1_EEPROM_Const_t, currentDac) == 16);
static_assert(offsetof(VX9SDM1_EEPROM_Const_t, currentMonitorAdc) == 24);
static_assert(offsetof(VX9SDM1_EEPROM_Const_t, pulseWidth) == 32);
static_assert(offsetof(VX9SDM1_EEPROM_Const_t, cmpRefDac) == 36);
Q_DECLARE_METATYPE(VX9SDM1_EEPROM_Const_t)
