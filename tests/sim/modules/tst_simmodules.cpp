// The simulated modules through their packets, with the byte layouts written out here on
// their own: the SSPD modules of both models (one table with a model column), the two
// temperature modules and the structure-only modules (heater, SIS bias source and line).
#include "bytes.h"
#include "core/simenvironment.h"
#include "modules/simheater.h"
#include "modules/simsisbias.h"
#include "modules/simsisline.h"
#include "modules/simsspdm0.h"
#include "modules/simsspdm1.h"
#include "modules/simtempm0.h"
#include "modules/simtempm1.h"

#include <QJsonArray>
#include <QTest>
#include <cmath>
#include <cstring>
#include <memory>

namespace {
constexpr double uA = 1e-6;
constexpr double mV = 1e-3;

// The data of the one answer to a packet, carrying its code ("no answer" otherwise).
QByteArray ask(SimModule& m, quint8 code, const QByteArray& data = {})
{
    const QList<SimModule::Answer> answers = m.handlePacket(code, data);
    return answers.size() == 1 && answers.first().command == code ? answers.first().data
                                                                  : QByteArray("no answer");
}
// An acknowledgement: the code back with no data.
bool put(SimModule& m, quint8 code, const QByteArray& data)
{
    return ask(m, code, data).isEmpty();
}
bool silent(SimModule& m, quint8 code, const QByteArray& data = {})
{
    return m.handlePacket(code, data).isEmpty();
}
float f32At(const QByteArray& bytes, int offset)
{
    float v = NAN;
    if (offset + 4 <= bytes.size())
        std::memcpy(&v, bytes.constData() + offset, 4);
    return v;
}
QByteArray f32(float v)
{
    return Bytes().f32(v);
}
QByteArray floats(int count, float first)
{
    Bytes b;
    for (int i = 0; i < count; ++i)
        b.f32(first + 0.25f * i);
    return b;
}

SimModule::Identity identity(const char* type)
{
    return {type, "M", "1.0", "2.3", "module", cUDID()};
}
std::unique_ptr<SimModule> sspd(int model, SimEnvironment* env)
{
    if (model == 0)
        return std::make_unique<SimSspdM0>(3, identity("VX9SDM0"), env);
    return std::make_unique<SimSspdM1>(3, identity("VX9SDM1"), env);
}

// SSPD codes shared by both models.
enum : quint8 {
    Current = 17,
    SetCurrent = 18,
    Voltage = 19,
    Counts = 20,
    Status = 21,
    SetStatus = 22,
    Short = 23,
    Params = 29,
    SetCmpRefLevel = 32,
    SetTimeConst = 34,
    Eeprom = 41,
};
} // namespace

class TestSimModules : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;

    float readFloat(SimModule& m, quint8 code) { return f32At(ask(m, code), 0); }
    // Counts of the first full gate window from now (time constant 0.1 s).
    float windowCounts(SimModule& m)
    {
        env->advance(200);
        return readFloat(m, Counts);
    }
    // The application's switch-on: chain up (model 1 keeps its HF bit), short removed.
    void operate(SimModule& m, int model)
    {
        QVERIFY(put(m, SetStatus, Bytes().u8(model == 0 ? 0x3C : 0x34)));
        env->advance(200);
        QVERIFY(put(m, Short, Bytes().u8(0)));
        QCOMPARE(quint8(ask(m, Status).at(0)), quint8(model == 0 ? 0x3C : 0x34));
    }

    std::unique_ptr<SimModule> fieldModule(const QString& type)
    {
        if (type == "VX9HTM0")
            return std::make_unique<SimHeater>(7, identity("VX9HTM0"), env.get());
        if (type == "VX9BSM0")
            return std::make_unique<SimSisBias>(7, identity("VX9BSM0"), env.get());
        return std::make_unique<SimSisLine>(7, identity("VX9CLM0"), env.get());
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(5);
        env->useManualClock(1000);
    }

    void sspdAnswersWithItsStructureLengths()
    {
        // code, length on model 0, on model 1 (0: no answer).
        const QList<std::array<int, 3>> table = {
            {16, 16, 20}, {17, 4, 4}, {19, 4, 4},  {20, 4, 4},  {21, 1, 1}, {29, 20, 20},
            {31, 4, 4},   {33, 4, 4}, {35, 4, 4},  {37, 4, 4},  {39, 4, 4}, {41, 32, 44},
            {43, 8, 8},   {45, 8, 8}, {47, 8, 8},  {49, 8, 8},  {51, 1, 1}, {53, 0, 4},
            {54, 0, 8},   {58, 0, 4}, {6, 24, 24}, {200, 0, 0},
        };
        for (int model : {0, 1}) {
            auto m = sspd(model, env.get());
            for (const auto& row : table) {
                const QByteArray data = ask(*m, quint8(row[0]));
                QVERIFY2(row[1 + model] ? data.size() == row[1 + model]
                                        : silent(*m, quint8(row[0])),
                         qPrintable(QString("model %1 code %2").arg(model).arg(row[0])));
            }
        }
    }

    void sspdWritesAreAcknowledgedAndEchoed_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<quint8>("write");
        QTest::addColumn<quint8>("read");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<quint8>("composite"); // read code of the structure that holds it
        QTest::addColumn<int>("offset");
        for (int model : {0, 1}) {
            const auto row = [model](const char* name, int write, int read, const QByteArray& value,
                                     int composite, int offset) {
                QTest::addRow("model %d %s", model, name) << model << quint8(write) << quint8(read)
                                                          << value << quint8(composite) << offset;
            };
            row("status", 22, 21, Bytes().u8(0x95), 16, model == 0 ? 12 : 16);
            row("params", 30, 29, floats(4, 0.5f) + Bytes().u32(17).toByteArray(), 29, 0);
            row("cmpRefLevel", 32, 31, f32(0.07f), 29, 0);
            row("timeConst", 34, 33, f32(0.5f), 29, 4);
            row("autoResetThreshold", 36, 35, f32(0.33f), 29, 8);
            row("autoResetTimeOut", 38, 37, f32(1.5f), 29, 12);
            row("autoResetCounts", 40, 39, Bytes().u32(42), 29, 16);
            row("eeprom", 42, 41, floats(model == 0 ? 8 : 11, 1.1f), 41, 0);
            row("currentAdc", 44, 43, floats(2, 1.5f), 41, 0);
            row("voltageAdc", 46, 45, floats(2, 1.6f), 41, 8);
            row("currentDac", 48, 47, floats(2, 1.7f), 41, 16);
            row("cmpRefDac", 50, 49, floats(2, 1.8f), 41, model == 0 ? 24 : 36);
            row("auxFlag", 52, 51, Bytes().u8(1), 51, 0);
            if (model == 1) {
                row("currentMonitorAdc", 55, 54, floats(2, 1.1f), 41, 24);
                row("pulseWidth", 57, 58, f32(35.0f), 41, 32);
            }
        }
    }
    void sspdWritesAreAcknowledgedAndEchoed()
    {
        QFETCH(int, model);
        QFETCH(quint8, write);
        QFETCH(quint8, read);
        QFETCH(QByteArray, value);
        QFETCH(quint8, composite);
        QFETCH(int, offset);
        auto m = sspd(model, env.get());
        QVERIFY(ask(*m, read) != value);
        QVERIFY(silent(*m, write, value + '\1')); // a write of the wrong length is dropped
        QVERIFY(silent(*m, write, value.chopped(1)));
        QVERIFY(ask(*m, read) != value);
        QVERIFY(put(*m, write, value));
        QCOMPARE(ask(*m, read), value);
        QCOMPARE(ask(*m, composite).mid(offset, value.size()), value);
    }

    void sspdSwitchesSetAndClearTheirStatusBit_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<quint8>("code");
        QTest::addColumn<int>("bit"); // -1: no switch on this model
        // Model 0 has the RF key at bit 3 (code 25), model 1 its HF mode (code 56).
        const QList<std::array<int, 3>> table = {
            {0, 23, 1}, {0, 24, 2}, {0, 25, 3}, {0, 26, 4}, {0, 27, 5}, {0, 28, 6}, {0, 56, -1},
            {1, 23, 1}, {1, 24, 2}, {1, 56, 3}, {1, 26, 4}, {1, 27, 5}, {1, 28, 6}, {1, 25, -1},
        };
        for (const auto& [model, code, bit] : table)
            QTest::addRow("model %d code %d", model, code) << model << quint8(code) << bit;
    }
    void sspdSwitchesSetAndClearTheirStatusBit()
    {
        QFETCH(int, model);
        QFETCH(quint8, code);
        QFETCH(int, bit);
        auto m = sspd(model, env.get());
        QCOMPARE(quint8(ask(*m, Status).at(0)), quint8(0x03)); // power-on: shorted, chain off
        QVERIFY(put(*m, SetStatus, Bytes().u8(0x81)));
        if (bit < 0) {
            QVERIFY(silent(*m, code, Bytes().u8(1)));
            QCOMPARE(quint8(ask(*m, Status).at(0)), quint8(0x81));
            return;
        }
        QVERIFY(put(*m, code, Bytes().u8(1)));
        QCOMPARE(quint8(ask(*m, Status).at(0)), quint8(0x81 | (1 << bit)));
        QCOMPARE(quint8(ask(*m, 16).at(model == 0 ? 12 : 16)), quint8(0x81 | (1 << bit)));
        QVERIFY(put(*m, SetStatus, Bytes().u8(0xFF)));
        QVERIFY(put(*m, code, Bytes().u8(0)));
        QCOMPARE(quint8(ask(*m, Status).at(0)), quint8(0xFF & ~(1 << bit)));
    }

    void sspdBiasAndReadingsGoThroughTheCalibrations()
    {
        auto m = sspd(0, env.get());
        const auto current = [&] { return readFloat(*m, Current); };
        QVERIFY(put(*m, SetCurrent, f32(10e-6f)));
        QVERIFY(std::abs(current() - 10 * uA) < 20e-9);
        QVERIFY(put(*m, Short, Bytes().u8(0)));
        QVERIFY(std::abs(readFloat(*m, Voltage) - 10 * uA * 50) < 0.2 * mV); // superconducting
        // A DAC constant 1.5 times too large drives 15 uA for the 10 written.
        QVERIFY(put(*m, 48, Bytes().f32(1.5f).f32(0.0f)));
        QVERIFY(std::abs(current() - 15 * uA) < 20e-9);
        // The ADC constant scales what is reported, not what flows.
        QVERIFY(put(*m, 44, Bytes().f32(2.0f).f32(1e-6f)));
        QVERIFY(std::abs(current() - 31 * uA) < 60e-9);
        QVERIFY(std::abs(readFloat(*m, Voltage) - 15 * uA * 50) < 0.2 * mV);
        QVERIFY(put(*m, 46, Bytes().f32(2.0f).f32(0.0f)));
        QVERIFY(std::abs(readFloat(*m, Voltage) - 15 * uA * 100) < 0.4 * mV);
        // With the DAC constant tripled, 30 uA flow: above the 25 uA switch.
        QVERIFY(put(*m, 48, Bytes().f32(3.0f).f32(0.0f)));
        QVERIFY(readFloat(*m, Voltage) > 0.1);
        // A reset keeps only the EEPROM: the bias goes and with it the latch.
        QVERIFY(put(*m, SetTimeConst, f32(2.0f)));
        m->reset();
        QCOMPARE(quint8(ask(*m, Status).at(0)), quint8(0x03));
        QCOMPARE(f32At(ask(*m, Params), 4), 0.1f);
        QVERIFY(std::abs(current() - 1 * uA) < 20e-9); // no bias, the ADC constants kept
        QCOMPARE(f32At(ask(*m, 47), 0), 3.0f);
        QVERIFY(put(*m, Short, Bytes().u8(0)));
        QVERIFY(std::abs(readFloat(*m, Voltage)) < 1 * mV);
    }

    void sspdCountsNeedTheWholeReadOutChain_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<quint8>("code");
        QTest::addColumn<quint8>("value");
        QTest::addColumn<bool>("counting"); // with the switch so
        for (int model : {0, 1}) {
            QTest::addRow("model %d shorted", model) << model << quint8(23) << quint8(1) << false;
            QTest::addRow("model %d amplifier off", model)
                << model << quint8(24) << quint8(0) << false;
            QTest::addRow("model %d comparator off", model)
                << model << quint8(26) << quint8(0) << false;
            QTest::addRow("model %d counter off", model)
                << model << quint8(27) << quint8(0) << false;
        }
        QTest::newRow("model 0 RF key off") << 0 << quint8(25) << quint8(0) << false;
        QTest::newRow("model 1 HF mode on") << 1 << quint8(56) << quint8(1) << true;
    }
    void sspdCountsNeedTheWholeReadOutChain()
    {
        QFETCH(int, model);
        QFETCH(quint8, code);
        QFETCH(quint8, value);
        QFETCH(bool, counting);
        auto m = sspd(model, env.get());
        operate(*m, model);
        QVERIFY(put(*m, SetCurrent, f32(20e-6f))); // pulses of about 0.4 V
        QVERIFY(windowCounts(*m) > 400);
        QVERIFY(put(*m, code, Bytes().u8(value)));
        QCOMPARE(windowCounts(*m) > 400, counting);
        QVERIFY(put(*m, code, Bytes().u8(!value)));
        QVERIFY(windowCounts(*m) > 400);
        // The comparator level goes through its DAC calibration.
        QVERIFY(put(*m, SetCmpRefLevel, f32(0.7f)));
        QCOMPARE(windowCounts(*m), 0.0f);
        QVERIFY(put(*m, 50, Bytes().f32(0.1f).f32(0.0f)));
        QVERIFY(windowCounts(*m) > 400);
        // A longer time constant counts for longer.
        QVERIFY(put(*m, SetTimeConst, f32(1.0f)));
        env->advance(2000);
        QVERIFY(readFloat(*m, Counts) > 4000);
        QCOMPARE(f32At(ask(*m, 16), model == 0 ? 8 : 12), readFloat(*m, Counts));
    }

    void sspdAutoResetReleasesALatchedChannel()
    {
        auto m = sspd(0, env.get());
        operate(*m, 0);
        QVERIFY(put(*m, 36, f32(0.2f)));
        QVERIFY(put(*m, 38, f32(0.3f)));
        QVERIFY(put(*m, SetCurrent, f32(30e-6f)));
        QVERIFY(put(*m, SetCurrent, f32(15e-6f)));
        QVERIFY(put(*m, 28, Bytes().u8(1)));
        env->advance(250);
        QVERIFY(readFloat(*m, Voltage) > 0.1);
        QCOMPARE(ask(*m, 39), Bytes().u32(0).toByteArray());
        env->advance(100);
        QVERIFY(std::abs(readFloat(*m, Voltage)) < 5 * mV);
        QCOMPARE(ask(*m, 39), Bytes().u32(1).toByteArray());
        QCOMPARE(ask(*m, Params).mid(16), Bytes().u32(1).toByteArray());
        QVERIFY(put(*m, 40, Bytes().u32(0))); // the count is the module's to clear
        QCOMPARE(ask(*m, 39), Bytes().u32(0).toByteArray());
    }

    void sspdModelOneMonitorsTheDetectorCurrentAndHasAnHfMode()
    {
        auto m = sspd(1, env.get());
        QVERIFY(put(*m, SetCurrent, f32(12e-6f)));
        QVERIFY(std::abs(readFloat(*m, 53)) < 10e-9); // shorted at power-on
        QVERIFY(put(*m, Short, Bytes().u8(0)));
        QVERIFY(std::abs(readFloat(*m, 53) - 12 * uA) < 10e-9);
        QVERIFY(std::abs(f32At(ask(*m, 16), 4) - 12 * uA) < 10e-9);
        QVERIFY(put(*m, 55, Bytes().f32(1.1f).f32(0.0f)));
        QVERIFY(std::abs(readFloat(*m, 53) - 13.2 * uA) < 10e-9);
        QVERIFY(std::abs(readFloat(*m, Current) - 12 * uA) < 10e-9);
        // HF mode: much more noise above a low comparator level.
        operate(*m, 1);
        QVERIFY(put(*m, SetCurrent, f32(20e-6f)));
        QVERIFY(put(*m, SetCmpRefLevel, f32(0.01f)));
        const float quiet = windowCounts(*m);
        QVERIFY(put(*m, 56, Bytes().u8(1)));
        QVERIFY(windowCounts(*m) > quiet + 10000);
    }

    void sspdEepromAndPhysicsFromJson()
    {
        for (int model : {0, 1}) {
            auto m = sspd(model, env.get());
            QString error;
            const QJsonObject dac{{"currentDac", QJsonObject{{"first", 2.0}, {"second", 0.0}}}};
            QVERIFY(m->setEeprom({{"constants", dac}}, &error));
            QCOMPARE(ask(*m, 47), Bytes().f32(2.0f).f32(0.0f).toByteArray());
            QCOMPARE(ask(*m, 43), Bytes().f32(1.0f).f32(0.0f).toByteArray()); // kept
            QCOMPARE(m->eeprom().value("constants")["currentDac"]["first"].toDouble(), 2.0);
            QVERIFY(!m->setEeprom({{"tables", QJsonObject{}}}, &error));
            QVERIFY(error.contains("tables"));
            QVERIFY(!m->setEeprom({{"constants", QJsonObject{{"pulseWidth", "wide"}}}}, &error));
            QVERIFY(!m->setEeprom({{"constants", QJsonObject{{"voltageAdc", 1.0}}}}, &error));
            QCOMPARE(ask(*m, 47), Bytes().f32(2.0f).f32(0.0f).toByteArray());
            auto other = sspd(model, env.get());
            QVERIFY(other->setEeprom(m->eeprom(), &error));
            QCOMPARE(ask(*other, Eeprom), ask(*m, Eeprom));
            // Only model 1 has the HF keys.
            QCOMPARE(m->configure({{"hfNoiseFactor", 2.0}}, &error), model == 1);
            QVERIFY(!m->configure({{"switchingCurrent", -1.0}}, &error));
        }
        auto m = sspd(0, env.get());
        QString error;
        QVERIFY(m->configure({{"switchingCurrent", 12e-6}}, &error));
        QVERIFY(put(*m, Short, Bytes().u8(0)));
        QVERIFY(put(*m, SetCurrent, f32(11e-6f)));
        QVERIFY(std::abs(readFloat(*m, Voltage)) < 5 * mV);
        QVERIFY(put(*m, SetCurrent, f32(13e-6f)));
        QVERIFY(readFloat(*m, Voltage) > 0.1);
    }
    void tempModelZeroPackets()
    {
        SimTempM0 m(3, identity("VX9TDM0"), env.get());
        const QList<std::pair<int, int>> lengths = {{16, 28}, {17, 4}, {18, 4}, {19, 4},  {21, 4},
                                                    {22, 4},  {23, 4}, {24, 1}, {26, 48}, {5, 12}};
        for (const auto& [code, length] : lengths)
            QVERIFY2(ask(m, quint8(code)).size() == length, qPrintable(QString::number(code)));
        // Pressure: the gauge's two voltages through the coefficients (default 500, 0).
        QByteArray data = ask(m, 16);
        const auto pressureOf = [&](double slope, double offset) {
            return slope * (double(f32At(data, 16)) - f32At(data, 20)) + offset;
        };
        QVERIFY(f32At(data, 4) > 40 && f32At(data, 4) < 70); // helium boiling near 2.2 K
        QVERIFY(std::abs(f32At(data, 4) - pressureOf(500, 0)) < 0.01);
        QVERIFY(put(m, 39, Bytes().f32(1000.0f).f32(5.0f)));
        data = ask(m, 16);
        QVERIFY(std::abs(f32At(data, 4) - pressureOf(1000, 5)) < 0.02);
        QString error;
        QVERIFY(m.configure({{"pressureMbar", 3.0}, {"pressureNoiseMbar", 0.0}}, &error));
        QVERIFY(put(m, 39, Bytes().f32(500.0f).f32(0.0f)));
        QVERIFY(std::abs(readFloat(m, 18) - 3.0f) < 1e-3);
        QVERIFY(put(m, 20, f32(2.5e-5f)));
        QCOMPARE(readFloat(m, 19), 2.5e-5f);
        QCOMPARE(f32At(ask(m, 16), 8), 2.5e-5f);
        // Commutator off: no excitation, nothing measured.
        QCOMPARE(ask(m, 24), QByteArray(1, '\1'));
        QVERIFY(put(m, 25, Bytes().u8(0)));
        const QByteArray off = ask(m, 16);
        QCOMPARE(off.at(24), '\0');
        QCOMPARE(f32At(off, 0), 0.0f);
        QCOMPARE(f32At(off, 12), 0.0f);
        QVERIFY(put(m, 25, Bytes().u8(7)));
        QCOMPARE(ask(m, 24), QByteArray(1, '\1'));
        QVERIFY(readFloat(m, 17) > 2.0f);
        // The six calibration pairs, whole and one by one (read 28, 30 .. 38; write one above).
        const QByteArray constants = floats(12, 0.5f);
        QVERIFY(put(m, 27, constants));
        QCOMPARE(ask(m, 26), constants);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(ask(m, quint8(28 + 2 * i)), constants.mid(8 * i, 8));
        QVERIFY(put(m, 31, Bytes().f32(-3.0f).f32(0.25f)));
        QCOMPARE(ask(m, 26).mid(8, 8), Bytes().f32(-3.0f).f32(0.25f).toByteArray());
        // Wrong lengths and values are dropped.
        QVERIFY(silent(m, 27, constants.left(47)));
        QVERIFY(silent(m, 20, f32(NAN)));
        QVERIFY(silent(m, 25));
        QVERIFY(silent(m, 99));
        QCOMPARE(readFloat(m, 19), 2.5e-5f);
    }

    void tempModelZeroTableAndSensor()
    {
        SimTempM0 m(3, identity("VX9TDM0"), env.get());
        // A curved table, so that the interpolation must take the right neighbours.
        const auto volts = [](int kelvin) { return 0.001f * float(kelvin * kelvin); };
        const auto chunk = [&](int start, int count) {
            Bytes b;
            b.u8(quint8(start)).u8(quint8(count));
            for (int i = start; i < start + count; ++i)
                b.f32(volts(i + 1)).f32(float(i + 1));
            return b.toByteArray();
        };
        for (int start = 0; start < 100; start += 10)
            QVERIFY(put(m, 41, chunk(start, 10)));
        for (int start = 0; start < 100; start += 20)
            QCOMPARE(ask(m, 40, Bytes().u8(start).u8(20)), chunk(start, 20).mid(2));
        QVERIFY(silent(m, 40, Bytes().u8(95).u8(10))); // beyond the table
        QVERIFY(silent(m, 40, Bytes().u8(0).u8(40)));  // more than one packet carries
        QVERIFY(silent(m, 40, Bytes().u8(0)));
        QVERIFY(silent(m, 41, chunk(95, 5).replace(1, 1, "\x0A")));
        QVERIFY(silent(m, 41, chunk(0, 10).chopped(8)));
        QList<float> readings;
        for (int i = 0; i < 100; ++i) {
            env->advance(60'000);
            const QByteArray data = ask(m, 16);
            const double t = f32At(data, 0);
            const int k = int(t);
            readings << float(t);
            QVERIFY(std::abs(f32At(data, 12) - (volts(k) + (t - k) * (volts(k + 1) - volts(k)))) <
                    1e-6);
        }
        // Drift and noise, near 2.2 K.
        const auto [low, high] = std::minmax_element(readings.begin(), readings.end());
        QVERIFY(*low > 2.17f && *high < 2.23f && *high - *low > 0.002f);
    }

    void tempModelZeroEepromIsStoredByCommand12()
    {
        SimTempM0 m(3, identity("VX9TDM0"), env.get());
        const QJsonObject before = m.eeprom();
        const QByteArray entry = Bytes().u8(0).u8(1).f32(9.0f).f32(8.0f);
        QVERIFY(put(m, 29, Bytes().f32(2.0f).f32(-1.0f)));
        QVERIFY(put(m, 41, entry));
        QCOMPARE(m.eeprom(), before); // not burnt yet: a reset takes it back
        m.reset();
        QCOMPARE(ask(m, 28), Bytes().f32(1.0f).f32(0.0f).toByteArray());
        QVERIFY(put(m, 29, Bytes().f32(2.0f).f32(-1.0f)));
        QVERIFY(put(m, 41, entry));
        QVERIFY(put(m, 12, {}));
        const QJsonObject stored = m.eeprom();
        QCOMPARE(stored["constants"]["tempSensorCurrentAdc"]["first"].toDouble(), 2.0);
        QCOMPARE(stored["table"][0][0].toDouble(), 9.0);
        m.reset();
        QCOMPARE(ask(m, 28), Bytes().f32(2.0f).f32(-1.0f).toByteArray());

        SimTempM0 other(5, identity("VX9TDM0"), env.get());
        QString error;
        QVERIFY(other.setEeprom(stored, &error));
        QCOMPARE(ask(other, 26), ask(m, 26));
        QCOMPARE(ask(other, 40, Bytes().u8(0).u8(10)), ask(m, 40, Bytes().u8(0).u8(10)));
        QVERIFY(other.setEeprom(
            {{"constants",
              QJsonObject{{"pressSensorCoeffs", QJsonObject{{"first", 7.0}, {"second", 1.0}}}}}},
            &error));
        QCOMPARE(ask(other, 38), Bytes().f32(7.0f).f32(1.0f).toByteArray());
        QCOMPARE(ask(other, 28), Bytes().f32(2.0f).f32(-1.0f).toByteArray()); // kept
        QVERIFY(!other.setEeprom({{"table", QJsonArray{QJsonArray{1, 2}}}}, &error));
        QVERIFY(error.contains("100"));
        QVERIFY(!other.setEeprom({{"tabel", QJsonArray()}}, &error));
        QVERIFY(!other.configure({{"stage", QJsonObject{{"baseK", "cold"}}}}, &error));
        QVERIFY(!other.configure({{"colour", 1}}, &error));
        QVERIFY(error.contains("colour"));
    }

    void tempModelOnePackets()
    {
        SimTempM1 m(4, identity("VX9TDM1"), env.get());
        for (quint8 code : {17, 20, 21}) {
            QCOMPARE(ask(m, code, Bytes().u8(2)).size(), 4);
            QCOMPARE(ask(m, code, Bytes().u8(255)).size(), 16);
            QVERIFY(silent(m, code, Bytes().u8(4)));
        }
        QCOMPARE(ask(m, 26).size(), 64);
        QCOMPARE(ask(m, 40, Bytes().u8(3).u8(90).u8(10)).size(), 80);
        QVERIFY(silent(m, 40, Bytes().u8(4).u8(0).u8(10)));
        QVERIFY(silent(m, 16));
        QVERIFY(put(m, 20, Bytes().u8(2).f32(5e-6f)));
        QCOMPARE(ask(m, 20, Bytes().u8(255)),
                 Bytes().f32(1e-5f).f32(1e-5f).f32(5e-6f).f32(1e-5f).toByteArray());
        QVERIFY(put(m, 20, Bytes().u8(255).f32(2e-6f)));
        QCOMPARE(ask(m, 20, Bytes().u8(3)), f32(2e-6f));
        QVERIFY(silent(m, 20, Bytes().u8(7).f32(1e-6f)));
        QVERIFY(put(m, 27, floats(16, 0.5f)));
        QCOMPARE(ask(m, 26), floats(16, 0.5f));
        QCOMPARE(ask(m, 44), Bytes().u32(0).toByteArray());
        QVERIFY(put(m, 45, Bytes().u8(3)));
        QCOMPARE(ask(m, 44), Bytes().u32(3).toByteArray());
        QVERIFY(put(m, 45, Bytes().u32(2)));
        QCOMPARE(ask(m, 44), Bytes().u32(2).toByteArray());
        // Channel settings: flag and value per channel; channel 1 switched off measures nothing.
        const QByteArray settings =
            Bytes().u8(1).f32(0.5f).u8(0).f32(1.5f).u8(1).f32(2.5f).u8(1).f32(3.5f);
        QVERIFY(put(m, 47, settings));
        QCOMPARE(ask(m, 46), settings);
        QCOMPARE(ask(m, 17, Bytes().u8(1)), f32(0.0f));
        QCOMPARE(ask(m, 21, Bytes().u8(1)), f32(0.0f));
        QVERIFY(f32At(ask(m, 17, Bytes().u8(0)), 0) > 2.0f);
        QVERIFY(silent(m, 47, settings.left(19)));
        m.reset();
        QCOMPARE(ask(m, 44), Bytes().u32(0).toByteArray());
        QVERIFY(f32At(ask(m, 17, Bytes().u8(1)), 0) > 2.0f);

        // Each channel's sensor follows its own table.
        const auto chunk = [](int start) {
            Bytes b;
            b.u8(2).u8(quint8(start)).u8(10);
            for (int k = start + 1; k <= start + 10; ++k)
                b.f32(0.4f + 0.1f * k).f32(float(k));
            return b.toByteArray();
        };
        for (int start = 0; start < 100; start += 10)
            QVERIFY(put(m, 41, chunk(start)));
        QCOMPARE(ask(m, 40, Bytes().u8(2).u8(90).u8(10)), chunk(90).mid(3));
        QVERIFY(ask(m, 40, Bytes().u8(1).u8(90).u8(10)) != chunk(90).mid(3));
        const float kelvin = f32At(ask(m, 17, Bytes().u8(2)), 0); // the 4 K plate
        const float sensor = f32At(ask(m, 21, Bytes().u8(2)), 0);
        QVERIFY2(std::abs(sensor - (0.4f + 0.1f * kelvin)) < 2e-3,
                 qPrintable(QString::number(sensor)));
    }

    void tempModelOneRelaysHeatAndCoolTheStage()
    {
        SimTempM1 m(4, identity("VX9TDM1"), env.get());
        QString error;
        QVERIFY(m.configure({{"stage", QJsonObject{{"noiseK", 0.0}, {"driftK", 0.0}}}}, &error));
        const auto stage = [&] { return f32At(ask(m, 17, Bytes().u8(0)), 0); };
        QCOMPARE(ask(m, 42), QByteArray(1, '\x02')); // at rest: switch closed
        QVERIFY(std::abs(stage() - 2.2f) < 0.01f);
        // High nibble: the relays to change, low nibble: their states. Heater on, switch open.
        QVERIFY(put(m, 43, Bytes().u8(0x31)));
        QCOMPARE(ask(m, 42), QByteArray(1, '\x01'));
        float last = stage();
        for (int i = 0; i < 10; ++i) {
            env->advance(30'000);
            QVERIFY(stage() > last);
            last = stage();
        }
        QVERIFY2(last > 30.0f, qPrintable(QString::number(last)));
        QVERIFY(f32At(ask(m, 17, Bytes().u8(1)), 0) > 40.0f); // the sorption pump as well
        // Heater off, switch still open: it thermalises toward its plate.
        QVERIFY(put(m, 43, Bytes().u8(0x10)));
        QCOMPARE(ask(m, 42), QByteArray(1, '\x00'));
        env->advance(600'000);
        last = stage();
        QVERIFY(last > 3.5f && last < 5.0f);
        // Switch closed: it cools down to the base temperature.
        QVERIFY(put(m, 43, Bytes().u8(0x22)));
        env->advance(30'000);
        QVERIFY(stage() < last);
        env->advance(300'000);
        QVERIFY(std::abs(stage() - 2.2f) < 0.01f);
        QVERIFY(put(m, 43, Bytes().u8(0x01))); // not masked: nothing changes
        QCOMPARE(ask(m, 42), QByteArray(1, '\x02'));
        QVERIFY(put(m, 43, Bytes().u8(0x13)));
        QCOMPARE(ask(m, 42), QByteArray(1, '\x03'));
        QVERIFY(silent(m, 43));
    }

    void tempModelOneEepromAndConfiguration()
    {
        SimTempM1 m(4, identity("VX9TDM1"), env.get());
        QVERIFY(put(m, 27, floats(16, 0.25f)));
        QVERIFY(put(m, 41, Bytes().u8(3).u8(99).u8(1).f32(0.5f).f32(330.0f)));
        QVERIFY(put(m, 12, {}));
        const QJsonObject stored = m.eeprom();
        QCOMPARE(stored["calibration"][3]["d"].toDouble(), 4.0);
        QCOMPARE(stored["tables"][3][99][1].toDouble(), 330.0);
        SimTempM1 other(6, identity("VX9TDM1"), env.get());
        QString error;
        QVERIFY(other.setEeprom(stored, &error));
        QCOMPARE(ask(other, 26), floats(16, 0.25f));
        QCOMPARE(ask(other, 40, Bytes().u8(3).u8(99).u8(1)),
                 Bytes().f32(0.5f).f32(330.0f).toByteArray());
        QVERIFY(!other.setEeprom({{"tables", QJsonArray{}}}, &error));
        QVERIFY(!other.configure({{"platesK", QJsonArray{4.2}}}, &error));
        QVERIFY(!other.configure({{"pump", QJsonObject{{"tauClosedS", 500.0}}}}, &error));
        QVERIFY(!other.configure({{"relays", 1}}, &error));
        QVERIFY(other.configure({{"platesK", QJsonArray{3.0, 60.0}}}, &error));
        QVERIFY(std::abs(f32At(ask(other, 17, Bytes().u8(3)), 0) - 60.0f) < 0.1f);
    }

    // The heater, SIS bias source and SIS control line keep and echo their fields.
    void fieldModulesEchoTheirFields_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<quint8>("write");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("echo"); // flags are kept as 0 or 1
        QTest::addColumn<quint8>("composite");
        QTest::addColumn<int>("offset");
        const auto row = [](const char* type, int write, const QByteArray& value, int composite,
                            int offset, const QByteArray& echo = {}) {
            QTest::addRow("%s %d", type, write)
                << QString(type) << quint8(write) << value << (echo.isNull() ? value : echo)
                << quint8(composite) << offset;
        };
        row("VX9HTM0", 18, f32(0.125f), 16, 4);
        row("VX9HTM0", 20, Bytes().u8(1), 16, 0);
        row("VX9HTM0", 22, Bytes().u8(3), 16, 1);
        row("VX9HTM0", 24, floats(8, 2.0f), 23, 0);
        for (int i = 0; i < 4; ++i)
            row("VX9HTM0", 26 + 2 * i, f32(20.0f + i), 23, 16 + 4 * i);
        row("VX9HTM0", 34, floats(2, 9.0f), 23, 0);
        row("VX9HTM0", 36, floats(2, 8.0f), 23, 8);
        row("VX9BSM0", 18, f32(1.75e-3f), 16, 0);
        row("VX9BSM0", 20, f32(2e-5f), 16, 4);
        row("VX9BSM0", 22, Bytes().u8(5), 16, 8, Bytes().u8(1));
        row("VX9BSM0", 24, Bytes().u8(2), 16, 9);
        row("VX9BSM0", 26, Bytes().u8(0), 25, 0);
        row("VX9BSM0", 28, floats(15, 3.0f), 27, 0);
        for (int i = 0; i < 5; ++i)
            row("VX9BSM0", 30 + 2 * i, floats(2, 4.0f + i), 27, 8 * i);
        row("VX9BSM0", 40, f32(33.0f), 27, 48);
        row("VX9BSM0", 42, floats(2, 4.0f), 27, 40);
        row("VX9BSM0", 44, f32(34.0f), 27, 52);
        row("VX9BSM0", 46, f32(35.0f), 27, 56);
        row("VX9BSM0", 48, floats(3, -1.0f) + Bytes().u32(100).u32(7).toByteArray(), 47, 0);
        row("VX9CLM0", 18, f32(0.02f), 16, 0);
        row("VX9CLM0", 20, Bytes().u8(7), 16, 4, Bytes().u8(1));
        row("VX9CLM0", 22, Bytes().u8(1), 21, 0);
        row("VX9CLM0", 24, floats(7, 1.0f), 23, 0);
        for (int i = 0; i < 3; ++i)
            row("VX9CLM0", 26 + 2 * i, floats(2, -4.0f + i), 23, 8 * i);
        row("VX9CLM0", 32, f32(0.07f), 23, 24);
    }
    void fieldModulesEchoTheirFields()
    {
        QFETCH(QString, type);
        QFETCH(quint8, write);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, echo);
        QFETCH(quint8, composite);
        QFETCH(int, offset);
        std::unique_ptr<SimModule> m = fieldModule(type);
        const quint8 read = write - 1;
        QVERIFY(ask(*m, read) != echo);
        QVERIFY(silent(*m, write, value + '\0'));
        QVERIFY(put(*m, write, value));
        QCOMPARE(ask(*m, read), echo);
        QCOMPARE(ask(*m, composite).mid(offset, echo.size()), echo);
    }

    void fieldModulesStructuresAndEeprom()
    {
        const QList<std::pair<const char*, QList<std::pair<int, int>>>> modules = {
            {"VX9HTM0", {{16, 8}, {23, 32}, {13, 0}, {14, 0}}},
            {"VX9BSM0", {{16, 12}, {27, 60}, {47, 20}, {49, 0}, {50, 0}}},
            {"VX9CLM0", {{16, 8}, {23, 28}}},
        };
        for (const auto& [type, lengths] : modules) {
            std::unique_ptr<SimModule> m = fieldModule(type);
            for (const auto& [code, length] : lengths)
                QVERIFY2(ask(*m, quint8(code)).size() == length, type);
            QVERIFY(silent(*m, 60));
            // EEPROM constants live on over a reset once stored by command 12; live values not.
            const quint8 eeprom = lengths.at(1).first;
            const QByteArray constants = floats(lengths.at(1).second / 4, 5.0f);
            QVERIFY(put(*m, quint8(eeprom + 1), constants));
            QVERIFY(put(*m, 18, f32(0.5f)));
            m->reset();
            QVERIFY(ask(*m, eeprom) != constants);
            QVERIFY(ask(*m, 17) != f32(0.5f));
            QVERIFY(put(*m, quint8(eeprom + 1), constants));
            QVERIFY(put(*m, 12, {}));
            m->reset();
            QCOMPARE(ask(*m, eeprom), constants);
            std::unique_ptr<SimModule> other = fieldModule(type);
            QString error;
            QVERIFY(other->setEeprom(m->eeprom(), &error));
            QCOMPARE(ask(*other, eeprom), constants);
            QVERIFY(!other->setEeprom({{"constants", QJsonObject{{"const9", 1}}}}, &error));
            QVERIFY(!other->setEeprom({{"tables", QJsonObject{}}}, &error));
            QVERIFY(!other->configure({{"power", 1}}, &error));
            QVERIFY(other->configure({}, &error));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimModules)
#include "tst_simmodules.moc"
