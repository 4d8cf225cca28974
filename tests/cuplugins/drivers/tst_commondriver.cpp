// Identity and common commands that every module answers, against a scripted module.
#include "drivers/commondriver.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"

#include <QSignalSpy>
#include <QTest>

namespace {
QByteArray text24(const QByteArray& text)
{
    return text + QByteArray(24 - text.size(), '\0');
}
} // namespace

class TestCommonDriver : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;
    std::unique_ptr<CommonDriver> driver;
    // Answers of the module at address 3 by command code; codes not listed stay silent.
    QHash<quint8, QByteArray> answers;

private slots:
    void init()
    {
        answers = {
            {6, text24("VX9SDM0")},      {7, text24("M0V1")},
            {8, text24("HW 2.1")},       {9, text24("FW 1.7.3")},
            {10, text24("SSPD driver")}, {5, QByteArray::fromHex("00112233445566778899aabb")},
            {12, QByteArray()},
        };
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        peer->setPacketResponder([this](const PeerPacket& p) -> QByteArray {
            if (p.address != 3 || !answers.contains(p.command))
                return {};
            return LoopbackPeer::packet(3, p.command, answers.value(p.command));
        });
        link = std::make_unique<cuTcpSocketIOInterface>();
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
        driver = std::make_unique<CommonDriver>();
        driver->setAddress(3);
        driver->setInterface(link.get());
        driver->setAnswerTimeout(40);
    }
    void cleanup()
    {
        driver.reset();
        link.reset();
        peer.reset();
    }

    void identityIsReadInOrder()
    {
        QVERIFY(driver->readIdentity());
        QList<quint8> codes;
        for (const PeerPacket& p : peer->packets())
            codes << p.command;
        QCOMPARE(codes, QList<quint8>({6, 7, 8, 9, 10, 5}));
        QVERIFY(driver->typeString()->cached().startsWith("VX9SDM0"));
        QVERIFY(driver->modification()->cached().startsWith("M0V1"));
        QVERIFY(driver->hardwareVersion()->cached().startsWith("HW 2.1"));
        QVERIFY(driver->firmwareVersion()->cached().startsWith("FW 1.7.3"));
        QVERIFY(driver->description()->cached().startsWith("SSPD driver"));
        QCOMPARE(driver->udid()->cached().toString(), QString("0011-2233-4455-6677-8899-AABB"));
    }

    void stringsKeepTheirPadding()
    {
        bool ok = false;
        const QString type = driver->typeString()->read(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(type.size(), 24);
        QVERIFY(type.startsWith("VX9SDM0"));
        QCOMPARE(type.mid(7), QString(17, QChar(0)));
    }

    void identityStopsAtTheFirstSilentItem()
    {
        answers.remove(7);
        QVERIFY(!driver->readIdentity());
        QCOMPARE(peer->packets().size(), 2);
        QVERIFY(driver->typeString()->cached().startsWith("VX9SDM0"));
        QCOMPARE(driver->modification()->cached(), QString());
        QCOMPARE(driver->hardwareVersion()->cached(), QString());
        QCOMPARE(driver->description()->cached(), QString());
        QVERIFY(driver->udid()->cached().isNull());
    }

    void identityKeepsOldValuesOfUnreadItems()
    {
        QVERIFY(driver->readIdentity());
        answers[6] = text24("VX9TDM1");
        answers.remove(8);
        QVERIFY(!driver->readIdentity());
        QVERIFY(driver->typeString()->cached().startsWith("VX9TDM1"));
        QVERIFY(driver->hardwareVersion()->cached().startsWith("HW 2.1"));
        QVERIFY(driver->firmwareVersion()->cached().startsWith("FW 1.7.3"));
    }

    // An answer of the wrong length is no answer: the item stays as it was.
    void wrongLengthItemIsNoAnswer()
    {
        answers[5] = QByteArray::fromHex("0102");
        QVERIFY(!driver->readIdentity());
        QVERIFY(driver->description()->cached().startsWith("SSPD driver"));
        QVERIFY(driver->udid()->cached().isNull());
        answers[9] = "short";
        QVERIFY(!driver->readIdentity());
        QVERIFY(driver->firmwareVersion()->cached().startsWith("FW 1.7.3"));
    }

    void eepromWriteAcknowledgementsAreSignalled()
    {
        QSignalSpy stored(driver.get(), &CommonDriver::eepromWrited);
        bool ok = false;
        driver->eepromWrite()->executeSync(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(peer->packets().last().command, quint8(12));
        QVERIFY(peer->packets().last().data.isEmpty());
        peer->sendToClient(LoopbackPeer::packet(3, 12));
        QTRY_COMPARE(stored.size(), 2);
    }

    void silentEepromWriteIsNotSignalled()
    {
        answers.remove(12);
        QSignalSpy stored(driver.get(), &CommonDriver::eepromWrited);
        bool ok = true;
        driver->eepromWrite()->executeSync(&ok, 1);
        QVERIFY(!ok);
        QCOMPARE(stored.size(), 0);
    }

    void commonCommandsUseTheirCodes()
    {
        driver->setAddress(255);
        driver->bootloaderCommand()->execute();
        driver->command0()->execute();
        driver->command1()->execute();
        driver->command2()->execute();
        QTRY_COMPARE(peer->packets().size(), 4);
        QList<quint8> codes;
        for (const PeerPacket& p : peer->packets()) {
            QCOMPARE(p.address, quint8(255));
            QVERIFY(p.data.isEmpty());
            codes << p.command;
        }
        QCOMPARE(codes, QList<quint8>({11, 0, 1, 2}));
    }

    void udidTextForm()
    {
        const std::array<quint8, 12> bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01,
                                           0x02, 0x03, 0x0a, 0x0b, 0x0c, 0xff};
        const cUDID id(bytes);
        QCOMPARE(id.toString(), QString("DEAD-BEEF-0001-0203-0A0B-0CFF"));
        bool ok = false;
        QCOMPARE(cUDID::fromString("dead-beef-0001-0203-0a0b-0cff", &ok), id);
        QVERIFY(ok);
        QCOMPARE(cUDID::fromString("DEADBEEF000102030A0B0CFF", &ok), id);
        QVERIFY(ok);
        for (const char* bad :
             {"", "DEAD-BEEF", "DEAD-BEEF-0001-0203-0A0B-0CFG",
              "DEAD-BEEF-0001-0203-0A0B-0CFF-0000", "DEAD--BEEF-0001-0203-0A0B-0C"}) {
            cUDID::fromString(bad, &ok);
            QVERIFY2(!ok, bad);
        }
        QVERIFY(cUDID().isNull());
        QCOMPARE(cUDID().toString(), QString("0000-0000-0000-0000-0000-0000"));
    }
};

QTEST_GUILESS_MAIN(TestCommonDriver)
#include "tst_commondriver.moc"
