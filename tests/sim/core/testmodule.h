#pragma once
// A small module kind for the unit's own tests: code 16 reads a 32-bit value, 17 writes it,
// 18 reads the EEPROM constant, 19 writes it; a reset clears only the value. Its physics
// knows "gain", its EEPROM JSON is {"constant": n}.
#include "core/simmodule.h"

class TestModule : public SimModule
{
public:
    using SimModule::SimModule;

    quint32 value = 0;
    quint32 constant = 7;
    double gain = 1.0;

    void reset() override { value = 0; }
    bool configure(const QJsonObject& physics, QString* error) override
    {
        *error = "unknown key";
        gain = physics.value("gain").toDouble(gain);
        return physics.isEmpty() || physics.keys() == QStringList{"gain"};
    }
    QJsonObject eeprom() const override { return {{"constant", double(constant)}}; }
    bool setEeprom(const QJsonObject& eeprom, QString* error) override
    {
        *error = "\"constant\" missing";
        constant = quint32(eeprom.value("constant").toDouble(constant));
        return eeprom.value("constant").isDouble();
    }

protected:
    std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) override
    {
        quint32* target = command < 18 ? &value : &constant;
        if (command == 16 || command == 18)
            return answer(command, bytesOf(*target));
        if (command == 17 || command == 19)
            return fromBytes(data, target) ? acknowledge(command) : QList<Answer>{};
        return std::nullopt;
    }
};

inline SimModule::Identity testIdentity(const QString& type, quint8 n)
{
    const QString i = QString::number(n), hex = QString::number(n + 0x100, 16).right(2);
    return {type,
            "M" + i,
            "H" + i,
            "1.2." + i,
            "Test module " + i,
            cUDID::fromString("0011-2233-4455-6677-8899-AA" + hex)};
}
