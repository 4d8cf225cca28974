#pragma once
// The SSPD bias and read-out module of the simulated unit, written once over the structure
// sets of both models: its command codes over a detector model. The bias is the written
// current through the module's DAC calibration; readings go through its ADC calibrations,
// and the comparator level through the reference DAC calibration (each pair: value = slope
// x input + intercept). SimSspdM0 and SimSspdM1 are the two modules.
#include "core/simmodule.h"
#include "drivers/structures/sspdstructs.h"
#include "sspdphysics.h"

// Model 0: the comparator is reached through the RF key (status bit 3, code 25).
struct SimSspdModel0
{
    using Data = VX9SDM0V1_Data_t;
    using Eeprom = VX9SDM0V1_EEPROM_Const_t;
    static constexpr bool Hf = false;
};

// Model 1: an HF read-out mode in place of the RF key (bit 3, code 56), a current monitor
// with its own ADC calibration, and a pulse width that is stored and echoed.
struct SimSspdModel1
{
    using Data = VX9SDM1_Data_t;
    using Eeprom = VX9SDM1_EEPROM_Const_t;
    static constexpr bool Hf = true;
};

template <typename Model> class SimSspd : public SimModule
{
public:
    SimSspd(quint8 address, const SimModule::Identity& identity, SimEnvironment* environment,
            QObject* parent = nullptr);

    void reset() override;
    bool configure(const QJsonObject& physics, QString* error) override;
    QJsonObject eeprom() const override;
    bool setEeprom(const QJsonObject& eeprom, QString* error) override;

    SspdPhysics& physics() { return m_physics; }

protected:
    std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) override;

private:
    using Data = typename Model::Data;
    using Status = decltype(Data::status);
    using Eeprom = typename Model::Eeprom;
    // Both models take the same channel parameters.
    using Param = VX9SDM0V1_Param_t;

    Data liveData();
    Param params();
    float readCurrent();
    float readVoltage();
    float readCurrentMonitor();
    void setStatus(quint8 status);
    void applyBias();
    void applyTrigger();
    void applyParams(); // all but the auto-reset count, which the physics keeps

    SspdPhysics m_physics;
    Eeprom m_eeprom{};
    Param m_params{};
    quint8 m_status = 0;
    float m_setCurrent = 0; // as written; the DAC calibration makes the bias of it
    bool m_auxFlag = false;
};

extern template class SimSspd<SimSspdModel0>;
extern template class SimSspd<SimSspdModel1>;
