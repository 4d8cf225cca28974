// The model-0 temperature driver against a scripted module: structure decoding, the data
// and calibration sets kept consistent with single answers, writes on the wire, and the
// chunked transfer of the sensor table.
#include "bytes.h"
#include "drivers/tempdriverm0.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QMetaProperty>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <functional>

namespace {
constexpr quint8 Address = 9;
constexpr int ShortTimeoutMs = 30;
constexpr int TableSize = 100;

// The live data as the module sends it, field by field.
struct DataImage
{
    float temperature = 77.5f;
    float pressure = 1.25e-3f;
    float tempSensorCurrent = 1.0e-5f;
    float tempSensorVoltage = 0.875f;
    float pressSensorVoltageP = 0.0123f;
    float pressSensorVoltageN = -0.0456f;
    quint8 commutator = 1;

    QByteArray bytes() const
    {
        return Bytes()
            .f32(temperature)
            .f32(pressure)
            .f32(tempSensorCurrent)
            .f32(tempSensorVoltage)
            .f32(pressSensorVoltageP)
            .f32(pressSensorVoltageN)
            .u8(commutator)
            .pad(3, 0xA5);
    }
};

// Six calibration pairs, each value distinct.
QByteArray eepromBytes(float base)
{
    Bytes b;
    for (int i = 0; i < 6; ++i)
        b.f32(base + 10.0f * i + 1.0f).f32(-(base + 10.0f * i + 2.0f));
    return b;
}

QByteArray pairBytes(float first, float second)
{
    return Bytes().f32(first).f32(second);
}

QVariant field(const QMetaObject& meta, const void* gadget, const char* name)
{
    const int index = meta.indexOfProperty(name);
    if (index < 0)
        return {};
    return meta.property(index).readOnGadget(gadget);
}

QStringList fieldNames(const QMetaObject& meta)
{
    QStringList names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        names << QString::fromLatin1(meta.property(i).name());
    return names;
}

// Sensor table entry i as the module holds it and as the test fills the driver's.
pair_t<float> moduleEntry(int i)
{
    return {0.5f + 0.01f * i, 300.0f - 2.5f * i};
}
pair_t<float> driverEntry(int i)
{
    return {1.0f + i, 400.0f - 0.5f * i};
}
constexpr pair_t<float> Untouched{-7.0f, -7.0f};

QByteArray entriesBytes(const QList<pair_t<float>>& entries)
{
    Bytes b;
    for (const pair_t<float>& e : entries)
        b.f32(e.first).f32(e.second);
    return b;
}
} // namespace

class TestTempDriverM0 : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    std::unique_ptr<TempDriverM0> driver;

    // The module: read requests (no data) are answered from answers; every packet with
    // data on another code is a write and acknowledged with an empty packet, unless its
    // code is silent. Table chunks go to and come from moduleTable.
    QHash<quint8, QByteArray> answers;
    QSet<quint8> silent;
    QList<pair_t<float>> moduleTable;
    int silentChunk = -1;
    // Answer bytes replacing the table entries for one chunk start.
    QHash<int, QByteArray> chunkAnswers;

    QByteArray tableAnswer(const PeerPacket& p)
    {
        if (p.command == 41) {
            const int start = quint8(p.data.at(0));
            const int count = quint8(p.data.at(1));
            if (start == silentChunk || p.data.size() != 2 + 8 * count)
                return {};
            for (int i = 0; i < count && start + i < TableSize; ++i) {
                float v[2];
                std::memcpy(v, p.data.constData() + 2 + 8 * i, 8);
                moduleTable[start + i] = {v[0], v[1]};
            }
            return LoopbackPeer::packet(Address, 41);
        }
        const int start = quint8(p.data.at(0));
        const int count = quint8(p.data.at(1));
        if (start == silentChunk)
            return {};
        if (chunkAnswers.contains(start))
            return chunkAnswers.value(start);
        return LoopbackPeer::packet(Address, 40, entriesBytes(moduleTable.mid(start, count)));
    }

    QList<pair_t<float>> driverTable() const
    {
        return QList<pair_t<float>>(driver->tempTable().begin(), driver->tempTable().end());
    }

    QList<quint8> sentCodes() const
    {
        QList<quint8> codes;
        for (const PeerPacket& p : peer->packets())
            codes << p.command;
        return codes;
    }

private slots:
    void init()
    {
        answers.clear();
        silent.clear();
        silentChunk = -1;
        chunkAnswers.clear();
        moduleTable.clear();
        for (int i = 0; i < TableSize; ++i)
            moduleTable << moduleEntry(i);
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        peer->setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address != Address || silent.contains(p.command))
                return {};
            if ((p.command == 40 && p.data.size() == 2) || (p.command == 41 && p.data.size() >= 2))
                return tableAnswer(p);
            if (p.data.isEmpty() && answers.contains(p.command))
                return LoopbackPeer::packet(Address, p.command, answers.value(p.command));
            if (!p.data.isEmpty())
                return LoopbackPeer::packet(Address, p.command);
            return {};
        });
        link = std::make_unique<cuTcpSocketIOInterface>();
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        driver = std::make_unique<TempDriverM0>();
        driver->setAddress(Address);
        driver->setInterface(link.get());
        driver->setAnswerTimeout(ShortTimeoutMs);
    }
    void cleanup()
    {
        driver.reset();
        link.reset();
        peer.reset();
    }

    void startsZeroed()
    {
        const VX9TDM0V1_Data_t data = driver->data()->cached();
        QCOMPARE(data.temperature, 0.0f);
        QCOMPARE(data.commutator, false);
        QCOMPARE(driver->eepromConst()->cached().pressSensorCoeffs, (pair_t<float>{0, 0}));
        for (const pair_t<float>& entry : driver->tempTable())
            QCOMPARE(entry, (pair_t<float>{0, 0}));
        QTest::qWait(20);
        QVERIFY(peer->packets().isEmpty());
    }

    void dataAnswerFillsEverySingleValue()
    {
        const DataImage image;
        answers[16] = image.bytes();
        QSignalSpy dataSpy(driver.get(), &TempDriverM0::dataUpdated);
        QSignalSpy eepromSpy(driver.get(), &TempDriverM0::eepromConstUpdated);
        bool ok = false;
        const VX9TDM0V1_Data_t data = driver->data()->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(sentCodes(), QList<quint8>({16}));
        QVERIFY(peer->packets().at(0).data.isEmpty());

        QCOMPARE(data.temperature, image.temperature);
        QCOMPARE(data.pressure, image.pressure);
        QCOMPARE(data.tempSensorCurrent, image.tempSensorCurrent);
        QCOMPARE(data.tempSensorVoltage, image.tempSensorVoltage);
        QCOMPARE(data.pressSensorVoltageP, image.pressSensorVoltageP);
        QCOMPARE(data.pressSensorVoltageN, image.pressSensorVoltageN);
        QCOMPARE(data.commutator, true);

        QCOMPARE(driver->temperature()->cached(), image.temperature);
        QCOMPARE(driver->pressure()->cached(), image.pressure);
        QCOMPARE(driver->tempSensorCurrent()->cached(), image.tempSensorCurrent);
        QCOMPARE(driver->tempSensorVoltage()->cached(), image.tempSensorVoltage);
        QCOMPARE(driver->pressSensorVoltageP()->cached(), image.pressSensorVoltageP);
        QCOMPARE(driver->pressSensorVoltageN()->cached(), image.pressSensorVoltageN);
        QCOMPARE(driver->commutator()->cached(), true);

        QCOMPARE(dataSpy.size(), 1);
        QCOMPARE(dataSpy.at(0).at(0).value<VX9TDM0V1_Data_t>(), data);
        QCOMPARE(driver->data()->cached(), data);
        QCOMPARE(eepromSpy.size(), 0);
    }

    // A module may report "on" with any non-zero byte; the driver keeps the flag a clean
    // boolean in the data set and in the single value.
    void commutatorReadsAnyNonZeroByteAsOn()
    {
        DataImage image;
        image.commutator = 0x02;
        answers[16] = image.bytes();
        bool ok = false;
        driver->data()->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(driver->data()->receivedData().at(24), char(1));
        QCOMPARE(driver->data()->cached().commutator, true);
        QCOMPARE(driver->commutator()->cached(), true);

        answers[24] = Bytes().u8(0x80);
        QCOMPARE(driver->commutator()->read(&ok, 1), true);
        QVERIFY(ok);
        QCOMPARE(driver->commutator()->receivedData(), QByteArray(1, char(1)));
        QCOMPARE(driver->data()->receivedData().at(24), char(1));

        answers[24] = Bytes().u8(0);
        QCOMPARE(driver->commutator()->read(&ok, 1), false);
        QCOMPARE(driver->data()->cached().commutator, false);
    }

    void singleAnswerReplacesOneDataField_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("temperature")
            << 17 << Bytes().f32(4.25f).toByteArray() << "temperature" << QVariant(4.25f);
        QTest::newRow("pressure") << 18 << Bytes().f32(998.5f).toByteArray() << "pressure"
                                  << QVariant(998.5f);
        QTest::newRow("tempSensorCurrent")
            << 19 << Bytes().f32(2.5e-6f).toByteArray() << "tempSensorCurrent" << QVariant(2.5e-6f);
        QTest::newRow("tempSensorVoltage")
            << 21 << Bytes().f32(1.125f).toByteArray() << "tempSensorVoltage" << QVariant(1.125f);
        QTest::newRow("pressSensorVoltageP")
            << 22 << Bytes().f32(0.333f).toByteArray() << "pressSensorVoltageP" << QVariant(0.333f);
        QTest::newRow("pressSensorVoltageN") << 23 << Bytes().f32(-0.777f).toByteArray()
                                             << "pressSensorVoltageN" << QVariant(-0.777f);
        QTest::newRow("commutator")
            << 24 << Bytes().u8(0).toByteArray() << "commutator" << QVariant(false);
    }
    void singleAnswerReplacesOneDataField()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, answer);
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        answers[16] = DataImage().bytes();
        bool ok = false;
        const VX9TDM0V1_Data_t before = driver->data()->read(&ok, 1);
        QVERIFY(ok);

        answers[quint8(code)] = answer;
        QSignalSpy dataSpy(driver.get(), &TempDriverM0::dataUpdated);
        const QMetaObject& meta = VX9TDM0V1_Data_t::staticMetaObject;
        // Every single value is read the way callers read it: through its accessor.
        const QHash<QString, std::function<QVariant()>> readers = {
            {"temperature", [&] { return QVariant(driver->temperature()->read(&ok, 1)); }},
            {"pressure", [&] { return QVariant(driver->pressure()->read(&ok, 1)); }},
            {"tempSensorCurrent",
             [&] { return QVariant(driver->tempSensorCurrent()->read(&ok, 1)); }},
            {"tempSensorVoltage",
             [&] { return QVariant(driver->tempSensorVoltage()->read(&ok, 1)); }},
            {"pressSensorVoltageP",
             [&] { return QVariant(driver->pressSensorVoltageP()->read(&ok, 1)); }},
            {"pressSensorVoltageN",
             [&] { return QVariant(driver->pressSensorVoltageN()->read(&ok, 1)); }},
            {"commutator", [&] { return QVariant(driver->commutator()->read(&ok, 1)); }},
        };
        ok = false;
        QCOMPARE(readers.value(name)(), value);
        QVERIFY(ok);
        QCOMPARE(peer->packets().last().command, quint8(code));
        QVERIFY(peer->packets().last().data.isEmpty());

        QCOMPARE(dataSpy.size(), 1);
        const VX9TDM0V1_Data_t after = driver->data()->cached();
        QCOMPARE(dataSpy.at(0).at(0).value<VX9TDM0V1_Data_t>(), after);
        for (const QString& other : fieldNames(meta)) {
            const QByteArray key = other.toLatin1();
            if (other == name)
                QCOMPARE(field(meta, &after, key), value);
            else
                QCOMPARE(field(meta, &after, key), field(meta, &before, key));
        }
    }

    void wrongLengthAnswersChangeNothing_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("length");
        QTest::newRow("data 27") << 16 << 27;
        QTest::newRow("data 29") << 16 << 29;
        QTest::newRow("temperature 3") << 17 << 3;
        QTest::newRow("pressure 5") << 18 << 5;
        QTest::newRow("tempSensorCurrent 0") << 19 << 0;
        QTest::newRow("tempSensorVoltage 8") << 21 << 8;
        QTest::newRow("pressSensorVoltageP 2") << 22 << 2;
        QTest::newRow("pressSensorVoltageN 1") << 23 << 1;
        QTest::newRow("commutator 2") << 24 << 2;
        QTest::newRow("eeprom 47") << 26 << 47;
        QTest::newRow("eeprom 49") << 26 << 49;
        QTest::newRow("pair 7") << 28 << 7;
        QTest::newRow("pair 9") << 38 << 9;
    }
    void wrongLengthAnswersChangeNothing()
    {
        QFETCH(int, code);
        QFETCH(int, length);
        answers[16] = DataImage().bytes();
        answers[26] = eepromBytes(100.0f);
        bool ok = false;
        driver->data()->read(&ok, 1);
        QVERIFY(ok);
        driver->eepromConst()->read(&ok, 1);
        QVERIFY(ok);
        const VX9TDM0V1_Data_t data = driver->data()->cached();
        const VX9TDM0V1_EEPROM_Const_t eeprom = driver->eepromConst()->cached();
        const float temperature = driver->temperature()->cached();
        const pair_t<float> adc = driver->tempSensorCurrentAdcCoeffs()->cached();

        QSignalSpy dataSpy(driver.get(), &TempDriverM0::dataUpdated);
        QSignalSpy eepromSpy(driver.get(), &TempDriverM0::eepromConstUpdated);
        answers[quint8(code)] = QByteArray(length, '\x5A');
        DriverProperty_p* property = nullptr;
        for (DriverProperty_p* p : driver->properties())
            if (p->readCode() == code)
                property = p;
        QVERIFY(property);
        ok = false;
        property->exchange(quint8(code), {}, &ok, 1);
        QVERIFY(!ok); // no answer at all
        QCOMPARE(peer->packets().last().command, quint8(code));
        QCOMPARE(dataSpy.size(), 0);
        QCOMPARE(eepromSpy.size(), 0);
        QCOMPARE(driver->data()->cached(), data);
        QCOMPARE(driver->eepromConst()->cached(), eeprom);
        QCOMPARE(driver->temperature()->cached(), temperature);
        QCOMPARE(driver->tempSensorCurrentAdcCoeffs()->cached(), adc);
    }

    void wrongLengthAnswerIsTriedAgain()
    {
        answers[16] = QByteArray(27, '\x11');
        QSignalSpy dataSpy(driver.get(), &TempDriverM0::dataUpdated);
        bool ok = true;
        driver->data()->read(&ok, 3);
        QVERIFY(!ok);
        QCOMPARE(peer->packets().size(), 3);
        QCOMPARE(dataSpy.size(), 0);
        QCOMPARE(driver->data()->cached().temperature, 0.0f);
    }

    void eepromAnswerFillsEveryPair()
    {
        answers[26] = eepromBytes(0.0f);
        QSignalSpy eepromSpy(driver.get(), &TempDriverM0::eepromConstUpdated);
        QSignalSpy dataSpy(driver.get(), &TempDriverM0::dataUpdated);
        bool ok = false;
        const VX9TDM0V1_EEPROM_Const_t e = driver->eepromConst()->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(e.tempSensorCurrentAdc, (pair_t<float>{1.0f, -2.0f}));
        QCOMPARE(e.tempSensorCurrentDac, (pair_t<float>{11.0f, -12.0f}));
        QCOMPARE(e.tempSensorVoltage, (pair_t<float>{21.0f, -22.0f}));
        QCOMPARE(e.pressSensorVoltageP, (pair_t<float>{31.0f, -32.0f}));
        QCOMPARE(e.pressSensorVoltageN, (pair_t<float>{41.0f, -42.0f}));
        QCOMPARE(e.pressSensorCoeffs, (pair_t<float>{51.0f, -52.0f}));
        QCOMPARE(driver->tempSensorCurrentAdcCoeffs()->cached(), e.tempSensorCurrentAdc);
        QCOMPARE(driver->tempSensorCurrentDacCoeffs()->cached(), e.tempSensorCurrentDac);
        QCOMPARE(driver->tempSensorVoltageCoeffs()->cached(), e.tempSensorVoltage);
        QCOMPARE(driver->pressSensorVoltagePCoeffs()->cached(), e.pressSensorVoltageP);
        QCOMPARE(driver->pressSensorVoltageNCoeffs()->cached(), e.pressSensorVoltageN);
        QCOMPARE(driver->pressSensorCoeffs()->cached(), e.pressSensorCoeffs);
        QCOMPARE(eepromSpy.size(), 1);
        QCOMPARE(eepromSpy.at(0).at(0).value<VX9TDM0V1_EEPROM_Const_t>(), e);
        QCOMPARE(dataSpy.size(), 0);
    }

    void pairAnswerReplacesOneEepromField_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("tempSensorCurrentAdc") << 28 << "tempSensorCurrentAdc";
        QTest::newRow("tempSensorCurrentDac") << 30 << "tempSensorCurrentDac";
        QTest::newRow("tempSensorVoltage") << 32 << "tempSensorVoltage";
        QTest::newRow("pressSensorVoltageP") << 34 << "pressSensorVoltageP";
        QTest::newRow("pressSensorVoltageN") << 36 << "pressSensorVoltageN";
        QTest::newRow("pressSensorCoeffs") << 38 << "pressSensorCoeffs";
    }
    void pairAnswerReplacesOneEepromField()
    {
        QFETCH(int, code);
        QFETCH(QString, name);
        answers[26] = eepromBytes(0.0f);
        bool ok = false;
        const VX9TDM0V1_EEPROM_Const_t before = driver->eepromConst()->read(&ok, 1);
        QVERIFY(ok);

        const pair_t<float> fresh{0.625f, -99.5f};
        answers[quint8(code)] = pairBytes(fresh.first, fresh.second);
        QSignalSpy eepromSpy(driver.get(), &TempDriverM0::eepromConstUpdated);
        DriverProperty<pair_t<float>>* property = nullptr;
        for (auto* candidate :
             {driver->tempSensorCurrentAdcCoeffs(), driver->tempSensorCurrentDacCoeffs(),
              driver->tempSensorVoltageCoeffs(), driver->pressSensorVoltagePCoeffs(),
              driver->pressSensorVoltageNCoeffs(), driver->pressSensorCoeffs()}) {
            if (candidate->readCode() == code)
                property = candidate;
        }
        QVERIFY(property);
        QCOMPARE(property->read(&ok, 1), fresh);
        QVERIFY(ok);
        QCOMPARE(peer->packets().last().command, quint8(code));

        QCOMPARE(eepromSpy.size(), 1);
        const VX9TDM0V1_EEPROM_Const_t after = driver->eepromConst()->cached();
        QCOMPARE(eepromSpy.at(0).at(0).value<VX9TDM0V1_EEPROM_Const_t>(), after);
        const QMetaObject& meta = VX9TDM0V1_EEPROM_Const_t::staticMetaObject;
        for (const QString& other : fieldNames(meta)) {
            const QByteArray key = other.toLatin1();
            if (other == name)
                QCOMPARE(field(meta, &after, key).value<pair_t<float>>(), fresh);
            else
                QCOMPARE(field(meta, &after, key).value<pair_t<float>>(),
                         field(meta, &before, key).value<pair_t<float>>());
        }
    }

    void writesCarryTheValueBytesAndChangeNothing()
    {
        answers[16] = DataImage().bytes();
        answers[26] = eepromBytes(0.0f);
        bool ok = false;
        driver->data()->read(&ok, 1);
        driver->eepromConst()->read(&ok, 1);
        const VX9TDM0V1_Data_t data = driver->data()->cached();
        const VX9TDM0V1_EEPROM_Const_t eeprom = driver->eepromConst()->cached();
        const int before = int(peer->packets().size());
        QSignalSpy dataSpy(driver.get(), &TempDriverM0::dataUpdated);
        QSignalSpy eepromSpy(driver.get(), &TempDriverM0::eepromConstUpdated);

        struct Write
        {
            std::function<void(bool*)> send;
            quint8 code;
            QByteArray bytes;
        };
        VX9TDM0V1_EEPROM_Const_t newConst;
        const float values[12] = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f,  5.5f,
                                  6.5f, 7.5f, 8.5f, 9.5f, 10.5f, 11.5f};
        std::memcpy(&newConst, values, sizeof values);
        Bytes constBytes;
        for (float v : values)
            constBytes.f32(v);
        const QList<Write> writes = {
            {[&](bool* ok) { driver->tempSensorCurrent()->writeSync(3.75e-6f, ok, 1); }, 20,
             Bytes().f32(3.75e-6f)},
            {[&](bool* ok) { driver->commutator()->writeSync(true, ok, 1); }, 25, Bytes().u8(1)},
            {[&](bool* ok) { driver->commutator()->writeSync(false, ok, 1); }, 25, Bytes().u8(0)},
            {[&](bool* ok) { driver->eepromConst()->writeSync(newConst, ok, 1); }, 27, constBytes},
            {[&](bool* ok) {
                 driver->tempSensorCurrentAdcCoeffs()->writeSync({1, 2}, ok, 1);
             },
             29, pairBytes(1, 2)},
            {[&](bool* ok) {
                 driver->tempSensorCurrentDacCoeffs()->writeSync({3, 4}, ok, 1);
             },
             31, pairBytes(3, 4)},
            {[&](bool* ok) {
                 driver->tempSensorVoltageCoeffs()->writeSync({5, 6}, ok, 1);
             },
             33, pairBytes(5, 6)},
            {[&](bool* ok) {
                 driver->pressSensorVoltagePCoeffs()->writeSync({7, 8}, ok, 1);
             },
             35, pairBytes(7, 8)},
            {[&](bool* ok) {
                 driver->pressSensorVoltageNCoeffs()->writeSync({9, 10}, ok, 1);
             },
             37, pairBytes(9, 10)},
            {[&](bool* ok) {
                 driver->pressSensorCoeffs()->writeSync({11, 12}, ok, 1);
             },
             39, pairBytes(11, 12)},
        };
        for (const Write& w : writes) {
            bool acknowledged = false;
            w.send(&acknowledged);
            QVERIFY2(acknowledged, QByteArray::number(w.code).constData());
            const PeerPacket& sent = peer->packets().last();
            QCOMPARE(sent.address, Address);
            QCOMPARE(sent.command, w.code);
            QCOMPARE(sent.data, w.bytes);
        }
        QCOMPARE(int(peer->packets().size()), before + int(writes.size()));
        QCOMPARE(driver->tempSensorCurrent()->lastWritten(), 3.75e-6f);
        QCOMPARE(driver->eepromConst()->lastWritten(), newConst);
        // Acknowledgements leave the sets as the module last answered them.
        QCOMPARE(dataSpy.size(), 0);
        QCOMPARE(eepromSpy.size(), 0);
        QCOMPARE(driver->data()->cached(), data);
        QCOMPARE(driver->eepromConst()->cached(), eeprom);
        QCOMPARE(driver->tempSensorCurrent()->cached(), data.tempSensorCurrent);
    }

    void unansweredReadIsTriedAndKeepsTheOldValue()
    {
        silent << 16;
        QSignalSpy dataSpy(driver.get(), &TempDriverM0::dataUpdated);
        bool ok = true;
        driver->data()->read(&ok, 3);
        QVERIFY(!ok);
        QCOMPARE(sentCodes(), QList<quint8>({16, 16, 16}));
        QCOMPARE(dataSpy.size(), 0);
    }

    void structuresAreReadableByFieldName()
    {
        DataImage image;
        answers[16] = image.bytes();
        answers[26] = eepromBytes(0.0f);
        bool ok = false;
        const VX9TDM0V1_Data_t data = driver->data()->read(&ok, 1);
        QVERIFY(ok);
        const VX9TDM0V1_EEPROM_Const_t eeprom = driver->eepromConst()->read(&ok, 1);
        QVERIFY(ok);

        const QMetaObject& dataMeta = VX9TDM0V1_Data_t::staticMetaObject;
        QCOMPARE(fieldNames(dataMeta),
                 QStringList({"temperature", "pressure", "tempSensorCurrent", "tempSensorVoltage",
                              "pressSensorVoltageP", "pressSensorVoltageN", "commutator"}));
        QCOMPARE(field(dataMeta, &data, "temperature"), QVariant(image.temperature));
        QCOMPARE(field(dataMeta, &data, "pressure"), QVariant(image.pressure));
        QCOMPARE(field(dataMeta, &data, "tempSensorCurrent"), QVariant(image.tempSensorCurrent));
        QCOMPARE(field(dataMeta, &data, "tempSensorVoltage"), QVariant(image.tempSensorVoltage));
        QCOMPARE(field(dataMeta, &data, "pressSensorVoltageP"),
                 QVariant(image.pressSensorVoltageP));
        QCOMPARE(field(dataMeta, &data, "pressSensorVoltageN"),
                 QVariant(image.pressSensorVoltageN));
        QCOMPARE(field(dataMeta, &data, "commutator"), QVariant(true));

        const QMetaObject& eepromMeta = VX9TDM0V1_EEPROM_Const_t::staticMetaObject;
        const QStringList names = {"tempSensorCurrentAdc", "tempSensorCurrentDac",
                                   "tempSensorVoltage",    "pressSensorVoltageP",
                                   "pressSensorVoltageN",  "pressSensorCoeffs"};
        QCOMPARE(fieldNames(eepromMeta), names);
        for (int i = 0; i < names.size(); ++i) {
            const QVariant value = field(eepromMeta, &eeprom, names.at(i).toLatin1());
            QCOMPARE(value.metaType(), QMetaType::fromType<pair_t<float>>());
            QCOMPARE(value.value<pair_t<float>>(),
                     (pair_t<float>{10.0f * i + 1.0f, -(10.0f * i + 2.0f)}));
        }
    }

    void tableIsWrittenInTenChunks()
    {
        for (int i = 0; i < TableSize; ++i)
            driver->tempTable()[i] = driverEntry(i);
        QVERIFY(driver->writeTempTable());
        QCOMPARE(peer->packets().size(), 10);
        for (int k = 0; k < 10; ++k) {
            const PeerPacket& p = peer->packets().at(k);
            QCOMPARE(p.command, quint8(41));
            QCOMPARE(p.data.size(), 82);
            QList<pair_t<float>> entries;
            for (int i = 0; i < 10; ++i)
                entries << driverEntry(10 * k + i);
            QCOMPARE(p.data,
                     Bytes().u8(quint8(10 * k)).u8(10).bytes(entriesBytes(entries)).toByteArray());
        }
        QCOMPARE(moduleTable, driverTable());
    }

    void tableWriteStopsAtAChunkNeverAcknowledged()
    {
        for (int i = 0; i < TableSize; ++i) {
            driver->tempTable()[i] = driverEntry(i);
            moduleTable[i] = Untouched;
        }
        silentChunk = 30;
        QVERIFY(!driver->writeTempTable());
        QCOMPARE(peer->packets().size(), 3 + 5);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(quint8(peer->packets().at(k).data.at(0)), quint8(10 * k));
        for (int t = 3; t < 8; ++t) {
            QCOMPARE(peer->packets().at(t).command, quint8(41));
            QCOMPARE(peer->packets().at(t).data, peer->packets().at(3).data);
            QCOMPARE(quint8(peer->packets().at(t).data.at(0)), quint8(30));
        }
        for (int i = 0; i < TableSize; ++i)
            QCOMPARE(moduleTable.at(i), i < 30 ? driverEntry(i) : Untouched);
    }

    void tableIsReadInTenChunks()
    {
        QVERIFY(driver->readTempTable());
        QCOMPARE(peer->packets().size(), 10);
        for (int k = 0; k < 10; ++k) {
            QCOMPARE(peer->packets().at(k).command, quint8(40));
            QCOMPARE(peer->packets().at(k).data, Bytes().u8(quint8(10 * k)).u8(10).toByteArray());
        }
        QCOMPARE(driverTable(), moduleTable);
    }

    void shortChunkAnswerFillsWhatItHoldsAndStops()
    {
        driver->tempTable().fill(Untouched);
        chunkAnswers[20] = LoopbackPeer::packet(Address, 40, entriesBytes(moduleTable.mid(20, 5)));
        QVERIFY(!driver->readTempTable());
        QCOMPARE(peer->packets().size(), 3);
        for (int i = 0; i < TableSize; ++i)
            QCOMPARE(driver->tempTable()[i], i < 25 ? moduleEntry(i) : Untouched);
    }

    void tableReadStopsAtAChunkNeverAnswered()
    {
        driver->tempTable().fill(Untouched);
        silentChunk = 50;
        QVERIFY(!driver->readTempTable());
        QCOMPARE(peer->packets().size(), 5 + 5);
        for (int t = 5; t < 10; ++t)
            QCOMPARE(peer->packets().at(t).data, Bytes().u8(50).u8(10).toByteArray());
        for (int i = 0; i < TableSize; ++i)
            QCOMPARE(driver->tempTable()[i], i < 50 ? moduleEntry(i) : Untouched);
    }

    // Any packet of the module ends a wait; the chunk before must not be taken for this one.
    void chunkAnsweredByAnotherCodeIsNotFilledFromTheLastChunk()
    {
        driver->tempTable().fill(Untouched);
        chunkAnswers[10] = LoopbackPeer::packet(Address, 17, Bytes().f32(5.0f));
        QVERIFY(!driver->readTempTable());
        QCOMPARE(peer->packets().size(), 1 + 5); // the chunk was tried as often as a silent one
        for (int i = 0; i < TableSize; ++i)
            QCOMPARE(driver->tempTable()[i], i < 10 ? moduleEntry(i) : Untouched);
    }

    void overlongChunkAnswerFillsOnlyItsChunk()
    {
        QList<pair_t<float>> twelve = moduleTable.mid(90, 10);
        twelve << pair_t<float>{1e9f, 1e9f} << pair_t<float>{2e9f, 2e9f};
        chunkAnswers[90] = LoopbackPeer::packet(Address, 40, entriesBytes(twelve));
        QList<pair_t<float>> shifted = moduleTable.mid(0, 10);
        shifted << pair_t<float>{3e9f, 3e9f};
        chunkAnswers[0] = LoopbackPeer::packet(Address, 40, entriesBytes(shifted));
        QVERIFY(driver->readTempTable());
        QCOMPARE(driverTable(), moduleTable);
    }

    void tableCodesDoNotDisturbTheSets()
    {
        QSignalSpy dataSpy(driver.get(), &TempDriverM0::dataUpdated);
        QSignalSpy eepromSpy(driver.get(), &TempDriverM0::eepromConstUpdated);
        QVERIFY(driver->readTempTable());
        QVERIFY(driver->writeTempTable());
        QCOMPARE(dataSpy.size(), 0);
        QCOMPARE(eepromSpy.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTempDriverM0)
#include "tst_tempdriverm0.moc"
