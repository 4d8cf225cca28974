// The simulated model-1 SSPD module through its packets: its own structure lengths and codes,
// the current monitor, the HF mode, the physics behind its status bits, its EEPROM JSON, and
// the real driver talking to the module over TCP.
#include "bytes.h"
#include "core/simenvironment.h"
#include "drivers/sspddriverm1.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"
#include "modules/simsspdm1.h"

#include <QJsonObject>
#include <QTest>
#include <cmath>
#include <cstring>
#include <memory>

namespace {
constexpr quint8 Address = 9;
constexpr double uA = 1e-6;
constexpr double mV = 1e-3;

enum : quint8 {
    Data = 16,
    Current = 17,
    SetCurrent = 18,
    Voltage = 19,
    Counts = 20,
    Status = 21,
    SetStatus = 22,
    Short = 23,
    Comparator = 26,
    SetCmpRefLevel = 32,
    Eeprom = 41,
    CurrentMonitor = 53,
    CurrentMonitorAdc = 54,
    SetCurrentMonitorAdc = 55,
    HfMode = 56,
    PulseWidth = 58,
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

class TestSimSspdM1 : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimSspdM1> module;

    QByteArray ask(quint8 code)
    {
        const auto answers = module->handlePacket(code, {});
        if (answers.size() != 1 || answers.first().command != code)
            return {};
        return answers.first().data;
    }
    bool put(quint8 code, const QByteArray& data)
    {
        const auto answers = module->handlePacket(code, data);
        return answers.size() == 1 && answers.first().command == code &&
               answers.first().data.isEmpty();
    }
    bool setCurrent(double amperes) { return put(SetCurrent, f32(float(amperes))); }
    float voltage() { return f32At(ask(Voltage), 0); }
    float monitor() { return f32At(ask(CurrentMonitor), 0); }
    quint8 status() { return quint8(ask(Status).at(0)); }
    float windowCounts()
    {
        env->advance(200);
        return f32At(ask(Counts), 0);
    }
    // The application's switch-on for model 1: bit 3 (HF mode) keeps its state.
    void operate()
    {
        QVERIFY(put(SetStatus, Bytes().u8(quint8((status() & 0xCB) | 0x02 | 0x34))));
        env->advance(200);
        QVERIFY(put(Short, Bytes().u8(0)));
        QCOMPARE(status() & 0x36, 0x34);
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(8);
        env->useManualClock(0);
        SimModule::Identity identity{"VX9SDM1", "M1", "1.0", "1.4", "SSPD driver", cUDID()};
        module = std::make_unique<SimSspdM1>(Address, identity, env.get());
    }

    void readsAnswerWithTheirStructureLength_data()
    {
        QTest::addColumn<quint8>("code");
        QTest::addColumn<int>("length");
        const QList<QPair<int, int>> table = {
            {16, 20}, {17, 4}, {19, 4}, {20, 4}, {21, 1},  {29, 20}, {31, 4},
            {33, 4},  {35, 4}, {37, 4}, {39, 4}, {41, 44}, {43, 8},  {45, 8},
            {47, 8},  {49, 8}, {51, 1}, {53, 4}, {54, 8},  {58, 4},
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

    void ownCalibrationValuesAreEchoed_data()
    {
        QTest::addColumn<quint8>("write");
        QTest::addColumn<quint8>("read");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("offset"); // in the EEPROM structure
        QTest::newRow("currentMonitorAdc")
            << quint8(55) << quint8(54) << Bytes().f32(1.1f).f32(-0.1f).toByteArray() << 24;
        QTest::newRow("pulseWidth") << quint8(57) << quint8(58) << f32(35.0f) << 32;
        QTest::newRow("cmpRefDac")
            << quint8(50) << quint8(49) << Bytes().f32(0.9f).f32(0.01f).toByteArray() << 36;
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
                                            .f32(12.5f)
                                            .f32(1.5f)
                                            .f32(0.5f)
                                            .toByteArray()
                                     << 0;
    }
    void ownCalibrationValuesAreEchoed()
    {
        QFETCH(quint8, write);
        QFETCH(quint8, read);
        QFETCH(QByteArray, value);
        QFETCH(int, offset);
        QVERIFY(ask(read) != value);
        QVERIFY(put(write, value));
        QCOMPARE(ask(read), value);
        QCOMPARE(ask(Eeprom).mid(offset, value.size()), value);
    }

    void switchesIncludeTheHfModeButNotTheRfKey_data()
    {
        QTest::addColumn<quint8>("code");
        QTest::addColumn<int>("bit");
        const QList<QPair<int, int>> table = {{23, 1}, {24, 2}, {56, 3}, {26, 4}, {27, 5}, {28, 6}};
        for (const auto& [code, bit] : table)
            QTest::addRow("%d", code) << quint8(code) << bit;
    }
    void switchesIncludeTheHfModeButNotTheRfKey()
    {
        QFETCH(quint8, code);
        QFETCH(int, bit);
        QVERIFY(put(SetStatus, Bytes().u8(0x01)));
        QVERIFY(put(code, Bytes().u8(1)));
        QCOMPARE(status(), quint8(0x01 | (1 << bit)));
        QCOMPARE(quint8(ask(Data).at(16)), quint8(0x01 | (1 << bit)));
        QVERIFY(put(code, Bytes().u8(0)));
        QCOMPARE(status(), quint8(0x01));
        QVERIFY(module->handlePacket(25, Bytes().u8(1)).isEmpty());
        QCOMPARE(status(), quint8(0x01));
    }

    void theMonitorSeesTheCurrentThroughTheDetector()
    {
        QVERIFY(setCurrent(12 * uA));
        QVERIFY(std::abs(monitor()) < 10e-9); // shorted at power-on
        QVERIFY(std::abs(f32At(ask(Current), 0) - 12 * uA) < 10e-9);
        QVERIFY(put(Short, Bytes().u8(0)));
        QVERIFY(std::abs(monitor() - 12 * uA) < 10e-9);
        QVERIFY(std::abs(f32At(ask(Data), 4) - 12 * uA) < 10e-9);
        QVERIFY(put(SetCurrentMonitorAdc, Bytes().f32(1.1f).f32(0.0f)));
        QVERIFY(std::abs(monitor() - 13.2 * uA) < 10e-9);
        QVERIFY(std::abs(f32At(ask(Current), 0) - 12 * uA) < 10e-9);
    }

    void countsLatchAndRecoverLikeModelZero()
    {
        operate();
        QVERIFY(setCurrent(8 * uA));
        const float low = windowCounts();
        QVERIFY(setCurrent(22 * uA));
        const float high = windowCounts();
        QVERIFY(high > 600 && high > 10 * low);
        QVERIFY(setCurrent(27 * uA));
        QVERIFY(voltage() > 0.1);
        QVERIFY(setCurrent(8 * uA));
        QVERIFY(voltage() > 0.1);
        QCOMPARE(windowCounts(), 0.0f);
        QVERIFY(setCurrent(2 * uA));
        QVERIFY(std::abs(voltage()) < 1 * mV);
        QVERIFY(setCurrent(22 * uA));
        QVERIFY(windowCounts() > 600);
        QVERIFY(put(Comparator, Bytes().u8(0)));
        QCOMPARE(windowCounts(), 0.0f);
    }

    void hfModeRaisesTheNoiseButKeepsThePlateau()
    {
        operate();
        QVERIFY(setCurrent(20 * uA));
        QVERIFY(put(SetCmpRefLevel, f32(0.1f)));
        const float plateau = windowCounts();
        QVERIFY(put(SetCmpRefLevel, f32(0.01f)));
        const float quiet = windowCounts();
        QVERIFY(put(HfMode, Bytes().u8(1)));
        QCOMPARE(status() & 0x36, 0x34); // still operating
        const float noisy = windowCounts();
        QVERIFY(noisy > quiet + 10000);
        QVERIFY(put(SetCmpRefLevel, f32(0.1f)));
        QVERIFY(std::abs(windowCounts() - plateau) < 0.2 * plateau);
    }

    void eepromJsonHasTheModelOneConstants()
    {
        QString error;
        QVERIFY(module->setEeprom(
            {{"constants",
              QJsonObject{{"pulseWidth", 42.0},
                          {"currentMonitorAdc", QJsonObject{{"first", 0.5}, {"second", 1e-7}}}}}},
            &error));
        QCOMPARE(ask(PulseWidth), f32(42.0f));
        QCOMPARE(ask(CurrentMonitorAdc), Bytes().f32(0.5f).f32(1e-7f).toByteArray());
        QCOMPARE(module->eeprom().value("constants").toObject().value("pulseWidth").toDouble(),
                 42.0);
        QVERIFY(!module->setEeprom({{"constants", QJsonObject{{"pulseWidth", "wide"}}}}, &error));
        QCOMPARE(ask(PulseWidth), f32(42.0f));
        QVERIFY(module->configure({{"hfNoiseFactor", 2.0}, {"hfDeadTime", 5e-9}}, &error));
        QVERIFY(!module->configure({{"hfNoise", 2.0}}, &error));
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
        SspdDriverM1 driver;
        driver.setAddress(Address);
        driver.setInterface(&link);

        QVERIFY(driver.readIdentity());
        QVERIFY(driver.typeString()->cached().startsWith("VX9SDM1"));

        bool ok = false;
        driver.status()->read(&ok, 3);
        QVERIFY(ok);
        driver.current()->writeSync(18e-6f, &ok, 3);
        QVERIFY(ok);
        QCOMPARE(driver.data()->cached().current, 18e-6f);
        driver.hfModeEnable()->writeSync(true, &ok, 3);
        QVERIFY(ok);
        QVERIFY(driver.data()->cached().status.hfModeOn);
        driver.status()->writeSync(VX9SDM1_Status_t::fromByte(0x3C), &ok, 3);
        QVERIFY(ok);
        env->advance(300);

        const VX9SDM1_Data_t data = driver.data()->read(&ok, 3);
        QVERIFY(ok);
        QVERIFY(data.status.isOperating());
        QVERIFY(std::abs(data.currentMonitor - 18e-6f) < 20e-9);
        QVERIFY(data.counts > 300);
        const float monitor = driver.currentMonitor()->read(&ok, 3);
        QVERIFY(ok);
        QVERIFY(std::abs(monitor - 18e-6f) < 20e-9);

        driver.pulseWidth()->writeSync(25.0f, &ok, 3);
        QVERIFY(ok);
        QCOMPARE(driver.pulseWidth()->read(&ok, 3), 25.0f);
        const VX9SDM1_EEPROM_Const_t eeprom = driver.eepromConst()->read(&ok, 3);
        QVERIFY(ok);
        QCOMPARE(eeprom.pulseWidth, 25.0f);
        QCOMPARE(eeprom.cmpRefDac, (pair_t<float>{1.0f, 0.0f}));
    }
};

QTEST_GUILESS_MAIN(TestSimSspdM1)
#include "tst_simsspdm1.moc"
