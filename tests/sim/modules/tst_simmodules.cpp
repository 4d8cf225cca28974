// The simulated modules through their packets, with the byte layouts written out here on
// their own: what every kind shares in one table over all kinds (SSPD and temperature models
// 0 and 1, heater, SIS bias source and line), then each kind's own behaviour, and the SSPD
// detector model on its own (manual clock, fixed seed).
#include "bytes.h"
#include "core/simenvironment.h"
#include "core/simmodulefactory.h"
#include "modules/simtempm1.h"
#include "modules/sspdphysics.h"

#include <QJsonArray>
#include <QTest>
#include <cmath>
#include <cstring>
#include <memory>

namespace {
constexpr double uA = 1e-6;
constexpr double mV = 1e-3;

} // namespace

class TestSimModules : public QObject
{
    Q_OBJECT

    // The data of the one answer to a packet, carrying its code ("no answer" otherwise).
    static QByteArray ask(SimModule& m, quint8 code, const QByteArray& data = {})
    {
        const QList<SimModule::Answer> answers = m.handlePacket(code, data);
        return answers.size() == 1 && answers.first().command == code ? answers.first().data
                                                                      : QByteArray("no answer");
    }
    static bool put(SimModule& m, quint8 code, const QByteArray& data)
    {
        return ask(m, code, data).isEmpty();
    }
    static bool silent(SimModule& m, quint8 code, const QByteArray& data = {})
    {
        return m.handlePacket(code, data).isEmpty();
    }
    static float f32At(const QByteArray& bytes, int at)
    {
        float v = NAN;
        if (bytes.size() >= at + 4)
            std::memcpy(&v, bytes.constData() + at, 4);
        return v;
    }
    static QByteArray f32(float v) { return Bytes().f32(v); }
    static QByteArray u8(quint8 v) { return Bytes().u8(v); }
    static QByteArray floats(int count, float first)
    {
        Bytes b;
        for (int i = 0; i < count; ++i)
            b.f32(first + 0.25f * i);
        return b;
    }

    std::unique_ptr<SimEnvironment> env;

    std::unique_ptr<SimModule> make(const QString& type)
    {
        return std::unique_ptr<SimModule>(SimModuleFactory::create(
            type, 7, SimModuleFactory::defaultIdentity(type, 7), env.get()));
    }
    static const char* sspd(int model) { return model == 0 ? "VX9SDM0" : "VX9SDM1"; }
    float readFloat(SimModule& m, quint8 code) { return f32At(ask(m, code), 0); }
    // Counts of the first full gate window from now (time constant 0.1 s).
    float windowCounts(SimModule& m) { return env->advance(200), readFloat(m, 20); }
    // The application's switch-on: chain up (model 1 keeps its HF bit 3 off), short removed.
    void operate(SimModule& m, int model)
    {
        QVERIFY(put(m, 22, u8(model == 0 ? 0x3C : 0x34)));
        env->advance(200);
        QVERIFY(put(m, 23, u8(0)));
    }

    // A detector with its read-out chain on and unshorted, trigger 50 mV, window 0.1 s.
    std::unique_ptr<SspdPhysics> operatingPhysics()
    {
        auto physics = std::make_unique<SspdPhysics>(env.get(), true);
        physics->setChain({false, true, true, true, false});
        physics->setTrigger(50 * mV);
        physics->setTimeConstant(0.1);
        return physics;
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(5);
        env->useManualClock(1000);
    }

    void answersHaveTheirStructureLengths()
    {
        // Per type: code[:request byte]=length of the answer (0: none, -1: acknowledged).
        const QStringList rows = {"SDM0 16=16 41=32 53=0 54=0 58=0 6=24 5=12 12=-1 11=0",
                                  "SDM1 16=20 41=44 53=4 54=8 58=4 17=4 19=4 20=4 200=0",
                                  "TDM0 16=28 17=4 18=4 21=4 22=4 23=4 99=0",
                                  "TDM1 17:2=4 21:255=16 20:4=0 16=0 42=1",
                                  "HTM0 16=8 23=32 13=-1 37=0",
                                  "BSM0 16=12 49=-1 50=-1 51=0",
                                  "CLM0 16=8 49=0"};
        for (const QString& row : rows) {
            const QStringList words = row.split(u' ');
            for (const QString& word : words.mid(1)) {
                const auto m = make("VX9" + words.first());
                const quint8 code = quint8(word.section(u'=', 0, 0).section(u':', 0, 0).toInt());
                const QString byte = word.section(u'=', 0, 0).section(u':', 1);
                const QByteArray request = byte.isEmpty() ? QByteArray() : u8(quint8(byte.toInt()));
                const int length = word.section(u'=', 1).toInt();
                QVERIFY2(length ? ask(*m, code, request).size() == qMax(length, 0)
                                : m->handlePacket(code, request).isEmpty(),
                         qPrintable(words.first() + ' ' + word));
            }
        }
    }

    // A write is acknowledged, a wrong length dropped, and the read code echoes the value,
    // alone and at its offset in the structure read with composite; echo differs from value
    // where the module normalises (flags to 0 or 1).
    void writesAreAcknowledgedAndEchoed()
    {
        const auto add = [this](const char* type, int write, int read, const QByteArray& value,
                                int composite, int offset, QByteArray echo = {}) {
            echo = echo.isNull() ? value : echo;
            const auto m = make(type);
            const QByteArray row = type + QByteArray(" write ") + QByteArray::number(write);
            QVERIFY2(ask(*m, quint8(read)) != echo, row);
            QVERIFY2(silent(*m, quint8(write), value + '\1'), row);
            QVERIFY2(silent(*m, quint8(write), value.chopped(1)), row);
            QVERIFY2(put(*m, quint8(write), value), row);
            QVERIFY2(ask(*m, quint8(read)) == echo, row);
            QVERIFY2(ask(*m, quint8(composite)).mid(offset, echo.size()) == echo, row);
        };
        const char *T0 = "VX9TDM0", *T1 = "VX9TDM1", *H = "VX9HTM0", *B = "VX9BSM0", *L = "VX9CLM0";
        const QByteArray params = floats(4, 0.5f) + Bytes().u32(17).toByteArray();
        const QByteArray settings =
            Bytes().u8(1).f32(0.5f).u8(0).f32(1.5f).u8(1).f32(2.5f).u8(1).f32(3.5f);
        const QByteArray sweep = floats(3, -1.0f) + Bytes().u32(100).u32(7).toByteArray();
        // clang-format off
        for (int m : {0, 1}) {
            const char* S = sspd(m);
            add(S, 22, 21, u8(0x95), 16, m == 0 ? 12 : 16);  add(S, 52, 51, u8(1), 51, 0);
            add(S, 30, 29, params, 29, 0);                    add(S, 32, 31, f32(0.07f), 29, 0);
            add(S, 34, 33, f32(0.5f), 29, 4);                 add(S, 36, 35, f32(0.33f), 29, 8);
            add(S, 38, 37, f32(1.5f), 29, 12); add(S, 40, 39, Bytes().u32(42), 29, 16);
            add(S, 42, 41, floats(m ? 11 : 8, 1.1f), 41, 0); add(S, 44, 43, floats(2, 1.5f), 41, 0);
            add(S, 46, 45, floats(2, 1.6f), 41, 8); add(S, 48, 47, floats(2, 1.7f), 41, 16);
            add(S, 50, 49, floats(2, 1.8f), 41, m == 0 ? 24 : 36);
        }
        add("VX9SDM1", 55, 54, floats(2, 1.1f), 41, 24);  add("VX9SDM1", 57, 58, f32(35), 41, 32);
        add(T0, 20, 19, f32(2.5e-5f), 16, 8);             add(T0, 25, 24, u8(0), 16, 24);
        add(T0, 27, 26, floats(12, 0.5f), 26, 0);         add(T1, 27, 26, floats(16, 0.5f), 26, 0);
        add(T1, 45, 44, u8(3), 44, 0, Bytes().u32(3));    add(T1, 47, 46, settings, 46, 0);
        add(H, 18, 17, f32(0.125f), 16, 4);               add(H, 20, 19, u8(1), 16, 0);
        add(H, 22, 21, u8(3), 16, 1);                     add(H, 24, 23, floats(8, 2.0f), 23, 0);
        add(H, 34, 33, floats(2, 9.0f), 23, 0);           add(H, 36, 35, floats(2, 8.0f), 23, 8);
        add(B, 18, 17, f32(1.75e-3f), 16, 0);             add(B, 20, 19, f32(2e-5f), 16, 4);
        add(B, 22, 21, u8(5), 16, 8, u8(1));              add(B, 24, 23, u8(2), 16, 9);
        add(B, 26, 25, u8(0), 25, 0);                     add(B, 28, 27, floats(15, 3.0f), 27, 0);
        add(B, 40, 39, f32(33.0f), 27, 48);               add(B, 42, 41, floats(2, 4.0f), 27, 40);
        add(B, 44, 43, f32(34.0f), 27, 52);               add(B, 46, 45, f32(35.0f), 27, 56);
        add(B, 48, 47, sweep, 47, 0);                     add(L, 18, 17, f32(0.02f), 16, 0);
        add(L, 20, 19, u8(7), 16, 4, u8(1));              add(L, 22, 21, u8(1), 21, 0);
        add(L, 24, 23, floats(7, 1.0f), 23, 0);           add(L, 32, 31, f32(0.07f), 23, 24);
        // The calibration pairs one by one: temperature model 0 (read 28, 30 .. 38), the
        // heater's four constants, the bias source's first five pairs, the line's three.
        for (int i = 0; i < 6; ++i)
            add(T0, 29 + 2 * i, 28 + 2 * i, floats(2, -3.0f + i), 26, 8 * i);
        for (int i = 0; i < 4; ++i)
            add(H, 26 + 2 * i, 25 + 2 * i, f32(20.0f + i), 23, 16 + 4 * i);
        for (int i = 0; i < 5; ++i)
            add(B, 30 + 2 * i, 29 + 2 * i, floats(2, 4.0f + i), 27, 8 * i);
        for (int i = 0; i < 3; ++i)
            add(L, 26 + 2 * i, 25 + 2 * i, floats(2, -4.0f + i), 23, 8 * i);
        // clang-format on
    }
    // Each switch flips its status bit and no other; those of the read-out chain stop the
    // counts. Model 0 has the RF key at bit 3 (code 25), model 1 its HF mode (code 56).
    void sspdSwitchesFlipTheirStatusBit()
    {
        // model, code, bit (-1: no switch on this model), whether flipping it stops the counts
        const QList<std::tuple<int, int, int, bool>> rows = {
            {0, 23, 1, true},  {0, 24, 2, true},  {0, 25, 3, true},   {0, 26, 4, true},
            {0, 27, 5, true},  {0, 28, 6, false}, {0, 56, -1, false}, {1, 23, 1, true},
            {1, 24, 2, true},  {1, 56, 3, false}, {1, 26, 4, true},   {1, 27, 5, true},
            {1, 28, 6, false}, {1, 25, -1, false}};
        for (const auto& [model, code, bit, stops] : rows) {
            const auto m = make(sspd(model));
            QCOMPARE(ask(*m, 21), u8(0x03)); // power-on: shorted, chain off
            operate(*m, model);
            QVERIFY(put(*m, 18, f32(20e-6f))); // pulses of about 0.4 V
            QVERIFY(windowCounts(*m) > 400);
            const quint8 status = quint8(ask(*m, 21).at(0));
            const quint8 flipped = bit < 0 ? status : status ^ (1 << bit);
            const bool on = flipped & (1 << qMax(bit, 0));
            QVERIFY2(bit < 0 ? silent(*m, quint8(code), u8(1)) : put(*m, quint8(code), u8(on)),
                     qPrintable(QString("model %1 code %2").arg(model).arg(code)));
            QCOMPARE(ask(*m, 21), u8(flipped));
            QCOMPARE(ask(*m, 16).mid(model == 0 ? 12 : 16, 1), u8(flipped));
            QCOMPARE(windowCounts(*m) > 400, !stops);
            QVERIFY(bit < 0 || put(*m, quint8(code), u8(!on)));
            QCOMPARE(ask(*m, 21), u8(status));
            QVERIFY(windowCounts(*m) > 400);
        }
    }

    void sspdBiasAndReadingsGoThroughTheCalibrations()
    {
        for (int model : {0, 1}) {
            const auto m = make(sspd(model));
            const auto current = [&] { return readFloat(*m, 17); };
            QVERIFY(put(*m, 18, f32(10e-6f)));
            QVERIFY(std::abs(current() - 10 * uA) < 20e-9);
            // Model 1 monitors the current through the detector: none while shorted.
            QVERIFY(model == 0 || std::abs(readFloat(*m, 53)) < 10e-9);
            QVERIFY(put(*m, 23, u8(0)));
            QVERIFY(std::abs(readFloat(*m, 19) - 10 * uA * 50) < 0.2 * mV); // superconducting
            if (model == 1) {
                QVERIFY(std::abs(readFloat(*m, 53) - 10 * uA) < 10e-9);
                QVERIFY(put(*m, 55, Bytes().f32(1.1f).f32(0.0f)));
                QVERIFY(std::abs(f32At(ask(*m, 16), 4) - 11 * uA) < 10e-9);
            }
            // A DAC constant 1.5 times too large drives 15 uA for the 10 written.
            QVERIFY(put(*m, 48, Bytes().f32(1.5f).f32(0.0f)));
            QVERIFY(std::abs(current() - 15 * uA) < 20e-9);
            // The ADC constants scale what is reported, not what flows.
            QVERIFY(put(*m, 44, Bytes().f32(2.0f).f32(1e-6f)));
            QVERIFY(std::abs(current() - 31 * uA) < 60e-9);
            // With the DAC constant tripled, 30 uA flow: above the 25 uA switch.
            QVERIFY(put(*m, 48, Bytes().f32(3.0f).f32(0.0f)));
            QVERIFY(readFloat(*m, 19) > 0.1);
            // A reset keeps only the EEPROM: the bias goes and with it the latch.
            QVERIFY(put(*m, 34, f32(2.0f)));
            m->reset();
            QCOMPARE(ask(*m, 21), u8(0x03));
            QCOMPARE(f32At(ask(*m, 29), 4), 0.1f);
            QVERIFY(std::abs(current() - 1 * uA) < 20e-9); // no bias, the ADC constants kept
            QVERIFY(put(*m, 23, u8(0)));
            QVERIFY(std::abs(readFloat(*m, 19)) < 1 * mV);
        }
    }

    void sspdTriggerAndTimeConstant()
    {
        for (int model : {0, 1}) {
            const auto m = make(sspd(model));
            operate(*m, model);
            // The comparator level goes through its DAC calibration.
            QVERIFY(put(*m, 18, f32(20e-6f)) && put(*m, 32, f32(0.7f)));
            QCOMPARE(windowCounts(*m), 0.0f);
            QVERIFY(put(*m, 50, Bytes().f32(0.1f).f32(0.0f)));
            QVERIFY(windowCounts(*m) > 400);
            // A longer time constant counts for longer.
            QVERIFY(put(*m, 34, f32(1.0f)));
            env->advance(2000);
            QVERIFY(readFloat(*m, 20) > 4000);
            QCOMPARE(f32At(ask(*m, 16), model == 0 ? 8 : 12), readFloat(*m, 20));
        }
    }

    void sspdModelOneHfModeIsNoisier()
    {
        const auto m = make("VX9SDM1");
        // Much more noise above a low comparator level.
        operate(*m, 1);
        QVERIFY(put(*m, 18, f32(20e-6f)) && put(*m, 32, f32(0.01f)));
        const float quiet = windowCounts(*m);
        QVERIFY(put(*m, 56, u8(1)));
        QVERIFY(windowCounts(*m) > quiet + 10000);
    }

    // EEPROM and physics from JSON, each key checked by name.
    void sspdEepromAndPhysicsFromJson()
    {
        for (int model : {0, 1}) {
            const auto m = make(sspd(model));
            QString error;
            const QJsonObject dac{{"currentDac", QJsonObject{{"first", 2.0}, {"second", 0.0}}}};
            QVERIFY(m->setEeprom({{"constants", dac}}, &error));
            QCOMPARE(ask(*m, 47), Bytes().f32(2.0f).f32(0.0f).toByteArray());
            QCOMPARE(ask(*m, 43), Bytes().f32(1.0f).f32(0.0f).toByteArray()); // kept
            QVERIFY(!m->setEeprom({{"tables", QJsonObject{}}}, &error) && error.contains("tables"));
            QVERIFY(!m->setEeprom({{"constants", QJsonObject{{"pulseWidth", "wide"}}}}, &error));
            const auto other = make(sspd(model));
            QVERIFY(other->setEeprom(m->eeprom(), &error));
            QCOMPARE(ask(*other, 41), ask(*m, 41));
            QCOMPARE(m->configure({{"hfNoiseFactor", 2.0}}, &error), model == 1); // HF keys
        }
        SspdPhysics physics(env.get(), false);
        QString error;
        // clang-format off
        for (const auto& [key, value] : QList<std::pair<QString, QJsonValue>>{
                 {"switchingCurent", 1e-5}, {"efficiency", 1.5}, {"darkRate", "many"},
                 {"retrappingCurrent", 30e-6}, {"switchingCurrent", -1.0}})
            QVERIFY(!physics.configure({{key, value}}, &error) && error.contains(key));
        // clang-format on
        // A smaller wire: the current-valued keys follow the switching current.
        QVERIFY(physics.configure({{"switchingCurrent", 12e-6}}, &error));
        QVERIFY(std::abs(physics.parameters().retrappingCurrent - 2.4e-6) < 1e-12);
    }

    void tempModelZeroMeasures()
    {
        const auto m = make("VX9TDM0");
        // Pressure: the gauge's two voltages through the coefficients (default 500, 0).
        QByteArray data = ask(*m, 16);
        const auto pressureOf = [&](double slope, double offset) {
            return slope * (double(f32At(data, 16)) - f32At(data, 20)) + offset;
        };
        QVERIFY(f32At(data, 4) > 40 && f32At(data, 4) < 70); // helium boiling near 2.2 K
        QVERIFY(std::abs(f32At(data, 4) - pressureOf(500, 0)) < 0.01);
        QVERIFY(put(*m, 39, Bytes().f32(1000.0f).f32(5.0f)));
        data = ask(*m, 16);
        QVERIFY(std::abs(f32At(data, 4) - pressureOf(1000, 5)) < 0.02);
        QString error;
        QVERIFY(m->configure({{"pressureMbar", 3.0}, {"pressureNoiseMbar", 0.0}}, &error));
        QVERIFY(put(*m, 39, Bytes().f32(500.0f).f32(0.0f)));
        QVERIFY(std::abs(readFloat(*m, 18) - 3.0f) < 1e-3);
        // Commutator off, or a current that is no number: nothing measured, nothing taken.
        QVERIFY(put(*m, 25, u8(0)));
        data = ask(*m, 16);
        QCOMPARE(QList<float>({f32At(data, 0), f32At(data, 12)}), QList<float>({0, 0}));
        QVERIFY(put(*m, 25, u8(7)));
        QCOMPARE(ask(*m, 24), u8(1));
        QVERIFY(readFloat(*m, 17) > 2.0f);
        QVERIFY(silent(*m, 20, f32(NAN)));
        QCOMPARE(readFloat(*m, 19), 1e-5f);
    }

    // The sensor table (model 1: of each channel, here the 4 K plate's), written and read in
    // chunks; a curved table, so that the sensor's reading must take the right neighbours.
    void tempSensorFollowsItsTable()
    {
        for (int model : {0, 1}) {
            const auto m = make(model ? "VX9TDM1" : "VX9TDM0");
            const QByteArray channel = model ? u8(2) : QByteArray();
            const auto volts = [](int kelvin) { return 0.001f * float(kelvin * kelvin); };
            const auto chunk = [&](int start, int count) {
                Bytes b;
                b.u8(quint8(start)).u8(quint8(count));
                for (int i = start; i < start + count; ++i)
                    b.f32(volts(i + 1)).f32(float(i + 1));
                return channel + b.toByteArray();
            };
            const auto read = [&](int start, int count) {
                return ask(*m, 40, channel + Bytes().u8(start).u8(count).toByteArray());
            };
            for (int start = 0; start < 100; start += 10)
                QVERIFY(put(*m, 41, chunk(start, 10)));
            for (int start = 0; start < 100; start += 20)
                QCOMPARE(read(start, 20), chunk(start, 20).mid(channel.size() + 2));
            QVERIFY(read(95, 10) == "no answer" && read(0, 40) == "no answer"); // beyond, too big
            QVERIFY(silent(*m, 41, chunk(95, 5).replace(channel.size() + 1, 1, "\x0A")));
            QVERIFY(silent(*m, 41, chunk(0, 10).chopped(8)));
            if (model == 1) { // the other channels keep their own tables
                QVERIFY(ask(*m, 40, Bytes().u8(1).u8(90).u8(10)) != chunk(90, 10).mid(3));
                QVERIFY(silent(*m, 40, Bytes().u8(4).u8(0).u8(10)));
            }
            QList<float> readings;
            for (int i = 0; i < 100; ++i) {
                env->advance(60'000);
                const QByteArray data = ask(*m, 16);
                const double t = f32At(model ? ask(*m, 17, channel) : data, 0);
                const float v = f32At(model ? ask(*m, 21, channel) : data, model ? 0 : 12);
                const int k = int(t);
                readings << float(t);
                QVERIFY(std::abs(v - (volts(k) + (t - k) * (volts(k + 1) - volts(k)))) < 1e-4);
            }
            // Drift and noise, near 2.2 K on model 0's stage, 4.2 K on the plate.
            const auto [low, high] = std::minmax_element(readings.begin(), readings.end());
            QVERIFY(*low > (model ? 4.0f : 2.17f) && *high < (model ? 4.4f : 2.23f));
            QVERIFY(*high - *low > 0.002f);
        }
    }

    // Command 12 burns the EEPROM of the temperature and structure-only modules: it outlives
    // a reset and travels as JSON to another module. Live values go with a reset.
    void eepromIsStoredByCommand12()
    {
        // clang-format off
        const QList<std::tuple<QString, quint8, int>> kinds = { // type, EEPROM read code, size
            {"VX9TDM0", 26, 48}, {"VX9TDM1", 26, 64}, {"VX9HTM0", 23, 32}, {"VX9BSM0", 27, 60},
            {"VX9CLM0", 23, 28}};
        // clang-format on
        for (const auto& [type, read, size] : kinds) {
            const bool temp = type.startsWith("VX9TD");
            const auto m = make(type);
            const QByteArray constants = floats(size / 4, 5.0f);
            // A table entry of the temperature modules (channel 3 on model 1), a live value
            // of the others.
            const QByteArray entry =
                (type == "VX9TDM1" ? u8(3) : QByteArray()) + u8(99) + u8(1) + floats(2, 9.0f);
            const auto second = [&, temp = temp] {
                return temp ? put(*m, 41, entry) : put(*m, 18, f32(0.5f));
            };
            const auto secondKept = [&, temp = temp](SimModule& module) {
                return temp ? ask(module, 40, entry.chopped(8)) == entry.right(8)
                            : ask(module, 17) == f32(0.5f);
            };
            QVERIFY(put(*m, read + 1, constants) && second());
            m->reset();
            QVERIFY2(ask(*m, read) != constants && !secondKept(*m), qPrintable(type));
            QVERIFY(put(*m, read + 1, constants) && second() && put(*m, 12, {}));
            m->reset();
            QCOMPARE(ask(*m, read), constants);
            QCOMPARE(secondKept(*m), temp);
            const auto other = make(type);
            QString error;
            QVERIFY(other->setEeprom(m->eeprom(), &error));
            QCOMPARE(ask(*other, read), constants);
            QCOMPARE(secondKept(*other), temp);
            QVERIFY(!other->setEeprom({{"tabel", QJsonArray()}}, &error));
            QVERIFY(!other->configure({{"colour", 1}}, &error) && error.contains("colour"));
        }
        const auto m = make("VX9TDM0");
        QString error;
        QVERIFY(!m->setEeprom({{"table", QJsonArray{QJsonArray{1, 2}}}}, &error));
        QVERIFY(error.contains("100"));
        QVERIFY(!m->configure({{"stage", QJsonObject{{"baseK", "cold"}}}}, &error));
    }

    void tempModelOneChannels()
    {
        const auto m = make("VX9TDM1");
        QVERIFY(put(*m, 20, Bytes().u8(2).f32(5e-6f)));
        QCOMPARE(ask(*m, 20, u8(255)),
                 Bytes().f32(1e-5f).f32(1e-5f).f32(5e-6f).f32(1e-5f).toByteArray());
        QVERIFY(put(*m, 20, Bytes().u8(255).f32(2e-6f)));
        QCOMPARE(ask(*m, 20, u8(3)), f32(2e-6f));
        QVERIFY(put(*m, 45, Bytes().u32(2))); // the mode travels in the low byte
        QCOMPARE(ask(*m, 44), Bytes().u32(2).toByteArray());
        // Channel 1 switched off measures nothing; the others go on.
        QVERIFY(
            put(*m, 47, Bytes().u8(1).f32(0.5f).u8(0).f32(1.5f).u8(1).f32(2.5f).u8(1).f32(3.5f)));
        QCOMPARE(ask(*m, 17, u8(1)) + ask(*m, 21, u8(1)), f32(0) + f32(0));
        QVERIFY(f32At(ask(*m, 17, u8(0)), 0) > 2.0f);
        m->reset(); // the settings, with the channel's measurement, return
        QVERIFY(f32At(ask(*m, 17, u8(1)), 0) > 2.0f);
        QString error; // the plates' temperatures are the rack's to set
        QVERIFY(m->configure({{"platesK", QJsonArray{3.0, 60.0}}}, &error));
        QVERIFY(std::abs(f32At(ask(*m, 17, u8(3)), 0) - 60.0f) < 0.1f);
    }

    // Relay 0 heats the cold stage and the sorption pump, relay 1 closes the heat switch.
    void tempModelOneRelaysHeatAndCoolTheStage()
    {
        const auto m = make("VX9TDM1");
        QString error;
        QVERIFY(m->configure({{"stage", QJsonObject{{"noiseK", 0.0}, {"driftK", 0.0}}}}, &error));
        const auto stage = [&] { return f32At(ask(*m, 17, u8(0)), 0); };
        QCOMPARE(ask(*m, 42), u8(0x02)); // at rest: switch closed, 2.2 K
        QVERIFY(std::abs(stage() - 2.2f) < 0.01f);
        // High nibble: the relays to change, low nibble: their states. Relay 0 heats stage
        // and pump; the switch closed again, the stage cools back.
        QVERIFY(put(*m, 43, u8(0x31)) && ask(*m, 42) == u8(0x01));
        env->advance(300'000);
        QVERIFY(stage() > 30.0f && f32At(ask(*m, 17, u8(1)), 0) > 40.0f);
        QVERIFY(put(*m, 43, u8(0x32)) && ask(*m, 42) == u8(0x02));
        env->advance(900'000);
        QVERIFY(stage() > 2.19f && stage() < 2.21f);
        QVERIFY(put(*m, 43, u8(0x01)) && ask(*m, 42) == u8(0x02)); // no relay named: none changes
        QVERIFY(silent(*m, 43));
    }

    // The detector model on its own: counts against bias and trigger level.
    void physicsCountsAgainstBiasAndTrigger()
    {
        const auto physics = operatingPhysics();
        physics->setBias(2 * uA);
        QVERIFY(physics->countRate() < 1.0);
        physics->setBias(22 * uA); // on the plateau: about 0.8 x 1e4 photons per second
        QVERIFY(physics->countRate() > 6000 && physics->countRate() < 10000);
        // Pulses of about 0.4 V at 20 uA: a plateau between the noise and the pulse heights.
        physics->setBias(20 * uA);
        QList<double> rates;
        for (double level : {1 * mV, 20 * mV, 50 * mV, 200 * mV, 800 * mV}) {
            physics->setTrigger(level);
            rates << physics->countRate();
        }
        QVERIFY(rates[0] > 1e6 && rates[0] > 100 * rates[1] && rates[4] < 1e-3);
        QVERIFY(std::abs(rates[3] - rates[1]) < 0.1 * rates[1]);
    }

    // Up and down in 1 uA steps: it switches at 25 uA and recovers below 5 uA, either sign.
    void physicsLatchesAndRetraps()
    {
        const auto physics = operatingPhysics();
        double switchedAt = 0, recoveredAt = 0;
        for (int step = -30; step <= 30; ++step) {
            const int up = step < 0 ? step + 30 : 30 - step;
            physics->setBias((up + 0.5) * uA);
            if (step < 0 && switchedAt == 0 && physics->voltage() > 0.1)
                switchedAt = up + 0.5;
            if (step >= 0 && recoveredAt == 0 && physics->voltage() < 0.1)
                recoveredAt = up + 0.5;
            QCOMPARE(physics->latched(), physics->voltage() > 0.1);
            QVERIFY(physics->latched() ? physics->countRate() == 0 : physics->voltage() < 5 * mV);
        }
        QVERIFY(switchedAt == 25.5 && recoveredAt == 4.5);
        physics->setBias(-26 * uA);
        physics->setBias(-20 * uA);
        QVERIFY(physics->latched() && physics->voltage() < -0.1);
        physics->setBias(-3 * uA);
        QVERIFY(!physics->latched() && physics->voltage() < 0 && physics->voltage() > -1 * mV);
        physics->setBias(30 * uA);
        physics->setChain({true, true, true, true, false}); // shorting retraps as well
        QVERIFY(!physics->latched() && physics->voltage() == 0 && physics->countRate() == 0);
    }

    // The counter reports the Poisson draw of the last completed gate window.
    void physicsCountsWholeWindows()
    {
        const auto physics = operatingPhysics();
        physics->setBias(20 * uA);
        env->advance(1050); // mid-window
        const double before = physics->counts();
        const double rateBefore = physics->countRate();
        QVERIFY(std::abs(before - rateBefore * 0.1) < 6 * std::sqrt(rateBefore * 0.1));
        physics->setBias(10 * uA);
        const double rateAfter = physics->countRate();
        env->advance(49);
        QCOMPARE(physics->counts(), before); // nothing completed yet
        env->advance(1);                     // the mixed window completes
        QVERIFY(physics->counts() < before && physics->counts() > rateAfter * 0.1);
        physics->setTimeConstant(1.0); // a new time constant starts a fresh window
        env->advance(999);
        QCOMPARE(physics->counts(), 0.0);
        env->advance(1);
        QVERIFY(std::abs(physics->counts() - rateAfter) < 6 * std::sqrt(rateAfter));
        QCOMPARE(physics->counts(), std::floor(physics->counts())); // whole counts
    }

    void physicsAutoResetReleasesALatchedChannel()
    {
        const auto physics = operatingPhysics();
        physics->setBias(30 * uA);
        physics->setBias(10 * uA);             // latched, about 0.6 V
        physics->setAutoReset(true, 1.0, 0.3); // threshold above the latched voltage
        env->advance(1000);
        QVERIFY(physics->latched());
        physics->setAutoReset(true, 0.2, 0.3);
        env->advance(299);
        QCOMPARE(physics->autoResetCount(), 0u);
        env->advance(1);
        QVERIFY(!physics->latched() && physics->autoResetCount() == 1);
        // Above the switch it resets again and again.
        physics->setBias(30 * uA);
        env->advance(2000);
        QVERIFY(physics->latched() && physics->autoResetCount() == 7);
    }
};

QTEST_GUILESS_MAIN(TestSimModules)
#include "tst_simmodules.moc"
