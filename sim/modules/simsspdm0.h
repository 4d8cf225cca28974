#pragma once
// The model-0 SSPD bias and read-out module ("VX9SDM0") of the simulated unit: its command
// codes over a detector model. The bias is the written current through the module's DAC
// calibration; readings go through its ADC calibrations, and the comparator level through
// the reference DAC calibration (each pair: value = slope x input + intercept).
//
// Rack keys: "physics" as SspdPhysics documents (without the HF keys); EEPROM JSON
// {"constants": {"currentAdc": {"first", "second"}, "voltageAdc", "currentDac", "cmpRefDac"}},
// fields not given keep their values.
#include "core/simmodule.h"
#include "drivers/structures/sspdstructs.h"
#include "sspdphysics.h"

class SimSspdM0 : public SimModule
{
    Q_OBJECT
public:
    SimSspdM0(quint8 address, const SimModule::Identity& identity, SimEnvironment* environment,
              QObject* parent = nullptr);

    void reset() override;
    bool configure(const QJsonObject& physics, QString* error) override;
    QJsonObject eeprom() const override;
    bool setEeprom(const QJsonObject& eeprom, QString* error) override;

    SspdPhysics& physics() { return m_physics; }

protected:
    std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) override;

private:
    VX9SDM0V1_Data_t liveData();
    VX9SDM0V1_Param_t params();
    float readCurrent();
    float readVoltage();
    void setStatus(quint8 status);
    void applyBias();
    void applyTrigger();
    void applyParams(); // all but the auto-reset count, which the physics keeps

    SspdPhysics m_physics;
    VX9SDM0V1_EEPROM_Const_t m_eeprom{};
    VX9SDM0V1_Param_t m_params{};
    quint8 m_status = 0;
    float m_setCurrent = 0; // as written; the DAC calibration makes the bias of it
    bool m_auxFlag = false;
};
