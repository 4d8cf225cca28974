// One relay of a model-1 temperature module under logical control, against a scripted
// module that keeps two relays and applies the written mask and states.
#include "bytes.h"
#include "drivers/advancedrelaycontrol.h"
#include "drivers/tempdriverm1.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QSignalSpy>
#include <QTest>

namespace {
constexpr quint8 Address = 9;
constexpr quint8 ReadRelays = 42;
constexpr quint8 WriteRelays = 43;
} // namespace

class TestAdvancedRelayControl : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    std::unique_ptr<TempDriverM1> driver;

    // The module's relays: bit 0 relay 0, bit 1 relay 1.
    quint8 relays = 0;
    // A stuck module acknowledges writes but its relays stay as they are.
    bool stuck = false;
    bool silent = false;

    // Bytes written to the relays, in order.
    QList<quint8> relayWrites() const
    {
        QList<quint8> writes;
        for (const PeerPacket& p : peer->packets())
            if (p.command == WriteRelays && p.data.size() == 1)
                writes << quint8(p.data.at(0));
        return writes;
    }
    int relayReads() const
    {
        int reads = 0;
        for (const PeerPacket& p : peer->packets())
            reads += p.command == ReadRelays ? 1 : 0;
        return reads;
    }

private slots:
    void init()
    {
        relays = 0;
        stuck = false;
        silent = false;
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        peer->setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address != Address || silent)
                return {};
            if (p.command == ReadRelays && p.data.isEmpty())
                return LoopbackPeer::packet(Address, ReadRelays, Bytes().u8(relays));
            if (p.command == WriteRelays && p.data.size() == 1) {
                const quint8 byte = quint8(p.data.at(0));
                const quint8 mask = byte >> 4;
                if (!stuck)
                    relays = quint8((relays & ~mask) | (byte & mask & 0x0F));
                return LoopbackPeer::packet(Address, WriteRelays);
            }
            return {};
        });
        link = std::make_unique<cuTcpSocketIOInterface>();
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        driver = std::make_unique<TempDriverM1>();
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

    void constructionLearnsTheLogicalState()
    {
        relays = 0x02;
        {
            AdvancedRelayControl relay1(driver.get(), 2, true);
            QVERIFY(relay1.enabled());
            AdvancedRelayControl relay0(driver.get(), 1, false);
            QVERIFY(relay0.enabled()); // physically off is logically on for this sense
            QCOMPARE(relayReads(), 2);
            QVERIFY(relayWrites().isEmpty());
        }
        relays = 0x01;
        AdvancedRelayControl relay1(driver.get(), 2, true);
        QVERIFY(!relay1.enabled());
        AdvancedRelayControl relay0(driver.get(), 1, false);
        QVERIFY(!relay0.enabled());
    }

    void writesMaskAndStateInItsOwnSense()
    {
        AdvancedRelayControl relay1(driver.get(), 2, true);
        AdvancedRelayControl relay0(driver.get(), 1, false);
        const qsizetype before = relayWrites().size();

        relay1.setRelay(true);
        QCOMPARE(relays, quint8(0x02));
        QVERIFY(relay1.getRelayState());
        relay1.setRelay(false);
        QCOMPARE(relays, quint8(0x00));
        QVERIFY(!relay1.getRelayState());
        QVERIFY(!relay1.enabled());

        relay0.setRelay(false);
        QCOMPARE(relays, quint8(0x01));
        QVERIFY(relay0.getRelayState());
        QVERIFY(!relay1.getRelayState()); // only its own bit counts
        relay0.setRelay(true);
        QCOMPARE(relays, quint8(0x00));
        QVERIFY(relay0.enabled());

        QCOMPARE(relayWrites().mid(before), QList<quint8>({0x22, 0x20, 0x11, 0x10}));
    }

    void silentModuleReadsAsOff()
    {
        relays = 0x03;
        AdvancedRelayControl relay1(driver.get(), 2, true);
        silent = true;
        const int before = relayReads();
        QVERIFY(!relay1.getRelayState());
        QCOMPARE(relayReads() - before, AdvancedRelayControl::RelayTries);
        silent = false;
    }

    void temporaryOffSwitchesBackAndReports()
    {
        relays = 0x02;
        AdvancedRelayControl relay1(driver.get(), 2, true);
        relay1.setToggleBackInterval(40);
        QSignalSpy finished(&relay1, &AdvancedRelayControl::processFinished);

        relay1.temporarySetRelayOff(0);
        QCOMPARE(relays, quint8(0x00));
        QCOMPARE(relay1.state(), quint32(AdvancedRelayControl::StateTemporarilyOff));
        QVERIFY(relay1.remainingTime() > 0);
        QVERIFY(finished.wait(2000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(relays, quint8(0x02));
        QVERIFY(relay1.enabled());
        QCOMPARE(relay1.state(), quint32(AdvancedRelayControl::StateIdle));
        QCOMPARE(relay1.remainingTime(), 0);
        QCOMPARE(relayWrites(), QList<quint8>({0x20, 0x22}));

        // An explicit time wins over the toggle-back interval.
        relay1.setToggleBackInterval(60000);
        relay1.temporarySetRelayOff(30);
        QVERIFY(finished.wait(2000));
        QCOMPARE(relays, quint8(0x02));
    }

    void temporaryOffDefaultsToTenSeconds()
    {
        relays = 0x02;
        AdvancedRelayControl relay1(driver.get(), 2, true);
        QSignalSpy finished(&relay1, &AdvancedRelayControl::processFinished);
        relay1.temporarySetRelayOff();
        const int left = relay1.remainingTime();
        QVERIFY2(left > 5000 && left <= 10000, qPrintable(QString::number(left)));
        QCOMPARE(relays, quint8(0x00));

        // A stop ends the off period without announcing its end.
        relay1.stop();
        QCOMPARE(relays, quint8(0x02));
        QCOMPARE(relay1.state(), quint32(AdvancedRelayControl::StateIdle));
        QCOMPARE(relay1.remainingTime(), 0);
        QTest::qWait(50);
        QCOMPARE(finished.size(), 0);
    }

    void cyclePulsesTheRelayUntilStopped()
    {
        relays = 0x00;
        AdvancedRelayControl relay0(driver.get(), 1, false);
        relay0.setMinimumCyclePeriod(40);
        QList<quint32> statesAtFinish;
        connect(&relay0, &AdvancedRelayControl::processFinished, this,
                [&] { statesAtFinish << relay0.state(); });

        relay0.startCycle(10, 20, false);
        QCOMPARE(relay0.state(), quint32(AdvancedRelayControl::StateCycleArmed));
        const int left = relay0.remainingTime();
        QVERIFY2(left > 0 && left <= 40, qPrintable(QString::number(left))); // the minimum
        QTRY_VERIFY_WITH_TIMEOUT(statesAtFinish.size() >= 2, 3000);
        relay0.stop();
        QCOMPARE(relay0.state(), quint32(AdvancedRelayControl::StateIdle));
        QCOMPARE(relay0.remainingTime(), 0);
        QCOMPARE(relays, quint8(0x00));

        // stop() first, then off (relay 0 on in this sense) and back, again and again.
        const QList<quint8> writes = relayWrites();
        QCOMPARE(writes.mid(0, 5), QList<quint8>({0x10, 0x11, 0x10, 0x11, 0x10}));
        QCOMPARE(writes.last(), quint8(0x10));
        for (quint32 state : statesAtFinish)
            QCOMPARE(state, quint32(AdvancedRelayControl::StateCycleArmed));

        const qsizetype afterStop = writes.size();
        QTest::qWait(150);
        QCOMPARE(relayWrites().size(), afterStop);
    }

    void cycleWaitsAtLeastTheMinimumAndCanBeReplaced()
    {
        relays = 0x02;
        AdvancedRelayControl relay1(driver.get(), 2, true);
        relay1.startCycle(100, 2000, false);
        QVERIFY(relay1.remainingTime() <= AdvancedRelayControl::DefaultMinimumCyclePeriodMs);
        QVERIFY(relay1.remainingTime() > 0);
        relay1.startCycle(5000, 10, false);
        QVERIFY(relay1.remainingTime() > AdvancedRelayControl::DefaultMinimumCyclePeriodMs);
        QTest::qWait(600); // past the first cycle's pulse: it is gone
        QVERIFY(!relayWrites().contains(0x20));
    }

    void singleShotCycleEndsIdle()
    {
        relays = 0x02;
        AdvancedRelayControl relay1(driver.get(), 2, true);
        relay1.setMinimumCyclePeriod(20);
        QSignalSpy finished(&relay1, &AdvancedRelayControl::processFinished);
        relay1.startCycle(0, 20, true);
        QVERIFY(finished.wait(2000));
        QCOMPARE(relay1.state(), quint32(AdvancedRelayControl::StateIdle));
        QTest::qWait(120);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(relayWrites(), QList<quint8>({0x22, 0x20, 0x22}));
    }

    void mismatchesAreToleratedFiveTimes()
    {
        relays = 0x02;
        AdvancedRelayControl relay1(driver.get(), 2, true);
        QVERIFY(relay1.checkState());
        QVERIFY(relay1.lastPhysical());

        stuck = true;
        relays = 0x00;
        QList<bool> results;
        for (int i = 0; i < 7; ++i)
            results << relay1.checkState();
        QCOMPARE(results, QList<bool>({true, true, true, true, true, false, false}));
        QVERIFY(!relay1.lastPhysical());

        relay1.stop(); // the relay stays stuck off
        results.clear();
        for (int i = 0; i < 3; ++i)
            results << relay1.checkState();
        QCOMPARE(results, QList<bool>({true, true, false}));

        // One match restores the full allowance.
        stuck = false;
        relays = 0x02;
        QVERIFY(relay1.checkState());
        relays = 0x00;
        stuck = true;
        results.clear();
        for (int i = 0; i < 6; ++i)
            results << relay1.checkState();
        QCOMPARE(results, QList<bool>({true, true, true, true, true, false}));
    }

    void unreadableRelayIsAMismatchEvenWhenItShouldBeOff()
    {
        relays = 0x00;
        AdvancedRelayControl relay0(driver.get(), 1, false);
        QVERIFY(relay0.enabled()); // should be physically off
        QVERIFY(relay0.checkState());
        driver->setAnswerTimeout(5);
        silent = true;
        QList<bool> results;
        for (int i = 0; i < 6; ++i)
            results << relay0.checkState();
        QCOMPARE(results, QList<bool>({true, true, true, true, true, false}));
    }

    void settersAndDestruction()
    {
        relays = 0x00;
        auto* relay1 = new AdvancedRelayControl(driver.get(), 2, true);
        relay1->setLastPhysical(true);
        QVERIFY(relay1->lastPhysical());
        relay1->setState(AdvancedRelayControl::StateTemporarilyOff);
        QCOMPARE(relay1->remainingTime(), 0); // no timer running: nothing left
        relay1->setToggleBackInterval(20);
        relay1->temporarySetRelayOff();
        QSignalSpy finished(relay1, &AdvancedRelayControl::processFinished);
        delete relay1; // switches back on, and nothing fires later
        QCOMPARE(relays, quint8(0x02));
        QTest::qWait(60);
        QCOMPARE(finished.size(), 0);
        QCOMPARE(relayWrites(), QList<quint8>({0x20, 0x22}));
    }

    void moduleGoneBeforeTheControl()
    {
        relays = 0x02;
        auto* relay1 = new AdvancedRelayControl(driver.get(), 2, true);
        relay1->setToggleBackInterval(20);
        relay1->temporarySetRelayOff();
        driver.reset();
        QSignalSpy finished(relay1, &AdvancedRelayControl::processFinished);
        QVERIFY(finished.wait(2000)); // the toggle-back runs without touching a bus
        QVERIFY(!relay1->getRelayState());
        delete relay1;
        QCOMPARE(relayWrites(), QList<quint8>({0x20}));
    }
};

QTEST_GUILESS_MAIN(TestAdvancedRelayControl)
#include "tst_advancedrelaycontrol.moc"
