#pragma once
// The SIS bias source ("VX9BSM0"): live data, the extra flag, sweep parameters and EEPROM
// constants kept and echoed, so that the application finds its identity and structures.
#include "core/simmodule.h"
#include "drivers/structures/sisstructs.h"

class SimSisBias : public SimModule
{
    Q_OBJECT
public:
    // No rack "physics" keys: every key is an error. The values mean: value0 the bias
    // voltage set (V), value1 the bias current measured (A), flag the output switch,
    // modeByte the bias mode, extraFlag the protection short; the sweep parameters are kept
    // as bytes. Commands 49 and 50 are acknowledged.
    SimSisBias(quint8 address, const SimModule::Identity& identity, SimEnvironment* environment,
               QObject* parent = nullptr);

    void reset() override;
    bool configure(const QJsonObject& physics, QString* error) override;
    // {"constants": the EEPROM structure by field name}
    QJsonObject eeprom() const override;
    bool setEeprom(const QJsonObject& eeprom, QString* error) override;

protected:
    std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) override;

private:
    VX9BSM0_Data_t m_data{};
    bool m_extraFlag = false;
    VX9BSM0_SWEEP_PARAMS_t m_sweep{};
    VX9BSM0V0_EEPROM_Const_t m_constants{};
    VX9BSM0V0_EEPROM_Const_t m_stored{};
};
