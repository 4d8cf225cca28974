// The property framework and the common module identity against a scripted module: answer
// matching by address and code, lengths, tries, time-outs, giving up, callbacks, and the
// identity and common commands every module answers.
#include "bytes.h"
#include "drivers/commondriver.h"
#include "drivers/pair.h"
#include "driverunit.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {
constexpr quint8 No = DriverProperty_p::NoCode;
constexpr quint8 Address = 5;

// A module with one property of each kind the framework offers, on top of the identity.
class TestDriver : public CommonDriver
{
public:
    DriverPropertyReadOnly<float> temperature{this, 16, No};
    DriverProperty<unsigned int> counter{this, 17, 18};
    DriverPropertyWriteOnly<bool> enable{this, No, 31};
};

QByteArray text24(const QByteArray& text)
{
    return text + QByteArray(24 - text.size(), '\0');
}
} // namespace

class TestDriverFramework : public QObject
{
    Q_OBJECT

    std::unique_ptr<DriverUnit> unit;
    std::unique_ptr<TestDriver> driver;
    // Answers to read requests by code; every write and command is acknowledged.
    QHash<quint8, QByteArray> answers;

private slots:
    void init()
    {
        answers = {
            {6, text24("VX9SDM0")},      {7, text24("M0V1")},
            {8, text24("HW 2.1")},       {9, text24("FW 1.7.3")},
            {10, text24("SSPD driver")}, {5, QByteArray::fromHex("00112233445566778899aabb")}};
        unit = std::make_unique<DriverUnit>();
        QVERIFY(unit->start());
        unit->peer.setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address != Address)
                return {};
            if (p.data.isEmpty() && answers.contains(p.command))
                return LoopbackPeer::packet(Address, p.command, answers.value(p.command));
            if (!p.data.isEmpty() || p.command <= 12)
                return LoopbackPeer::packet(Address, p.command);
            return {};
        });
        driver = std::make_unique<TestDriver>();
        unit->attach(*driver, Address, 40);
    }
    void cleanup()
    {
        driver.reset();
        unit.reset();
    }

    void readStoresTheAnswerAndRunsCallbacksInOrder()
    {
        answers[16] = Bytes().f32(2.25f);
        QStringList order;
        driver->temperature.answerCallbacks()->add([&] { order << "first"; });
        const int second = driver->temperature.answerCallbacks()->add([&] { order << "second"; });
        bool ok = false;
        QCOMPARE(driver->temperature.read(&ok, 1), 2.25f);
        QVERIFY(ok);
        QCOMPARE(driver->temperature.cached(), 2.25f);
        QCOMPARE(order, QStringList({"first", "second"}));
        QCOMPARE(unit->codes(), QList<quint8>{16});
        QVERIFY(unit->peer.packets().at(0).data.isEmpty());
        QVERIFY(driver->temperature.answerCallbacks()->remove(second));
        driver->temperature.read(&ok, 1);
        QCOMPARE(order.size(), 3);
    }

    // Each wrong-length answer ends its try at once, as failed; the value stays.
    void wrongLengthIsNoAnswer()
    {
        answers[16] = Bytes().f32(7.5f);
        bool ok = false;
        driver->temperature.read(&ok, 1);
        int callbacks = 0;
        driver->temperature.answerCallbacks()->add([&] { ++callbacks; });
        answers[16] = QByteArray::fromHex("010203");
        QCOMPARE(driver->temperature.read(&ok, 2), 7.5f);
        QVERIFY(!ok);
        QCOMPARE(driver->temperature.cached(), 7.5f);
        QCOMPARE(callbacks, 0);
        QCOMPARE(unit->peer.packets().size(), 3);
    }

    void silentModuleIsTriedThenReported()
    {
        driver->temperature.setCached(3.5f);
        bool ok = true;
        QCOMPARE(driver->temperature.read(&ok, 0), 3.5f); // no tries: nothing is sent
        QVERIFY(!ok);
        ok = true;
        QCOMPARE(driver->temperature.read(&ok, 3), 3.5f);
        QVERIFY(!ok);
        QCOMPARE(unit->codes(), QList<quint8>({16, 16, 16}));

        TestDriver lonely; // without a transport the wait ends by the time-out
        lonely.setAnswerTimeout(20);
        lonely.temperature.read(&ok, 2);
        QVERIFY(!ok);
        QVERIFY(!lonely.waitForAnswer());
    }

    void writeIsAcknowledgedWithoutTouchingTheCache()
    {
        answers[17] = QByteArray::fromHex("2a000000");
        bool ok = false;
        QCOMPARE(driver->counter.read(&ok, 1), 42u);
        int written = 0;
        driver->counter.writeCallbacks()->add([&] { ++written; });
        driver->counter.writeSync(0x01020304u, &ok, 2);
        QVERIFY(ok);
        QCOMPARE(written, 1);
        QCOMPARE(driver->counter.cached(), 42u);
        QCOMPARE(driver->counter.lastWritten(), 0x01020304u);
        QCOMPARE(unit->peer.packets().last().command, quint8(18));
        QCOMPARE(unit->peer.packets().last().data, QByteArray::fromHex("04030201"));
        driver->counter.request(); // a read request empties what lastWritten() sees
        QCOMPARE(driver->counter.lastWritten(), 0u);
    }

    // A module byte other than 0 or 1 must not land in a bool as it is.
    void boolBytesOtherThanOneReadAsTrue()
    {
        DriverProperty<bool> flag(driver.get(), 40, No);
        bool ok = false;
        const QList<QPair<char, bool>> cases = {{'\x02', true}, {'\x80', true}, {'\0', false}};
        for (const auto& [byte, value] : cases) {
            answers[40] = QByteArray(1, byte);
            QCOMPARE(flag.read(&ok, 1), value);
        }
        QCOMPARE(DriverValue<bool>::encode(true), QByteArray(1, '\1'));
    }

    // Only the answer to the request ends its wait: a packet of another code (unknown, a late
    // acknowledgement, another property's answer) is handled but ends nothing.
    void onlyTheOwnAnswerEndsTheWait_data()
    {
        QTest::addColumn<QByteArray>("before"); // sent ahead of the answer, if any
        QTest::addColumn<bool>("answer");
        QTest::newRow("unknown code") << LoopbackPeer::packet(Address, 99, "x") << false;
        QTest::newRow("late acknowledgement") << LoopbackPeer::packet(Address, 18) << false;
        QTest::newRow("other property")
            << LoopbackPeer::packet(Address, 17, QByteArray(4, 1)) << false;
        QTest::newRow("stray, then the answer") << LoopbackPeer::packet(Address, 18) << true;
    }
    void onlyTheOwnAnswerEndsTheWait()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, answer);
        unit->peer.setPacketResponder([&](const PeerPacket& p) {
            if (p.command == 16)
                return before +
                       (answer ? LoopbackPeer::packet(Address, 16, Bytes().f32(6.0f)) : "");
            return before; // the write of code 31 below
        });
        bool ok = !answer;
        QCOMPARE(driver->temperature.read(&ok, 1), answer ? 6.0f : 0.0f);
        QCOMPARE(ok, answer);
        // Nor does a write count as acknowledged by anything but its own code.
        driver->enable.writeSync(true, &ok, 1);
        QVERIFY(!ok);
    }

    void answerFromAnotherAddressIsNotOurs()
    {
        unit->peer.setPacketResponder(
            [](const PeerPacket&) { return LoopbackPeer::packet(6, 16, QByteArray(4, 'a')); });
        bool ok = true;
        driver->temperature.read(&ok, 1);
        QVERIFY(!ok);
        QCOMPARE(driver->temperature.cached(), 0.0f);
        quint8 data[4] = {};
        QVERIFY(!driver->handleMsg(6, 16, 4, data));
        QVERIFY(driver->handleMsg(Address, 16, 4, data));
    }

    void everyEndpointSeesEveryPacket()
    {
        TestDriver other;
        other.setAddress(7);
        other.setInterface(&unit->link);
        other.setInterface(nullptr); // keeps the transport
        QCOMPARE(other.interface(), &unit->link);
        other.setInterface(&unit->link); // attached twice, still one delivery
        int mine = 0, theirs = 0;
        driver->temperature.answerCallbacks()->add([&] { ++mine; });
        other.temperature.answerCallbacks()->add([&] { ++theirs; });
        QVERIFY(unit->link.open());
        QTRY_COMPARE(unit->peer.connectionCount(), 1);
        unit->peer.sendToClient(LoopbackPeer::packet(7, 16, Bytes().f32(9.0f)));
        QTRY_COMPARE(theirs, 1);
        QCOMPARE(other.temperature.cached(), 9.0f);
        QCOMPARE(mine, 0);
    }

    void laterPropertyTakesOverACode()
    {
        const qsizetype registered = driver->properties().size();
        DriverPropertyReadOnly<float> successor(driver.get(), 16, No);
        answers[16] = Bytes().f32(4.0f);
        bool ok = false;
        QCOMPARE(successor.read(&ok, 1), 4.0f);
        QVERIFY(ok);
        QCOMPARE(driver->temperature.cached(), 0.0f);
        QCOMPARE(driver->properties().size(), registered);
    }

    void givingUpEndsTheWaitAndTheTries()
    {
        driver->setAnswerTimeout(60000);
        bool giveUp = false;
        driver->setGiveUp([&] { return giveUp; });
        QTimer::singleShot(20, this, [&] { giveUp = true; });
        bool ok = true;
        driver->temperature.read(&ok, 100);
        QVERIFY(!ok);
        driver->counter.read(&ok, 3); // nothing is sent while giving up
        QVERIFY(!ok);
        QCOMPARE(unit->codes(), QList<quint8>{16});
    }

    void callbackMayIssueTheNextRequest()
    {
        answers[16] = Bytes().f32(1.0f);
        answers[17] = QByteArray::fromHex("05000000");
        unsigned int nested = 0;
        driver->temperature.answerCallbacks()->add([&] {
            bool ok = false;
            nested = driver->counter.read(&ok, 1);
        });
        bool ok = false;
        driver->temperature.read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(nested, 5u);
    }

    // Type, modification, versions and description (24-byte texts, padding kept), then the
    // identifier; one try each, stopping at the first that is not answered in full.
    void identityIsReadInOrder()
    {
        QVERIFY(driver->readIdentity());
        QCOMPARE(unit->codes(), QList<quint8>({6, 7, 8, 9, 10, 5}));
        QCOMPARE(driver->typeString()->cached(), QString::fromLatin1(text24("VX9SDM0")));
        QVERIFY(driver->modification()->cached().startsWith("M0V1"));
        QVERIFY(driver->hardwareVersion()->cached().startsWith("HW 2.1"));
        QVERIFY(driver->firmwareVersion()->cached().startsWith("FW 1.7.3"));
        QVERIFY(driver->description()->cached().startsWith("SSPD driver"));
        QCOMPARE(driver->udid()->cached().toString(), QString("0011-2233-4455-6677-8899-AABB"));
    }
    void identityStopsAtTheFirstItemNotAnswered()
    {
        answers[5] = QByteArray::fromHex("0102");
        QVERIFY(!driver->readIdentity());
        QVERIFY(driver->description()->cached().startsWith("SSPD driver"));
        QVERIFY(driver->udid()->cached().isNull());
        answers[9] = "short";
        QVERIFY(!driver->readIdentity());
        QVERIFY(driver->firmwareVersion()->cached().startsWith("FW 1.7.3"));
        answers.remove(7); // acknowledged with no text
        QVERIFY(!driver->readIdentity());
        QCOMPARE(unit->codes().mid(10), QList<quint8>({6, 7}));
    }

    void commonCommandsUseTheirCodes()
    {
        QSignalSpy stored(driver.get(), &CommonDriver::eepromWrited);
        bool ok = false;
        driver->eepromWrite()->executeSync(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(stored.size(), 1);
        unit->peer.sendToClient(LoopbackPeer::packet(Address, 12));
        QTRY_COMPARE(stored.size(), 2);
        driver->setAddress(255);
        driver->bootloaderCommand()->execute();
        driver->command0()->execute();
        driver->command1()->execute();
        driver->command2()->execute();
        QTRY_COMPARE(unit->peer.packets().size(), 5);
        QCOMPARE(unit->codes(), QList<quint8>({12, 11, 0, 1, 2}));
        for (const PeerPacket& p : unit->peer.packets().mid(1))
            QVERIFY(p.address == 255 && p.data.isEmpty());
        driver->eepromWrite()->executeSync(&ok, 1);
        QVERIFY(!ok); // not acknowledged at address 255, not signalled
        QCOMPARE(stored.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDriverFramework)
#include "tst_driverframework.moc"
