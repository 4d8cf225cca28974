// The property framework against a scripted module: requests on the wire, answer matching
// by address and code, lengths, callbacks, tries and time-outs.
#include "drivers/abstractdriver.h"
#include "drivers/pair.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstring>

namespace {
constexpr quint8 None = 0xFF;
constexpr int ShortTimeoutMs = 40;

QByteArray floatBytes(float v)
{
    QByteArray b(4, '\0');
    std::memcpy(b.data(), &v, 4);
    return b;
}

// A module with one property of each kind the framework offers.
class TestDriver : public AbstractDriver
{
public:
    explicit TestDriver(QObject* parent = nullptr) : AbstractDriver(parent)
    {
        temperature = new DriverPropertyReadOnly<float>(this, 16, None);
        counter = new DriverProperty<unsigned int>(this, 17, 18);
        calibration = new DriverProperty<pair_t<float>>(this, 19, 20);
        table = new DriverProperty_p(this, 21, None);
        reset = new DriverCommand(this, None, 30);
        enable = new DriverPropertyWriteOnly<bool>(this, None, 31);
    }
    ~TestDriver() override
    {
        delete temperature;
        delete counter;
        delete calibration;
        delete table;
        delete reset;
        delete enable;
    }
    DriverPropertyReadOnly<float>* temperature;
    DriverProperty<unsigned int>* counter;
    DriverProperty<pair_t<float>>* calibration;
    DriverProperty_p* table;
    DriverCommand* reset;
    DriverPropertyWriteOnly<bool>* enable;
};
} // namespace

class TestDriverFramework : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    std::unique_ptr<TestDriver> driver;

    // The module at address 5 answers every read request from the table below and
    // acknowledges every write with an empty packet of the write code.
    QHash<quint8, QByteArray> answers;

private slots:
    void init()
    {
        answers.clear();
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        peer->setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address != 5)
                return {};
            if (p.data.isEmpty() && answers.contains(p.command))
                return LoopbackPeer::packet(5, p.command, answers.value(p.command));
            if (!p.data.isEmpty() || p.command == 30)
                return LoopbackPeer::packet(5, p.command);
            return {};
        });
        link = std::make_unique<cuTcpSocketIOInterface>();
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        driver = std::make_unique<TestDriver>();
        driver->setAddress(5);
        driver->setInterface(link.get());
        driver->setAnswerTimeout(ShortTimeoutMs);
    }
    void cleanup()
    {
        driver.reset();
        link.reset();
        peer.reset();
    }

    void readStoresTheAnswerAndRunsCallbacksInOrder()
    {
        answers[16] = floatBytes(2.25f);
        QStringList order;
        driver->temperature->answerCallbacks()->add([&] { order << "first"; });
        driver->temperature->answerCallbacks()->add([&] { order << "second"; });
        bool ok = false;
        QCOMPARE(driver->temperature->read(&ok, 1), 2.25f);
        QVERIFY(ok);
        QCOMPARE(driver->temperature->cached(), 2.25f);
        QCOMPARE(order, QStringList({"first", "second"}));
        QCOMPARE(peer->packets().size(), 1);
        QCOMPARE(peer->packets().at(0).command, quint8(16));
        QVERIFY(peer->packets().at(0).data.isEmpty());
    }

    void readWithNoTriesSendsNothing()
    {
        answers[16] = floatBytes(1.0f);
        bool ok = true;
        QCOMPARE(driver->temperature->read(&ok, 0), 0.0f);
        QVERIFY(!ok);
        QTest::qWait(20);
        QVERIFY(peer->packets().isEmpty());
    }

    void wrongLengthIsNoAnswer()
    {
        answers[16] = floatBytes(7.5f);
        bool ok = false;
        driver->temperature->read(&ok, 1);
        int callbacks = 0;
        driver->temperature->answerCallbacks()->add([&] { ++callbacks; });
        answers[16] = QByteArray::fromHex("010203");
        QCOMPARE(driver->temperature->read(&ok, 2), 7.5f);
        QVERIFY(!ok);
        QCOMPARE(driver->temperature->cached(), 7.5f);
        QCOMPARE(callbacks, 0);
        QCOMPARE(peer->packets().size(), 3); // each try refused at once, then tried again
    }

    void neverAnsweredReadsAsZero()
    {
        QCOMPARE(driver->temperature->cached(), 0.0f);
        QCOMPARE(driver->calibration->cached(), (pair_t<float>{0, 0}));
        QCOMPARE(driver->counter->lastWritten(), 0u);
    }

    void silentModuleIsTriedThenReported()
    {
        driver->temperature->setCached(3.5f);
        bool ok = true;
        QCOMPARE(driver->temperature->read(&ok, 3), 3.5f);
        QVERIFY(!ok);
        QCOMPARE(peer->packets().size(), 3);
        for (const PeerPacket& p : peer->packets())
            QCOMPARE(p.command, quint8(16));
    }

    void noTransportEndsByTimeout()
    {
        TestDriver lonely;
        lonely.setAddress(5);
        lonely.setAnswerTimeout(ShortTimeoutMs);
        bool ok = true;
        lonely.temperature->read(&ok, 2);
        QVERIFY(!ok);
        QVERIFY(!lonely.waitForAnswer());
    }

    void untypedPropertyTakesAnyLength()
    {
        const QByteArray block =
            QByteArray::fromHex("00112233445566778899aabbccddeeff001122334455");
        QCOMPARE(block.size(), 22);
        answers[21] = block;
        bool ok = false;
        QCOMPARE(driver->table->exchange(21, {}, &ok, 1), block);
        QVERIFY(ok);
        QCOMPARE(driver->table->receivedData(), block);
    }

    void writeIsAcknowledgedWithoutTouchingTheCache()
    {
        answers[17] = QByteArray::fromHex("2a000000");
        bool ok = false;
        QCOMPARE(driver->counter->read(&ok, 1), 42u);
        int written = 0;
        driver->counter->writeCallbacks()->add([&] { ++written; });
        driver->counter->writeSync(0x01020304u, &ok, 2);
        QVERIFY(ok);
        QCOMPARE(written, 1);
        QCOMPARE(driver->counter->cached(), 42u);
        QCOMPARE(driver->counter->lastWritten(), 0x01020304u);
        const PeerPacket sent = peer->packets().last();
        QCOMPARE(sent.command, quint8(18));
        QCOMPARE(sent.data, QByteArray::fromHex("04030201"));
        // A read request empties what lastWritten() sees.
        driver->counter->request();
        QCOMPARE(driver->counter->lastWritten(), 0u);
    }

    void compositeValuesTravelAsTheirBytes()
    {
        answers[19] = floatBytes(1.5f) + floatBytes(-0.25f);
        bool ok = false;
        const pair_t<float> p = driver->calibration->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(p.first, 1.5f);
        QCOMPARE(p.second, -0.25f);
        driver->calibration->writeSync({2.0f, 4.0f}, &ok, 1);
        QVERIFY(ok);
        QCOMPARE(peer->packets().last().data, floatBytes(2.0f) + floatBytes(4.0f));
        driver->enable->writeSync(true, &ok, 1);
        QVERIFY(driver->enable->lastWritten());
        QVERIFY(ok);
        QCOMPARE(peer->packets().last().command, quint8(31));
        QCOMPARE(peer->packets().last().data, QByteArray::fromHex("01"));
    }

    void boolBytesOtherThanOneReadAsTrue()
    {
        auto* flag = new DriverProperty<bool>(driver.get(), 40, None);
        answers[40] = QByteArray::fromHex("02");
        bool ok = false;
        QCOMPARE(flag->read(&ok, 1), true);
        answers[40] = QByteArray::fromHex("00");
        QCOMPARE(flag->read(&ok, 1), false);
        delete flag;
    }

    void commandsSendTheirCodeWithoutData()
    {
        int acknowledged = 0;
        driver->reset->writeCallbacks()->add([&] { ++acknowledged; });
        bool ok = false;
        driver->reset->executeSync(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(acknowledged, 1);
        QCOMPARE(peer->packets().last().command, quint8(30));
        QVERIFY(peer->packets().last().data.isEmpty());
        driver->reset->execute();
        QTRY_COMPARE(acknowledged, 2);
    }

    // Only the answer to the request ends its wait: a packet of another code (unknown, a late
    // acknowledgement, another property's answer) is handled but ends nothing.
    void onlyTheOwnAnswerEndsTheWait_data()
    {
        QTest::addColumn<QByteArray>("before"); // sent ahead of the answer, if any
        QTest::addColumn<bool>("answer");
        QTest::newRow("unknown code") << LoopbackPeer::packet(5, 99, "x") << false;
        QTest::newRow("late acknowledgement") << LoopbackPeer::packet(5, 18) << false;
        QTest::newRow("other property") << LoopbackPeer::packet(5, 17, QByteArray(4, 1)) << false;
        QTest::newRow("stray, then the answer") << LoopbackPeer::packet(5, 18) << true;
    }
    void onlyTheOwnAnswerEndsTheWait()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, answer);
        peer->setPacketResponder([&](const PeerPacket& p) {
            if (p.command == 16)
                return before + (answer ? LoopbackPeer::packet(5, 16, floatBytes(6.0f)) : "");
            return before; // the write of code 31 below
        });
        bool ok = !answer;
        QCOMPARE(driver->temperature->read(&ok, 1), answer ? 6.0f : 0.0f);
        QCOMPARE(ok, answer);
        // Nor does a write count as acknowledged by anything but its own code.
        driver->enable->writeSync(true, &ok, 1);
        QVERIFY(!ok);
    }

    void answerFromAnotherAddressIsNotOurs()
    {
        peer->setPacketResponder(
            [](const PeerPacket&) { return LoopbackPeer::packet(6, 16, QByteArray(4, 'a')); });
        bool ok = true;
        driver->temperature->read(&ok, 1);
        QVERIFY(!ok);
        QCOMPARE(driver->temperature->cached(), 0.0f);
        quint8 data[4] = {};
        QVERIFY(!driver->handleMsg(6, 16, 4, data));
        QVERIFY(driver->handleMsg(5, 16, 4, data));
    }

    void everyEndpointSeesEveryPacket()
    {
        TestDriver other;
        other.setAddress(7);
        other.setInterface(link.get());
        other.setInterface(nullptr); // keeps the transport
        QCOMPARE(other.interface(), link.get());
        other.setInterface(link.get()); // attached twice, still one delivery
        int mine = 0, theirs = 0;
        driver->temperature->answerCallbacks()->add([&] { ++mine; });
        other.temperature->answerCallbacks()->add([&] { ++theirs; });
        QVERIFY(link->open());
        peer->sendToClient(LoopbackPeer::packet(7, 16, floatBytes(9.0f)));
        QTRY_COMPARE(theirs, 1);
        QCOMPARE(other.temperature->cached(), 9.0f);
        QCOMPARE(mine, 0);
        QCOMPARE(driver->temperature->cached(), 0.0f);
    }

    void laterPropertyTakesOverACode()
    {
        const qsizetype registered = driver->properties().size();
        auto* successor = new DriverPropertyReadOnly<float>(driver.get(), 16, None);
        answers[16] = floatBytes(4.0f);
        bool ok = false;
        QCOMPARE(successor->read(&ok, 1), 4.0f);
        QVERIFY(ok);
        QCOMPARE(driver->temperature->cached(), 0.0f);
        QCOMPARE(driver->properties().size(), registered);
        delete successor;
    }

    void givingUpEndsTheWaitAndTheTries()
    {
        driver->setAnswerTimeout(60000);
        bool giveUp = false;
        driver->setGiveUp([&] { return giveUp; });
        QTimer::singleShot(20, this, [&] { giveUp = true; });
        bool ok = true;
        driver->temperature->read(&ok, 100);
        QVERIFY(!ok);
        driver->counter->read(&ok, 3); // nothing is sent while giving up
        QVERIFY(!ok);
        QTRY_COMPARE(peer->packets().size(), 1);
        QCOMPARE(peer->packets().first().command, quint8(16));
    }

    void eventsOfTheThreadRunDuringAWait()
    {
        bool fired = false;
        QTimer::singleShot(0, this, [&] { fired = true; });
        bool ok = true;
        driver->temperature->read(&ok, 1);
        QVERIFY(fired);
    }

    void callbackMayIssueTheNextRequest()
    {
        answers[16] = floatBytes(1.0f);
        answers[17] = QByteArray::fromHex("05000000");
        // A callback that starts a new exchange from inside the answer handling.
        unsigned int nested = 0;
        driver->temperature->answerCallbacks()->add([&] {
            bool ok = false;
            nested = driver->counter->read(&ok, 1);
        });
        bool ok = false;
        driver->temperature->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(nested, 5u);
    }
};

QTEST_GUILESS_MAIN(TestDriverFramework)
#include "tst_driverframework.moc"
