// The library's temperature drivers against the simulated modules, over a loopback TCP
// connection whose far end hands every packet to the module at its address: tables,
// calibration and relays as the application moves them, and the recycle procedure.
#include "core/simenvironment.h"
#include "drivers/tempdriverm0.h"
#include "drivers/tempdriverm1.h"
#include "drivers/temperaturerecycleinterface.h"
#include "link/cutcpsocketiointerface.h"
#include "loopbackpeer.h"
#include "modules/simtempm0.h"
#include "modules/simtempm1.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {
constexpr quint8 M0Address = 3;
constexpr quint8 M1Address = 4;
constexpr quint8 RecycleAddress = 9;

SimModule::Identity identity(const char* type, quint8 last)
{
    std::array<quint8, cUDID::Size> udid{};
    udid.back() = last;
    return {type, "A", "1.2", "3.4", "temperature module", cUDID(udid)};
}
} // namespace

class TestSimTempDrivers : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimEnvironment> realTime;
    std::unique_ptr<SimTempM0> m0;
    std::unique_ptr<SimTempM1> m1;
    std::unique_ptr<SimTempM1> recycleModule;
    std::unique_ptr<LoopbackPeer> peer;
    std::unique_ptr<cuTcpSocketIOInterface> link;

    QByteArray respond(const PeerPacket& p)
    {
        SimModule* module = p.address == M0Address        ? static_cast<SimModule*>(m0.get())
                            : p.address == M1Address      ? m1.get()
                            : p.address == RecycleAddress ? recycleModule.get()
                                                          : nullptr;
        QByteArray bytes;
        if (module)
            for (const SimModule::Answer& a : module->handlePacket(p.command, p.data))
                bytes += LoopbackPeer::packet(p.address, a.command, a.data);
        return bytes;
    }

    template <typename D> std::unique_ptr<D> driver(quint8 address)
    {
        auto d = std::make_unique<D>();
        d->setAddress(address);
        d->setInterface(link.get());
        return d;
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(11);
        env->useManualClock(0);
        realTime = std::make_unique<SimEnvironment>(12);
        m0 = std::make_unique<SimTempM0>(M0Address, identity("VX9TDM0", 1), env.get());
        m1 = std::make_unique<SimTempM1>(M1Address, identity("VX9TDM1", 2), env.get());
        recycleModule =
            std::make_unique<SimTempM1>(RecycleAddress, identity("VX9TDM1", 3), realTime.get());
        peer = std::make_unique<LoopbackPeer>();
        QVERIFY(peer->listen());
        peer->setPacketResponder([this](const PeerPacket& p) { return respond(p); });
        link = std::make_unique<cuTcpSocketIOInterface>();
        link->setHostAddress(QHostAddress::LocalHost);
        link->setPort(peer->port());
    }
    void cleanup()
    {
        link.reset();
        peer.reset();
        m0.reset();
        m1.reset();
        recycleModule.reset();
        env.reset();
        realTime.reset();
    }

    void model0DriverReadsDataTableAndCalibration()
    {
        auto d = driver<TempDriverM0>(M0Address);
        QVERIFY(d->readIdentity());
        QCOMPARE(d->typeString()->cached().left(7), QString("VX9TDM0"));
        QCOMPARE(d->udid()->cached().toString(), QString("0000-0000-0000-0000-0000-0001"));

        bool ok = false;
        const VX9TDM0V1_Data_t data = d->data()->read(&ok, 1);
        QVERIFY(ok);
        QVERIFY(std::abs(data.temperature - 2.2f) < 0.05f);
        QVERIFY(data.commutator);
        QVERIFY(d->readTempTable());
        QVERIFY(std::abs(data.tempSensorVoltage -
                         SimTempM0::tableVoltage(d->tempTable(), data.temperature)) < 1e-5);

        // A table written by one driver is what another reads back.
        for (int i = 0; i < TempDriverM0::TableSize; ++i)
            d->tempTable()[i] = {1.8f - 0.012f * i, 1.2f + 3.1f * i};
        QVERIFY(d->writeTempTable());
        auto fresh = driver<TempDriverM0>(M0Address);
        QVERIFY(fresh->readTempTable());
        QCOMPARE(fresh->tempTable(), d->tempTable());

        // Calibration written, stored by command 12, and read back whole and by pair.
        VX9TDM0V1_EEPROM_Const_t constants = d->eepromConst()->read(&ok, 1);
        QVERIFY(ok);
        constants.pressSensorCoeffs = {250.0f, 1.5f};
        d->eepromConst()->writeSync(constants, &ok, 1);
        QVERIFY(ok);
        QSignalSpy stored(d.get(), &CommonDriver::eepromWrited);
        d->eepromWrite()->executeSync(&ok, 1);
        QVERIFY(ok);
        QCOMPARE(stored.count(), 1);
        QCOMPARE(fresh->pressSensorCoeffs()->read(&ok, 1), (pair_t<float>{250.0f, 1.5f}));
        const QJsonObject burnt = m0->eeprom();
        QCOMPARE(burnt["constants"]["pressSensorCoeffs"]["first"].toDouble(), 250.0);
        QCOMPARE(burnt["table"][99][1].toDouble(), double(1.2f + 3.1f * 99));

        fresh->commutator()->writeSync(false, &ok, 1);
        QVERIFY(ok);
        QVERIFY(!fresh->data()->read(&ok, 1).commutator);
        fresh->tempSensorCurrent()->writeSync(3e-6f, &ok, 1);
        QCOMPARE(d->tempSensorCurrent()->read(&ok, 1), 3e-6f);
    }

    void model1DriverMovesTablesSettingsAndRelays()
    {
        auto d = driver<TempDriverM1>(M1Address);
        QVERIFY(d->readIdentity());
        QCOMPARE(d->typeString()->cached().left(7), QString("VX9TDM1"));

        QVERIFY(d->readTemperatures());
        QVERIFY(std::abs(d->temperature(0) - 2.2f) < 0.05f);
        QVERIFY(d->temperature(3) > 40.0f);
        QVERIFY(d->readSensorVoltage(0));
        QVERIFY(d->readTempTables());
        QVERIFY(std::abs(d->sensorVoltage(0) -
                         SimTempM0::tableVoltage(d->tableData(0), d->temperature(0))) < 1e-3);

        for (int ch = 0; ch < 4; ++ch)
            for (int i = 0; i < 100; ++i)
                d->setTableEntry(ch, i, 0.1f * ch + 0.01f * i, 2.0f + ch + 0.5f * i);
        QVERIFY(d->writeTempTables());
        d->setCalibration(2, 1.0f, 2.0f, 3.0f, 4.0f);
        QVERIFY(d->writeCalibration());
        QVERIFY(d->readChannelSettings());
        QCOMPARE(d->channelSetting(0).flag, quint8(1));
        d->setChannelSetting(3, {0, {}, 7.5f});
        QVERIFY(d->writeChannelSettings());
        QVERIFY(d->setSensorCurrent(1, 4e-6f));
        QVERIFY(!d->setSensorCurrent(7, 4e-6f));

        auto fresh = driver<TempDriverM1>(M1Address);
        QVERIFY(fresh->readTempTables());
        for (int ch = 0; ch < 4; ++ch)
            QCOMPARE(fresh->tableData(ch), d->tableData(ch));
        QVERIFY(fresh->readCalibration());
        QCOMPARE(fresh->calibration(2), (VX9TDM1_Calibration_t{1.0f, 2.0f, 3.0f, 4.0f}));
        QVERIFY(fresh->readChannelSettings());
        QCOMPARE(fresh->channelSetting(3).flag, quint8(0));
        QCOMPARE(fresh->channelSetting(3).value, 7.5f);
        QVERIFY(fresh->readTemperature(3));
        QCOMPARE(fresh->temperature(3), 0.0f); // switched off

        bool ok = false;
        fresh->switcherMode()->writeSync(cmd::VX9TDM1_SwitcherMode2, &ok, 1);
        QVERIFY(ok);
        QCOMPARE(d->switcherMode()->read(&ok, 1), cmd::VX9TDM1_SwitcherMode2);

        QCOMPARE(d->relays()->read(&ok, 1).raw(), quint8(0x02));
        d->relays()->writeSync(cRelaysStatus(0x3, 0x1), &ok, 1);
        QVERIFY(ok);
        const cRelaysStatus relays = d->relays()->read(&ok, 1);
        QVERIFY(relays[0] && !relays[1]);
        env->advance(300'000);
        QVERIFY(fresh->readTemperature(0));
        QVERIFY2(fresh->temperature(0) > 30.0f, qPrintable(QString::number(fresh->temperature(0))));
    }

    void recycleProcedureHeatsThermalisesAndCools()
    {
        // Fast stages so that a recycle of a second or two runs its whole course.
        QString error;
        QVERIFY(recycleModule->configure(
            {{"stage", QJsonObject{{"tauOpenS", 0.1}, {"tauClosedS", 0.05}}},
             {"pump", QJsonObject{{"tauOpenS", 0.1}, {"tauClosedS", 0.05}}}},
            &error));
        auto d = driver<TempDriverM1>(RecycleAddress);
        QList<CommonDriver*> noChannels;
        TemperatureRecycleInterface recycle(d.get(), &noChannels);
        // The stage temperature as each state is announced, read off the module directly.
        QList<std::pair<int, double>> seen;
        connect(&recycle, &TemperatureRecycleInterface::stateChanged, this,
                [&](TemperatureRecycleInterface::TemperatureRecycleState state) {
                    seen.append({int(state), recycleModule->stage().temperature()});
                });
        QVERIFY(recycle.startRecycle(700, 500, 700));
        QTRY_VERIFY_WITH_TIMEOUT(
            !seen.isEmpty() && seen.last().first == TemperatureRecycleInterface::Idle, 10000);

        QMap<int, double> at;
        for (const auto& [state, kelvin] : seen)
            at.insert(state, kelvin);
        QVERIFY(at.contains(TemperatureRecycleInterface::Heating));
        QVERIFY2(at[TemperatureRecycleInterface::Heating] < 2.5, "cold at the start");
        QVERIFY2(at[TemperatureRecycleInterface::Thermalization] > 30.0, "heated");
        QVERIFY2(at[TemperatureRecycleInterface::CoolingDown] < 6.0 &&
                     at[TemperatureRecycleInterface::CoolingDown] > 3.5,
                 "thermalised on its plate");
        QVERIFY2(at[TemperatureRecycleInterface::Idle] < 2.3, "cooled down");
        QCOMPARE(recycleModule->relays().raw(), quint8(0x02));
    }
};

QTEST_GUILESS_MAIN(TestSimTempDrivers)
#include "tst_simtempdrivers.moc"
