// The heater module of the simulator: identity, every structure with its length, writes
// read back alone and inside their structure, EEPROM storage, and the heater driver
// reading it through a loopback connection.
#include "bytes.h"
#include "core/simenvironment.h"
#include "drivers/heaterdriverm0.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"
#include "modules/simheater.h"

#include <QTest>
#include <memory>

namespace {
constexpr quint8 Address = 7;
}

class TestSimHeater : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimHeater> heater;

    QByteArray ask(quint8 code, const QByteArray& data = {})
    {
        const QList<SimModule::Answer> answers = heater->handlePacket(code, data);
        if (answers.size() != 1 || answers.first().command != code)
            return QByteArray("no single answer");
        return answers.first().data;
    }
    bool acknowledged(quint8 code, const QByteArray& data)
    {
        const QList<SimModule::Answer> answers = heater->handlePacket(code, data);
        return answers.size() == 1 && answers.first().command == code &&
               answers.first().data.isEmpty();
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(3);
        env->useManualClock(0);
        heater = std::make_unique<SimHeater>(
            Address, SimModule::Identity{"VX9HTM0", "H", "1.0", "1.1", "heater", cUDID()},
            env.get());
    }

    void answersEveryStructureWithItsLength()
    {
        QCOMPARE(ask(6), Bytes().text("VX9HTM0", 24).toByteArray());
        const QList<std::pair<int, int>> lengths = {{16, 8},  {17, 4}, {19, 1}, {21, 1},
                                                    {23, 32}, {25, 4}, {27, 4}, {29, 4},
                                                    {31, 4},  {33, 8}, {35, 8}};
        for (const auto& [code, length] : lengths)
            QVERIFY2(ask(quint8(code)).size() == length, qPrintable(QString::number(code)));
        QVERIFY(acknowledged(13, {}));
        QVERIFY(acknowledged(14, {}));
        QVERIFY(heater->handlePacket(37, {}).isEmpty());
        QVERIFY(heater->handlePacket(255, Bytes().pad(8)).isEmpty());
    }

    void writesAreReadBack()
    {
        QVERIFY(acknowledged(18, Bytes().f32(0.125f)));
        QVERIFY(acknowledged(20, Bytes().u8(1)));
        QVERIFY(acknowledged(22, Bytes().u8(3)));
        QCOMPARE(ask(17), Bytes().f32(0.125f).toByteArray());
        const QByteArray data = ask(16);
        QCOMPARE(data.at(0), '\1');
        QCOMPARE(data.at(1), '\3');
        QCOMPARE(data.mid(4), Bytes().f32(0.125f).toByteArray());

        const QByteArray constants =
            Bytes().f32(2).f32(0.5f).f32(3).f32(-0.5f).f32(50).f32(0.2f).f32(12).f32(1);
        QVERIFY(acknowledged(24, constants));
        QCOMPARE(ask(23), constants);
        QVERIFY(acknowledged(36, Bytes().f32(9).f32(8)));
        QVERIFY(acknowledged(30, Bytes().f32(24)));
        QCOMPARE(ask(23).mid(8, 8), Bytes().f32(9).f32(8).toByteArray());
        QCOMPARE(ask(23).mid(24, 4), Bytes().f32(24).toByteArray());
        QVERIFY(heater->handlePacket(24, constants.left(31)).isEmpty());
        QVERIFY(heater->handlePacket(18, Bytes().u8(1)).isEmpty());

        // Burnt by command 12, the constants outlive a reset; the live values do not.
        QVERIFY(acknowledged(12, {}));
        heater->reset();
        QCOMPARE(ask(23).mid(8, 8), Bytes().f32(9).f32(8).toByteArray());
        QCOMPARE(ask(17), Bytes().f32(0).toByteArray());
        SimHeater other(8, heater->identity(), env.get());
        QString error;
        QVERIFY(other.setEeprom(heater->eeprom(), &error));
        QCOMPARE(other.handlePacket(23, {}).first().data, ask(23));
        QVERIFY(!other.setEeprom({{"constants", QJsonObject{{"const9", 1}}}}, &error));
        QVERIFY(!other.configure({{"power", 1}}, &error));
        QVERIFY(other.configure({}, &error));
    }

    void driverReadsTheModule()
    {
        LoopbackPeer peer;
        QVERIFY(peer.listen());
        peer.setPacketResponder([this](const PeerPacket& p) {
            QByteArray bytes;
            if (p.address == Address)
                for (const SimModule::Answer& a : heater->handlePacket(p.command, p.data))
                    bytes += LoopbackPeer::packet(p.address, a.command, a.data);
            return bytes;
        });
        cuTcpSocketIOInterface link;
        link.setHostAddress(QHostAddress::LocalHost);
        link.setPort(peer.port());
        HeaterDriverM0 driver;
        driver.setAddress(Address);
        driver.setInterface(&link);
        QVERIFY(driver.readIdentity());
        bool ok = false;
        driver.floatValue()->writeSync(1.5f, &ok, 1);
        QVERIFY(ok);
        QCOMPARE(driver.data()->read(&ok, 1).floatValue, 1.5f);
        QVERIFY(ok);
        QCOMPARE(driver.eepromConst()->read(&ok, 1).const0, 100.0f);
        QCOMPARE(driver.const0()->cached(), 100.0f);
        driver.command13()->executeSync(&ok, 1);
        QVERIFY(ok);
    }
};

QTEST_GUILESS_MAIN(TestSimHeater)
#include "tst_simheater.moc"
