#pragma once
// The heater module ("VX9HTM0"): live data and EEPROM constants kept and echoed, so that
// the application finds its identity and structures. Also home of the small register map
// that the structure-only modules (heater, SIS bias source, SIS control line) share.
#include "core/simmodule.h"
#include "drivers/structurejson.h"
#include "drivers/structures/heaterstructs.h"

#include <QJsonObject>
#include <cstring>
#include <span>

namespace simfields {

// One value of a module: its read and write codes and where it lies in which structure.
struct Field
{
    static constexpr quint8 None = 0xFF;

    quint8 read;
    quint8 write;
    int structure; // index into the structures handed to serve()
    int offset;
    int size;
    bool isBool = false; // written bytes are kept as 0 or 1
};

// Answers a field's read with its bytes and stores a write of exactly its size; nullopt
// for a code that no field has. Bad writes are dropped without an acknowledgement.
inline std::optional<QList<SimModule::Answer>> serve(quint8 command, const QByteArray& data,
                                                     std::span<const Field> fields,
                                                     std::span<char* const> structures)
{
    for (const Field& f : fields) {
        char* base = structures[f.structure] + f.offset;
        if (f.read != Field::None && command == f.read)
            return QList<SimModule::Answer>{{command, QByteArray(base, f.size)}};
        if (f.write != Field::None && command == f.write) {
            if (data.size() != f.size)
                return QList<SimModule::Answer>{};
            std::memcpy(base, data.constData(), f.size);
            if (f.isBool)
                *base = *base != 0;
            return QList<SimModule::Answer>{{command, {}}};
        }
    }
    return std::nullopt;
}

} // namespace simfields

class SimHeater : public SimModule
{
    Q_OBJECT
public:
    // No rack "physics" keys: every key is an error. The values mean: floatValue the heater
    // power set (W), byte0 the output switch, byte1 the range; the constants two calibration
    // pairs (DAC, ADC), the heater resistance (ohm), the current and voltage limits (A, V)
    // and a spare. Commands 13 and 14 are acknowledged.
    SimHeater(quint8 address, const SimModule::Identity& identity, SimEnvironment* environment,
              QObject* parent = nullptr);

    void reset() override;
    bool configure(const QJsonObject& physics, QString* error) override;
    // {"constants": the EEPROM structure by field name}
    QJsonObject eeprom() const override;
    bool setEeprom(const QJsonObject& eeprom, QString* error) override;

protected:
    std::optional<QList<Answer>> handleOwn(quint8 command, const QByteArray& data) override;

private:
    VX9HTM0V0_Data_t m_data{};
    VX9HT0V0_EEPROM_Const_t m_constants{};
    VX9HT0V0_EEPROM_Const_t m_stored{};
};
