// DriverHelper against a scripted module, in one table per behaviour with the module model as
// a column: the value maps (bytes at their offsets), counts per second, writes by name with
// their bytes on the wire, the "operate" sequences, cached values, the EEPROM constants read
// and written back, and the store command.
#include "bytes.h"
#include "drivers/heaterdriverm0.h"
#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm0.h"
#include "drivers/tempdriverm1.h"
#include "driverunit.h"
#include "models/driverhelper.h"
#include "models/eepromdatastorage.h"

#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

namespace {

constexpr quint8 Address = 9;
enum Model { SspdM0, SspdM1, TempM0, TempM1, Heater };

// The status bits by name; bit 3 is the RF key on model 0, the HF mode on model 1.
QStringList flags(int model)
{
    return {"status_inite",         "status_shorted",
            "status_amplifier_on",  model == SspdM0 ? "status_rfkey_to_cmp" : "status_hfmode_on",
            "status_comparator_on", "status_counter_on",
            "status_autoreset_on",  "status_error"};
}

QByteArray floats(std::initializer_list<float> values)
{
    Bytes bytes;
    for (float v : values)
        bytes.f32(v);
    return bytes;
}
// Live data fields as the modules send them (before the status byte); every field differs
// so that a wrong offset shows.
const QList<QPair<QString, float>> LiveFields[3] = {
    {{"current", 1.25e-6f}, {"voltage", 0.0375f}, {"counts", 4321}},
    {{"current", 1.5e-6f}, {"currentMonitor", 1.75e-6f}, {"voltage", 0.0425f}, {"counts", 4321}},
    {{"temperature", 4.2f},
     {"pressure", 1.3e-3f},
     {"temperature_sensor_current", 1.0e-5f},
     {"temperature_sensor_voltage", 1.62f},
     {"pressure_sensor_voltage_pos", 0.71f},
     {"pressure_sensor_voltage_neg", 0.33f}}};
QByteArray liveData(int model, quint8 status)
{
    Bytes bytes;
    for (const auto& [name, value] : LiveFields[model])
        bytes.f32(value);
    return bytes.u8(status).pad(3, 0xA5);
}
QVariantMap liveMap(int model, quint8 status, bool operate)
{
    QVariantMap map{{"operate", operate}};
    for (const auto& [name, value] : LiveFields[model])
        map.insert(name, value);
    for (int bit = 0; model != TempM0 && bit < 8; ++bit)
        map.insert(flags(model).at(bit), bool(status & (1 << bit)));
    return map;
}
QByteArray params(float timeConst)
{
    return Bytes().f32(0.15f).f32(timeConst).f32(0.8f).f32(2.5f).u32(4000000000u);
}
QByteArray byte(quint8 b)
{
    return QByteArray(1, char(b));
}

// EEPROM structures as the modules send them, every float its own value, and the item names
// at their offsets; the temperature module's table point i.
const QByteArray EepromBytes[3] = {
    floats({1.01f, 0.02f, 2.03f, 0.04f, 3.05f, 0.06f, 4.07f, 0.08f}),
    floats({1.11f, 0.12f, 2.13f, 0.14f, 3.15f, 0.16f, 4.17f, 0.18f, 2.5e-9f, 5.19f, 0.2f}),
    floats({1.21f, 0.22f, 2.23f, 0.24f, 3.25f, 0.26f, 4.27f, 0.28f, 5.29f, 0.3f, 6.31f, 0.32f})};
const char* const EepromPairs[3] = {
    "Current_ADC:0 Voltage_ADC:8 Current_DAC:16 Cmp_Ref_DAC:24",
    "Current_ADC:0 Voltage_ADC:8 Current_DAC:16 CurrentMonitor_ADC:24 Cmp_Ref_DAC:36",
    ("tempSensorCurrentAdc:0 tempSensorCurrentDac:8 tempSensorVoltage:16 pressSensorVoltageP:24 "
     "pressSensorVoltageN:32 pressSensorCoeffs:40")};
quint8 eepromReadCode(int model)
{
    return model == TempM0 ? 26 : 41;
}
EepromPair tablePoint(int i)
{
    // Rounded to float through a store: the module only holds floats.
    const volatile float voltage = float(0.4 + 0.0125 * i);
    const volatile float temperature = float(320.0 - 3.125 * i);
    return {voltage, temperature};
}
QByteArray tableEntries(int start, int count)
{
    Bytes bytes;
    for (int i = start; i < start + count; ++i)
        bytes.f32(float(tablePoint(i).first)).f32(float(tablePoint(i).second));
    return bytes;
}

std::unique_ptr<CommonDriver> makeDriver(int model)
{
    switch (model) {
    case SspdM0:
        return std::make_unique<SspdDriverM0>();
    case SspdM1:
        return std::make_unique<SspdDriverM1>();
    case TempM0:
        return std::make_unique<TempDriverM0>();
    case TempM1:
        return std::make_unique<TempDriverM1>();
    default:
        return std::make_unique<HeaterDriverM0>();
    }
}

} // namespace

class TestDriverHelper : public QObject
{
    Q_OBJECT

    std::unique_ptr<DriverUnit> module;
    std::unique_ptr<CommonDriver> driver;
    std::unique_ptr<DriverHelper> helper;
    int tableChunksAnswered = 10; // table chunks the module answers (the rest get none)

    void attach(int model)
    {
        helper.reset();
        driver = makeDriver(model);
        module->attach(*driver, Address, 100);
        helper = std::make_unique<DriverHelper>(driver.get());
    }
    // The packets sent since mark, once everything sent has reached the module: that is so
    // when command 0 is acknowledged (one connection, in order); the flush itself is left out.
    QList<PeerPacket> sentSince(int mark)
    {
        bool flushed = false;
        driver->command0()->executeSync(&flushed, 3);
        const QList<PeerPacket> sent = since(mark);
        return flushed ? sent.first(sent.size() - 1) : QList<PeerPacket>{{0, 0xFF, {}}};
    }
    int sentCount() const { return int(module->peer.packets().size()); }
    QList<PeerPacket> since(int mark) const { return module->peer.packets().mid(mark); }

private slots:
    void init()
    {
        module = std::make_unique<DriverUnit>();
        module->commands = {0}; // serves to flush, see sentSince()
        tableChunksAnswered = 10;
        module->special = [this](const PeerPacket& p) -> QByteArray {
            // Table read requests carry start and count.
            if (p.command != 40 || p.data.size() != 2 ||
                quint8(p.data.at(0)) / 10 >= tableChunksAnswered)
                return {};
            return LoopbackPeer::packet(Address, 40,
                                        tableEntries(quint8(p.data.at(0)), quint8(p.data.at(1))));
        };
        QVERIFY(module->start());
        module->script(Address);
    }
    void cleanup()
    {
        helper.reset();
        driver.reset();
        module.reset();
    }

    // The live data maps, with the parameter map first where the module has one; a time
    // constant that gives no rate leaves "cps" out rather than filling it with an infinite or
    // undefined number.
    void valueMaps_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<quint8>("status");
        QTest::addColumn<bool>("operate");
        QTest::addColumn<float>("timeConst"); // the rate's, if any
        const float inf = std::numeric_limits<float>::infinity();
        QTest::newRow("m0 0x3C operating") << int(SspdM0) << quint8(0x3C) << true << 0.5f;
        QTest::newRow("m1 0x34, time constant 0") << int(SspdM1) << quint8(0x34) << true << 0.0f;
        QTest::newRow("m1 0xC3, time constant inf") << int(SspdM1) << quint8(0xC3) << false << inf;
        QTest::newRow("temperature, commutator on") << int(TempM0) << quint8(1) << true << 0.0f;
        QTest::newRow("temperature, commutator off") << int(TempM0) << quint8(0) << false << 0.0f;
    }
    void valueMaps()
    {
        QFETCH(int, model);
        QFETCH(quint8, status);
        QFETCH(bool, operate);
        QFETCH(float, timeConst);
        attach(model);
        if (model != TempM0) {
            module->answers[29] = params(timeConst);
            QCOMPARE(helper->readParams(1), QVariantMap({{"cmp_ref_level", 0.15f},
                                                         {"time_const", timeConst},
                                                         {"auto_reset_threshold", 0.8f},
                                                         {"auto_reset_time_out", 2.5f},
                                                         {"auto_reset_counts", 4000000000u}}));
        }
        module->answers[16] = liveData(model, status);
        const QVariantMap map = helper->readData(1);
        QVariantMap expected = liveMap(model, status, operate);
        if (timeConst == 0.5f)
            expected.insert("cps", 8642.0f); // counts 4321 per 0.5 s
        // Exact types too: floats stay floats, flags are booleans.
        QCOMPARE(map, expected);
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            QCOMPARE(it.value().metaType(), expected.value(it.key()).metaType());
        // The SSPD voltage alone is answered from what the read cached.
        QCOMPARE(helper->value("voltage"), model == TempM0 ? QVariant() : map.value("voltage"));
        QVERIFY(!helper->value("current").isValid());
        // A failed read (an answer a byte long, or none) gives no map, not the last values.
        driver->setAnswerTimeout(20);
        module->answers[16] += '\0';
        QVERIFY(helper->readData(1).isEmpty());
        module->answers.remove(16);
        QVERIFY(helper->readData(1).isEmpty());
        module->answers.remove(29);
        QVERIFY(model == TempM0 || helper->readParams(1).isEmpty());
    }

    // The model-1 module is read through its own operations (all four channels at once) and
    // shows its first sensor; without both answers it has no reading.
    void temperatureModel1ShowsItsFirstSensor()
    {
        attach(TempM1);
        driver->setAnswerTimeout(20);
        QSet<quint8> silent;
        module->special = [&](const PeerPacket& p) {
            if (p.data != byte(0xFF) || silent.contains(p.command))
                return QByteArray();
            return LoopbackPeer::packet(
                Address, p.command,
                Bytes().f32(p.command == 17 ? 3.5f : 1.25f).f32(7).f32(8).f32(9));
        };
        QCOMPARE(helper->readData(1),
                 QVariantMap({{"temperature", 3.5f}, {"temperature_sensor_voltage", 1.25f}}));
        for (quint8 code : {17, 21}) {
            silent = {code};
            QVERIFY(helper->readData(1).isEmpty());
        }
    }

    void writeByName_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<quint8>("code");
        QTest::addColumn<QByteArray>("payload");
        // Each name once, the SSPD models taking turns (their drivers share the codes): a
        // float from a double or a float, a switch from a bool or an integer.
        const auto row = [](int model, const char* name, const QVariant& value, quint8 code,
                            const QByteArray& payload) {
            QTest::addRow("m%d %s", model, name) << model << name << value << code << payload;
        };
        row(SspdM0, "current", 2.5e-6, 18, Bytes().f32(2.5e-6f));
        row(SspdM1, "time_const", 0.125f, 34, Bytes().f32(0.125f));
        row(SspdM0, "cmp_ref_level", -0.03, 32, Bytes().f32(-0.03f));
        row(SspdM1, "auto_reset_threshold", 0.7, 36, Bytes().f32(0.7f));
        row(SspdM0, "auto_reset_time_out", 3.25, 38, Bytes().f32(3.25f));
        row(SspdM1, "status_shorted", true, 23, byte(1));
        row(SspdM0, "status_amplifier_on", false, 24, byte(0));
        row(SspdM1, "status_comparator_on", true, 26, byte(1));
        row(SspdM0, "status_counter_on", 1, 27, byte(1));
        row(SspdM1, "status_autoreset_on", true, 28, byte(1));
        row(SspdM0, "status_rfkey_to_cmp", true, 25, byte(1));
        row(SspdM1, "status_hfmode_on", true, 56, byte(1));
        row(TempM0, "temperature_sensor_current", 1.0e-5, 20, Bytes().f32(1.0e-5f));
    }
    void writeByName()
    {
        QFETCH(int, model);
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        QFETCH(quint8, code);
        QFETCH(QByteArray, payload);
        attach(model);
        const int mark = sentCount();
        QVERIFY(helper->writeParameter(name, value, 1));
        const QList<PeerPacket> sent = since(mark);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.at(0).address, Address);
        QCOMPARE(sent.at(0).command, code);
        QCOMPARE(sent.at(0).data, payload);
        // Without an acknowledgement the write reports failure, after the given tries.
        module->acknowledge = false;
        driver->setAnswerTimeout(20);
        const int silent = sentCount();
        QVERIFY(!helper->writeParameter(name, value, 2));
        QTRY_COMPARE(since(silent).size(), 2);
    }

    // Names a module does not have, the read-only counter, and values that are no numbers
    // send nothing and report failure.
    void refusedWrites_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("auto_reset_counts") << int(SspdM1) << "auto_reset_counts" << QVariant(3u);
        QTest::newRow("hf mode on model 0") << int(SspdM0) << "status_hfmode_on" << QVariant(true);
        QTest::newRow("unknown name") << int(SspdM0) << "bias" << QVariant(1.0);
        QTest::newRow("operate on heater") << int(Heater) << "operate" << QVariant(true);
        QTest::newRow("current as text") << int(SspdM0) << "current" << QVariant("high");
        QTest::newRow("threshold beyond float")
            << int(SspdM1) << "auto_reset_threshold" << QVariant(1e300);
    }
    void refusedWrites()
    {
        QFETCH(int, model);
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        attach(model);
        const int mark = sentCount();
        QVERIFY(!helper->writeParameter(name, value, 1));
        QVERIFY(sentSince(mark).isEmpty());
    }

    void operate_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<quint8>("cached");
        QTest::addColumn<bool>("on");
        QTest::addColumn<quint8>("written");
        QTest::newRow("model 0, off from 0xC1")
            << int(SspdM0) << quint8(0xC1) << false << quint8(0xC3);
        QTest::newRow("model 0, on from 0x00")
            << int(SspdM0) << quint8(0x00) << true << quint8(0x3E);
        QTest::newRow("model 1, on from 0xC0")
            << int(SspdM1) << quint8(0xC0) << true << quint8(0xF6);
        QTest::newRow("model 1, off from 0xFF")
            << int(SspdM1) << quint8(0xFF) << false << quint8(0xCB);
        // Without the module taking the new status the line is left shorted.
        QTest::newRow("model 1, unacknowledged")
            << int(SspdM1) << quint8(0x00) << true << quint8(0);
    }
    void operate()
    {
        QFETCH(int, model);
        QFETCH(quint8, cached);
        QFETCH(bool, on);
        QFETCH(quint8, written);
        attach(model);
        module->answers[16] = liveData(model, cached);
        QVERIFY(!helper->readData(1).isEmpty());
        module->acknowledge = written != 0;
        const int mark = sentCount();
        // A timer due well inside the short removal delay runs while the helper waits, and
        // at that moment the short is still on.
        qsizetype sentWhenFired = -1;
        QTimer::singleShot(100, [&] { sentWhenFired = since(mark).size(); });
        QCOMPARE(helper->writeParameter("operate", on, 1), written != 0);
        const bool firedInside = sentWhenFired >= 0;
        module->acknowledge = true;
        const QList<PeerPacket> sent = sentSince(mark);
        QCOMPARE(sent.size(), on && written ? 2 : 1);
        QCOMPARE(sent.at(0).command, quint8(22));
        if (written)
            QCOMPARE(sent.at(0).data, byte(written));
        if (on && written) {
            QCOMPARE(sent.at(1).command, quint8(23));
            QCOMPARE(sent.at(1).data, byte(0));
            QVERIFY(firedInside && sentWhenFired <= 1);
        }
        QTRY_VERIFY(sentWhenFired >= 0);
    }

    void temperatureCommutator()
    {
        attach(TempM0);
        for (quint8 commutator : {1, 0}) {
            module->answers[16] = liveData(TempM0, commutator);
            QVERIFY(!helper->readData(1).isEmpty());
            for (bool on : {bool(commutator), !commutator}) {
                const int mark = sentCount();
                QVERIFY(helper->writeParameter("operate", on, 1));
                // Only a change goes out.
                const QList<PeerPacket> sent = sentSince(mark);
                QCOMPARE(sent.size(), int(on != bool(commutator)));
                if (!sent.isEmpty())
                    QVERIFY(sent.at(0).command == 25 && sent.at(0).data == byte(on));
            }
        }
    }

    // Only modules with EEPROM constants store them; one try, and no confirmation is a failure.
    void storeEeprom()
    {
        for (int model : {SspdM1, TempM0, TempM1}) {
            attach(model);
            module->commands.insert(12);
            int mark = sentCount();
            QCOMPARE(helper->storeEeprom(), model != TempM1);
            const QList<PeerPacket> sent = sentSince(mark);
            QCOMPARE(sent.size(), int(model != TempM1));
            QVERIFY(sent.isEmpty() || sent.at(0).command == 12);
            module->commands.remove(12);
            driver->setAnswerTimeout(20);
            mark = sentCount();
            QVERIFY(!helper->storeEeprom());
            QTRY_COMPARE(since(mark).size(), int(model != TempM1));
        }
    }

    // The constants the module answered, with its identity; a module without EEPROM items
    // (temperature model 1) gives its identity and its own type, so that the storage takes
    // no other module's table for it. What was read in full is written back.
    void eepromRead_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("tableChunks");
        QTest::newRow("sspd model 0") << int(SspdM0) << true << 10;
        QTest::newRow("sspd model 1") << int(SspdM1) << true << 10;
        QTest::newRow("temperature model 0") << int(TempM0) << true << 10;
        QTest::newRow("temperature model 1") << int(TempM1) << false << 0;
        // Constants the module did not answer stay out of the map: old or zero values would
        // be shown as the module's own and could be written back.
        QTest::newRow("sspd model 1 silent") << int(SspdM1) << false << 10;
        QTest::newRow("temperature silent") << int(TempM0) << false << 10;
        QTest::newRow("temperature table cut short") << int(TempM0) << true << 3;
    }
    void eepromRead()
    {
        QFETCH(int, model);
        QFETCH(bool, answered);
        QFETCH(int, tableChunks);
        attach(model);
        driver->setAnswerTimeout(20);
        module->answers[6] = Bytes().text("VX9TYPE", 24);
        module->answers[5] = QByteArray::fromHex("00112233445566778899AABB");
        if (answered)
            module->answers[eepromReadCode(model)] = EepromBytes[model];
        tableChunksAnswered = tableChunks;
        const QVariantMap map = helper->readEepromConst(1);
        QVariantMap expected{{"address", int(Address)},
                             {"type", model},
                             {"type_str", "VX9TYPE"},
                             {"UDID", "0011-2233-4455-6677-8899-AABB"}};
        for (const QString& item :
             answered ? QString(EepromPairs[model]).split(' ') : QStringList()) {
            float pair[2];
            std::memcpy(pair, EepromBytes[model].constData() + item.section(':', 1).toInt(), 8);
            expected.insert(item.section(':', 0, 0),
                            QVariant::fromValue(EepromPair(pair[0], pair[1])));
        }
        if (answered && model == SspdM1)
            expected.insert("PulseWidth", double(2.5e-9f));
        for (int i = 0; answered && model == TempM0 && tableChunks == 10 && i < 100; ++i)
            expected.insert(QString("tempTable_%1").arg(i), QVariant::fromValue(tablePoint(i)));
        QCOMPARE(map, expected);
        EepromDataStorage storage;
        storage.initialize(map);
        if (model == TempM1)
            QCOMPARE(storage.count(), 0);
        if (map.size() < 5 || (model == TempM0 && tableChunks < 10))
            return;
        // Written back unchanged, the module gets its own bytes in the order of its structure,
        // and the table in chunks of ten.
        const int mark = sentCount();
        QVERIFY(helper->writeEepromConst(&storage, 1));
        const QList<PeerPacket> sent = since(mark);
        QCOMPARE(sent.size(), model == TempM0 ? 11 : 1);
        QCOMPARE(sent.at(0).command, quint8(eepromReadCode(model) + 1));
        QCOMPARE(sent.at(0).data, EepromBytes[model]);
        for (int chunk = 0; model == TempM0 && chunk < 10; ++chunk) {
            QCOMPARE(sent.at(1 + chunk).command, quint8(41));
            QCOMPARE(
                sent.at(1 + chunk).data,
                Bytes().u8(chunk * 10).u8(10).bytes(tableEntries(chunk * 10, 10)).toByteArray());
        }
    }
};

QTEST_GUILESS_MAIN(TestDriverHelper)
#include "tst_driverhelper.moc"
