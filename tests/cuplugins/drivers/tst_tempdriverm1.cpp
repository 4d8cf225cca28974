// The model-1 temperature driver against a scripted module: relays and switcher mode, the
// channel values it holds and moves with explicit operations, and the chunked transfer of
// its four sensor tables.
#include "bytes.h"
#include "drivers/tempdriverm1.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QMetaEnum>
#include <QMetaProperty>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <functional>

namespace {
constexpr quint8 Address = 11;
constexpr int ShortTimeoutMs = 30;
constexpr int Channels = 4;
constexpr int TableSize = 100;

pair_t<float> moduleEntry(int ch, int i)
{
    return {10.0f * ch + 0.01f * i, 100.0f * ch + 2.5f * i};
}
pair_t<float> driverEntry(int ch, int i)
{
    return {-1.0f - ch - 0.001f * i, 1000.0f * (ch + 1) + i};
}
constexpr pair_t<float> Zero{0.0f, 0.0f};

QByteArray entriesBytes(const QList<pair_t<float>>& entries)
{
    Bytes b;
    for (const pair_t<float>& e : entries)
        b.f32(e.first).f32(e.second);
    return b;
}

int chunkKey(int ch, int start)
{
    return ch * 1000 + start;
}

QStringList fieldNames(const QMetaObject& meta)
{
    QStringList names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        names << QString::fromLatin1(meta.property(i).name());
    return names;
}

QVariant field(const QMetaObject& meta, const void* gadget, const char* name)
{
    const int index = meta.indexOfProperty(name);
    return index < 0 ? QVariant() : meta.property(index).readOnGadget(gadget);
}
} // namespace

class TestTempDriverM1 : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    std::unique_ptr<TempDriverM1> driver;

    // The module. Codes in answers are answered with those bytes whatever was asked;
    // silent codes get no answer; everything else is served from the state below, and
    // every write is acknowledged with an empty packet of its code.
    QHash<quint8, QByteArray> answers;
    QSet<quint8> silent;
    quint8 relaysByte = 0x02;
    float voltages[Channels] = {0.101f, 0.202f, 0.303f, 0.404f};
    float temperatures[Channels] = {4.2f, 77.3f, 150.5f, 293.15f};
    QList<QList<pair_t<float>>> tables;
    int silentChunk = -1;
    QHash<int, QByteArray> chunkAnswers;

    QByteArray respond(const PeerPacket& p)
    {
        if (p.address != Address || silent.contains(p.command))
            return {};
        if (answers.contains(p.command))
            return LoopbackPeer::packet(Address, p.command, answers.value(p.command));
        const auto answer = [&](const QByteArray& data) {
            return LoopbackPeer::packet(Address, p.command, data);
        };
        switch (p.command) {
        case 42:
            return answer(Bytes().u8(relaysByte));
        case 21:
        case 17: {
            const float* values = p.command == 21 ? voltages : temperatures;
            const quint8 ch = p.data.isEmpty() ? 0xFE : quint8(p.data.at(0));
            if (ch == 0xFF)
                return answer(Bytes().f32(values[0]).f32(values[1]).f32(values[2]).f32(values[3]));
            return ch < Channels ? answer(Bytes().f32(values[ch])) : QByteArray();
        }
        case 40: {
            const int ch = quint8(p.data.at(0));
            const int start = quint8(p.data.at(1));
            const int count = quint8(p.data.at(2));
            if (chunkKey(ch, start) == silentChunk)
                return {};
            if (chunkAnswers.contains(chunkKey(ch, start)))
                return chunkAnswers.value(chunkKey(ch, start));
            return answer(entriesBytes(tables[ch].mid(start, count)));
        }
        case 41: {
            const int ch = quint8(p.data.at(0));
            const int start = quint8(p.data.at(1));
            const int count = quint8(p.data.at(2));
            if (chunkKey(ch, start) == silentChunk || p.data.size() != 3 + 8 * count)
                return {};
            for (int i = 0; i < count; ++i) {
                float v[2];
                std::memcpy(v, p.data.constData() + 3 + 8 * i, 8);
                tables[ch][start + i] = {v[0], v[1]};
            }
            return answer({});
        }
        default:
            return p.data.isEmpty() ? QByteArray() : answer({});
        }
    }

    QList<pair_t<float>> driverTable(int ch) const
    {
        const TempDriverM1::TempTable table = driver->tableData(ch);
        return QList<pair_t<float>>(table.begin(), table.end());
    }

    void fillDriverTables()
    {
        for (int ch = 0; ch < Channels; ++ch)
            for (int i = 0; i < TableSize; ++i)
                driver->setTableEntry(ch, i, driverEntry(ch, i).first, driverEntry(ch, i).second);
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
        relaysByte = 0x02;
        silentChunk = -1;
        chunkAnswers.clear();
        tables.clear();
        for (int ch = 0; ch < Channels; ++ch) {
            tables.append(QList<pair_t<float>>());
            for (int i = 0; i < TableSize; ++i)
                tables[ch] << moduleEntry(ch, i);
        }
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        peer->setPacketResponder([this](const PeerPacket& p) { return respond(p); });
        link = std::make_unique<cuTcpSocketIOInterface>();
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        driver = std::make_unique<TempDriverM1>();
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

    void relaysAreReadAndChanged()
    {
        bool ok = false;
        const cRelaysStatus status = driver->relays()->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(sentCodes(), QList<quint8>({42}));
        QVERIFY(peer->packets().last().data.isEmpty());
        QCOMPARE(status.raw(), quint8(0x02));
        QVERIFY(!status[0]);
        QVERIFY(status[1]);

        driver->relays()->writeSync(cRelaysStatus(0x1, 0x1), &ok, 1);
        QVERIFY(ok);
        QCOMPARE(peer->packets().last().command, quint8(43));
        QCOMPARE(peer->packets().last().data, QByteArray(1, '\x11'));
        driver->relays()->writeSync(cRelaysStatus(0x12, 0x0), &ok, 1);
        QCOMPARE(peer->packets().last().data, QByteArray(1, '\x20'));
        QCOMPARE(driver->relays()->lastWritten().raw(), quint8(0x20));
        // Acknowledgements are not relay states.
        QCOMPARE(driver->relays()->cached().raw(), quint8(0x02));

        answers[42] = Bytes().u8(0x01).u8(0x00);
        driver->relays()->read(&ok, 1);
        QVERIFY(!ok);
        QCOMPARE(driver->relays()->cached().raw(), quint8(0x02));
    }

    void switcherModeTravelsAsItsFirstByte()
    {
        answers[44] = Bytes().u8(3).u8(0xAA).u8(0xBB).u8(0xCC);
        bool ok = false;
        QCOMPARE(driver->switcherMode()->read(&ok, 1), cmd::VX9TDM1_SwitcherMode3);
        QVERIFY(ok);
        QCOMPARE(peer->packets().last().command, quint8(44));

        answers[44] = Bytes().u8(200).pad(3);
        QCOMPARE(quint32(driver->switcherMode()->read(&ok, 1)), 200u);

        // Only four bytes make an answer.
        for (int length : {1, 3, 5}) {
            answers[44] = QByteArray(length, '\x01');
            QCOMPARE(quint32(driver->switcherMode()->read(&ok, 1)), 200u);
            QVERIFY(!ok);
        }

        driver->switcherMode()->writeSync(cmd::VX9TDM1_SwitcherMode2, &ok, 1);
        QVERIFY(ok);
        QCOMPARE(peer->packets().last().command, quint8(45));
        QCOMPARE(peer->packets().last().data, QByteArray(1, '\x02'));
        QCOMPARE(driver->switcherMode()->lastWritten(), cmd::VX9TDM1_SwitcherMode2);
        driver->switcherMode()->write(cmd::enum_VX9TDM1_SwitcherMode(0x1FF));
        QTRY_COMPARE(peer->packets().last().data, QByteArray(1, '\xFF'));
    }

    void switcherModeIsAnEnumerationOfFourBytes()
    {
        const QMetaEnum meta = QMetaEnum::fromType<cmd::enum_VX9TDM1_SwitcherMode>();
        QVERIFY(meta.isValid());
        QCOMPARE(QByteArray(meta.name()), QByteArray("enum_VX9TDM1_SwitcherMode"));
        QCOMPARE(QByteArray(meta.scope()), QByteArray("cmd"));
        QCOMPARE(QByteArray(meta.valueToKey(cmd::VX9TDM1_SwitcherMode1)),
                 QByteArray("VX9TDM1_SwitcherMode1"));
        QCOMPARE(QMetaType::fromType<cmd::enum_VX9TDM1_SwitcherMode>().sizeOf(), 4);
        QCOMPARE(driver->switcherMode()->valueSize(), 4);
    }

    void sensorCurrentIsSetPerChannelOrForAll_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("all");
        QTest::addColumn<int>("sentChannel");
        QTest::newRow("0") << 0 << false << 0;
        QTest::newRow("3") << 3 << false << 3;
        QTest::newRow("255") << 255 << false << 255;
        QTest::newRow("all") << -1 << true << 255;
    }
    void sensorCurrentIsSetPerChannelOrForAll()
    {
        QFETCH(int, channel);
        QFETCH(bool, all);
        QFETCH(int, sentChannel);
        const float value = 2.75e-6f;
        QVERIFY(all ? driver->setSensorCurrentAll(value)
                    : driver->setSensorCurrent(channel, value));
        QCOMPARE(peer->packets().size(), 1);
        QCOMPARE(peer->packets().at(0).command, quint8(20));
        QCOMPARE(peer->packets().at(0).data,
                 Bytes().u8(quint8(sentChannel)).f32(value).toByteArray());
    }

    void sensorCurrentRejectsOtherChannelsAndTriesOnce()
    {
        for (int ch : {4, 7, 254, -1, 256})
            QVERIFY2(!driver->setSensorCurrent(ch, 1.0f), QByteArray::number(ch).constData());
        QTest::qWait(20);
        QVERIFY(peer->packets().isEmpty());

        silent << 20;
        QVERIFY(!driver->setSensorCurrent(1, 1.0f));
        QCOMPARE(sentCodes(), QList<quint8>({20}));
    }

    void allChannelValuesAreRead_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("sensor voltages") << 21;
        QTest::newRow("temperatures") << 17;
    }
    void allChannelValuesAreRead()
    {
        QFETCH(int, code);
        const bool voltage = code == 21;
        const auto readAll = [&] {
            return voltage ? driver->readSensorVoltages() : driver->readTemperatures();
        };
        const auto held = [&](int ch) {
            return voltage ? driver->sensorVoltage(ch) : driver->temperature(ch);
        };
        const float* module = voltage ? voltages : temperatures;

        QVERIFY(readAll());
        QCOMPARE(peer->packets().last().command, quint8(code));
        QCOMPARE(peer->packets().last().data, QByteArray(1, '\xFF'));
        for (int ch = 0; ch < Channels; ++ch)
            QCOMPARE(held(ch), module[ch]);
        QCOMPARE(held(4), 0.0f);
        QCOMPARE(held(-1), 0.0f);

        // A short or long answer, or none, leaves every channel as it was.
        for (int length : {12, 15, 17, 20}) {
            answers[quint8(code)] = QByteArray(length, '\x33');
            QVERIFY2(!readAll(), QByteArray::number(length).constData());
        }
        answers.clear();
        silent << quint8(code);
        const int before = int(peer->packets().size());
        QVERIFY(!readAll());
        QCOMPARE(int(peer->packets().size()), before + 1);
        for (int ch = 0; ch < Channels; ++ch)
            QCOMPARE(held(ch), module[ch]);
    }

    void oneChannelValueIsRead_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("sensor voltage") << 21;
        QTest::newRow("temperature") << 17;
    }
    void oneChannelValueIsRead()
    {
        QFETCH(int, code);
        const bool voltage = code == 21;
        const auto readOne = [&](int ch) {
            return voltage ? driver->readSensorVoltage(ch) : driver->readTemperature(ch);
        };
        const auto held = [&](int ch) {
            return voltage ? driver->sensorVoltage(ch) : driver->temperature(ch);
        };
        const float* module = voltage ? voltages : temperatures;

        QVERIFY(readOne(2));
        QCOMPARE(peer->packets().last().command, quint8(code));
        QCOMPARE(peer->packets().last().data, QByteArray(1, '\x02'));
        for (int ch = 0; ch < Channels; ++ch)
            QCOMPARE(held(ch), ch == 2 ? module[2] : 0.0f);

        for (int ch : {4, -1, 255})
            QVERIFY(!readOne(ch));
        QTest::qWait(20);
        QCOMPARE(peer->packets().size(), 1);

        for (int length : {0, 3, 5, 16}) {
            answers[quint8(code)] = QByteArray(length, '\x33');
            QVERIFY2(!readOne(3), QByteArray::number(length).constData());
        }
        QCOMPARE(held(3), 0.0f);
    }

    // Any packet of the module ends a wait; an earlier answer must not pass for this one's.
    void answerOfAnotherCodeDoesNotReplayTheLastValue()
    {
        QVERIFY(driver->readTemperature(1));
        // The request of channel 2 is answered with the relay byte instead.
        peer->setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.command == 17)
                return LoopbackPeer::packet(Address, 42, Bytes().u8(0x01));
            return respond(p);
        });
        QVERIFY(!driver->readTemperature(2));
        QCOMPARE(driver->temperature(2), 0.0f);
        QCOMPARE(driver->temperature(1), temperatures[1]);
    }

    void channelSettingsAreWrittenAndRead()
    {
        const VX9TDM1_ChannelSetting_t settings[Channels] = {
            {1, {}, 0.5f}, {0, {}, -1.25f}, {1, {}, 3.0f}, {0, {}, 1e-3f}};
        for (int ch = 0; ch < Channels; ++ch)
            driver->setChannelSetting(ch, settings[ch]);
        driver->setChannelSetting(4, {1, {}, 9.0f});
        QCOMPARE(driver->channelSetting(4), VX9TDM1_ChannelSetting_t{});

        QVERIFY(driver->writeChannelSettings());
        QCOMPARE(peer->packets().last().command, quint8(47));
        QCOMPARE(peer->packets().last().data, Bytes()
                                                  .u8(1)
                                                  .f32(0.5f)
                                                  .u8(0)
                                                  .f32(-1.25f)
                                                  .u8(1)
                                                  .f32(3.0f)
                                                  .u8(0)
                                                  .f32(1e-3f)
                                                  .toByteArray());

        answers[46] = Bytes().u8(0).f32(7.5f).u8(7).f32(-8.5f).u8(1).f32(9.5f).u8(0).f32(0.0f);
        QVERIFY(driver->readChannelSettings());
        QCOMPARE(peer->packets().last().command, quint8(46));
        QVERIFY(peer->packets().last().data.isEmpty());
        const VX9TDM1_ChannelSetting_t expected[Channels] = {
            {0, {}, 7.5f}, {1, {}, -8.5f}, {1, {}, 9.5f}, {0, {}, 0.0f}};
        for (int ch = 0; ch < Channels; ++ch) {
            QCOMPARE(driver->channelSetting(ch).flag, expected[ch].flag);
            QCOMPARE(driver->channelSetting(ch).value, expected[ch].value);
        }

        answers[46] = QByteArray(19, '\x01');
        QVERIFY(!driver->readChannelSettings());
        answers[46] = QByteArray(21, '\x01');
        QVERIFY(!driver->readChannelSettings());
        QCOMPARE(driver->channelSetting(1).value, -8.5f);
    }

    void channelSettingsAreTriedFiveTimes()
    {
        silent << 46 << 47;
        QVERIFY(!driver->writeChannelSettings());
        QVERIFY(!driver->readChannelSettings());
        QCOMPARE(sentCodes(), QList<quint8>({47, 47, 47, 47, 47, 46, 46, 46, 46, 46}));
    }

    void calibrationIsWrittenAndRead()
    {
        Bytes expected;
        for (int ch = 0; ch < Channels; ++ch) {
            const float base = 10.0f * ch;
            driver->setCalibration(ch, base + 1, base + 2, base + 3, base + 4);
            expected.f32(base + 1).f32(base + 2).f32(base + 3).f32(base + 4);
        }
        driver->setCalibration(4, 9, 9, 9, 9);
        driver->setCalibration(-1, 9, 9, 9, 9);
        QCOMPARE(driver->calibration(4), VX9TDM1_Calibration_t{});
        QVERIFY(driver->writeCalibration());
        QCOMPARE(peer->packets().last().command, quint8(27));
        QCOMPARE(peer->packets().last().data, expected.toByteArray());

        Bytes answer;
        for (int i = 0; i < 16; ++i)
            answer.f32(-0.5f * (i + 1));
        answers[26] = answer;
        QVERIFY(driver->readCalibration());
        QCOMPARE(peer->packets().last().command, quint8(26));
        QVERIFY(peer->packets().last().data.isEmpty());
        const VX9TDM1_Calibration_t ch2 = driver->calibration(2);
        QCOMPARE(ch2.a, -4.5f);
        QCOMPARE(ch2.b, -5.0f);
        QCOMPARE(ch2.c, -5.5f);
        QCOMPARE(ch2.d, -6.0f);
        QCOMPARE(driver->calibration(3).d, -8.0f);

        answers[26] = QByteArray(63, '\x01');
        QVERIFY(!driver->readCalibration());
        QCOMPARE(driver->calibration(2), ch2);
        silent << 26 << 27;
        const int before = int(peer->packets().size());
        QVERIFY(!driver->readCalibration());
        QVERIFY(!driver->writeCalibration());
        QCOMPARE(int(peer->packets().size()), before + 10);
        QCOMPARE(driver->calibration(2), ch2);
    }

    void heldStructuresAreReadableByFieldName()
    {
        Bytes answer;
        for (int i = 0; i < 16; ++i)
            answer.f32(1.5f + i);
        answers[26] = answer;
        answers[46] = Bytes().u8(0).f32(0.0f).u8(1).f32(6.25f).u8(0).f32(0.0f).u8(0).f32(0.0f);
        QVERIFY(driver->readCalibration());
        QVERIFY(driver->readChannelSettings());

        const VX9TDM1_Calibration_t calibration = driver->calibration(1);
        const QMetaObject& calibrationMeta = VX9TDM1_Calibration_t::staticMetaObject;
        QCOMPARE(fieldNames(calibrationMeta), QStringList({"a", "b", "c", "d"}));
        QCOMPARE(field(calibrationMeta, &calibration, "a"), QVariant(5.5f));
        QCOMPARE(field(calibrationMeta, &calibration, "b"), QVariant(6.5f));
        QCOMPARE(field(calibrationMeta, &calibration, "c"), QVariant(7.5f));
        QCOMPARE(field(calibrationMeta, &calibration, "d"), QVariant(8.5f));

        const VX9TDM1_ChannelSetting_t setting = driver->channelSetting(1);
        const QMetaObject& settingMeta = VX9TDM1_ChannelSetting_t::staticMetaObject;
        QCOMPARE(fieldNames(settingMeta), QStringList({"flag", "value"}));
        QCOMPARE(field(settingMeta, &setting, "flag").toInt(), 1);
        QCOMPARE(field(settingMeta, &setting, "value"), QVariant(6.25f));
    }

    void localTablesAreRangeChecked()
    {
        QCOMPARE(driver->tableEntry(4, 0), Zero);
        QCOMPARE(driver->tableEntry(0, 100), Zero);
        driver->setTableEntry(0, 99, 1.0f, 2.0f);
        driver->setTableEntry(3, 0, 3.0f, 4.0f);
        QCOMPARE(driver->tableEntry(0, 99), (pair_t<float>{1.0f, 2.0f}));
        QCOMPARE(driver->tableEntry(3, 0), (pair_t<float>{3.0f, 4.0f}));
        QCOMPARE(driver->tableEntry(4, 0), Zero);
        QCOMPARE(driver->tableEntry(0, 100), Zero);
        QCOMPARE(driver->tableEntry(-1, 0), Zero);
        QCOMPARE(driver->tableEntry(0, -1), Zero);

        for (auto [ch, index] :
             std::initializer_list<std::pair<int, int>>{{4, 0}, {0, 100}, {-1, 5}, {1, -1}})
            driver->setTableEntry(ch, index, 9.0f, 9.0f);
        int set = 0;
        for (int ch = 0; ch < Channels; ++ch)
            for (const pair_t<float>& e : driver->tableData(ch))
                set += e == Zero ? 0 : 1;
        QCOMPARE(set, 2);
        for (const pair_t<float>& e : driver->tableData(4))
            QCOMPARE(e, Zero);

        std::array<float, 200> values;
        for (int i = 0; i < 200; ++i)
            values[i] = 0.25f * i;
        driver->setTable(2, values);
        driver->setTable(4, values);
        for (int i = 0; i < TableSize; ++i)
            QCOMPARE(driver->tableEntry(2, i), (pair_t<float>{0.5f * i, 0.5f * i + 0.25f}));
        QCOMPARE(driver->tableEntry(1, 7), Zero);
    }

    void tablesAreWrittenInFortyChunks()
    {
        fillDriverTables();
        QVERIFY(driver->writeTempTables());
        QCOMPARE(peer->packets().size(), 40);
        for (int k = 0; k < 40; ++k) {
            const int ch = k / 10;
            const int start = 10 * (k % 10);
            const PeerPacket& p = peer->packets().at(k);
            QCOMPARE(p.command, quint8(41));
            QCOMPARE(p.data.size(), 83);
            QList<pair_t<float>> entries;
            for (int i = 0; i < 10; ++i)
                entries << driverEntry(ch, start + i);
            QCOMPARE(p.data, Bytes()
                                 .u8(quint8(ch))
                                 .u8(quint8(start))
                                 .u8(10)
                                 .bytes(entriesBytes(entries))
                                 .toByteArray());
        }
        for (int ch = 0; ch < Channels; ++ch)
            QCOMPARE(tables.at(ch), driverTable(ch));
    }

    void tableWriteStopsAtAChunkNeverAcknowledged()
    {
        fillDriverTables();
        silentChunk = chunkKey(1, 40);
        QVERIFY(!driver->writeTempTables());
        QCOMPARE(peer->packets().size(), 10 + 4 + 5);
        for (int t = 14; t < 19; ++t)
            QCOMPARE(peer->packets().at(t).data, peer->packets().at(14).data);
        QCOMPARE(peer->packets().at(14).data.left(3), Bytes().u8(1).u8(40).u8(10).toByteArray());
        for (int ch = 0; ch < Channels; ++ch)
            for (int i = 0; i < TableSize; ++i) {
                const bool written = ch == 0 || (ch == 1 && i < 40);
                QCOMPARE(tables.at(ch).at(i), written ? driverEntry(ch, i) : moduleEntry(ch, i));
            }
    }

    void tablesAreReadInFortyChunks()
    {
        QVERIFY(driver->readTempTables());
        QCOMPARE(peer->packets().size(), 40);
        for (int k = 0; k < 40; ++k) {
            QCOMPARE(peer->packets().at(k).command, quint8(40));
            QCOMPARE(peer->packets().at(k).data,
                     Bytes().u8(quint8(k / 10)).u8(quint8(10 * (k % 10))).u8(10).toByteArray());
        }
        for (int ch = 0; ch < Channels; ++ch)
            QCOMPARE(driverTable(ch), tables.at(ch));
    }

    void tableReadTriesAChunkTenTimesThenStops()
    {
        silentChunk = chunkKey(2, 70);
        QVERIFY(!driver->readTempTables());
        QCOMPARE(peer->packets().size(), 20 + 7 + 10);
        for (int t = 27; t < 37; ++t)
            QCOMPARE(peer->packets().at(t).data, Bytes().u8(2).u8(70).u8(10).toByteArray());
        for (int ch = 0; ch < Channels; ++ch)
            for (int i = 0; i < TableSize; ++i) {
                const bool read = ch < 2 || (ch == 2 && i < 70);
                QCOMPARE(driver->tableEntry(ch, i), read ? moduleEntry(ch, i) : Zero);
            }
    }

    void shortChunkAnswerFillsWhatItHoldsAndStops()
    {
        chunkAnswers[chunkKey(1, 20)] =
            LoopbackPeer::packet(Address, 40, entriesBytes(tables.at(1).mid(20, 5)));
        QVERIFY(!driver->readTempTables());
        QCOMPARE(peer->packets().size(), 10 + 3);
        for (int i = 0; i < TableSize; ++i) {
            QCOMPARE(driver->tableEntry(0, i), moduleEntry(0, i));
            QCOMPARE(driver->tableEntry(1, i), i < 25 ? moduleEntry(1, i) : Zero);
            QCOMPARE(driver->tableEntry(2, i), Zero);
        }
    }

    void chunkAnsweredByAnotherCodeIsNotFilledFromTheLastChunk()
    {
        chunkAnswers[chunkKey(0, 10)] = LoopbackPeer::packet(Address, 42, Bytes().u8(0x03));
        QVERIFY(!driver->readTempTables());
        QCOMPARE(peer->packets().size(), 1 + 10); // tried as often as a silent chunk
        for (int i = 0; i < TableSize; ++i)
            QCOMPARE(driver->tableEntry(0, i), i < 10 ? moduleEntry(0, i) : Zero);
    }
};

QTEST_GUILESS_MAIN(TestTempDriverM1)
#include "tst_tempdriverm1.moc"
