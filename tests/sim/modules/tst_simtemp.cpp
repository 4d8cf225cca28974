// The temperature modules of the simulator, packet by packet: answer lengths, writes read
// back, chunked tables both ways, sensor voltage and pressure against the module's own
// table and coefficients, and a model-1 cold stage heated and cooled by its relays.
#include "bytes.h"
#include "core/simenvironment.h"
#include "modules/simtempm0.h"
#include "modules/simtempm1.h"

#include <QJsonArray>
#include <QTest>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

float floatAt(const QByteArray& bytes, int offset)
{
    float v = 0;
    if (offset + 4 <= bytes.size())
        std::memcpy(&v, bytes.constData() + offset, 4);
    return v;
}

struct Entry
{
    float voltage;
    float kelvin;
};

QByteArray entryBytes(const QList<Entry>& entries)
{
    Bytes b;
    for (const Entry& e : entries)
        b.f32(e.voltage).f32(e.kelvin);
    return b;
}

QList<Entry> entriesOf(const QByteArray& bytes)
{
    QList<Entry> entries;
    for (int i = 0; i + 8 <= bytes.size(); i += 8)
        entries.append({floatAt(bytes, i), floatAt(bytes, i + 4)});
    return entries;
}

// Linear interpolation of the voltage at a temperature, as the sensor curve reads.
double voltageAt(QList<Entry> table, double kelvin)
{
    std::sort(table.begin(), table.end(),
              [](const Entry& a, const Entry& b) { return a.kelvin < b.kelvin; });
    if (kelvin <= table.first().kelvin)
        return table.first().voltage;
    for (int i = 1; i < table.size(); ++i)
        if (kelvin <= table[i].kelvin) {
            const double f =
                (kelvin - table[i - 1].kelvin) / (table[i].kelvin - table[i - 1].kelvin);
            return table[i - 1].voltage + f * (table[i].voltage - table[i - 1].voltage);
        }
    return table.last().voltage;
}

SimModule::Identity identity(const char* type)
{
    return {type, "M", "1.0", "2.3", "temperature", cUDID()};
}

} // namespace

class TestSimTemp : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimTempM0> m0;
    std::unique_ptr<SimTempM1> m1;

    // The only answer to a packet, which must carry the request's code.
    QByteArray ask(SimModule* module, quint8 code, const QByteArray& data = {})
    {
        const QList<SimModule::Answer> answers = module->handlePacket(code, data);
        if (answers.size() != 1 || answers.first().command != code)
            return QByteArray("no single answer");
        return answers.first().data;
    }
    bool silent(SimModule* module, quint8 code, const QByteArray& data)
    {
        return module->handlePacket(code, data).isEmpty();
    }
    bool acknowledged(SimModule* module, quint8 code, const QByteArray& data)
    {
        const QList<SimModule::Answer> answers = module->handlePacket(code, data);
        return answers.size() == 1 && answers.first().command == code &&
               answers.first().data.isEmpty();
    }
    QList<Entry> readTableM0()
    {
        QList<Entry> table;
        for (int start = 0; start < 100; start += 10)
            table += entriesOf(ask(m0.get(), 40, Bytes().u8(start).u8(10)));
        return table;
    }
    QList<Entry> readTableM1(int ch)
    {
        QList<Entry> table;
        for (int start = 0; start < 100; start += 10)
            table += entriesOf(ask(m1.get(), 40, Bytes().u8(ch).u8(start).u8(10)));
        return table;
    }
    float m1Temperature(int ch) { return floatAt(ask(m1.get(), 17, Bytes().u8(ch)), 0); }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(7);
        env->useManualClock(0);
        m0 = std::make_unique<SimTempM0>(3, identity("VX9TDM0"), env.get());
        m1 = std::make_unique<SimTempM1>(4, identity("VX9TDM1"), env.get());
    }
    void cleanup()
    {
        m0.reset();
        m1.reset();
        env.reset();
    }

    void model0AnswersEveryStructureWithItsLength_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("length");
        QTest::newRow("type") << 6 << QByteArray() << 24;
        QTest::newRow("udid") << 5 << QByteArray() << 12;
        QTest::newRow("data") << 16 << QByteArray() << 28;
        for (int code : {17, 18, 19, 21, 22, 23})
            QTest::addRow("float %d", code) << code << QByteArray() << 4;
        QTest::newRow("commutator") << 24 << QByteArray() << 1;
        QTest::newRow("eeprom") << 26 << QByteArray() << 48;
        for (int code = 28; code <= 38; code += 2)
            QTest::addRow("pair %d", code) << code << QByteArray() << 8;
        QTest::newRow("table chunk") << 40 << Bytes().u8(90).u8(10).toByteArray() << 80;
        QTest::newRow("short chunk") << 40 << Bytes().u8(0).u8(3).toByteArray() << 24;
    }
    void model0AnswersEveryStructureWithItsLength()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, request);
        QFETCH(int, length);
        QCOMPARE(ask(m0.get(), quint8(code), request).size(), length);
    }

    void model0WritesChangeReads()
    {
        QVERIFY(acknowledged(m0.get(), 20, Bytes().f32(2.5e-5f)));
        QCOMPARE(floatAt(ask(m0.get(), 19), 0), 2.5e-5f);
        QCOMPARE(floatAt(ask(m0.get(), 16), 8), 2.5e-5f);

        // Commutator off: no excitation, nothing measured.
        QCOMPARE(ask(m0.get(), 24), QByteArray(1, '\1'));
        QVERIFY(acknowledged(m0.get(), 25, Bytes().u8(0)));
        QCOMPARE(ask(m0.get(), 24), QByteArray(1, '\0'));
        QByteArray data = ask(m0.get(), 16);
        QCOMPARE(data.at(24), '\0');
        QCOMPARE(floatAt(data, 0), 0.0f);
        QCOMPARE(floatAt(data, 12), 0.0f);
        QVERIFY(acknowledged(m0.get(), 25, Bytes().u8(7)));
        data = ask(m0.get(), 16);
        QCOMPARE(data.at(24), '\1');
        QVERIFY(floatAt(data, 0) > 2.0f);

        // The whole EEPROM set, then one pair of it.
        Bytes constants;
        for (int i = 0; i < 12; ++i)
            constants.f32(0.5f + i);
        QVERIFY(acknowledged(m0.get(), 27, constants));
        QCOMPARE(ask(m0.get(), 26), constants.toByteArray());
        QCOMPARE(ask(m0.get(), 32), Bytes().f32(4.5f).f32(5.5f).toByteArray());
        QVERIFY(acknowledged(m0.get(), 31, Bytes().f32(-3.0f).f32(0.25f)));
        QCOMPARE(ask(m0.get(), 30), Bytes().f32(-3.0f).f32(0.25f).toByteArray());
        QCOMPARE(ask(m0.get(), 26).mid(8, 8), Bytes().f32(-3.0f).f32(0.25f).toByteArray());

        // Wrong lengths and values are dropped without an acknowledgement.
        QVERIFY(silent(m0.get(), 27, constants.toByteArray().left(47)));
        QVERIFY(silent(m0.get(), 20, Bytes().f32(NAN)));
        QVERIFY(silent(m0.get(), 25, QByteArray()));
        QVERIFY(silent(m0.get(), 99, QByteArray()));
        QCOMPARE(floatAt(ask(m0.get(), 19), 0), 2.5e-5f);
    }

    void model0TableChunksBothWays()
    {
        QList<Entry> written;
        for (int i = 0; i < 100; ++i)
            written.append({2.0f - 0.015f * i, 1.5f + 3.0f * i});
        for (int start = 0; start < 100; start += 10)
            QVERIFY(acknowledged(
                m0.get(), 41, Bytes().u8(start).u8(10).bytes(entryBytes(written.mid(start, 10)))));
        const QList<Entry> read = readTableM0();
        QCOMPARE(read.size(), 100);
        for (int i = 0; i < 100; ++i) {
            QCOMPARE(read[i].voltage, written[i].voltage);
            QCOMPARE(read[i].kelvin, written[i].kelvin);
        }
        // Chunks beyond the table or with a count that disagrees with the entries are dropped.
        QVERIFY(silent(m0.get(), 40, Bytes().u8(95).u8(10)));
        QVERIFY(silent(m0.get(), 41, Bytes().u8(95).u8(10).bytes(entryBytes(written.mid(0, 10)))));
        QVERIFY(silent(m0.get(), 41, Bytes().u8(0).u8(10).bytes(entryBytes(written.mid(0, 9)))));
        QVERIFY(silent(m0.get(), 40, Bytes().u8(0)));
    }

    void model0SensorVoltageFollowsTheTable()
    {
        QList<Entry> table = readTableM0();
        for (int i = 0; i < 20; ++i) {
            env->advance(37'000);
            const QByteArray data = ask(m0.get(), 16);
            const float kelvin = floatAt(data, 0);
            QVERIFY2(std::abs(kelvin - 2.2) < 0.05, qPrintable(QString::number(kelvin)));
            QVERIFY(std::abs(floatAt(data, 12) - voltageAt(table, kelvin)) < 1e-5);
        }
        // A new table (here a straight line) is what the voltage follows from then on.
        QList<Entry> line;
        for (int i = 0; i < 100; ++i)
            line.append({0.1f * (1 + i), float(1 + i)});
        for (int start = 0; start < 100; start += 10)
            QVERIFY(acknowledged(m0.get(), 41,
                                 Bytes().u8(start).u8(10).bytes(entryBytes(line.mid(start, 10)))));
        const QByteArray data = ask(m0.get(), 16);
        QVERIFY(std::abs(floatAt(data, 12) - 0.1 * floatAt(data, 0)) < 1e-5);
    }

    void model0DriftsSlowlyWithNoise()
    {
        QList<float> readings;
        for (int i = 0; i < 200; ++i) {
            env->advance(60'000);
            readings.append(floatAt(ask(m0.get(), 17), 0));
        }
        const auto [low, high] = std::minmax_element(readings.begin(), readings.end());
        QVERIFY(*low > 2.17f && *high < 2.23f);
        QVERIFY(*high - *low > 0.002f); // drift and noise, not a constant
    }

    void model0PressureFromItsVoltagesAndCoefficients()
    {
        QByteArray coeffs = ask(m0.get(), 38);
        for (int round = 0; round < 2; ++round) {
            const QByteArray data = ask(m0.get(), 16);
            const double expected =
                floatAt(coeffs, 0) * (double(floatAt(data, 16)) - floatAt(data, 20)) +
                floatAt(coeffs, 4);
            QVERIFY2(std::abs(floatAt(data, 4) - expected) < 1e-3 * std::abs(expected) + 1e-3,
                     qPrintable(QString("%1 vs %2").arg(floatAt(data, 4)).arg(expected)));
            if (round == 0) {
                // Helium boiling at about 2.2 K.
                QVERIFY(floatAt(data, 4) > 40 && floatAt(data, 4) < 70);
                QVERIFY(acknowledged(m0.get(), 39, Bytes().f32(1000.0f).f32(5.0f)));
                coeffs = ask(m0.get(), 38);
                QCOMPARE(coeffs, Bytes().f32(1000.0f).f32(5.0f).toByteArray());
            } else {
                QVERIFY(floatAt(data, 4) > 85); // same voltages, new coefficients
            }
        }

        QString error;
        QVERIFY(
            m0->configure(QJsonObject{{"pressureMbar", 3.0}, {"pressureNoiseMbar", 0.0}}, &error));
        QVERIFY(acknowledged(m0.get(), 39, Bytes().f32(500.0f).f32(0.0f)));
        QVERIFY(std::abs(floatAt(ask(m0.get(), 18), 0) - 3.0f) < 1e-3);
    }

    void model0EepromIsStoredByCommand12AndSurvivesReset()
    {
        const QJsonObject before = m0->eeprom();
        QVERIFY(acknowledged(m0.get(), 29, Bytes().f32(2.0f).f32(-1.0f)));
        QVERIFY(acknowledged(m0.get(), 41, Bytes().u8(0).u8(1).f32(9.0f).f32(8.0f)));
        QCOMPARE(m0->eeprom(), before); // not burnt yet
        m0->reset();
        QCOMPARE(ask(m0.get(), 28), Bytes().f32(1.0f).f32(0.0f).toByteArray());

        QVERIFY(acknowledged(m0.get(), 29, Bytes().f32(2.0f).f32(-1.0f)));
        QVERIFY(acknowledged(m0.get(), 41, Bytes().u8(0).u8(1).f32(9.0f).f32(8.0f)));
        QVERIFY(acknowledged(m0.get(), 12, {}));
        const QJsonObject stored = m0->eeprom();
        QCOMPARE(stored["constants"]["tempSensorCurrentAdc"]["first"].toDouble(), 2.0);
        QCOMPARE(stored["table"][0][0].toDouble(), 9.0);
        m0->reset();
        QCOMPARE(ask(m0.get(), 28), Bytes().f32(2.0f).f32(-1.0f).toByteArray());

        // Another module takes the stored EEPROM as it is.
        SimTempM0 other(5, identity("VX9TDM0"), env.get());
        QString error;
        QVERIFY(other.setEeprom(stored, &error));
        QCOMPARE(ask(&other, 26), ask(m0.get(), 26));
        QCOMPARE(ask(&other, 40, Bytes().u8(0).u8(10)), ask(m0.get(), 40, Bytes().u8(0).u8(10)));
        QVERIFY(other.setEeprom(
            {{"constants",
              QJsonObject{{"pressSensorCoeffs", QJsonObject{{"first", 7.0}, {"second", 1.0}}}}}},
            &error));
        QCOMPARE(ask(&other, 38), Bytes().f32(7.0f).f32(1.0f).toByteArray());
        QCOMPARE(ask(&other, 28), Bytes().f32(2.0f).f32(-1.0f).toByteArray()); // kept

        QVERIFY(!other.setEeprom({{"table", QJsonArray{QJsonArray{1, 2}}}}, &error));
        QVERIFY(error.contains("100"));
        QVERIFY(!other.setEeprom({{"tabel", QJsonArray()}}, &error));
        QVERIFY(!other.configure({{"stage", QJsonObject{{"baseK", "cold"}}}}, &error));
        QVERIFY(!other.configure({{"colour", 1}}, &error));
        QVERIFY(error.contains("colour"));
    }

    void model1AnswersEveryStructureWithItsLength()
    {
        for (quint8 code : {17, 21, 20}) {
            QCOMPARE(ask(m1.get(), code, Bytes().u8(2)).size(), 4);
            QCOMPARE(ask(m1.get(), code, Bytes().u8(255)).size(), 16);
            QVERIFY(silent(m1.get(), code, Bytes().u8(4)));
        }
        QCOMPARE(ask(m1.get(), 26).size(), 64);
        QCOMPARE(ask(m1.get(), 40, Bytes().u8(3).u8(90).u8(10)).size(), 80);
        QCOMPARE(ask(m1.get(), 42).size(), 1);
        QCOMPARE(ask(m1.get(), 44).size(), 4);
        QCOMPARE(ask(m1.get(), 46).size(), 20);
        QCOMPARE(ask(m1.get(), 6).left(7), QByteArray("VX9TDM1"));
        QVERIFY(silent(m1.get(), 40, Bytes().u8(4).u8(0).u8(10)));
        QVERIFY(silent(m1.get(), 16, {}));
    }

    void model1WritesChangeReads()
    {
        QVERIFY(acknowledged(m1.get(), 20, Bytes().u8(2).f32(5e-6f)));
        QCOMPARE(ask(m1.get(), 20, Bytes().u8(255)),
                 Bytes().f32(1e-5f).f32(1e-5f).f32(5e-6f).f32(1e-5f).toByteArray());
        QVERIFY(acknowledged(m1.get(), 20, Bytes().u8(255).f32(2e-6f)));
        QCOMPARE(floatAt(ask(m1.get(), 20, Bytes().u8(2)), 0), 2e-6f);
        QVERIFY(silent(m1.get(), 20, Bytes().u8(7).f32(1e-6f)));

        Bytes calibration;
        for (int i = 0; i < 16; ++i)
            calibration.f32(i * 0.5f);
        QVERIFY(acknowledged(m1.get(), 27, calibration));
        QCOMPARE(ask(m1.get(), 26), calibration.toByteArray());

        QVERIFY(acknowledged(m1.get(), 45, Bytes().u8(3)));
        QCOMPARE(ask(m1.get(), 44), Bytes().u32(3).toByteArray());

        const QByteArray settings =
            Bytes().u8(1).f32(0.5f).u8(0).f32(1.5f).u8(1).f32(2.5f).u8(1).f32(3.5f);
        QVERIFY(acknowledged(m1.get(), 47, settings));
        QCOMPARE(ask(m1.get(), 46), settings);
        // Channel 1 switched off measures nothing; the others go on.
        QCOMPARE(m1Temperature(1), 0.0f);
        QCOMPARE(floatAt(ask(m1.get(), 21, Bytes().u8(1)), 0), 0.0f);
        QVERIFY(m1Temperature(0) > 2.0f);
        QVERIFY(silent(m1.get(), 47, settings.left(19)));

        m1->reset();
        QCOMPARE(ask(m1.get(), 44), Bytes().u32(0).toByteArray());
        QVERIFY(m1Temperature(1) > 2.0f);
    }

    void model1TablesPerChannelBothWays()
    {
        QList<Entry> written;
        for (int i = 0; i < 100; ++i)
            written.append({1.0f + 0.01f * i, 300.0f - 2.5f * i});
        for (int start = 0; start < 100; start += 10)
            QVERIFY(acknowledged(
                m1.get(), 41,
                Bytes().u8(2).u8(start).u8(10).bytes(entryBytes(written.mid(start, 10)))));
        const QList<Entry> read = readTableM1(2);
        QCOMPARE(read.size(), 100);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(read[i].voltage, written[i].voltage);
        QVERIFY(readTableM1(1)[0].voltage != written[0].voltage); // other channels untouched

        // Each channel's voltage follows its own table.
        for (int ch = 0; ch < 4; ++ch) {
            const float kelvin = m1Temperature(ch);
            const float volts = floatAt(ask(m1.get(), 21, Bytes().u8(ch)), 0);
            // Voltage and temperature come from separate readings, a noise apart.
            QVERIFY2(std::abs(volts - voltageAt(readTableM1(ch), kelvin)) < 2e-3,
                     qPrintable(QString("channel %1").arg(ch)));
        }
    }

    void model1RelaysHeatAndCoolTheStage()
    {
        QString error;
        QVERIFY(m1->configure({{"stage", QJsonObject{{"noiseK", 0.0}, {"driftK", 0.0}}}}, &error));
        QCOMPARE(ask(m1.get(), 42), QByteArray(1, '\x02')); // at rest: switch closed
        QVERIFY(std::abs(m1Temperature(0) - 2.2f) < 0.01f);

        // Heater on, switch open: mask 3, states 01.
        QVERIFY(acknowledged(m1.get(), 43, Bytes().u8(0x31)));
        QCOMPARE(ask(m1.get(), 42), QByteArray(1, '\x01'));
        float last = m1Temperature(0);
        for (int i = 0; i < 10; ++i) {
            env->advance(30'000);
            const float now = m1Temperature(0);
            QVERIFY(now > last);
            last = now;
        }
        QVERIFY2(last > 30.0f, qPrintable(QString::number(last)));
        QVERIFY(m1Temperature(1) > 40.0f); // the sorption pump as well

        // Heater off, switch still open: thermalises toward its plate.
        QVERIFY(acknowledged(m1.get(), 43, Bytes().u8(0x10)));
        QCOMPARE(ask(m1.get(), 42), QByteArray(1, '\x00'));
        env->advance(600'000);
        last = m1Temperature(0);
        QVERIFY(last > 3.5f && last < 5.0f);

        // Switch closed: cools down to the base temperature.
        QVERIFY(acknowledged(m1.get(), 43, Bytes().u8(0x22)));
        QCOMPARE(ask(m1.get(), 42), QByteArray(1, '\x02'));
        env->advance(30'000);
        QVERIFY(m1Temperature(0) < last);
        env->advance(300'000);
        QVERIFY(std::abs(m1Temperature(0) - 2.2f) < 0.01f);

        // Only masked relays change.
        QVERIFY(acknowledged(m1.get(), 43, Bytes().u8(0x01)));
        QCOMPARE(ask(m1.get(), 42), QByteArray(1, '\x02'));
        QVERIFY(acknowledged(m1.get(), 43, Bytes().u8(0x13)));
        QCOMPARE(ask(m1.get(), 42), QByteArray(1, '\x03'));
        QVERIFY(silent(m1.get(), 43, QByteArray()));
    }

    void model1EepromAndConfiguration()
    {
        Bytes calibration;
        for (int i = 0; i < 16; ++i)
            calibration.f32(i + 0.25f);
        QVERIFY(acknowledged(m1.get(), 27, calibration));
        QVERIFY(acknowledged(m1.get(), 41, Bytes().u8(3).u8(99).u8(1).f32(0.5f).f32(330.0f)));
        QVERIFY(acknowledged(m1.get(), 12, {}));
        const QJsonObject stored = m1->eeprom();
        QCOMPARE(stored["calibration"][3]["d"].toDouble(), 15.25);
        QCOMPARE(stored["tables"][3][99][1].toDouble(), 330.0);

        SimTempM1 other(6, identity("VX9TDM1"), env.get());
        QString error;
        QVERIFY(other.setEeprom(stored, &error));
        QCOMPARE(ask(&other, 26), calibration.toByteArray());
        QCOMPARE(ask(&other, 40, Bytes().u8(3).u8(99).u8(1)),
                 Bytes().f32(0.5f).f32(330.0f).toByteArray());
        QVERIFY(!other.setEeprom({{"tables", QJsonArray{}}}, &error));
        QVERIFY(!other.configure({{"platesK", QJsonArray{4.2}}}, &error));
        QVERIFY(!other.configure({{"pump", QJsonObject{{"tauClosedS", 500.0}}}}, &error));
        QVERIFY(!other.configure({{"relays", 1}}, &error));
        QVERIFY(other.configure({{"platesK", QJsonArray{3.0, 60.0}}}, &error));
        QVERIFY(std::abs(floatAt(ask(&other, 17, Bytes().u8(3)), 0) - 60.0f) < 0.1f);
    }
};

QTEST_GUILESS_MAIN(TestSimTemp)
#include "tst_simtemp.moc"
