// The temperature drivers against a scripted module: the chunked transfer of the sensor
// tables of both models (model 0: one table, chunks headed start and count; model 1: four,
// headed channel, start and count), and the model-1 channel settings and calibration.
#include "bytes.h"
#include "drivers/tempdriverm0.h"
#include "drivers/tempdriverm1.h"
#include "driverunit.h"

#include <QTest>
#include <cstring>

namespace {
constexpr quint8 Address = 11;
constexpr int Entries = 100;
constexpr pair_t<float> Zero{0, 0};

pair_t<float> moduleEntry(int ch, int i)
{
    return {10.0f * ch + 0.01f * i, 100.0f * ch + 2.5f * i};
}
pair_t<float> driverEntry(int ch, int i)
{
    return {-1.0f - ch - 0.001f * i, 1000.0f * (ch + 1) + i};
}
QByteArray entriesBytes(const QList<pair_t<float>>& entries)
{
    Bytes b;
    for (const pair_t<float>& e : entries)
        b.f32(e.first).f32(e.second);
    return b;
}

} // namespace

class TestTempDrivers : public QObject
{
    Q_OBJECT

    std::unique_ptr<DriverUnit> unit;
    std::unique_ptr<TempDriverM0> m0;
    std::unique_ptr<TempDriverM1> m1;
    int channels = 4; // 1: model 0

    // What the table tests need of either model.
    void set(int ch, int i, pair_t<float> e)
    {
        m0 ? void(m0->tempTable()[i] = e) : m1->setTableEntry(ch, i, e.first, e.second);
    }
    pair_t<float> get(int ch, int i) { return m0 ? m0->tempTable()[i] : m1->tableEntry(ch, i); }
    bool write() { return m0 ? m0->writeTempTable() : m1->writeTempTables(); }
    bool read() { return m0 ? m0->readTempTable() : m1->readTempTables(); }
    int readTries() const { return m0 ? 5 : 10; }
    static constexpr int WriteTries = 5;
    // The chunk header: model 0 has no channel byte.
    QByteArray header(int ch, int start) const
    {
        return (m1 ? QByteArray(1, char(ch)) : QByteArray()) + char(start) + char(10);
    }

    // The module: its tables, a chunk (channel * 1000 + start) it never answers and
    // replacements for the answer packets of some chunks; fixed answers by code. Every other
    // write is acknowledged.
    QList<QList<pair_t<float>>> tables;
    int silentChunk = -1;
    QHash<int, QByteArray> chunkAnswers;
    QHash<quint8, QByteArray> answers;

    QByteArray respond(const PeerPacket& p)
    {
        const auto answer = [&](const QByteArray& data) {
            return LoopbackPeer::packet(Address, p.command, data);
        };
        if (p.address != Address)
            return {};
        if (answers.contains(p.command))
            return answer(answers.value(p.command));
        const int h = channels > 1 ? 3 : 2;
        if ((p.command == 40 || p.command == 41) && p.data.size() >= h) {
            const int ch = h == 3 ? quint8(p.data.at(0)) : 0;
            const int start = quint8(p.data.at(h - 2)), count = quint8(p.data.at(h - 1));
            if (ch * 1000 + start == silentChunk)
                return {};
            if (p.command == 40)
                return chunkAnswers.value(ch * 1000 + start,
                                          answer(entriesBytes(tables[ch].mid(start, count))));
            for (int i = 0; i < count && p.data.size() == h + 8 * count; ++i)
                std::memcpy(&tables[ch][start + i], p.data.constData() + h + 8 * i, 8);
            return answer({});
        }
        return p.data.isEmpty() ? QByteArray() : answer({});
    }

    void start(int channels = 4)
    {
        unit = std::make_unique<DriverUnit>();
        QVERIFY(unit->start());
        unit->peer.setPacketResponder([this](const PeerPacket& p) { return respond(p); });
        tables.clear();
        for (int ch = 0; ch < channels; ++ch) {
            tables.append(QList<pair_t<float>>());
            for (int i = 0; i < Entries; ++i)
                tables[ch] << moduleEntry(ch, i);
        }
        this->channels = channels;
        if (channels == 1) {
            m0 = std::make_unique<TempDriverM0>();
            unit->attach(*m0, Address);
        } else {
            m1 = std::make_unique<TempDriverM1>();
            unit->attach(*m1, Address);
        }
    }
    void fillDriver()
    {
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < Entries; ++i)
                set(ch, i, driverEntry(ch, i));
    }
    // Entries of the driver before (ch, i) read from the module, the others still zero.
    void checkReadUpTo(int lastCh, int lastStart)
    {
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < Entries; ++i) {
                const bool read = ch < lastCh || (ch == lastCh && i < lastStart);
                QCOMPARE(get(ch, i), read ? moduleEntry(ch, i) : Zero);
            }
    }
    static void addModels()
    {
        QTest::addColumn<int>("channels");
        QTest::newRow("model 0") << 1;
        QTest::newRow("model 1") << 4;
    }

private slots:
    void cleanup()
    {
        m0.reset();
        m1.reset();
        unit.reset();
        silentChunk = -1;
        chunkAnswers.clear();
        answers.clear();
    }

    void tableWriteStopsAtAChunkNeverAcknowledged_data() { addModels(); }
    void tableWriteStopsAtAChunkNeverAcknowledged()
    {
        QFETCH(int, channels);
        start(channels);
        fillDriver();
        const int ch = channels - 1;
        silentChunk = ch * 1000 + 40;
        QVERIFY(!write());
        const int before = 10 * ch + 4;
        QCOMPARE(unit->peer.packets().size(), before + WriteTries);
        for (int t = before; t < before + WriteTries; ++t)
            QVERIFY(unit->peer.packets().at(t).data.startsWith(header(ch, 40)));
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < Entries; ++i) {
                const bool written = c < ch || i < 40;
                QCOMPARE(tables[c][i], written ? driverEntry(c, i) : moduleEntry(c, i));
            }
    }

    // Tables are read in chunks of ten, in order. Two extra entries after a full chunk fill
    // nothing beyond it. A chunk never answered is tried again and again; one answered short
    // fills what it holds; one answered with another code is no answer, and must not be
    // filled from the chunk before (any packet of the module ends a wait). Each stops the read.
    void tablesAreReadInChunks_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("how");
        for (const char* how : {"whole", "silent", "short", "other code"}) {
            QTest::addRow("model 0 %s", how) << 1 << how;
            QTest::addRow("model 1 %s", how) << 4 << how;
        }
    }
    void tablesAreReadInChunks()
    {
        QFETCH(int, channels);
        start(channels);
        QFETCH(QString, how);
        const bool whole = how == "whole";
        const int ch = whole ? channels : channels > 1 ? 2 : 0;
        const int start = whole ? 0 : 30, key = ch * 1000 + start;
        int filled = start, tries = 1;
        if (whole) {
            chunkAnswers[90] = LoopbackPeer::packet(
                Address, 40, entriesBytes(tables[0].mid(90, 10) << pair_t<float>{1e9f, 1e9f}));
            tries = 0;
        } else if (how == "silent") {
            silentChunk = key;
            tries = readTries();
        } else if (how == "short") {
            chunkAnswers[key] =
                LoopbackPeer::packet(Address, 40, entriesBytes(tables[ch].mid(start, 5)));
            filled = start + 5;
        } else {
            chunkAnswers[key] = LoopbackPeer::packet(Address, 17, Bytes().f32(5.0f));
            tries = readTries();
        }
        QCOMPARE(read(), whole);
        const int first = 10 * ch + start / 10; // packets before the failing chunk's tries
        QCOMPARE(unit->peer.packets().size(), first + tries);
        for (int k = 0; k < first + tries; ++k) {
            const int j = qMin(k, first);
            QCOMPARE(unit->peer.packets().at(k).command, quint8(40));
            QCOMPARE(unit->peer.packets().at(k).data, header(j / 10, 10 * (j % 10)));
        }
        checkReadUpTo(ch, filled);
    }

    // An answer of another code is no answer: the last one is not replayed for it.
    void answerOfAnotherCodeIsNoAnswer()
    {
        start();
        answers[17] = Bytes().f32(4.5f);
        QVERIFY(m1->readTemperature(1));
        unit->peer.setPacketResponder(
            [](const PeerPacket& p) { return LoopbackPeer::packet(p.address, 42, "\x01"); });
        QVERIFY(!m1->readTemperature(2));
        QCOMPARE(m1->temperature(2), 0.0f);
    }

    // Settings: four channels of a flag byte and a float, packed; calibration: four channels
    // of four floats. Written with 47 and 27, read with 46 and 26, five tries each; an answer
    // of another length leaves the held values as they were.
    void settingsAndCalibration()
    {
        start();
        Bytes settings, calibration;
        for (int ch = 0; ch < 4; ++ch) {
            m1->setChannelSetting(ch, {quint8(ch % 2), {}, 0.5f * ch});
            settings.u8(ch % 2).f32(0.5f * ch);
            m1->setCalibration(ch, 10 * ch + 1, 10 * ch + 2, 10 * ch + 3, 10 * ch + 4);
            calibration.f32(10 * ch + 1).f32(10 * ch + 2).f32(10 * ch + 3).f32(10 * ch + 4);
        }
        QVERIFY(m1->writeChannelSettings() && m1->writeCalibration());
        QCOMPARE(unit->codes(), QList<quint8>({47, 27}));
        QCOMPARE(unit->peer.packets().at(0).data, settings.toByteArray());
        QCOMPARE(unit->peer.packets().at(1).data, calibration.toByteArray());

        answers[46] = Bytes().u8(0).f32(7.5f).u8(7).f32(-8.5f).u8(1).f32(9.5f).u8(0).f32(0);
        answers[26] = calibration.toByteArray().mid(4) + Bytes().f32(-1);
        QVERIFY(m1->readChannelSettings() && m1->readCalibration());
        QCOMPARE(m1->channelSetting(1).flag, quint8(1)); // any non-zero flag byte is on
        QCOMPARE(m1->channelSetting(1).value, -8.5f);
        QCOMPARE(m1->calibration(3), (VX9TDM1_Calibration_t{32, 33, 34, -1}));
        for (int extra : {-1, 1}) {
            answers[46] = QByteArray(20 + extra, '\x01');
            answers[26] = QByteArray(64 + extra, '\x01');
            QVERIFY(!m1->readChannelSettings());
            QVERIFY(!m1->readCalibration());
        }
        QCOMPARE(m1->channelSetting(1).value, -8.5f);
    }
};

QTEST_GUILESS_MAIN(TestTempDrivers)
#include "tst_tempdrivers.moc"
