// The cryocooler recycle procedure against scripted modules: a model-1 temperature module
// with two relays, a model-0 and a model-1 SSPD channel, and a module of another kind.
#include "bytes.h"
#include "drivers/commondriver.h"
#include "drivers/sspddriverm0.h"
#include "drivers/sspddriverm1.h"
#include "drivers/tempdriverm1.h"
#include "drivers/temperaturerecycleinterface.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <limits>

namespace {
constexpr quint8 TempAddress = 9;
constexpr quint8 SspdM0Address = 3;
constexpr quint8 SspdM1Address = 4;
constexpr quint8 OtherAddress = 6;

constexpr quint8 ReadRelays = 42;
constexpr quint8 WriteRelays = 43;
constexpr quint8 ReadCurrent = 17;
constexpr quint8 ReadStatus = 21;
constexpr quint8 WriteShort = 23;

using State = TemperatureRecycleInterface::TemperatureRecycleState;

// One scripted SSPD channel.
struct Channel
{
    float current = 0;
    quint8 status = 0;
    bool answersReads = true;
};
} // namespace

class TestTemperatureRecycle : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    std::unique_ptr<TempDriverM1> temp;
    std::unique_ptr<SspdDriverM0> sspd0;
    std::unique_ptr<SspdDriverM1> sspd1;
    std::unique_ptr<CommonDriver> other;
    QList<CommonDriver*> drivers;

    // The temperature module's relays: bit 0 relay 0, bit 1 relay 1.
    quint8 relays = 0;
    QHash<quint8, Channel> channels;
    // Packets as "address:code:data" and announced states as "state N", in the order
    // they happened.
    QStringList events;

    QByteArray respond(const PeerPacket& p)
    {
        events << QString("%1:%2:%3")
                      .arg(p.address)
                      .arg(p.command)
                      .arg(QString::fromLatin1(p.data.toHex()));
        if (p.address == TempAddress) {
            if (p.command == ReadRelays && p.data.isEmpty())
                return LoopbackPeer::packet(TempAddress, ReadRelays, Bytes().u8(relays));
            if (p.command == WriteRelays && p.data.size() == 1) {
                const quint8 byte = quint8(p.data.at(0));
                const quint8 mask = byte >> 4;
                relays = quint8((relays & ~mask) | (byte & mask & 0x0F));
                return LoopbackPeer::packet(TempAddress, WriteRelays);
            }
            return {};
        }
        if (!channels.contains(p.address))
            return {};
        Channel& channel = channels[p.address];
        if (p.command == ReadCurrent && p.data.isEmpty() && channel.answersReads)
            return LoopbackPeer::packet(p.address, ReadCurrent, Bytes().f32(channel.current));
        if (p.command == ReadStatus && p.data.isEmpty() && channel.answersReads)
            return LoopbackPeer::packet(p.address, ReadStatus, Bytes().u8(channel.status));
        if (p.command == WriteShort && p.data.size() == 1)
            return LoopbackPeer::packet(p.address, WriteShort);
        return {};
    }

    std::unique_ptr<TemperatureRecycleInterface> makeRecycle()
    {
        auto recycle = std::make_unique<TemperatureRecycleInterface>(temp.get(), &drivers);
        recycle->setProgressInterval(10);
        connect(recycle.get(), &TemperatureRecycleInterface::stateChanged, this,
                [this](State s) { events << QString("state %1").arg(quint32(s)); });
        events.clear();
        return recycle;
    }

    QList<quint32> states() const
    {
        QList<quint32> result;
        for (const QString& e : events)
            if (e.startsWith("state "))
                result << e.mid(6).toUInt();
        return result;
    }

    bool idleAgain() const { return events.contains("state 0"); }

private slots:
    void init()
    {
        relays = 0x02; // at rest: relay 0 off, relay 1 on
        channels = {
            {SspdM0Address, {1.5e-6f, 0x3C, true}}, // operating, not shorted
            {SspdM1Address, {2.5e-6f, 0x3E, true}}, // shorted
        };
        events.clear();
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        peer->setPacketResponder([this](const PeerPacket& p) { return respond(p); });
        link = std::make_unique<cuTcpSocketIOInterface>();
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());

        temp = std::make_unique<TempDriverM1>();
        sspd0 = std::make_unique<SspdDriverM0>();
        sspd1 = std::make_unique<SspdDriverM1>();
        other = std::make_unique<CommonDriver>();
        const QList<std::pair<AbstractDriver*, quint8>> all = {{temp.get(), TempAddress},
                                                               {sspd0.get(), SspdM0Address},
                                                               {sspd1.get(), SspdM1Address},
                                                               {other.get(), OtherAddress}};
        for (const auto& [driver, address] : all) {
            driver->setAddress(address);
            driver->setInterface(link.get());
            driver->setAnswerTimeout(30);
        }
        drivers = {sspd0.get(), other.get(), sspd1.get()};
    }
    void cleanup()
    {
        drivers.clear();
        other.reset();
        sspd1.reset();
        sspd0.reset();
        temp.reset();
        link.reset();
        peer.reset();
    }

    void stateTexts()
    {
        const QStringList expected = {"",
                                      "Saving Params",
                                      "Setup SSPD",
                                      "Starting Recycle",
                                      "Heating",
                                      "Thermalization",
                                      "Cooling Down",
                                      "Finish Recycling",
                                      "Process Aborted",
                                      ""};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(TemperatureRecycleInterface::stateText(State(i)), expected.at(i));
        QCOMPARE(TemperatureRecycleInterface::stateText(State(1000)), QString());
    }

    void constructionReadsBothRelays()
    {
        auto recycle = std::make_unique<TemperatureRecycleInterface>(temp.get(), &drivers);
        QCOMPARE(peer->packets().size(), 2);
        QCOMPARE(peer->packets().at(0).command, ReadRelays);
        QCOMPARE(peer->packets().at(1).command, ReadRelays);
        QCOMPARE(recycle->currentState(), TemperatureRecycleInterface::Idle);
        QCOMPARE(recycle->progressValue(), 0u);
        QCOMPARE(recycle->progressScale(), 10000u);
    }

    void fullProcedureRunsItsStatesInOrder()
    {
        auto recycle = makeRecycle();
        QList<quint8> relaysAt;
        connect(recycle.get(), &TemperatureRecycleInterface::stateChanged, this,
                [&](State) { relaysAt << relays; });
        QSignalSpy progress(recycle.get(), &TemperatureRecycleInterface::progress);

        QVERIFY(recycle->startRecycle(150, 60, 60));
        // Heating: relay 0 physically on, relay 1 physically off.
        QCOMPARE(relays, quint8(0x01));
        QCOMPARE(recycle->currentState(), TemperatureRecycleInterface::Heating);
        QVERIFY(recycle->remainingTime() > 0 && recycle->remainingTime() <= 150);
        QCOMPARE(recycle->heatingTime(), 150u);
        QCOMPARE(recycle->thermalizationTime(), 60u);
        QCOMPARE(recycle->coolingTime(), 60u);

        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QCOMPARE(recycle->currentState(), TemperatureRecycleInterface::Idle);
        QCOMPARE(states(), QList<quint32>({3, 1, 2, 4, 5, 6, 7, 0}));
        QCOMPARE(events, QStringList({"state 3", "state 1", "3:17:",   "3:21:",   "4:17:",
                                      "4:21:",   "state 2", "3:23:01", "4:23:01", "state 4",
                                      "9:43:11", "9:43:20", "9:43:10", "state 5", "9:43:22",
                                      "state 6", "state 7", "3:23:00", "4:23:01", "state 0"}));
        // Relay 0 back off on entering thermalization, relay 1 back on before cooling.
        QCOMPARE(relaysAt.at(4), quint8(0x00));
        QCOMPARE(relaysAt.at(5), quint8(0x02));
        QCOMPARE(relays, quint8(0x02));
        QCOMPARE(recycle->remainingTime(), 0u);

        const auto saved = recycle->savedParams();
        QCOMPARE(saved.size(), 2);
        QCOMPARE(saved.value(sspd0.get()).current, double(1.5e-6f));
        QVERIFY(!saved.value(sspd0.get()).shorted);
        QCOMPARE(saved.value(sspd1.get()).current, double(2.5e-6f));
        QVERIFY(saved.value(sspd1.get()).shorted);

        // Progress grows within the scale during the run, then drops to 0 and stays quiet.
        QVERIFY(progress.size() >= 2);
        quint32 previous = 0;
        for (int i = 0; i + 1 < progress.size(); ++i) {
            const quint32 value = progress.at(i).at(0).value<uint32_t>();
            QVERIFY(value >= previous && value <= 10000);
            previous = value;
        }
        QVERIFY(previous > 0);
        QCOMPARE(progress.last().at(0).value<uint32_t>(), 0u);
        QCOMPARE(recycle->progressValue(), 0u);
        const qsizetype reports = progress.size();
        QTest::qWait(60);
        QCOMPARE(progress.size(), reports);
    }

    void zeroThermalizationKeepsTheOrder()
    {
        // Relay 1 comes back while relay 0's switch-back still waits for its answer.
        auto recycle = makeRecycle();
        QVERIFY(recycle->startRecycle(20, 0, 10));
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QCOMPARE(states(), QList<quint32>({3, 1, 2, 4, 5, 6, 7, 0}));
        QCOMPARE(relays, quint8(0x02));
    }

    void silentChannelKeepsTheDefaults()
    {
        channels[SspdM1Address].answersReads = false;
        channels[SspdM1Address].status = 0x00; // would read as not shorted
        auto recycle = makeRecycle();
        QVERIFY(recycle->startRecycle(10, 10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QCOMPARE(recycle->savedParams().value(sspd1.get()).current, 0.0);
        QVERIFY(recycle->savedParams().value(sspd1.get()).shorted);
        QCOMPARE(events.count("4:17:"), TemperatureRecycleInterface::ChannelTries);
        QCOMPARE(events.count("4:21:"), TemperatureRecycleInterface::ChannelTries);
        QCOMPARE(events.filter(QRegularExpression("^4:23:")), QStringList({"4:23:01", "4:23:01"}));
        QCOMPARE(states(), QList<quint32>({3, 1, 2, 4, 5, 6, 7, 0}));
    }

    void abortDuringHeatingRestoresAtOnce()
    {
        auto recycle = makeRecycle();
        QVERIFY(recycle->startRecycle(60000, 30000, 120000));
        QVERIFY(recycle->remainingTime() > 30000);
        events.clear();
        recycle->abort();
        QCOMPARE(events,
                 QStringList({"9:43:10", "9:43:22", "state 8", "3:23:00", "4:23:01", "state 0"}));
        QCOMPARE(relays, quint8(0x02));
        QCOMPARE(recycle->currentState(), TemperatureRecycleInterface::Idle);
        QCOMPARE(recycle->remainingTime(), 0u);
    }

    void abortDuringCoolingStopsTheCoolingTimer()
    {
        auto recycle = makeRecycle();
        QSignalSpy announced(recycle.get(), &TemperatureRecycleInterface::stateChanged);
        QVERIFY(recycle->startRecycle(10, 10, 200));
        while (!events.contains("state 6"))
            QVERIFY(announced.wait(2000));
        QVERIFY(recycle->remainingTime() > 0);
        recycle->abort();
        QCOMPARE(states(), QList<quint32>({3, 1, 2, 4, 5, 6, 8, 0}));
        QCOMPARE(recycle->remainingTime(), 0u);
        QTest::qWait(250); // past the cooling time: nothing more happens
        QCOMPARE(states(), QList<quint32>({3, 1, 2, 4, 5, 6, 8, 0}));
        QCOMPARE(events.filter(QRegularExpression("^3:23:")), QStringList({"3:23:01", "3:23:00"}));
    }

    void abortWhileIdleTouchesOnlyTheRelays()
    {
        auto recycle = makeRecycle();
        recycle->abort();
        QCOMPARE(events, QStringList({"9:43:10", "9:43:22"}));
    }

    void abortDuringTheStartEndsIt()
    {
        auto recycle = makeRecycle();
        connect(recycle.get(), &TemperatureRecycleInterface::stateChanged, this, [&](State s) {
            if (s == TemperatureRecycleInterface::SetupSspd)
                recycle->abort();
        });
        QVERIFY(recycle->startRecycle(20, 20, 20));
        QCOMPARE(states(), QList<quint32>({3, 1, 2, 8, 0}));
        QTest::qWait(150);
        QCOMPARE(states(), QList<quint32>({3, 1, 2, 8, 0}));
        // Nothing was shorted or heated; the recorded states went back.
        QVERIFY(!events.contains("3:23:01"));
        QVERIFY(!events.contains("9:43:11"));
        QVERIFY(!events.contains("9:43:20"));
        QCOMPARE(relays, quint8(0x02));
    }

    void startIsRefusedWhenItCannotRun()
    {
        auto recycle = makeRecycle();
        QVERIFY(!recycle->startRecycle(0, 10, 10));
        QVERIFY(!recycle->startRecycle(quint32(std::numeric_limits<int>::max()), 1, 10));
        QVERIFY(!recycle->startRecycle(10, 10, quint32(std::numeric_limits<int>::max()) + 1));
        QVERIFY(events.isEmpty());

        QVERIFY(recycle->startRecycle(40, 20, 20));
        const QStringList started = events;
        QVERIFY(!recycle->startRecycle(40, 20, 20)); // already running
        QCOMPARE(events, started);
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QCOMPARE(states(), QList<quint32>({3, 1, 2, 4, 5, 6, 7, 0}));

        // A second run records the channels afresh.
        channels[SspdM0Address].status = 0x02;
        events.clear();
        QVERIFY(recycle->startRecycle(10, 10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QVERIFY(recycle->savedParams().value(sspd0.get()).shorted);
        QCOMPARE(events.filter(QRegularExpression("^3:23:")), QStringList({"3:23:01", "3:23:01"}));

        TemperatureRecycleInterface withoutRelays(nullptr, &drivers);
        QVERIFY(!withoutRelays.startRecycle(10, 10, 10));
    }

    void channelsAddedLaterAreLeftAlone()
    {
        auto recycle = makeRecycle();
        drivers = {sspd0.get()};
        QVERIFY(recycle->startRecycle(20, 10, 10));
        drivers = {sspd0.get(), sspd1.get()};
        QTRY_VERIFY_WITH_TIMEOUT(idleAgain(), 5000);
        QVERIFY(events.filter(QRegularExpression("^4:")).isEmpty());
        QVERIFY(events.filter(QRegularExpression("^6:")).isEmpty());
    }

    void relayQueries()
    {
        auto recycle = makeRecycle();
        QVERIFY(!recycle->relayState(3));
        QVERIFY(!recycle->relayState(0));
        QVERIFY(events.isEmpty());
        QVERIFY(!recycle->relayState(1));
        QVERIFY(recycle->relayState(2));
        QCOMPARE(events, QStringList({"9:42:", "9:42:"}));

        QVERIFY(recycle->checkRelays());
        QVERIFY(!recycle->lastRelayState(1));
        QVERIFY(recycle->lastRelayState(2));
        QVERIFY(!recycle->lastRelayState(3));

        // Relay 0 stuck on: tolerated five times; both relays are read every time.
        peer->setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address == TempAddress && p.command == ReadRelays) {
                events << "9:42:";
                return LoopbackPeer::packet(TempAddress, ReadRelays, Bytes().u8(0x03));
            }
            return {};
        });
        events.clear();
        QList<bool> results;
        for (int i = 0; i < 6; ++i)
            results << recycle->checkRelays();
        QCOMPARE(results, QList<bool>({true, true, true, true, true, false}));
        QCOMPARE(events.size(), 12);
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

QTEST_GUILESS_MAIN(TestTemperatureRecycle)
#include "tst_temperaturerecycle.moc"
