// The property framework and the common module identity against a scripted module (answer
// matching by code, tries, time-outs, giving up, callbacks, identity and common commands),
// and the value types around the drivers: structures as JSON, identifiers in text form, the
// relay byte (and the stop on a relay that does not exist).
#include "bytes.h"
#include "drivers/commondriver.h"
#include "drivers/crelaysstatus.h"
#include "drivers/pair.h"
#include "drivers/structurejson.h"
#include "drivers/structures/heaterstructs.h"
#include "drivers/structures/sspdstructs.h"
#include "drivers/windowedaverage.h"
#include "driverunit.h"

#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <sys/resource.h>

namespace {
// Run as a child with this argument, the program indexes a relay that does not exist.
constexpr char BadIndexArgument[] = "--index-relay";
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

} // namespace

class TestDriverFramework : public QObject
{
    Q_OBJECT

    std::unique_ptr<DriverUnit> unit;
    std::unique_ptr<TestDriver> driver;

private slots:
    void init()
    {
        unit = std::make_unique<DriverUnit>();
        QVERIFY(unit->start());
        unit->script(Address);
        unit->commands = {7, 12}; // 7 only once its text is gone
        unit->answers = {{5, QByteArray::fromHex("00112233445566778899aabb")}};
        const char* const texts[] = {"VX9SDM0", "M0V1", "HW 2.1", "FW 1.7.3", "SSPD driver"};
        for (quint8 code = 6; code <= 10; ++code)
            unit->answers[code] = Bytes().text(texts[code - 6], 24);
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
        unit->answers[16] = Bytes().f32(2.25f);
        QStringList order;
        driver->temperature.answerCallbacks()->add([&] { order << "first"; });
        driver->temperature.answerCallbacks()->add([&] { order << "second"; });
        bool ok = false;
        QCOMPARE(driver->temperature.read(&ok, 1), 2.25f);
        QVERIFY(ok);
        QCOMPARE(driver->temperature.cached(), 2.25f);
        QCOMPARE(order, QStringList({"first", "second"}));
        QCOMPARE(unit->codes(), QList<quint8>{16});
        QVERIFY(unit->peer.packets().at(0).data.isEmpty());
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

    // A module byte other than 0 or 1 must not land in a bool as it is.
    void boolBytesOtherThanOneReadAsTrue()
    {
        DriverProperty<bool> flag(driver.get(), 40, No);
        bool ok = false;
        const QList<QPair<char, bool>> cases = {{'\x02', true}, {'\x80', true}, {'\0', false}};
        for (const auto& [byte, value] : cases) {
            unit->answers[40] = QByteArray(1, byte);
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
        // of an earlier write of the property being read
        QTest::newRow("late acknowledgement") << LoopbackPeer::packet(Address, 18) << false;
        QTest::newRow("other property")
            << LoopbackPeer::packet(Address, 16, QByteArray(4, 1)) << false;
        QTest::newRow("stray, then the answer") << LoopbackPeer::packet(Address, 18) << true;
    }
    void onlyTheOwnAnswerEndsTheWait()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, answer);
        unit->peer.setPacketResponder([&](const PeerPacket& p) {
            if (p.command == 17)
                return before +
                       (answer ? LoopbackPeer::packet(Address, 17, QByteArray("\6\0\0\0", 4)) : "");
            return before; // the write of code 31 below
        });
        bool ok = !answer;
        QCOMPARE(driver->counter.read(&ok, 1), answer ? 6u : 0u);
        QCOMPARE(ok, answer);
        // Nor does a write count as acknowledged by anything but its own code.
        driver->enable.writeSync(true, &ok, 1);
        QVERIFY(!ok);
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

    // Type, modification, versions, description (24-byte texts), then the identifier; one
    // try each, stopping at the first that is not answered in full.
    void identityIsReadInOrderUpToAGap()
    {
        QVERIFY(driver->readIdentity());
        QCOMPARE(unit->codes(), QList<quint8>({6, 7, 8, 9, 10, 5}));
        QCOMPARE(driver->typeString()->cached(), QString::fromLatin1(Bytes().text("VX9SDM0", 24)));
        QCOMPARE(driver->udid()->cached().toString(), QString("0011-2233-4455-6677-8899-AABB"));
        driver->udid()->setCached({});
        unit->answers[5] = QByteArray::fromHex("0102");
        QVERIFY(!driver->readIdentity());
        QVERIFY(driver->description()->cached().startsWith("SSPD driver"));
        QVERIFY(driver->udid()->cached().isNull());
        unit->answers[9] = "short";
        QVERIFY(!driver->readIdentity());
        QVERIFY(driver->firmwareVersion()->cached().startsWith("FW 1.7.3"));
        unit->answers.remove(7); // acknowledged with no text
        QVERIFY(!driver->readIdentity());
        QCOMPARE(unit->codes().mid(16), QList<quint8>({6, 7}));
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

    void badFieldsAreRefused_data()
    {
        QTest::addColumn<QMetaType>("type");
        QTest::addColumn<QJsonValue>("json");
        const QMetaType params = QMetaType::fromType<VX9SDM0V1_Param_t>();
        const auto row = [](const char* name, QMetaType type, const QJsonValue& json) {
            QTest::newRow(name) << type << json;
        };
        row("not an object", params, 3);
        row("text for a number", params, QJsonObject{{"timeConst", "high"}});
        row("negative unsigned", params, QJsonObject{{"autoResetCounts", -1}});
        row("fraction for integer", params, QJsonObject{{"autoResetCounts", 1.5}});
        row("out of range", QMetaType::fromType<VX9HTM0V0_Data_t>(),
            QJsonObject{{"floatValue", 1}, {"byte0", 300}});
        row("inner structure", QMetaType::fromType<VX9SDM0V1_Data_t>(),
            QJsonObject{{"current", 1}, {"status", QJsonObject{{"shorted", "yes"}}}});
        row("half a pair", QMetaType::fromType<VX9SDM0V1_EEPROM_Const_t>(),
            QJsonObject{{"currentAdc", QJsonObject{{"first", 1}}}});
    }
    void badFieldsAreRefused()
    {
        QFETCH(QMetaType, type);
        QFETCH(QJsonValue, json);
        bool ok = true;
        const QVariant value = cuFromJson(json, type, &ok);
        QVERIFY(!ok);
        // Nothing half-filled comes back.
        QVERIFY(!value.isValid() || cuToJson(value) == cuToJson(QVariant(type)));
    }

    void udidTextForm()
    {
        const cUDID id({0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01, 0x02, 0x03, 0x0a, 0x0b, 0x0c, 0xff});
        QCOMPARE(id.toString(), QString("DEAD-BEEF-0001-0203-0A0B-0CFF"));
        bool ok = false;
        QVERIFY(cUDID::fromString("dead-beef-0001-0203-0a0b-0cff", &ok) == id && ok);
        for (const char* bad :
             {"", "DEAD-BEEF", "DEAD-BEEF-0001-0203-0A0B-0CFG",
              "DEAD-BEEF-0001-0203-0A0B-0CFF-0000", "DEAD--BEEF-0001-0203-0A0B-0C"}) {
            cUDID::fromString(bad, &ok);
            QVERIFY2(!ok, bad);
        }
        QVERIFY(cUDID().isNull() && !id.isNull());
    }

    // Written, the high nibble masks the relays to change and the low nibble gives their
    // states; a state wider than a nibble must not reach the mask and change another relay.
    // Read, bit 0 is relay 0 and bit 1 relay 1.
    void relayByte()
    {
        const int written[][3] = {{0x1, 0x1, 0x11},  {0x2, 0x0, 0x20},  {0x3, 0x1, 0x31},
                                  {0x12, 0x0, 0x20}, {0x1, 0x11, 0x11}, {0x2, 0xF0, 0x20}};
        for (const auto& [mask, state, byte] : written)
            QCOMPARE(int(cRelaysStatus(quint8(mask), quint8(state)).raw()), byte);
        for (const int byte : {0x00, 0x01, 0x02, 0x03, 0xF2, 0x0C}) {
            const cRelaysStatus status{quint8(byte)};
            QCOMPARE(status[0], bool(byte & 1));
            QCOMPARE(status[1], bool(byte & 2));
        }
        cRelaysStatus full(0xFF);
        QCOMPARE(full.clearMask().raw(), quint8(0x0F));
        QCOMPARE(full.raw(), quint8(0x0F));
    }

    // Operating needs amplifier, comparator and counter on and no short; model 0 also needs
    // the RF key, while model 1's HF mode in that bit does not matter.
    void statusBytesTellOperating()
    {
        for (const auto& [byte, m0, m1] : {std::tuple{0x3C, true, true},
                                           {0x3D, true, true},
                                           {0x34, false, true},
                                           {0x3E, false, false},
                                           {0x38, false, false},
                                           {0x2C, false, false}}) {
            QCOMPARE(VX9SDM0_Status_t::fromByte(quint8(byte)).isOperating(), m0);
            QCOMPARE(VX9SDM1_Status_t::fromByte(quint8(byte)).isOperating(), m1);
        }
    }

    // The trend starts once the window is more than half full and spans at most n averages.
    void windowedAverageAndTrend()
    {
        WindowedAverage w(4);
        const double values[] = {1, 2, 3, 4, 5, 7, 11},
                     averages[] = {1, 1.5, 2, 2.5, 3.5, 4.75, 6.75},
                     trends[] = {0, 0, 0, 0.5, 1.5, 2.75, 4.25};
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(w.addValue(values[i]), averages[i]);
            QCOMPARE(w.trend(), trends[i]);
        }
        w.clear();
        QCOMPARE(w.trend(), 0.0);
        QCOMPARE(w.addValue(10), 10.0);
        WindowedAverage none(0); // taken as a window of one
        QCOMPARE(none.addValue(3), 3.0);
        QCOMPARE(none.addValue(5), 5.0);
    }

    void nonExistentRelayIndexStopsTheProgram_data()
    {
        QTest::addColumn<QString>("index");
        QTest::addColumn<bool>("stops");
        QTest::newRow("2") << "2" << true;
        QTest::newRow("-1") << "-1" << true;
        QTest::newRow("1") << "1" << false;
    }
    void nonExistentRelayIndexStopsTheProgram()
    {
        QFETCH(QString, index);
        QFETCH(bool, stops);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {BadIndexArgument, index});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), stops ? QProcess::CrashExit : QProcess::NormalExit);
        QCOMPARE(child.readAllStandardError().contains("relay index must be < 2"), stops);
        QCOMPARE(child.readAllStandardOutput().contains("survived"), !stops);
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], BadIndexArgument) == 0) {
        // The stop is expected here; a core file would only cost time.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        const bool on = cRelaysStatus(0xFF)[std::atoi(argv[2])];
        std::printf("survived %d\n", int(on));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestDriverFramework test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_driverframework.moc"
