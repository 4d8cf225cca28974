// The simulated model-0 SSPD module through its packets: every structure answered with its
// length, writes acknowledged and echoed, switches as status bits, the calibrations, the
// detector physics as the application's sweeps see it, the rack and EEPROM JSON, and the
// real driver talking to the module over TCP.
#include "bytes.h"
#include "core/simenvironment.h"
#include "drivers/sspddriverm0.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"
#include "modules/simsspdm0.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <cstring>
#include <memory>

namespace {
constexpr quint8 Address = 3;
constexpr double uA = 1e-6;
constexpr double mV = 1e-3;

// Codes of the module, from its table.
enum : quint8 {
    Data = 16,
    Current = 17,
    SetCurrent = 18,
    Voltage = 19,
    Counts = 20,
    Status = 21,
    SetStatus = 22,
    Short = 23,
    RfKey = 25,
    AutoReset = 28,
    Params = 29,
    SetParams = 30,
    SetCmpRefLevel = 32,
    SetTimeConst = 34,
    SetAutoResetThreshold = 36,
    SetAutoResetTimeOut = 38,
    AutoResetCounts = 39,
    Eeprom = 41,
    CurrentAdc = 43,
    SetCurrentAdc = 44,
    CurrentDac = 47,
    SetCurrentDac = 48,
};

quint32 u32At(const QByteArray& bytes, int offset)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value |= quint32(quint8(bytes.at(offset + i))) << (8 * i);
    return value;
}

float f32At(const QByteArray& bytes, int offset)
{
    const quint32 bits = u32At(bytes, offset);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

QByteArray f32(float value)
{
    return Bytes().f32(value);
}
} // namespace

class TestSimSspdM0 : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimSspdM0> module;

    // The data of the single answer to a read with its own code; null when the module
    // answered anything else.
    QByteArray ask(quint8 code)
    {
        const auto answers = module->handlePacket(code, {});
        if (answers.size() != 1 || answers.first().command != code)
            return {};
        return answers.first().data;
    }
    // True when the write is acknowledged with its code and no data.
    bool put(quint8 code, const QByteArray& data)
    {
        const auto answers = module->handlePacket(code, data);
        return answers.size() == 1 && answers.first().command == code &&
               answers.first().data.isEmpty();
    }
    bool setCurrent(double amperes) { return put(SetCurrent, f32(float(amperes))); }
    float current() { return f32At(ask(Current), 0); }
    float voltage() { return f32At(ask(Voltage), 0); }
    quint8 status() { return quint8(ask(Status).at(0)); }
    // Counts of the first full gate window from now (time constant 0.1 s).
    float windowCounts()
    {
        env->advance(200);
        return f32At(ask(Counts), 0);
    }
    // The application's switch-on: short, chain up, then the short removed 200 ms later.
    void operate()
    {
        QVERIFY(put(SetStatus, Bytes().u8(quint8((status() & 0xC3) | 0x02 | 0x3C))));
        env->advance(200);
        QVERIFY(put(Short, Bytes().u8(0)));
        QCOMPARE(status() & 0x3E, 0x3C);
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(5);
        env->useManualClock(1000);
        SimModule::Identity identity{"VX9SDM0", "M0", "1.0", "2.3", "SSPD driver", cUDID()};
        module = std::make_unique<SimSspdM0>(Address, identity, env.get());
    }

    void readsAnswerWithTheirStructureLength_data()
    {
        QTest::addColumn<quint8>("code");
        QTest::addColumn<int>("length");
        const QList<QPair<int, int>> table = {
            {16, 16}, {17, 4}, {19, 4},  {20, 4}, {21, 1}, {29, 20}, {31, 4}, {33, 4}, {35, 4},
            {37, 4},  {39, 4}, {41, 32}, {43, 8}, {45, 8}, {47, 8},  {49, 8}, {51, 1},
        };
        for (const auto& [code, length] : table)
            QTest::addRow("%d", code) << quint8(code) << length;
    }
    void readsAnswerWithTheirStructureLength()
    {
        QFETCH(quint8, code);
        QFETCH(int, length);
        const QByteArray data = ask(code);
        QVERIFY(!data.isNull());
        QCOMPARE(data.size(), length);
    }

    void powerOnState()
    {
        QCOMPARE(status(), quint8(0x03)); // initialised and shorted, chain off
        const QByteArray params = ask(Params);
        QCOMPARE(f32At(params, 4), 0.1f);
        QCOMPARE(u32At(params, 16), 0u);
        const QByteArray eeprom = ask(Eeprom);
        for (int pair = 0; pair < 4; ++pair) {
            QCOMPARE(f32At(eeprom, 8 * pair), 1.0f);
            QCOMPARE(f32At(eeprom, 8 * pair + 4), 0.0f);
        }
        QVERIFY(std::abs(current()) < 10e-9);
    }

    void writesAreAcknowledgedAndEchoed_data()
    {
        QTest::addColumn<quint8>("write");
        QTest::addColumn<quint8>("read");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<quint8>("composite"); // read code of the structure that holds it
        QTest::addColumn<int>("offset");
        QTest::newRow("status") << quint8(22) << quint8(21) << Bytes().u8(0x95).toByteArray()
                                << quint8(16) << 12;
        QTest::newRow("params")
            << quint8(30) << quint8(29)
            << Bytes().f32(0.12f).f32(0.25f).f32(0.3f).f32(2.0f).u32(17).toByteArray() << quint8(29)
            << 0;
        QTest::newRow("cmpRefLevel") << quint8(32) << quint8(31) << f32(0.07f) << quint8(29) << 0;
        QTest::newRow("timeConst") << quint8(34) << quint8(33) << f32(0.5f) << quint8(29) << 4;
        QTest::newRow("autoResetThreshold")
            << quint8(36) << quint8(35) << f32(0.33f) << quint8(29) << 8;
        QTest::newRow("autoResetTimeOut")
            << quint8(38) << quint8(37) << f32(1.5f) << quint8(29) << 12;
        QTest::newRow("autoResetCounts")
            << quint8(40) << quint8(39) << Bytes().u32(42).toByteArray() << quint8(29) << 16;
        QTest::newRow("eepromConst") << quint8(42) << quint8(41)
                                     << Bytes()
                                            .f32(1.1f)
                                            .f32(0.1f)
                                            .f32(1.2f)
                                            .f32(0.2f)
                                            .f32(1.3f)
                                            .f32(0.3f)
                                            .f32(1.4f)
                                            .f32(0.4f)
                                            .toByteArray()
                                     << quint8(41) << 0;
        QTest::newRow("currentAdc")
            << quint8(44) << quint8(43) << Bytes().f32(1.5f).f32(-0.5f).toByteArray() << quint8(41)
            << 0;
        QTest::newRow("voltageAdc")
            << quint8(46) << quint8(45) << Bytes().f32(1.6f).f32(-0.6f).toByteArray() << quint8(41)
            << 8;
        QTest::newRow("currentDac")
            << quint8(48) << quint8(47) << Bytes().f32(1.7f).f32(-0.7f).toByteArray() << quint8(41)
            << 16;
        QTest::newRow("cmpRefDac")
            << quint8(50) << quint8(49) << Bytes().f32(1.8f).f32(-0.8f).toByteArray() << quint8(41)
            << 24;
        QTest::newRow("auxFlag") << quint8(52) << quint8(51) << Bytes().u8(1).toByteArray()
                                 << quint8(51) << 0;
    }
    void writesAreAcknowledgedAndEchoed()
    {
        QFETCH(quint8, write);
        QFETCH(quint8, read);
        QFETCH(QByteArray, value);
        QFETCH(quint8, composite);
        QFETCH(int, offset);
        QVERIFY(ask(read) != value);
        QVERIFY(put(write, value));
        QCOMPARE(ask(read), value);
        QCOMPARE(ask(composite).mid(offset, value.size()), value);
    }

    void switchesSetAndClearTheirStatusBit_data()
    {
        QTest::addColumn<quint8>("code");
        QTest::addColumn<int>("bit");
        for (int code = 23; code <= 28; ++code)
            QTest::addRow("%d", code) << quint8(code) << code - 22;
    }
    void switchesSetAndClearTheirStatusBit()
    {
        QFETCH(quint8, code);
        QFETCH(int, bit);
        QVERIFY(put(SetStatus, Bytes().u8(0x81)));
        QVERIFY(put(code, Bytes().u8(1)));
        QCOMPARE(status(), quint8(0x81 | (1 << bit)));
        QCOMPARE(quint8(ask(Data).at(12)), quint8(0x81 | (1 << bit)));
        QVERIFY(put(SetStatus, Bytes().u8(0xFF)));
        QVERIFY(put(code, Bytes().u8(0)));
        QCOMPARE(status(), quint8(0xFF & ~(1 << bit)));
    }

    void malformedAndUnknownPacketsGetNoAnswer()
    {
        QVERIFY(setCurrent(10 * uA));
        QVERIFY(module->handlePacket(SetCurrent, QByteArray(3, '\0')).isEmpty());
        QVERIFY(std::abs(current() - 10 * uA) < 20e-9);
        QVERIFY(module->handlePacket(SetStatus, {}).isEmpty());
        QVERIFY(module->handlePacket(SetParams, QByteArray(19, '\0')).isEmpty());
        QCOMPARE(status(), quint8(0x03));
        QVERIFY(module->handlePacket(56, Bytes().u8(1)).isEmpty()); // model 1's HF switch
        QVERIFY(module->handlePacket(53, {}).isEmpty());
        QVERIFY(module->handlePacket(200, {}).isEmpty());
    }

    void biasAndReadingsGoThroughTheCalibrations()
    {
        QVERIFY(setCurrent(10 * uA));
        QVERIFY(std::abs(current() - 10 * uA) < 20e-9);
        QVERIFY(put(Short, Bytes().u8(0)));
        QVERIFY(std::abs(voltage() - 10 * uA * 50) < 0.2 * mV); // superconducting: millivolts

        // A DAC constant 1.5 times too large drives 15 uA for the 10 written.
        QVERIFY(put(SetCurrentDac, Bytes().f32(1.5f).f32(0.0f)));
        QVERIFY(std::abs(current() - 15 * uA) < 20e-9);
        // The ADC constant scales what is reported, not what flows.
        QVERIFY(put(SetCurrentAdc, Bytes().f32(2.0f).f32(1e-6f)));
        QVERIFY(std::abs(current() - 31 * uA) < 60e-9);
        QVERIFY(std::abs(voltage() - 15 * uA * 50) < 0.2 * mV);
        // With the DAC constant tripled, 30 uA flow: above the 25 uA switch.
        QVERIFY(put(SetCurrentDac, Bytes().f32(3.0f).f32(0.0f)));
        QVERIFY(voltage() > 0.1);
    }

    void countsRiseWithBiasThenTheDetectorLatches()
    {
        operate();
        QList<float> counts;
        for (double bias = 6 * uA; bias < 25 * uA; bias += 3 * uA) {
            QVERIFY(setCurrent(bias));
            counts << windowCounts();
            QVERIFY(std::abs(voltage()) < 5 * mV);
        }
        for (int i = 1; i < counts.size(); ++i)
            QVERIFY2(counts.at(i) > 0.9 * counts.at(i - 1), qPrintable(QString::number(i)));
        QVERIFY(counts.first() < 10);
        QVERIFY(counts.last() > 500);

        // Above the switch: resistive, no counts (the sweep's stop trigger is 0.1 V).
        QVERIFY(setCurrent(26 * uA));
        QVERIFY(voltage() > 0.1);
        QCOMPARE(windowCounts(), 0.0f);
        // Hysteresis: back well below the switch it stays latched.
        QVERIFY(setCurrent(10 * uA));
        QVERIFY(voltage() > 0.1);
        QCOMPARE(windowCounts(), 0.0f);
        // Below the retrapping current it recovers and counts again where it did before.
        QVERIFY(setCurrent(3 * uA));
        QVERIFY(std::abs(voltage()) < 1 * mV);
        QVERIFY(setCurrent(24 * uA));
        QVERIFY(windowCounts() > 500);
    }

    void ivSweepShowsTheHysteresis()
    {
        QVERIFY(put(Short, Bytes().u8(0)));
        QList<QPointF> up, down;
        for (int step = 0; step <= 30; ++step) {
            QVERIFY(setCurrent((step + 0.5) * uA));
            up << QPointF(voltage(), current());
        }
        for (int step = 30; step >= 0; --step) {
            QVERIFY(setCurrent((step + 0.5) * uA));
            down << QPointF(voltage(), current());
        }
        auto firstAbove = [](const QList<QPointF>& curve) {
            for (const QPointF& p : curve) {
                if (p.x() > 0.1)
                    return p.y();
            }
            return 0.0;
        };
        auto firstBelow = [](const QList<QPointF>& curve) {
            for (const QPointF& p : curve) {
                if (p.x() < 0.1)
                    return p.y();
            }
            return 0.0;
        };
        QVERIFY(std::abs(firstAbove(up) - 25.5 * uA) < 0.1 * uA);
        QVERIFY(std::abs(firstBelow(down) - 4.5 * uA) < 0.1 * uA);
    }

    void triggerSweepShowsThePlateau()
    {
        operate();
        QVERIFY(setCurrent(20 * uA)); // pulses of about 0.4 V
        auto countsAt = [this](double level) {
            put(SetCmpRefLevel, f32(float(level)));
            return windowCounts();
        };
        const float noise = countsAt(1 * mV);
        QList<float> plateau;
        for (double level : {30 * mV, 80 * mV, 150 * mV, 250 * mV})
            plateau << countsAt(level);
        for (float c : plateau)
            QVERIFY(std::abs(c - plateau.first()) < 0.2 * plateau.first());
        QVERIFY(plateau.first() > 400);
        QVERIFY(noise > 100 * plateau.first());
        QCOMPARE(countsAt(0.7), 0.0f);
    }

    void noCountsWithoutTheReadOutChain_data()
    {
        QTest::addColumn<quint8>("code");
        QTest::addColumn<quint8>("value");
        QTest::newRow("shorted") << quint8(23) << quint8(1);
        QTest::newRow("amplifier off") << quint8(24) << quint8(0);
        QTest::newRow("RF key off") << quint8(25) << quint8(0);
        QTest::newRow("comparator off") << quint8(26) << quint8(0);
        QTest::newRow("counter off") << quint8(27) << quint8(0);
    }
    void noCountsWithoutTheReadOutChain()
    {
        QFETCH(quint8, code);
        QFETCH(quint8, value);
        operate();
        QVERIFY(setCurrent(20 * uA));
        QVERIFY(windowCounts() > 400);
        QVERIFY(put(code, Bytes().u8(value)));
        QCOMPARE(windowCounts(), 0.0f);
        QVERIFY(put(code, Bytes().u8(!value)));
        QVERIFY(windowCounts() > 400);
    }

    void theFirstFullWindowAfterABiasChangeReflectsIt()
    {
        operate();
        QVERIFY(put(SetTimeConst, f32(1.0f)));
        QVERIFY(setCurrent(22 * uA));
        env->advance(2000);
        const float high = f32At(ask(Counts), 0);
        QVERIFY(high > 7000 && high < 9000);
        env->advance(300);
        QVERIFY(setCurrent(12 * uA));
        QCOMPARE(f32At(ask(Counts), 0), high); // the window in progress has not ended
        env->advance(700);
        const float mixed = f32At(ask(Counts), 0);
        QVERIFY(mixed < high && mixed > 2000);
        env->advance(1000);
        const float low = f32At(ask(Counts), 0);
        QVERIFY(low > 700 && low < 1200);
        QCOMPARE(f32At(ask(Data), 8), low);
    }

    void autoResetReleasesALatchedChannel()
    {
        operate();
        QVERIFY(put(SetAutoResetThreshold, f32(0.2f)));
        QVERIFY(put(SetAutoResetTimeOut, f32(0.3f)));
        QVERIFY(setCurrent(30 * uA));
        QVERIFY(setCurrent(15 * uA));
        QVERIFY(voltage() > 0.1);
        QVERIFY(put(AutoReset, Bytes().u8(1)));
        env->advance(250);
        QVERIFY(voltage() > 0.1);
        QCOMPARE(u32At(ask(AutoResetCounts), 0), 0u);
        env->advance(100);
        QVERIFY(std::abs(voltage()) < 5 * mV);
        QCOMPARE(u32At(ask(AutoResetCounts), 0), 1u);
        QCOMPARE(u32At(ask(Params), 16), 1u);
        QVERIFY(windowCounts() > 200);
        // The count is the module's to clear.
        QVERIFY(put(40, Bytes().u32(0)));
        QCOMPARE(u32At(ask(AutoResetCounts), 0), 0u);
    }

    void resetKeepsOnlyTheEeprom()
    {
        operate();
        QVERIFY(setCurrent(30 * uA));
        QVERIFY(put(SetTimeConst, f32(2.0f)));
        QVERIFY(put(SetCurrentDac, Bytes().f32(1.25f).f32(0.0f)));
        module->reset();
        QCOMPARE(status(), quint8(0x03));
        QCOMPARE(f32At(ask(Params), 4), 0.1f);
        QVERIFY(std::abs(current()) < 10e-9);
        QCOMPARE(f32At(ask(CurrentDac), 0), 1.25f);
        QVERIFY(put(Short, Bytes().u8(0)));
        QVERIFY(std::abs(voltage()) < 1 * mV); // the latch went with the bias
    }

    void eepromAndPhysicsFromJson()
    {
        QString error;
        QVERIFY(module->setEeprom(
            {{"constants",
              QJsonObject{{"currentDac", QJsonObject{{"first", 2.0}, {"second", 0.0}}}}}},
            &error));
        QCOMPARE(ask(CurrentDac), Bytes().f32(2.0f).f32(0.0f).toByteArray());
        QCOMPARE(ask(CurrentAdc), Bytes().f32(1.0f).f32(0.0f).toByteArray());
        const QJsonObject saved = module->eeprom();
        QCOMPARE(saved.value("constants")
                     .toObject()
                     .value("currentDac")
                     .toObject()
                     .value("first")
                     .toDouble(),
                 2.0);

        QVERIFY(!module->setEeprom({{"tables", QJsonObject{}}}, &error));
        QVERIFY(error.contains("tables"));
        QVERIFY(!module->setEeprom({{"constants", QJsonObject{{"pulseWidth", 3.0}}}}, &error));
        QVERIFY(!module->setEeprom({{"constants", QJsonObject{{"voltageAdc", 1.0}}}}, &error));
        QCOMPARE(ask(CurrentDac), Bytes().f32(2.0f).f32(0.0f).toByteArray());

        SimSspdM0 other(Address, module->identity(), env.get());
        QVERIFY(other.setEeprom(saved, &error));
        QCOMPARE(other.handlePacket(Eeprom, {}).first().data, ask(Eeprom));

        QVERIFY(!module->configure({{"hfNoiseFactor", 2.0}}, &error)); // model 1 only
        QVERIFY(!module->configure({{"switchingCurrent", -1.0}}, &error));
        QVERIFY(module->configure({{"switchingCurrent", 12e-6}}, &error));
        QVERIFY(put(SetCurrentDac, Bytes().f32(1.0f).f32(0.0f)));
        QVERIFY(put(Short, Bytes().u8(0)));
        QVERIFY(setCurrent(11 * uA));
        QVERIFY(std::abs(voltage()) < 5 * mV);
        QVERIFY(setCurrent(13 * uA));
        QVERIFY(voltage() > 0.1);
    }

    void theDriverRunsAgainstTheModule()
    {
        LoopbackPeer peer;
        QVERIFY(peer.listen());
        peer.setPacketResponder([this](const PeerPacket& p) {
            QByteArray out;
            if (p.address != Address)
                return out;
            for (const auto& a : module->handlePacket(p.command, p.data))
                out += LoopbackPeer::packet(Address, a.command, a.data);
            return out;
        });
        cuTcpSocketIOInterface link;
        link.setHostAddress(QHostAddress::LocalHost);
        link.setPort(peer.port());
        SspdDriverM0 driver;
        driver.setAddress(Address);
        driver.setInterface(&link);
        QSignalSpy stored(module.get(), &SimModule::eepromStored);

        QVERIFY(driver.readIdentity());
        QVERIFY(driver.typeString()->cached().startsWith("VX9SDM0"));

        bool ok = false;
        driver.status()->read(&ok, 3);
        QVERIFY(ok);
        driver.status()->writeSync(VX9SDM0_Status_t::fromByte(0x3F), &ok, 3);
        QVERIFY(ok);
        driver.current()->writeSync(20e-6f, &ok, 3);
        QVERIFY(ok);
        driver.timeConst()->writeSync(0.5f, &ok, 3);
        QVERIFY(ok);
        driver.shortEnable()->writeSync(false, &ok, 3);
        QVERIFY(ok);
        env->advance(1000);

        const VX9SDM0V1_Data_t data = driver.data()->read(&ok, 3);
        QVERIFY(ok);
        QVERIFY(std::abs(data.current - 20e-6f) < 20e-9);
        QVERIFY(std::abs(data.voltage) < 5e-3);
        QVERIFY(data.counts > 3000 && data.counts < 5000);
        QVERIFY(data.status.isOperating());

        const VX9SDM0V1_Param_t params = driver.params()->read(&ok, 3);
        QVERIFY(ok);
        QCOMPARE(params.timeConst, 0.5f);
        QCOMPARE(driver.timeConst()->cached(), 0.5f);

        driver.cmpRefDacCoeffs()->writeSync(pair_t<float>{1.01f, 0.002f}, &ok, 3);
        QVERIFY(ok);
        const VX9SDM0V1_EEPROM_Const_t eeprom = driver.eepromConst()->read(&ok, 3);
        QVERIFY(ok);
        QCOMPARE(eeprom.cmpRefDac, (pair_t<float>{1.01f, 0.002f}));
        QCOMPARE(eeprom.currentDac, (pair_t<float>{1.0f, 0.0f}));
        driver.eepromWrite()->executeSync(&ok, 3);
        QVERIFY(ok);
        QCOMPARE(stored.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSimSspdM0)
#include "tst_simsspdm0.moc"
