// Model-0 SSPD driver against a scripted module: decoding of the module's structures, the
// live data, parameter and calibration composites kept consistent by answers and
// acknowledgements, and the bytes of every write on the wire.
#include "bytes.h"
#include "drivers/sspddriverm0.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"
#include "sspdtestsupport.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr quint8 Address = 7;
constexpr int CommonProperties = 11;

// What the module answers, laid out from its wire tables; every field has its own value
// so that a field read at the wrong offset shows.
const QByteArray DataAnswer = Bytes() // current, voltage, counts, status, padding
                                  .f32(1.25e-6f)
                                  .f32(0.0375f)
                                  .f32(4321.0f)
                                  .u8(0x3A)
                                  .pad(3, 0xA5);
const QByteArray ParamsAnswer = Bytes() // cmpRefLevel, timeConst, autoReset threshold,
                                        // time-out and counts
                                    .f32(0.15f)
                                    .f32(0.5f)
                                    .f32(0.8f)
                                    .f32(2.5f)
                                    .u32(17);
const QByteArray EepromAnswer = Bytes() // currentAdc, voltageAdc, currentDac, cmpRefDac
                                    .f32(1.01f)
                                    .f32(0.02f)
                                    .f32(2.03f)
                                    .f32(0.04f)
                                    .f32(3.05f)
                                    .f32(0.06f)
                                    .f32(4.07f)
                                    .f32(0.08f);

} // namespace

using namespace sspdtest;

class TestSspdDriverM0 : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    std::unique_ptr<SspdDriverM0> driver;
    // Answers of the module to read requests, by code; codes not listed stay silent.
    QHash<quint8, QByteArray> answers;
    // Whether the module acknowledges writes (an empty packet with the write code).
    bool acknowledge = true;
    quint8 flushes = 0;

    DriverProperty_p* byReadCode(quint8 code) const
    {
        for (DriverProperty_p* p : driver->properties()) {
            if (p->readCode() == code)
                return p;
        }
        return nullptr;
    }
    // One read request with the given code, answered (or not) from the table.
    bool request(quint8 code)
    {
        bool ok = false;
        byReadCode(code)->exchange(code, {}, &ok, 1);
        return ok;
    }
    QByteArray compositeBytes(int composite) const
    {
        if (composite == Data)
            return driver->data()->receivedData();
        if (composite == Params)
            return driver->params()->receivedData();
        return driver->eepromConst()->receivedData();
    }
    // Fills the three composites from the module.
    void readComposites()
    {
        answers[16] = DataAnswer;
        answers[29] = ParamsAnswer;
        answers[41] = EepromAnswer;
        QVERIFY(request(16));
        QVERIFY(request(29));
        QVERIFY(request(41));
    }
    // A request that nothing observes: once its answer is stored, everything the module
    // sent before it has been handled.
    void flush()
    {
        const QByteArray marker = Bytes().u8(++flushes);
        answers[51] = marker;
        byReadCode(51)->exchange(51, {}, nullptr, 1);
        QTRY_COMPARE(byReadCode(51)->receivedData(), marker);
    }
    QList<DriverPropertyWriteOnly<bool>*> switches() const
    {
        return {driver->shortEnable(),      driver->amplifierEnable(), driver->rfKeyToComparator(),
                driver->comparatorEnable(), driver->counterEnable(),   driver->autoResetEnable()};
    }

    // Single properties and where their value sits in a composite.
    static void singleFieldRows()
    {
        QTest::addColumn<quint8>("code");
        QTest::addColumn<int>("composite");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("current") << quint8(17) << int(Data) << 0
                                 << Bytes().f32(2.5e-6f).toByteArray();
        QTest::newRow("voltage") << quint8(19) << int(Data) << 4
                                 << Bytes().f32(0.011f).toByteArray();
        QTest::newRow("counts") << quint8(20) << int(Data) << 8 << Bytes().f32(99.0f).toByteArray();
        QTest::newRow("status") << quint8(21) << int(Data) << 12 << Bytes().u8(0x15).toByteArray();
        QTest::newRow("cmpRefLevel")
            << quint8(31) << int(Params) << 0 << Bytes().f32(0.33f).toByteArray();
        QTest::newRow("timeConst")
            << quint8(33) << int(Params) << 4 << Bytes().f32(0.25f).toByteArray();
        QTest::newRow("autoResetThreshold")
            << quint8(35) << int(Params) << 8 << Bytes().f32(0.44f).toByteArray();
        QTest::newRow("autoResetTimeOut")
            << quint8(37) << int(Params) << 12 << Bytes().f32(7.5f).toByteArray();
        QTest::newRow("autoResetCounts")
            << quint8(39) << int(Params) << 16 << Bytes().u32(0x01020304).toByteArray();
        QTest::newRow("currentAdcCoeffs")
            << quint8(43) << int(Eeprom) << 0 << Bytes().f32(5.5f).f32(-0.5f).toByteArray();
        QTest::newRow("voltageAdcCoeffs")
            << quint8(45) << int(Eeprom) << 8 << Bytes().f32(6.5f).f32(-0.6f).toByteArray();
        QTest::newRow("currentDacCoeffs")
            << quint8(47) << int(Eeprom) << 16 << Bytes().f32(7.5f).f32(-0.7f).toByteArray();
        QTest::newRow("cmpRefDacCoeffs")
            << quint8(49) << int(Eeprom) << 24 << Bytes().f32(8.5f).f32(-0.8f).toByteArray();
    }

private slots:
    void init()
    {
        answers.clear();
        acknowledge = true;
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        peer->setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address != Address)
                return {};
            if (p.data.isEmpty() && answers.contains(p.command))
                return LoopbackPeer::packet(Address, p.command, answers.value(p.command));
            if (!p.data.isEmpty() && acknowledge)
                return LoopbackPeer::packet(Address, p.command);
            return {};
        });
        link = std::make_unique<cuTcpSocketIOInterface>();
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        driver = std::make_unique<SspdDriverM0>();
        driver->setAddress(Address);
        driver->setInterface(link.get());
        driver->setAnswerTimeout(30);
    }
    void cleanup()
    {
        driver.reset();
        link.reset();
        peer.reset();
    }

    void propertiesHaveTheirCodesInOrder()
    {
        const QList<QPair<int, int>> expected = {
            {16, 255}, {17, 18},  {19, 255}, {20, 255}, {21, 22}, {255, 23}, {255, 24}, {255, 25},
            {255, 26}, {255, 27}, {255, 28}, {29, 30},  {31, 32}, {33, 34},  {35, 36},  {37, 38},
            {39, 40},  {41, 42},  {43, 44},  {45, 46},  {47, 48}, {49, 50},  {51, 52},
        };
        const QList<QPair<int, int>> accessors = {
            codesOf(driver->data()),
            codesOf(driver->current()),
            codesOf(driver->voltage()),
            codesOf(driver->counts()),
            codesOf(driver->status()),
            codesOf(driver->shortEnable()),
            codesOf(driver->amplifierEnable()),
            codesOf(driver->rfKeyToComparator()),
            codesOf(driver->comparatorEnable()),
            codesOf(driver->counterEnable()),
            codesOf(driver->autoResetEnable()),
            codesOf(driver->params()),
            codesOf(driver->cmpRefLevel()),
            codesOf(driver->timeConst()),
            codesOf(driver->autoResetThreshold()),
            codesOf(driver->autoResetTimeOut()),
            codesOf(driver->autoResetCounts()),
            codesOf(driver->eepromConst()),
            codesOf(driver->currentAdcCoeffs()),
            codesOf(driver->voltageAdcCoeffs()),
            codesOf(driver->currentDacCoeffs()),
            codesOf(driver->cmpRefDacCoeffs()),
            codesOf(driver->auxFlag()),
        };
        QCOMPARE(accessors, expected);
        // Registered after the common identity, in table order, none displaced by another.
        QCOMPARE(driver->properties().size(), CommonProperties + expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(codesOf(driver->properties().at(CommonProperties + i)), expected.at(i));
    }

    void dataAnswerFillsEveryField()
    {
        Spies spies(driver.get());
        answers[16] = DataAnswer;
        bool ok = false;
        const VX9SDM0V1_Data_t data = driver->data()->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(data.current, 1.25e-6f);
        QCOMPARE(data.voltage, 0.0375f);
        QCOMPARE(data.counts, 4321.0f);
        QCOMPARE(data.status.toByte(), quint8(0x3A));
        QCOMPARE(bytesOf(data.reserved), QByteArray(3, char(0xA5)));
        // The single properties follow the answer.
        QCOMPARE(driver->current()->cached(), 1.25e-6f);
        QCOMPARE(driver->voltage()->cached(), 0.0375f);
        QCOMPARE(driver->counts()->cached(), 4321.0f);
        QCOMPARE(driver->status()->cached().toByte(), quint8(0x3A));
        QCOMPARE(spies.data.size(), 1);
        QCOMPARE(bytesOf(spies.data.at(0).at(0).value<VX9SDM0V1_Data_t>()), DataAnswer);
        QCOMPARE(spies.total(), 1);
    }

    void paramsAnswerFillsEveryField()
    {
        Spies spies(driver.get());
        answers[29] = ParamsAnswer;
        bool ok = false;
        const VX9SDM0V1_Param_t params = driver->params()->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(params.cmpRefLevel, 0.15f);
        QCOMPARE(params.timeConst, 0.5f);
        QCOMPARE(params.autoResetThreshold, 0.8f);
        QCOMPARE(params.autoResetTimeOut, 2.5f);
        QCOMPARE(params.autoResetCounts, 17u);
        QCOMPARE(driver->cmpRefLevel()->cached(), 0.15f);
        QCOMPARE(driver->timeConst()->cached(), 0.5f);
        QCOMPARE(driver->autoResetThreshold()->cached(), 0.8f);
        QCOMPARE(driver->autoResetTimeOut()->cached(), 2.5f);
        QCOMPARE(driver->autoResetCounts()->cached(), 17u);
        QCOMPARE(spies.params.size(), 1);
        QCOMPARE(bytesOf(spies.params.at(0).at(0).value<VX9SDM0V1_Param_t>()), ParamsAnswer);
        QCOMPARE(spies.total(), 1);
    }

    void eepromAnswerFillsEveryPair()
    {
        Spies spies(driver.get());
        answers[41] = EepromAnswer;
        bool ok = false;
        const VX9SDM0V1_EEPROM_Const_t e = driver->eepromConst()->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(e.currentAdc, (pair_t<float>{1.01f, 0.02f}));
        QCOMPARE(e.voltageAdc, (pair_t<float>{2.03f, 0.04f}));
        QCOMPARE(e.currentDac, (pair_t<float>{3.05f, 0.06f}));
        QCOMPARE(e.cmpRefDac, (pair_t<float>{4.07f, 0.08f}));
        QCOMPARE(driver->currentAdcCoeffs()->cached(), (pair_t<float>{1.01f, 0.02f}));
        QCOMPARE(driver->voltageAdcCoeffs()->cached(), (pair_t<float>{2.03f, 0.04f}));
        QCOMPARE(driver->currentDacCoeffs()->cached(), (pair_t<float>{3.05f, 0.06f}));
        QCOMPARE(driver->cmpRefDacCoeffs()->cached(), (pair_t<float>{4.07f, 0.08f}));
        QCOMPARE(spies.eeprom.size(), 1);
        QCOMPARE(bytesOf(spies.eeprom.at(0).at(0).value<VX9SDM0V1_EEPROM_Const_t>()), EepromAnswer);
        QCOMPARE(spies.total(), 1);
    }

    void statusBitsDecodeOneAtATime_data()
    {
        QTest::addColumn<int>("bit");
        for (int bit = 0; bit < 8; ++bit)
            QTest::addRow("bit %d", bit) << bit;
    }
    void statusBitsDecodeOneAtATime()
    {
        QFETCH(int, bit);
        answers[21] = Bytes().u8(quint8(1u << bit));
        bool ok = false;
        const VX9SDM0_Status_t status = driver->status()->read(&ok, 1);
        QVERIFY(ok);
        const QList<bool> fields = {status.getInite(),        status.getShorted(),
                                    status.getAmplifierOn(),  status.getRfKeyToComparator(),
                                    status.getComparatorOn(), status.getCounterOn(),
                                    status.getAutoResetOn(),  status.getError()};
        for (int i = 0; i < fields.size(); ++i)
            QCOMPARE(fields.at(i), i == bit);
        // The status answer reaches the live data as well.
        QCOMPARE(driver->data()->receivedData(), replaced(QByteArray(16, '\0'), 12, answers[21]));
    }

    void operatingChannel_data()
    {
        QTest::addColumn<quint8>("status");
        QTest::addColumn<bool>("operating");
        QTest::newRow("all on") << quint8(0x3C) << true;
        QTest::newRow("shorted") << quint8(0x3E) << false;
        QTest::newRow("other bits ignored") << quint8(0xFD) << true;
        QTest::newRow("amplifier off") << quint8(0x38) << false;
        QTest::newRow("rf key off") << quint8(0x34) << false;
        QTest::newRow("comparator off") << quint8(0x2C) << false;
        QTest::newRow("counter off") << quint8(0x1C) << false;
    }
    void operatingChannel()
    {
        QFETCH(quint8, status);
        QFETCH(bool, operating);
        answers[16] = replaced(DataAnswer, 12, Bytes().u8(status));
        QVERIFY(request(16));
        QCOMPARE(driver->data()->cached().status.isOperating(), operating);
        QCOMPARE(driver->status()->cached().isOperating(), operating);
    }

    void compositeAnswerFillsSingle_data() { singleFieldRows(); }
    void compositeAnswerFillsSingle()
    {
        QFETCH(quint8, code);
        QFETCH(int, offset);
        QFETCH(QByteArray, value);
        readComposites();
        QFETCH(int, composite);
        QCOMPARE(byReadCode(code)->receivedData(),
                 compositeBytes(composite).mid(offset, value.size()));
    }

    void singleAnswerReplacesItsField_data() { singleFieldRows(); }
    void singleAnswerReplacesItsField()
    {
        QFETCH(quint8, code);
        QFETCH(int, composite);
        QFETCH(int, offset);
        QFETCH(QByteArray, value);
        readComposites();
        const QByteArray before = compositeBytes(composite);
        Spies spies(driver.get());
        answers[code] = value;
        QVERIFY(request(code));
        const QByteArray expected = replaced(before, offset, value);
        QCOMPARE(byReadCode(code)->receivedData(), value);
        QCOMPARE(compositeBytes(composite), expected);
        QCOMPARE(spies.of(composite).size(), 1);
        QCOMPARE(spies.total(), 1);
        const QVariant published = spies.of(composite).at(0).at(0);
        QByteArray publishedBytes(static_cast<const char*>(published.constData()),
                                  published.metaType().sizeOf());
        QCOMPARE(publishedBytes, expected);
    }

    void wrongLengthAnswersChangeNothing_data()
    {
        QTest::addColumn<quint8>("code");
        QTest::addColumn<int>("size");
        const QList<QPair<quint8, int>> sizes = {
            {16, 16}, {17, 4}, {19, 4},  {20, 4}, {21, 1}, {29, 20}, {31, 4}, {33, 4}, {35, 4},
            {37, 4},  {39, 4}, {41, 32}, {43, 8}, {45, 8}, {47, 8},  {49, 8}, {51, 1},
        };
        for (const auto& [code, size] : sizes) {
            QTest::addRow("code %d short", code) << code << size - 1;
            QTest::addRow("code %d long", code) << code << size + 1;
        }
    }
    void wrongLengthAnswersChangeNothing()
    {
        QFETCH(quint8, code);
        QFETCH(int, size);
        readComposites();
        answers[51] = Bytes().u8(1);
        QVERIFY(request(51));
        const QByteArray single = byReadCode(code)->receivedData();
        const QByteArray data = compositeBytes(Data);
        const QByteArray params = compositeBytes(Params);
        const QByteArray eeprom = compositeBytes(Eeprom);
        Spies spies(driver.get());
        answers[code] = QByteArray(size, char(0x5A));
        QVERIFY(!request(code)); // no answer, whatever came
        QCOMPARE(byReadCode(code)->receivedData(), single);
        QCOMPARE(compositeBytes(Data), data);
        QCOMPARE(compositeBytes(Params), params);
        QCOMPARE(compositeBytes(Eeprom), eeprom);
        QCOMPARE(spies.total(), 0);
    }

    void writesCarryCodeAndValue()
    {
        VX9SDM0V1_Param_t params{0.125f, 1.5f, 0.375f, 4.0f, 258};
        VX9SDM0V1_EEPROM_Const_t eeprom{{1.5f, 0.25f}, {2.5f, 0.5f}, {3.5f, 0.75f}, {4.5f, 1.0f}};
        QVERIFY(writeAcknowledged(driver->current(), 3.5e-6f));
        QVERIFY(writeAcknowledged(driver->status(), VX9SDM0_Status_t::fromByte(0x06)));
        QVERIFY(writeAcknowledged(driver->shortEnable(), true));
        QVERIFY(writeAcknowledged(driver->amplifierEnable(), false));
        QVERIFY(writeAcknowledged(driver->rfKeyToComparator(), true));
        QVERIFY(writeAcknowledged(driver->comparatorEnable(), true));
        QVERIFY(writeAcknowledged(driver->counterEnable(), false));
        QVERIFY(writeAcknowledged(driver->autoResetEnable(), true));
        QVERIFY(writeAcknowledged(driver->params(), params));
        QVERIFY(writeAcknowledged(driver->cmpRefLevel(), 0.0625f));
        QVERIFY(writeAcknowledged(driver->timeConst(), 0.75f));
        QVERIFY(writeAcknowledged(driver->autoResetThreshold(), 0.875f));
        QVERIFY(writeAcknowledged(driver->autoResetTimeOut(), 12.0f));
        QVERIFY(writeAcknowledged(driver->autoResetCounts(), 0xA0B0C0D0u));
        QVERIFY(writeAcknowledged(driver->eepromConst(), eeprom));
        QVERIFY(writeAcknowledged(driver->currentAdcCoeffs(), pair_t<float>{9.0f, -1.0f}));
        QVERIFY(writeAcknowledged(driver->voltageAdcCoeffs(), pair_t<float>{10.0f, -2.0f}));
        QVERIFY(writeAcknowledged(driver->currentDacCoeffs(), pair_t<float>{11.0f, -3.0f}));
        QVERIFY(writeAcknowledged(driver->cmpRefDacCoeffs(), pair_t<float>{12.0f, -4.0f}));
        QVERIFY(writeAcknowledged(driver->auxFlag(), true));

        const QList<QPair<quint8, QByteArray>> expected = {
            {18, Bytes().f32(3.5e-6f)},
            {22, Bytes().u8(0x06)},
            {23, Bytes().u8(1)},
            {24, Bytes().u8(0)},
            {25, Bytes().u8(1)},
            {26, Bytes().u8(1)},
            {27, Bytes().u8(0)},
            {28, Bytes().u8(1)},
            {30, Bytes().f32(0.125f).f32(1.5f).f32(0.375f).f32(4.0f).u32(258)},
            {32, Bytes().f32(0.0625f)},
            {34, Bytes().f32(0.75f)},
            {36, Bytes().f32(0.875f)},
            {38, Bytes().f32(12.0f)},
            {40, Bytes().u32(0xA0B0C0D0u)},
            {42,
             Bytes().f32(1.5f).f32(0.25f).f32(2.5f).f32(0.5f).f32(3.5f).f32(0.75f).f32(4.5f).f32(
                 1.0f)},
            {44, Bytes().f32(9.0f).f32(-1.0f)},
            {46, Bytes().f32(10.0f).f32(-2.0f)},
            {48, Bytes().f32(11.0f).f32(-3.0f)},
            {50, Bytes().f32(12.0f).f32(-4.0f)},
            {52, Bytes().u8(1)},
        };
        QCOMPARE(peer->packets().size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(peer->packets().at(i).address, Address);
            QCOMPARE(peer->packets().at(i).command, expected.at(i).first);
            QCOMPARE(peer->packets().at(i).data, expected.at(i).second);
        }
    }

    void readRequestsCarryNoData()
    {
        const QList<quint8> codes = {16, 17, 19, 20, 21, 29, 31, 33, 35,
                                     37, 39, 41, 43, 45, 47, 49, 51};
        for (quint8 code : codes)
            QVERIFY(!request(code)); // the module stays silent
        QCOMPARE(peer->packets().size(), codes.size());
        for (int i = 0; i < codes.size(); ++i) {
            QCOMPARE(peer->packets().at(i).command, codes.at(i));
            QVERIFY(peer->packets().at(i).data.isEmpty());
        }
    }

    void switchAcknowledgementSetsItsBit_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("bit");
        const char* names[] = {"shortEnable",      "amplifierEnable", "rfKeyToComparator",
                               "comparatorEnable", "counterEnable",   "autoResetEnable"};
        for (int i = 0; i < 6; ++i)
            QTest::newRow(names[i]) << i << i + 1;
    }
    void switchAcknowledgementSetsItsBit()
    {
        QFETCH(int, index);
        QFETCH(int, bit);
        const quint8 mask = quint8(1u << bit);
        for (const quint8 reported : {quint8(0x00), quint8(0xFF)}) {
            const bool on = reported == 0;
            answers[16] = replaced(DataAnswer, 12, Bytes().u8(reported));
            QVERIFY(request(16));
            Spies spies(driver.get());
            QVERIFY(writeAcknowledged(switches().at(index), on));
            const quint8 expected = on ? mask : quint8(0xFF & ~mask);
            QCOMPARE(driver->data()->receivedData(),
                     replaced(DataAnswer, 12, Bytes().u8(expected)));
            QCOMPARE(driver->status()->cached().toByte(), reported);
            QCOMPARE(spies.data.size(), 1);
            QCOMPARE(spies.data.at(0).at(0).value<VX9SDM0V1_Data_t>().status.toByte(), expected);
            QCOMPARE(spies.total(), 1);
        }
    }

    void switchesStartFromTheReportedStatus()
    {
        answers[16] = DataAnswer; // status 0x3A
        QVERIFY(request(16));
        QVERIFY(writeAcknowledged(driver->amplifierEnable(), true));
        QCOMPARE(driver->data()->cached().status.toByte(), quint8(0x3E));
        // Not 0x1E: the second switch starts again from what the module reported.
        QVERIFY(writeAcknowledged(driver->counterEnable(), false));
        QCOMPARE(driver->data()->cached().status.toByte(), quint8(0x1A));
        // A status answer becomes the new reference.
        answers[21] = Bytes().u8(0x02);
        QVERIFY(request(21));
        QVERIFY(writeAcknowledged(driver->shortEnable(), false));
        QCOMPARE(driver->data()->cached().status.toByte(), quint8(0x00));
    }

    void statusAcknowledgementPublishesTheWrittenByte()
    {
        readComposites();
        Spies spies(driver.get());
        QVERIFY(writeAcknowledged(driver->status(), VX9SDM0_Status_t::fromByte(0x06)));
        QCOMPARE(driver->data()->receivedData(), replaced(DataAnswer, 12, Bytes().u8(0x06)));
        QCOMPARE(driver->status()->cached().toByte(), quint8(0x3A));
        QCOMPARE(spies.data.size(), 1);
        QCOMPARE(spies.total(), 1);
    }

    void unacknowledgedWritesChangeNothing()
    {
        readComposites();
        acknowledge = false;
        Spies spies(driver.get());
        bool ok = true;
        driver->amplifierEnable()->writeSync(true, &ok, 1);
        QVERIFY(!ok);
        driver->status()->writeSync(VX9SDM0_Status_t::fromByte(0x06), &ok, 1);
        QVERIFY(!ok);
        QCOMPARE(driver->data()->receivedData(), DataAnswer);
        QCOMPARE(spies.total(), 0);
    }

    // The written status is only known while the last packet through the property was
    // that write; an acknowledgement that arrives after a read request, or without any
    // write, must not publish a made-up status.
    void strayStatusAcknowledgementIsIgnored()
    {
        readComposites();
        Spies spies(driver.get());
        peer->sendToClient(LoopbackPeer::packet(Address, 22));
        flush();
        QCOMPARE(spies.total(), 0);

        acknowledge = false;
        driver->status()->write(VX9SDM0_Status_t::fromByte(0x06));
        driver->status()->request(); // silent: the module has no answer for code 21
        peer->sendToClient(LoopbackPeer::packet(Address, 22));
        flush();
        QCOMPARE(driver->data()->receivedData(), DataAnswer);
        QCOMPARE(spies.total(), 0);
    }

    void otherAcknowledgementsChangeNothing()
    {
        readComposites();
        Spies spies(driver.get());
        QVERIFY(writeAcknowledged(driver->current(), 7.0e-6f));
        QVERIFY(writeAcknowledged(driver->params(), VX9SDM0V1_Param_t{1, 2, 3, 4, 5}));
        QVERIFY(writeAcknowledged(driver->cmpRefLevel(), 0.9f));
        QVERIFY(writeAcknowledged(driver->timeConst(), 0.9f));
        QVERIFY(writeAcknowledged(driver->autoResetThreshold(), 0.9f));
        QVERIFY(writeAcknowledged(driver->autoResetTimeOut(), 0.9f));
        QVERIFY(writeAcknowledged(driver->autoResetCounts(), 9u));
        QVERIFY(writeAcknowledged(driver->eepromConst(), VX9SDM0V1_EEPROM_Const_t{}));
        QVERIFY(writeAcknowledged(driver->currentAdcCoeffs(), pair_t<float>{9, 9}));
        QVERIFY(writeAcknowledged(driver->voltageAdcCoeffs(), pair_t<float>{9, 9}));
        QVERIFY(writeAcknowledged(driver->currentDacCoeffs(), pair_t<float>{9, 9}));
        QVERIFY(writeAcknowledged(driver->cmpRefDacCoeffs(), pair_t<float>{9, 9}));
        QVERIFY(writeAcknowledged(driver->auxFlag(), true));
        QCOMPARE(spies.total(), 0);
        QCOMPARE(compositeBytes(Data), DataAnswer);
        QCOMPARE(compositeBytes(Params), ParamsAnswer);
        QCOMPARE(compositeBytes(Eeprom), EepromAnswer);
        QCOMPARE(driver->current()->cached(), 1.25e-6f);
        QCOMPARE(driver->timeConst()->cached(), 0.5f);
        // The bias current reaches the live data with the next answer.
        answers[17] = Bytes().f32(7.0e-6f);
        QVERIFY(request(17));
        QCOMPARE(driver->data()->cached().current, 7.0e-6f);
        QCOMPARE(spies.data.size(), 1);
    }

    void neverAnsweredValuesReadAsZero()
    {
        QCOMPARE(driver->data()->receivedData(), QByteArray());
        QCOMPARE(driver->data()->cached(), VX9SDM0V1_Data_t{});
        QCOMPARE(driver->params()->cached(), VX9SDM0V1_Param_t{});
        QCOMPARE(driver->eepromConst()->cached(), VX9SDM0V1_EEPROM_Const_t{});
        // A single answer before any composite answer builds on zeros.
        answers[33] = Bytes().f32(0.25f);
        QVERIFY(request(33));
        QCOMPARE(driver->params()->receivedData(), Bytes().pad(4).f32(0.25f).pad(12).toByteArray());
    }

    void fieldsAreReachableByName()
    {
        readComposites();
        const VX9SDM0V1_Data_t data = driver->data()->cached();
        compareFields(data, {{"current", 1.25e-6f},
                             {"voltage", 0.0375f},
                             {"counts", 4321.0f},
                             {"status", QVariant::fromValue(VX9SDM0_Status_t::fromByte(0x3A))}});
        if (QTest::currentTestFailed())
            return;
        const QVariant status = VX9SDM0V1_Data_t::staticMetaObject.property(3).readOnGadget(&data);
        QCOMPARE(status.metaType().metaObject(), &VX9SDM0_Status_t::staticMetaObject);
        compareFields(driver->status()->cached(), // 0x3A: bits 1, 3, 4, 5
                      {{"inite", false},
                       {"shorted", true},
                       {"amplifierOn", false},
                       {"rfKeyToComparator", true},
                       {"comparatorOn", true},
                       {"counterOn", true},
                       {"autoResetOn", false},
                       {"error", false}});
        if (QTest::currentTestFailed())
            return;
        compareFields(driver->params()->cached(), {{"cmpRefLevel", 0.15f},
                                                   {"timeConst", 0.5f},
                                                   {"autoResetThreshold", 0.8f},
                                                   {"autoResetTimeOut", 2.5f},
                                                   {"autoResetCounts", 17u}});
        if (QTest::currentTestFailed())
            return;
        compareFields(driver->eepromConst()->cached(),
                      {{"currentAdc", QVariant::fromValue(pair_t<float>{1.01f, 0.02f})},
                       {"voltageAdc", QVariant::fromValue(pair_t<float>{2.03f, 0.04f})},
                       {"currentDac", QVariant::fromValue(pair_t<float>{3.05f, 0.06f})},
                       {"cmpRefDac", QVariant::fromValue(pair_t<float>{4.07f, 0.08f})}});
    }

    void statusBitsCanBeWrittenByName()
    {
        const QMetaObject& meta = VX9SDM0_Status_t::staticMetaObject;
        for (int bit = 0; bit < 8; ++bit) {
            VX9SDM0_Status_t status = VX9SDM0_Status_t::fromByte(0);
            QVERIFY(meta.property(bit).writeOnGadget(&status, true));
            QCOMPARE(status.toByte(), quint8(1u << bit));
        }
    }
};

QTEST_GUILESS_MAIN(TestSspdDriverM0)
#include "tst_sspddriverm0.moc"
