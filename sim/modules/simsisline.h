#pragma once
// The SIS control line ("VX9CLM0"): live data, the extra flag and EEPROM constants kept and
// echoed, so that the application finds its identity and structures.
#include "core/simmodule.h"
#include "drivers/structures/sisstructs.h"

class SimSisLine : public SimModule
{
    Q_OBJECT
public:
    // No rack "physics" keys: every key is an error. The values mean: floatValue the coil
    // current set (A), flag the output switch, extraFlag the field reversal.
    SimSisLine(quint8 address, const SimModule::Identity& identity, SimEnvironment* environment,
               QObject* parent = nullptr);

    void reset() override;
    bool configure(const QJsonObject& physics, QString* error) override;
    // {"constants": the EEPROM structure by field name}
    QJsonObject eeprom() const override;
    bool setEeprom(const QJsonObject& eeprom, QString* error) override;

protected:
    std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) override;

private:
    VX9CLM0V0_Data_t m_data{};
    bool m_extraFlag = false;
    VX9CLM0V0_EEPROM_Const_t m_constants{};
    VX9CLM0V0_EEPROM_Const_t m_stored{};
};
