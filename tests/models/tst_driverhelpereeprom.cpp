// DriverHelper and the EEPROM constants: the maps read from the three calibrated module kinds
// (with the temperature table), the structure bytes written back from a storage, the table
// transfer, and the refusal to write from a storage that does not fit the module.
#include "bytes.h"
#include "driverhelpermodule.h"
#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm0.h"
#include "drivers/tempdriverm1.h"
#include "models/driverhelper.h"
#include "models/eepromdatastorage.h"

#include <QTest>
#include <memory>

namespace {

enum Model { SspdM0, SspdM1, TempM0, TempM1 };

const QByteArray UdidBytes = QByteArray::fromHex("00112233445566778899AABB");
const QString UdidText = "0011-2233-4455-6677-8899-AABB";

// Calibration structures as the modules send them, every float its own value.
const QByteArray M0Eeprom = Bytes() // currentAdc, voltageAdc, currentDac, cmpRefDac
                                .f32(1.01f)
                                .f32(0.02f)
                                .f32(2.03f)
                                .f32(0.04f)
                                .f32(3.05f)
                                .f32(0.06f)
                                .f32(4.07f)
                                .f32(0.08f);
const QByteArray M1Eeprom = Bytes() // currentAdc, voltageAdc, currentDac, currentMonitorAdc,
                                    // pulseWidth, cmpRefDac
                                .f32(1.11f)
                                .f32(0.12f)
                                .f32(2.13f)
                                .f32(0.14f)
                                .f32(3.15f)
                                .f32(0.16f)
                                .f32(4.17f)
                                .f32(0.18f)
                                .f32(2.5e-9f)
                                .f32(5.19f)
                                .f32(0.2f);
const QByteArray TempEeprom = Bytes() // six pairs, offsets 0 to 40
                                  .f32(1.21f)
                                  .f32(0.22f)
                                  .f32(2.23f)
                                  .f32(0.24f)
                                  .f32(3.25f)
                                  .f32(0.26f)
                                  .f32(4.27f)
                                  .f32(0.28f)
                                  .f32(5.29f)
                                  .f32(0.3f)
                                  .f32(6.31f)
                                  .f32(0.32f);

EepromPair pairAt(const QByteArray& bytes, int offset)
{
    float first;
    float second;
    std::memcpy(&first, bytes.constData() + offset, 4);
    std::memcpy(&second, bytes.constData() + offset + 4, 4);
    return {first, second};
}

// Point i of the module's sensor table.
EepromPair tablePoint(int i)
{
    // Rounded to float through a store: the module only holds floats.
    const volatile float voltage = float(0.4 + 0.0125 * i);
    const volatile float temperature = float(320.0 - 3.125 * i);
    return {double(voltage), double(temperature)};
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
    default:
        return std::make_unique<TempDriverM1>();
    }
}

quint8 eepromReadCode(int model)
{
    return model == TempM0 ? 26 : 41;
}

QByteArray eepromAnswer(int model)
{
    return model == SspdM0 ? M0Eeprom : model == SspdM1 ? M1Eeprom : TempEeprom;
}

// Item names and their offsets in the module's structure; -1 for the pulse width.
QList<QPair<QString, int>> pairItems(int model)
{
    if (model == SspdM0)
        return {{"Current_ADC", 0}, {"Voltage_ADC", 8}, {"Current_DAC", 16}, {"Cmp_Ref_DAC", 24}};
    if (model == SspdM1)
        return {{"Current_ADC", 0},
                {"Voltage_ADC", 8},
                {"Current_DAC", 16},
                {"CurrentMonitor_ADC", 24},
                {"Cmp_Ref_DAC", 36}};
    return {{"tempSensorCurrentAdc", 0}, {"tempSensorCurrentDac", 8}, {"tempSensorVoltage", 16},
            {"pressSensorVoltageP", 24}, {"pressSensorVoltageN", 32}, {"pressSensorCoeffs", 40}};
}

void comparePair(const QVariant& value, const EepromPair& expected, const QString& name)
{
    QVERIFY2(value.metaType() == QMetaType::fromType<EepromPair>(), qPrintable(name));
    QVERIFY2(value.value<EepromPair>() == expected, qPrintable(name));
}

void addPair(EepromDataStorage& storage, const QString& name, double first, double second)
{
    storage.addItem("g", name, name, EepromDataItem::Pair,
                    QVariant::fromValue(EepromPair(first, second)));
}

} // namespace

class TestDriverHelperEeprom : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedModule> module;
    // How many table chunks the module answers in full (the rest get no answer).
    int tableChunksAnswered = 10;

    std::unique_ptr<CommonDriver> attached(int model)
    {
        std::unique_ptr<CommonDriver> driver = makeDriver(model);
        module->attach(*driver);
        return driver;
    }
    void answerIdentity(const QByteArray& type)
    {
        module->answers[6] = Bytes().text(type, 24);
        module->answers[5] = UdidBytes;
    }
    void checkNothingSent(CommonDriver& driver, int mark)
    {
        bool flushed = false;
        const QList<PeerPacket> sent = module->flushedSince(driver, mark, &flushed);
        QVERIFY(flushed);
        QCOMPARE(sent.size(), 0);
    }
    // A storage holding a temperature module's items, table entry i valued (i, -i).
    static void fillTemperature(EepromDataStorage& storage)
    {
        const QStringList names = {"tempSensorCurrentAdc", "tempSensorCurrentDac",
                                   "tempSensorVoltage",    "pressSensorVoltageP",
                                   "pressSensorVoltageN",  "pressSensorCoeffs"};
        for (int i = 0; i < names.size(); ++i)
            addPair(storage, names.at(i), 10.0 + i, -0.5 * (i + 1));
        for (int i = 0; i < 100; ++i)
            addPair(storage, QString("tempTable_%1").arg(i), 0.25 * i, -1.5 * i);
    }

private slots:
    void init()
    {
        module = std::make_unique<ScriptedModule>();
        tableChunksAnswered = 10;
        module->special = [this](const PeerPacket& p) -> QByteArray {
            // Table read requests carry start and count.
            if (p.command != 40 || p.data.size() != 2)
                return {};
            const int start = quint8(p.data.at(0));
            const int count = quint8(p.data.at(1));
            if (start / 10 >= tableChunksAnswered)
                return {};
            return LoopbackPeer::packet(ScriptedModule::Address, 40, tableEntries(start, count));
        };
        QVERIFY(module->start());
    }
    void cleanup() { module.reset(); }

    void readMap_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("typeText");
        QTest::newRow("sspd model 0") << int(SspdM0) << QByteArray("VX9SDM0");
        QTest::newRow("sspd model 1") << int(SspdM1) << QByteArray("VX9SDM1");
        QTest::newRow("temperature model 0") << int(TempM0) << QByteArray("VX9TDM0");
    }
    void readMap()
    {
        QFETCH(int, model);
        QFETCH(QByteArray, typeText);
        const auto driver = attached(model);
        answerIdentity(typeText);
        module->answers[eepromReadCode(model)] = eepromAnswer(model);
        DriverHelper helper(driver.get());
        const QVariantMap map = helper.readEepromConst(1);

        QCOMPARE(map.value("address").metaType().id(), QMetaType::Int);
        QCOMPARE(map.value("address").toInt(), int(ScriptedModule::Address));
        QCOMPARE(map.value("type").toInt(), model);
        QCOMPARE(map.value("type_str").toString(), QString::fromLatin1(typeText));
        QCOMPARE(map.value("UDID").toString(), UdidText);

        const QByteArray answer = eepromAnswer(model);
        const auto pairs = pairItems(model);
        for (const auto& [name, offset] : pairs)
            comparePair(map.value(name), pairAt(answer, offset), name);
        int expectedSize = 4 + int(pairs.size());
        if (model == SspdM1) {
            QCOMPARE(map.value("PulseWidth").metaType().id(), QMetaType::Double);
            QCOMPARE(map.value("PulseWidth").toDouble(), double(2.5e-9f));
            ++expectedSize;
        }
        if (model == TempM0) {
            for (int i = 0; i < 100; ++i) {
                const QString name = QString("tempTable_%1").arg(i);
                comparePair(map.value(name), tablePoint(i), name);
            }
            expectedSize += 100;
        }
        QCOMPARE(map.size(), expectedSize);
    }

    // Constants the module did not answer stay out of the map: old or zero values would be
    // shown as the module's own and could be written back.
    void readFailureLeavesConstantsOut_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("eepromAnswered");
        QTest::addColumn<int>("tableChunks");
        QTest::addColumn<int>("expectedSize");
        QTest::newRow("sspd model 0 silent") << int(SspdM0) << false << 10 << 4;
        QTest::newRow("sspd model 1 silent") << int(SspdM1) << false << 10 << 4;
        QTest::newRow("temperature silent") << int(TempM0) << false << 10 << 4;
        QTest::newRow("temperature table silent") << int(TempM0) << true << 0 << 4 + 6;
        QTest::newRow("temperature table cut short") << int(TempM0) << true << 3 << 4 + 6;
    }
    void readFailureLeavesConstantsOut()
    {
        QFETCH(int, model);
        QFETCH(bool, eepromAnswered);
        QFETCH(int, tableChunks);
        QFETCH(int, expectedSize);
        const auto driver = attached(model);
        driver->setAnswerTimeout(20);
        answerIdentity("VX9");
        if (eepromAnswered)
            module->answers[eepromReadCode(model)] = eepromAnswer(model);
        tableChunksAnswered = tableChunks;
        const QVariantMap map = DriverHelper(driver.get()).readEepromConst(1);
        QCOMPARE(map.size(), expectedSize);
        QCOMPARE(map.value("type").toInt(), model);
        QCOMPARE(map.value("UDID").toString(), UdidText);
        QCOMPARE(map.contains(pairItems(model).first().first), eepromAnswered);
        QVERIFY(!map.contains("tempTable_0"));
        QVERIFY(!map.contains("tempTable_99"));
    }

    // A module without EEPROM items reports its identity and its own type, so that the
    // storage takes no other module's table for it.
    void readTemperatureModel1()
    {
        const auto driver = attached(TempM1);
        answerIdentity("VX9TDM1");
        const int mark = module->mark();
        const QVariantMap map = DriverHelper(driver.get()).readEepromConst(1);
        QCOMPARE(map.size(), 4);
        QCOMPARE(map.value("type").toInt(), 3);
        QCOMPARE(map.value("type_str").toString(), QString("VX9TDM1"));
        QCOMPARE(map.value("UDID").toString(), UdidText);
        const QList<PeerPacket> sent = module->since(mark);
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).command, quint8(6));
        QCOMPARE(sent.at(1).command, quint8(5));

        EepromDataStorage storage;
        storage.initialize(map);
        QCOMPARE(storage.count(), 0);
    }

    void writeSspdModel0Bytes()
    {
        const auto driver = attached(SspdM0);
        EepromDataStorage storage;
        addPair(storage, "Cmp_Ref_DAC", 4.5, -0.75);
        addPair(storage, "Voltage_ADC", 2.25, 0.125);
        addPair(storage, "Current_DAC", 3.0, -1.0 / 3.0);
        addPair(storage, "Current_ADC", 1.5, -0.25);
        const int mark = module->mark();
        QVERIFY(DriverHelper(driver.get()).writeEepromConst(&storage, 1));
        const QList<PeerPacket> sent = module->since(mark);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.at(0).command, quint8(42));
        QCOMPARE(sent.at(0).data, Bytes()
                                      .f32(1.5f)
                                      .f32(-0.25f)
                                      .f32(2.25f)
                                      .f32(0.125f)
                                      .f32(3.0f)
                                      .f32(float(-1.0 / 3.0))
                                      .f32(4.5f)
                                      .f32(-0.75f)
                                      .toByteArray());
    }

    void writeSspdModel1Bytes()
    {
        const auto driver = attached(SspdM1);
        EepromDataStorage storage;
        addPair(storage, "Current_ADC", 1.5, -0.25);
        addPair(storage, "Current_DAC", 3.0, 0.375);
        addPair(storage, "Voltage_ADC", 2.25, 0.125);
        addPair(storage, "Cmp_Ref_DAC", 4.5, -0.75);
        addPair(storage, "CurrentMonitor_ADC", 5.5, 0.0625);
        storage.addItem("g", "PulseWidth", "PulseWidth", EepromDataItem::Single, 1.25e-9);
        const int mark = module->mark();
        QVERIFY(DriverHelper(driver.get()).writeEepromConst(&storage, 1));
        const QList<PeerPacket> sent = module->since(mark);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.at(0).command, quint8(42));
        QCOMPARE(sent.at(0).data, Bytes()
                                      .f32(1.5f)
                                      .f32(-0.25f)
                                      .f32(2.25f)
                                      .f32(0.125f)
                                      .f32(3.0f)
                                      .f32(0.375f)
                                      .f32(5.5f)
                                      .f32(0.0625f)
                                      .f32(float(1.25e-9))
                                      .f32(4.5f)
                                      .f32(-0.75f)
                                      .toByteArray());
    }

    void writeTemperatureBytesAndTable()
    {
        const auto driver = attached(TempM0);
        EepromDataStorage storage;
        fillTemperature(storage);
        const int mark = module->mark();
        QVERIFY(DriverHelper(driver.get()).writeEepromConst(&storage, 1));
        const QList<PeerPacket> sent = module->since(mark);
        QCOMPARE(sent.size(), 1 + 10);
        QCOMPARE(sent.at(0).command, quint8(27));
        Bytes structure;
        for (int i = 0; i < 6; ++i)
            structure.f32(float(10.0 + i)).f32(float(-0.5 * (i + 1)));
        QCOMPARE(sent.at(0).data, structure.toByteArray());
        for (int chunk = 0; chunk < 10; ++chunk) {
            const PeerPacket& p = sent.at(1 + chunk);
            QCOMPARE(p.command, quint8(41));
            Bytes expected;
            expected.u8(quint8(chunk * 10)).u8(10);
            for (int i = chunk * 10; i < chunk * 10 + 10; ++i)
                expected.f32(float(0.25 * i)).f32(float(-1.5 * i));
            QCOMPARE(p.data, expected.toByteArray());
        }
    }

    // Read, shown in a storage and written back unchanged, the module gets its own bytes.
    void roundTrip_data()
    {
        QTest::addColumn<int>("model");
        QTest::newRow("sspd model 0") << int(SspdM0);
        QTest::newRow("sspd model 1") << int(SspdM1);
        QTest::newRow("temperature model 0") << int(TempM0);
    }
    void roundTrip()
    {
        QFETCH(int, model);
        const auto driver = attached(model);
        answerIdentity("VX9");
        module->answers[eepromReadCode(model)] = eepromAnswer(model);
        DriverHelper helper(driver.get());
        EepromDataStorage storage;
        storage.initialize(helper.readEepromConst(1));
        const int mark = module->mark();
        QVERIFY(helper.writeEepromConst(&storage, 1));
        const QList<PeerPacket> sent = module->since(mark);
        QCOMPARE(sent.size(), model == TempM0 ? 11 : 1);
        QCOMPARE(sent.at(0).command, quint8(eepromReadCode(model) + 1));
        QCOMPARE(sent.at(0).data, eepromAnswer(model));
        for (int chunk = 0; model == TempM0 && chunk < 10; ++chunk)
            QCOMPARE(sent.at(1 + chunk).data.mid(2), tableEntries(chunk * 10, 10));
    }

    // A storage that does not hold every item of the module's table as a storable value of
    // the right kind writes nothing at all.
    void refusedWrites_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("fault");
        QTest::newRow("model 0, item missing") << int(SspdM0) << "missing Cmp_Ref_DAC";
        QTest::newRow("model 0, single for a pair") << int(SspdM0) << "single Current_DAC";
        QTest::newRow("model 0, no value") << int(SspdM0) << "empty";
        QTest::newRow("model 0, model 1 storage") << int(SspdM0) << "type 1";
        QTest::newRow("model 1, pulse width a pair") << int(SspdM1) << "pair PulseWidth";
        QTest::newRow("model 1, pulse width missing") << int(SspdM1) << "missing PulseWidth";
        QTest::newRow("temperature, table entry missing") << int(TempM0) << "missing tempTable_57";
        QTest::newRow("temperature, table entry beyond float")
            << int(TempM0) << "huge tempTable_99";
        QTest::newRow("temperature model 1") << int(TempM1) << "type 3";
    }
    void refusedWrites()
    {
        QFETCH(int, model);
        QFETCH(QString, fault);
        const auto driver = attached(model);
        answerIdentity("VX9");
        module->answers[eepromReadCode(model)] = eepromAnswer(model);
        DriverHelper helper(driver.get());
        EepromDataStorage storage;
        const QStringList words = fault.split(' ');
        if (fault == "type 1") {
            // A complete read of a model-1 module at the same address.
            const auto other = attached(SspdM1);
            module->answers[41] = M1Eeprom;
            storage.initialize(DriverHelper(other.get()).readEepromConst(1));
            QCOMPARE(storage.count(), 6);
        } else if (fault == "type 3") {
            storage.initialize(helper.readEepromConst(1));
        } else if (words.at(0) == "empty") {
            module->answers.remove(eepromReadCode(model));
            driver->setAnswerTimeout(20);
            storage.initialize(helper.readEepromConst(1));
            QCOMPARE(storage.count(), 4);
        } else {
            storage.initialize(helper.readEepromConst(1));
            const QString name = words.at(1);
            QVERIFY(storage.getByName(name));
            storage.removeItem(name);
            if (words.at(0) == "single")
                storage.addItem("g", name, name, EepromDataItem::Single, 1.0);
            else if (words.at(0) == "pair")
                addPair(storage, name, 1.0, 2.0);
            else if (words.at(0) == "huge")
                addPair(storage, name, 1e300, 1.0);
        }
        driver->setAnswerTimeout(100);
        const int mark = module->mark();
        QVERIFY(!helper.writeEepromConst(&storage, 1));
        checkNothingSent(*driver, mark);
        QVERIFY(!helper.writeEepromConst(nullptr, 1));
    }

    // The table only follows constants the module took.
    void temperatureTableNotSentAfterRefusedConstants()
    {
        const auto driver = attached(TempM0);
        driver->setAnswerTimeout(20);
        module->acknowledgeWrites = false;
        EepromDataStorage storage;
        fillTemperature(storage);
        const int mark = module->mark();
        QVERIFY(!DriverHelper(driver.get()).writeEepromConst(&storage, 2));
        module->acknowledgeWrites = true;
        driver->setAnswerTimeout(100);
        bool flushed = false;
        const QList<PeerPacket> sent = module->flushedSince(*driver, mark, &flushed);
        QVERIFY(flushed);
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).command, quint8(27));
        QCOMPARE(sent.at(1).command, quint8(27));
    }
};

QTEST_GUILESS_MAIN(TestDriverHelperEeprom)
#include "tst_driverhelpereeprom.moc"
