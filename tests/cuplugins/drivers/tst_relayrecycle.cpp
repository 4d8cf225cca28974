// The cryocooler recycle procedure and the relay checks under it against scripted modules: a
// model-1 temperature module that keeps two relays and applies the written mask and states, a
// model-0 and a model-1 SSPD channel, and a module of another kind.
#include "bytes.h"
#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm1.h"
#include "drivers/temperaturerecycleinterface.h"
#include "driverunit.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <limits>

namespace {
constexpr quint8 TempAddress = 9, M0Address = 3, M1Address = 4, OtherAddress = 6;
constexpr quint8 ReadRelays = 42, WriteRelays = 43;
using Recycle = TemperatureRecycleInterface;

struct Channel
{
    float current = 0;
    quint8 status = 0;
    bool answersReads = true;
};
} // namespace

class TestRelayRecycle : public QObject
{
    Q_OBJECT

    std::unique_ptr<DriverUnit> unit;
    std::unique_ptr<TempDriverM1> temp;
    std::unique_ptr<SspdDriverM0> sspd0;
    std::unique_ptr<SspdDriverM1> sspd1;
    std::unique_ptr<CommonDriver> other;
    QList<CommonDriver*> drivers;

    quint8 relays = 0x02; // bit 0 relay 0, bit 1 relay 1; at rest relay 1 is on
    bool stuck = false;   // writes are acknowledged, the relays stay as they are
    QHash<quint8, Channel> channels;
    // Packets as "address:code:data" and announced states as "state N", in order.
    QStringList events;

    QByteArray respond(const PeerPacket& p)
    {
        events << QString("%1:%2:%3").arg(p.address).arg(p.command).arg(p.data.toHex());
        const auto answer = [&](const QByteArray& data) {
            return LoopbackPeer::packet(p.address, p.command, data);
        };
        if (p.address == TempAddress) {
            if (p.command == ReadRelays && p.data.isEmpty())
                return answer(Bytes().u8(relays));
            if (p.command == WriteRelays && p.data.size() == 1) {
                const quint8 byte = quint8(p.data.at(0)), mask = byte >> 4;
                if (!stuck)
                    relays = quint8((relays & ~mask) | (byte & mask & 0x0F));
                return answer({});
            }
        }
        if (!channels.contains(p.address))
            return {};
        const Channel& c = channels[p.address];
        if (p.command == 17 && p.data.isEmpty() && c.answersReads)
            return answer(Bytes().f32(c.current));
        if (p.command == 21 && p.data.isEmpty() && c.answersReads)
            return answer(Bytes().u8(c.status));
        return p.command == 23 && p.data.size() == 1 ? answer({}) : QByteArray();
    }
    int relayReads() const { return int(events.filter("9:42:").size()); }

    std::unique_ptr<Recycle> makeRecycle()
    {
        auto recycle = std::make_unique<Recycle>(temp.get(), &drivers);
        recycle->setProgressInterval(10);
        connect(
            recycle.get(), &Recycle::stateChanged, this,
            [this](Recycle::TemperatureRecycleState s) { events << QString("state %1").arg(s); });
        events.clear();
        return recycle;
    }
    QList<int> states() const
    {
        QList<int> result;
        for (const QString& e : events)
            if (e.startsWith("state "))
                result << e.mid(6).toInt();
        return result;
    }
    bool idleAgain() const { return events.contains("state 0"); }

private slots:
    void init()
    {
        relays = 0x02;
        stuck = false;
        channels = {{M0Address, {1.5e-6f, 0x3C, true}},  // operating, not shorted
                    {M1Address, {2.5e-6f, 0x3E, true}}}; // shorted
        events.clear();
        unit = std::make_unique<DriverUnit>();
        QVERIFY(unit->start());
        unit->peer.setPacketResponder([this](const PeerPacket& p) { return respond(p); });
        temp = std::make_unique<TempDriverM1>();
        sspd0 = std::make_unique<SspdDriverM0>();
        sspd1 = std::make_unique<SspdDriverM1>();
        other = std::make_unique<CommonDriver>();
        unit->attach(*temp, TempAddress);
        unit->attach(*sspd0, M0Address);
        unit->attach(*sspd1, M1Address);
        unit->attach(*other, OtherAddress);
        drivers = {sspd0.get(), other.get(), sspd1.get()};
    }
    void cleanup()
    {
        drivers.clear();
        other.reset();
        sspd1.reset();
        sspd0.reset();
        temp.reset();
        unit.reset();
    }

    void fullProcedureRunsItsStatesInOrder()
    {
        auto recycle = makeRecycle();
        QList<quint8> relaysAt;
        connect(recycle.get(), &Recycle::stateChanged, this, [&] { relaysAt << relays; });
        QSignalSpy progress(recycle.get(), &Recycle::progress);
        QVERIFY(recycle->startRecycle(150, 60, 60));
        QCOMPARE(relays, quint8(0x01)); // heating: relay 0 on, relay 1 off
        QCOMPARE(recycle->currentState(), Recycle::Heating);
        QVERIFY(recycle->remainingTime() > 0 && recycle->remainingTime() <= 150);
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QCOMPARE(events, QStringList({"state 3", "state 1", "3:17:",   "3:21:",   "4:17:",
                                      "4:21:",   "state 2", "3:23:01", "4:23:01", "state 4",
                                      "9:43:11", "9:43:20", "9:43:10", "state 5", "9:43:22",
                                      "state 6", "state 7", "3:23:00", "4:23:01", "state 0"}));
        // Relay 0 off again on entering thermalization, relay 1 on again before cooling.
        QCOMPARE(relaysAt.mid(4, 2), QList<quint8>({0x00, 0x02}));
        QCOMPARE(recycle->remainingTime(), 0u);
        const auto saved = recycle->savedParams();
        QCOMPARE(saved.size(), 2);
        QCOMPARE(saved.value(sspd0.get()).current, double(1.5e-6f));
        QVERIFY(!saved.value(sspd0.get()).shorted);
        QCOMPARE(saved.value(sspd1.get()).current, double(2.5e-6f));
        QVERIFY(saved.value(sspd1.get()).shorted);

        // Progress grows within the scale, then drops to 0 and stays quiet.
        QList<quint32> values;
        for (const QList<QVariant>& report : std::as_const(progress))
            values << report.at(0).value<uint32_t>();
        QVERIFY(values.size() >= 2 && values.last() == 0);
        QVERIFY(std::is_sorted(values.cbegin(), values.cend() - 1));
        QVERIFY(values.at(values.size() - 2) > 0);
        QVERIFY(values.at(values.size() - 2) <= Recycle::ProgressScale);
        QTest::qWait(60);
        QCOMPARE(progress.size(), values.size());

        // Relay 1 comes back while relay 0's switch-back still waits for its answer.
        events.clear();
        QVERIFY(recycle->startRecycle(20, 0, 10));
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QCOMPARE(states(), QList<int>({3, 1, 2, 4, 5, 6, 7, 0}));
        QCOMPARE(relays, quint8(0x02));
    }

    void silentChannelKeepsTheDefaults()
    {
        channels[M1Address] = {2.5e-6f, 0x00, false}; // would read as not shorted
        auto recycle = makeRecycle();
        QVERIFY(recycle->startRecycle(10, 10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QCOMPARE(recycle->savedParams().value(sspd1.get()).current, 0.0);
        QVERIFY(recycle->savedParams().value(sspd1.get()).shorted);
        QCOMPARE(events.count("4:17:"), 5);
        QCOMPARE(events.count("4:21:"), 5);
        QCOMPARE(events.filter(QRegularExpression("^4:23:")), QStringList({"4:23:01", "4:23:01"}));
        QCOMPARE(states(), QList<int>({3, 1, 2, 4, 5, 6, 7, 0}));
    }

    void abortRestoresAtOnce()
    {
        auto recycle = makeRecycle();
        recycle->abort(); // idle: only the relays are put at rest
        QCOMPARE(events, QStringList({"9:43:10", "9:43:22"}));

        QVERIFY(recycle->startRecycle(60000, 30000, 120000));
        QVERIFY(recycle->remainingTime() > 30000);
        events.clear();
        recycle->abort();
        QCOMPARE(events,
                 QStringList({"9:43:10", "9:43:22", "state 8", "3:23:00", "4:23:01", "state 0"}));
        QCOMPARE(relays, quint8(0x02));
        QCOMPARE(recycle->currentState(), Recycle::Idle);
        QCOMPARE(recycle->remainingTime(), 0u);

        // During cooling: the cooling timer stops with it.
        events.clear();
        QSignalSpy announced(recycle.get(), &Recycle::stateChanged);
        QVERIFY(recycle->startRecycle(10, 10, 200));
        while (!events.contains("state 6"))
            QVERIFY(announced.wait(2000));
        recycle->abort();
        QCOMPARE(states(), QList<int>({3, 1, 2, 4, 5, 6, 8, 0}));
        QTest::qWait(250);
        QCOMPARE(states(), QList<int>({3, 1, 2, 4, 5, 6, 8, 0}));
        QCOMPARE(events.filter(QRegularExpression("^3:23:")), QStringList({"3:23:01", "3:23:00"}));
    }

    // An abort delivered while the start waits for the bus ends the start there.
    void abortDuringTheStartEndsIt()
    {
        auto recycle = makeRecycle();
        connect(recycle.get(), &Recycle::stateChanged, this,
                [&](Recycle::TemperatureRecycleState s) {
                    if (s == Recycle::SetupSspd)
                        recycle->abort();
                });
        QVERIFY(recycle->startRecycle(20, 20, 20));
        QTest::qWait(150);
        QCOMPARE(states(), QList<int>({3, 1, 2, 8, 0}));
        QVERIFY(!events.contains("3:23:01"));
        QVERIFY(!events.contains("9:43:11"));
        QCOMPARE(relays, quint8(0x02));
    }

    void startIsRefusedWhenItCannotRun()
    {
        auto recycle = makeRecycle();
        QVERIFY(!recycle->startRecycle(0, 10, 10));
        QVERIFY(!recycle->startRecycle(quint32(std::numeric_limits<int>::max()), 1, 10));
        QVERIFY(!recycle->startRecycle(10, 10, quint32(std::numeric_limits<int>::max()) + 1));
        QVERIFY(events.isEmpty());
        QVERIFY(!Recycle(nullptr, &drivers).startRecycle(10, 10, 10));

        drivers = {sspd0.get()}; // channels added during a run are left alone
        QVERIFY(recycle->startRecycle(40, 20, 20));
        drivers = {sspd0.get(), sspd1.get()};
        const QStringList started = events;
        QVERIFY(!recycle->startRecycle(40, 20, 20)); // already running
        QCOMPARE(events, started);
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QVERIFY(events.filter(QRegularExpression("^4:")).isEmpty());

        channels[M0Address].status = 0x02; // a second run records the channels afresh
        events.clear();
        QVERIFY(recycle->startRecycle(10, 10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QVERIFY(recycle->savedParams().value(sspd0.get()).shorted);
        QCOMPARE(events.filter(QRegularExpression("^3:23:")), QStringList({"3:23:01", "3:23:01"}));
    }

    void relayQueries()
    {
        auto recycle = makeRecycle();
        QVERIFY(!recycle->relayState(0) && !recycle->relayState(3));
        QVERIFY(events.isEmpty());
        QVERIFY(!recycle->relayState(1));
        QVERIFY(recycle->relayState(2));
        QVERIFY(recycle->checkRelays());
        QVERIFY(!recycle->lastRelayState(1) && recycle->lastRelayState(2));
        QVERIFY(!recycle->lastRelayState(3));
        stuck = true; // relay 0 stuck on: tolerated five times, both relays read each time
        relays = 0x03;
        events.clear();
        QList<bool> results;
        for (int i = 0; i < 6; ++i)
            results << recycle->checkRelays();
        QCOMPARE(results, QList<bool>({true, true, true, true, true, false}));
        QCOMPARE(relayReads(), 12);
        QVERIFY(recycle->lastRelayState(1));
    }

    void destructionDuringHeatingLeavesTheRelaysAtRest()
    {
        auto recycle = makeRecycle();
        QVERIFY(recycle->startRecycle(60000, 1000, 1000));
        QCOMPARE(relays, quint8(0x01));
        recycle.reset();
        QCOMPARE(relays, quint8(0x02));
        // The channels stay shorted: nothing restored them.
        QCOMPARE(events.filter(QRegularExpression("^3:23:")), QStringList({"3:23:01"}));
    }
};

QTEST_GUILESS_MAIN(TestRelayRecycle)
#include "tst_relayrecycle.moc"
