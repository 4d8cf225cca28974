// The engine's front object: its properties and their change rules, the stored unit address,
// the hand-over of the inventory to the device list, the screen's mode changes and requests
// as the worker thread carries them out against the simulated demo rack.
#include "engine/mychartrect.h"
#include "engine/settings.h"
#include "engine/workerprocess.h"
#include "enginetestsupport.h"
#include "link/unitports.h"
#include "models/datamodel.h"
#include "models/driverdatamodel.h"
#include "models/eepromdatamodel.h"
#include "models/eepromdatastorage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineSeries>
#include <QPointer>
#include <QSettings>
#include <QUrl>

namespace {

void invokeInitDataList(WorkerAsync* worker, const QJsonObject& list)
{
    QVERIFY(QMetaObject::invokeMethod(worker, "initDataList", Qt::DirectConnection,
                                      Q_ARG(QJsonObject, list)));
}

QVariantMap commonKeys(int address, int type, const QString& firmware = {},
                       const QString& description = {})
{
    return QVariantMap{{"address", address},    {"Firmware", firmware},
                       {"Hardware", QString()}, {"Modification", QString()},
                       {"UDID", QString()},     {"Description", description},
                       {"restore", false},      {"selected", false},
                       {"type", type},          {"status", 0},
                       {"operate", false}};
}

QVariantMap withSspdKeys(QVariantMap record)
{
    const QVariantMap sspd{{"current", 0},
                           {"counts", 0},
                           {"voltage", 0},
                           {"status_inite", 0},
                           {"status_shorted", 1},
                           {"status_amplifier_on", 0},
                           {"status_comparator_on", 0},
                           {"status_counter_on", 0},
                           {"status_autoreset_on", 0},
                           {"status_error", 0},
                           {"cmp_ref_level", 0},
                           {"time_const", 1},
                           {"auto_reset_threshold", 0},
                           {"auto_reset_time_out", 0},
                           {"auto_reset_counts", 0},
                           {"cps", 0}};
    record.insert(sspd);
    return record;
}

void setRow(QList<DriverDataItem>* rows, const QString& name, const QVariant& value)
{
    for (DriverDataItem& row : *rows) {
        if (row.name() == name)
            row.setValue(value);
    }
}

} // namespace

class TestWorkerAsync : public QObject
{
    Q_OBJECT

    SimulatedRack rack;
    WorkerAsync* worker = nullptr;
    Settings* settings = nullptr;
    DataProviderList* list = nullptr;

    // Stops the worker's acquisition and empties what a test handed to the settings.
    void idle()
    {
        worker->activateMode(WorkerAsync::WorkerModeNoAction);
        settings->setSeries({});
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(rack.start(&error), qPrintable(error));
        worker = WorkerAsync::instance();
        settings = worker->settings();
        list = worker->dataList();
        DataModel::instance()->setList(list);
    }

    void cleanup() { idle(); }

    void cleanupTestCase()
    {
        // Stops the worker thread before the application goes.
        delete WorkerAsync::instance();
    }

    void startsWithItsFixedStateAndParts()
    {
        QCOMPARE(WorkerAsync::instance(), worker);
        QCOMPARE(worker->WorkerVersion(), QStringLiteral("1.3.1"));
        QCOMPARE(worker->GUIEnable(), true);
        QCOMPARE(worker->progress(), 0.0);
        QCOMPARE(worker->statusText(), QString());
        QVERIFY(worker->AvailableControlUnits().isEmpty());
        QCOMPARE(worker->CurrentAddress(), QStringLiteral("127.000.000.001"));
        if (!QFile::exists("/home/pi/.brevitronics") && !QFile::exists("/home/pi/.pelliwig"))
            QCOMPARE(worker->producerType(), WorkerAsync::ProducerNorvane);

        QCOMPARE(settings->parent(), worker);
        QCOMPARE(list->parent(), worker);
        QCOMPARE(worker->eepromStorage()->parent(), worker);
        QCOMPARE(EepromDataModel::instance()->storage(), worker->eepromStorage());
        QCOMPARE(worker->process()->parent(), nullptr);
        QCOMPARE(worker->process()->thread()->objectName(), QStringLiteral("WorkerThread"));
        QVERIFY(worker->process()->thread()->isRunning());
        QVERIFY(worker->process()->thread() != QThread::currentThread());
    }

    void constantPropertiesCannotBeWritten()
    {
        for (const char* name : {"WorkerVersion", "isSystemEqualRaspberryPi"}) {
            const QMetaObject* meta = worker->metaObject();
            const QMetaProperty property = meta->property(meta->indexOfProperty(name));
            QVERIFY(property.isValid());
            QVERIFY(property.isConstant());
            QVERIFY(!property.isWritable());
        }
        QVERIFY(!worker->setProperty("WorkerVersion", QStringLiteral("9.9.9")));
        QCOMPARE(worker->property("WorkerVersion").toString(), QStringLiteral("1.3.1"));
    }

    void propertiesAnnounceOnlyRealChanges_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("first");
        QTest::addColumn<QVariant>("same");
        QTest::addColumn<QVariant>("other");

        QTest::newRow("GUIEnable")
            << QByteArray("GUIEnable") << QVariant(false) << QVariant(false) << QVariant(true);
        QTest::newRow("AvailableControlUnits")
            << QByteArray("AvailableControlUnits") << QVariant(QStringList{"10.0.0.5"})
            << QVariant(QStringList{"10.0.0.5"}) << QVariant(QStringList{"10.0.0.5", "x"});
        QTest::newRow("CurrentAddress")
            << QByteArray("CurrentAddress") << QVariant("a") << QVariant("a") << QVariant("b");
        QTest::newRow("statusText")
            << QByteArray("statusText") << QVariant("one") << QVariant("one") << QVariant("two");
        QTest::newRow("producerType")
            << QByteArray("producerType") << QVariant::fromValue(WorkerAsync::ProducerPelliwig)
            << QVariant::fromValue(WorkerAsync::ProducerPelliwig)
            << QVariant::fromValue(WorkerAsync::ProducerBrevitronics);
        QTest::newRow("progress, within 1e-12") << QByteArray("progress") << QVariant(50.0)
                                                << QVariant(50.0 * (1 + 1e-13)) << QVariant(50.1);
        QTest::newRow("progress, from zero")
            << QByteArray("progress") << QVariant(0.0) << QVariant(0.0) << QVariant(1e-300);
    }

    void propertiesAnnounceOnlyRealChanges()
    {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, first);
        QFETCH(QVariant, same);
        QFETCH(QVariant, other);

        const QVariant before = worker->property(property);
        const QMetaObject* meta = worker->metaObject();
        const QMetaProperty metaProperty = meta->property(meta->indexOfProperty(property));
        QSignalSpy spy(worker, metaProperty.notifySignal());

        QVERIFY(worker->setProperty(property, first));
        spy.clear();
        QVERIFY(worker->setProperty(property, same));
        QCOMPARE(spy.count(), 0);
        QVERIFY(worker->setProperty(property, other));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(worker->property(property), other);

        worker->setProperty(property, before);
    }

    void objectPropertiesAnnounceOnlyAnotherObject()
    {
        QSignalSpy settingsSpy(worker, &WorkerAsync::settingsChanged);
        QSignalSpy listSpy(worker, &WorkerAsync::dataListChanged);
        worker->setSettings(settings);
        worker->setDataList(list);
        QCOMPARE(settingsSpy.count(), 0);
        QCOMPARE(listSpy.count(), 0);

        DataProviderList other;
        worker->setDataList(&other);
        QCOMPARE(listSpy.count(), 1);
        worker->setDataList(list);
        QCOMPARE(listSpy.count(), 2);
    }

    void smallHelpersForTheScreen()
    {
        QCOMPARE(worker->urlToPath("file:///tmp/a%20b/presets.json"),
                 QStringLiteral("/tmp/a b/presets.json"));
        QCOMPARE(worker->urlToPath("not a url"), QString());
        QCOMPARE(worker->currentAppPath(), QCoreApplication::applicationDirPath());

        QSignalSpy disconnected(worker, &WorkerAsync::disconnected);
        worker->disconnect();
        QCOMPARE(disconnected.count(), 1);

        worker->setAvailableControlUnits({"10.0.0.9"});
        worker->updateAvailableControlUnitList();
        QCOMPARE(worker->statusText(), QStringLiteral("Update available TCP/IP Devices..."));
        QVERIFY(worker->AvailableControlUnits().isEmpty());
    }

    void inventoryBuildsOneRecordPerModule()
    {
        const QJsonObject inventory{
            {"count", 6},
            {"software_version", "1.4.0"},
            {"info", QJsonArray{QJsonObject{{"address", 1},
                                            {"type", "VX9SDM0"},
                                            {"Firmware", "1.3.2"},
                                            {"Description", "SSPD channel A"}},
                                QJsonObject{{"address", 3}, {"type", "VX9SDM1"}},
                                QJsonObject{{"address", 4}, {"type", "VX9TDM0"}},
                                QJsonObject{{"address", 5}, {"type", "VX9TDM1"}}, 17,
                                QJsonObject{{"address", 6}, {"type", "VX9HTM0"}},
                                QJsonObject{{"address", 9}, {"type", "VX9SDM0"}}}}};
        list->appendItem(DataProviderItem{{"address", 77}});
        const int before = list->count();
        worker->setGUIEnable(false);
        QSignalSpy removed(list, &DataProviderList::preItemRemoved);
        QSignalSpy appended(list, &DataProviderList::postItemAppended);
        QSignalSpy updated(list, &DataProviderList::updated);
        QSignalSpy enabled(worker, &WorkerAsync::GUIEnableChanged);

        invokeInitDataList(worker, inventory);

        QCOMPARE(removed.count(), before);
        QCOMPARE(appended.count(), 5);
        QCOMPARE(updated.count(), 1);
        QCOMPARE(enabled.count(), 1);
        QCOMPARE(worker->GUIEnable(), true);
        QCOMPARE(worker->statusText(), QStringLiteral("Connected!!!"));

        const QList<DataProviderItem> items = list->items();
        QCOMPARE(items.size(), 5);

        QVariantMap sspd0 = withSspdKeys(commonKeys(1, 0, "1.3.2", "SSPD channel A"));
        sspd0.insert("status_rfkey_to_cmp", 0);
        QCOMPARE(items.at(0), sspd0);

        QVariantMap sspd1 = withSspdKeys(commonKeys(3, 1));
        sspd1.insert("currentMonitor", 0);
        sspd1.insert("status_hfmode_on", 1);
        QCOMPARE(items.at(1), sspd1);

        QVariantMap temp0 = commonKeys(4, 2);
        for (const char* key :
             {"temperature", "pressure", "temperature_sensor_current", "temperature_sensor_voltage",
              "pressure_sensor_voltage_pos", "pressure_sensor_voltage_neg"})
            temp0.insert(key, 0);
        QCOMPARE(items.at(2), temp0);

        QVariantMap temp1 = commonKeys(5, 3);
        temp1.insert("temperature", 0);
        temp1.insert("temperature_sensor_voltage", 0);
        QCOMPARE(items.at(3), temp1);
        QCOMPARE(items.at(4), commonKeys(6, 4));

        // Flags are booleans and settings integers, as the screen's delegates expect.
        QCOMPARE(items.at(0).value("restore").typeId(), QMetaType::Bool);
        QCOMPARE(items.at(0).value("status_shorted").typeId(), QMetaType::Int);
        QCOMPARE(items.at(0).value("address").typeId(), QMetaType::Int);
    }

    void inventoryWithoutCountOrWithoutModules()
    {
        invokeInitDataList(
            worker,
            QJsonObject{{"info", QJsonArray{QJsonObject{{"address", 1}, {"type", "VX9SDM0"}}}}});
        QCOMPARE(list->count(), 0);
        QCOMPARE(worker->statusText(), QStringLiteral("Connected!!!"));

        // More promised than given: only what is there.
        invokeInitDataList(
            worker,
            QJsonObject{{"count", 1000000000},
                        {"info", QJsonArray{QJsonObject{{"address", 2}, {"type", "VX9SDM0"}}}}});
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->items().at(0).value("address").toInt(), 2);
    }

    void emptyInventoryReportsAConnectionFailure()
    {
        list->appendItem(DataProviderItem{{"address", 1}});
        const int before = list->count();
        worker->setGUIEnable(false);
        QSignalSpy enabled(worker, &WorkerAsync::GUIEnableChanged);
        QSignalSpy updated(list, &DataProviderList::updated);

        invokeInitDataList(worker, QJsonObject());

        QCOMPARE(worker->statusText(), QStringLiteral("Connection failure!"));
        QCOMPARE(worker->GUIEnable(), true);
        QCOMPARE(enabled.count(), 1);
        QCOMPARE(updated.count(), 0);
        QCOMPARE(list->count(), before);
    }

    // A unit that refuses the connection: the form is given back with the failure.
    void unreachableUnitReportsAConnectionFailure()
    {
        worker->process()->setUnitPort(1); // nothing listens there in the test's namespace
        worker->connectToControlUnit(QStringLiteral("127.0.0.1"));
        QCOMPARE(worker->GUIEnable(), false);
        QTRY_COMPARE(worker->GUIEnable(), true);
        QCOMPARE(worker->statusText(), QStringLiteral("Connection failure!"));
        worker->process()->setUnitPort(UnitPorts::Unit);
    }

    void initializeGuiHandsTheModesRowsAndRectangleToTheSettings()
    {
        const QList<std::pair<WorkerAsync::WorkerMode, int>> sweeps = {
            {WorkerAsync::WorkerModeCpsVersCurrent, 6},
            {WorkerAsync::WorkerModeCpsVersTrigger, 5},
            {WorkerAsync::WorkerModeIVCurves, 5},
            {WorkerAsync::WorkerModeHistogram, 5}};
        QList<MyChartRect*> rects;
        for (const auto& [mode, rowCount] : sweeps) {
            worker->initializeGUI(mode);
            QCOMPARE(settings->sweepParameters(), worker->sweepParameterRows(mode));
            QCOMPARE(settings->SweepParameterModel()->rowCount(), rowCount);
            QCOMPARE(settings->chartRect()->parent(), worker);
            QVERIFY(!rects.contains(settings->chartRect()));
            rects.append(settings->chartRect());
        }
        // Mode 5 and mode 7 rows are separate copies.
        QVERIFY(worker->sweepParameterRows(WorkerAsync::WorkerModeCpsVersCurrent) !=
                worker->sweepParameterRows(WorkerAsync::WorkerModeIVCurves));

        // Each mode keeps its rectangle; a mode without rows keeps the last rows shown.
        worker->initializeGUI(WorkerAsync::WorkerModeCpsVersCurrent);
        QCOMPARE(settings->chartRect(), rects.at(0));
        worker->initializeGUI(WorkerAsync::WorkerModeCpsVersTime);
        QVERIFY(!rects.contains(settings->chartRect()));
        QCOMPARE(settings->sweepParameters(),
                 worker->sweepParameterRows(WorkerAsync::WorkerModeCpsVersCurrent));
        QCOMPARE(worker->sweepParameterRows(WorkerAsync::WorkerModeAllChannels), nullptr);
    }

    void eepromMapFromTheWorkerFillsTheStorage()
    {
        QSignalSpy updated(worker, &WorkerAsync::eepromDataUpdated);
        const QVariantMap constants{{"address", 4},
                                    {"type", 2},
                                    {"type_str", "VX9TDM0"},
                                    {"UDID", "0011-2233-4455-6677-8899-AABB"}};
        QVERIFY(QMetaObject::invokeMethod(worker, "eepromDataReady", Qt::DirectConnection,
                                          Q_ARG(int, 99), Q_ARG(QVariantMap, constants)));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(worker->eepromStorage()->count(), 106);
        QCOMPARE(worker->eepromStorage()->address(), 4);
        QCOMPARE(worker->eepromStorage()->typeString(), QStringLiteral("VX9TDM0"));
    }

    void connectingStoresTheAddressAndDisablesTheScreenOnce()
    {
        QSignalSpy enabled(worker, &WorkerAsync::GUIEnableChanged);
        QSignalSpy address(worker, &WorkerAsync::CurrentAddressChanged);

        // Nothing listens there: the attempt fails and the screen stays disabled.
        worker->connectToControlUnit("127.0.0.2");
        QCOMPARE(worker->GUIEnable(), false);
        QCOMPARE(enabled.count(), 1);
        QCOMPARE(address.count(), 1);
        QCOMPARE(worker->CurrentAddress(), QStringLiteral("127.0.0.2"));
        QCOMPARE(worker->statusText(), QStringLiteral("Try to connect to 127.0.0.2"));
        QCOMPARE(QSettings("Norvane", "cu-tavik").value("TcpIpAddress").toString(),
                 QStringLiteral("127.0.0.2"));

        worker->connectToControlUnit("127.000.000.002");
        QCOMPARE(enabled.count(), 1);
        QCOMPARE(QSettings("Norvane", "cu-tavik").value("TcpIpAddress").toString(),
                 QStringLiteral("127.000.000.002"));

        // The next connection succeeds and hands the inventory over.
        QVERIFY(connectWorker(worker));
        QCOMPARE(worker->GUIEnable(), true);
        QCOMPARE(enabled.count(), 2);
        QCOMPARE(worker->statusText(), QStringLiteral("Connected!!!"));
        QCOMPARE(list->count(), 6);
        QList<int> types;
        for (const DataProviderItem& item : list->items())
            types.append(item.value("type").toInt());
        QCOMPARE(types, (QList<int>{0, 0, 1, 2, 3, 4}));
        QCOMPARE(DataModel::instance()->rowCount(), 6);
    }

    void singleChannelModeReadsOnlyTheActiveChannel()
    {
        QVERIFY(connectWorker(worker));
        QLineSeries one, two;
        one.setName("SSPD 1");
        two.setName("SSPD 2");
        settings->setSeries({&one, &two});
        settings->setActiveChannel(1);
        worker->initializeGUI(WorkerAsync::WorkerModeSspdSingleChannel);
        MyChartRect* rect = settings->chartRect();

        worker->activateMode(WorkerAsync::WorkerModeSspdSingleChannel);
        QCOMPARE(worker->currentMode(), WorkerAsync::WorkerModeSspdSingleChannel);
        QTRY_VERIFY_WITH_TIMEOUT(one.count() >= 2, 5000);
        QCOMPARE(two.count(), 0);
        QCOMPARE(settings->chartRect(), rect);
        // The last 20 s (edges move only beyond a relative 1e-12, about 2 ms on dates).
        QVERIFY(qAbs(rect->right() - rect->left() - 20000.0) <= 4.0);
    }

    void timePlotsReadTheChannelsNamedByTheSeries()
    {
        QVERIFY(connectWorker(worker));
        QLineSeries one, two, three, temperature;
        one.setName("SSPD 1");
        two.setName("SSPD 2");
        three.setName("SSPD 3");
        temperature.setName("Temperature 4");
        settings->setSeries({&one, &three, &temperature});
        settings->setTimeConstant(0.1);

        worker->activateMode(WorkerAsync::WorkerModeCpsVersTime);
        QCOMPARE(worker->statusText(), QStringLiteral("Start reading"));
        QTRY_VERIFY_WITH_TIMEOUT(one.count() >= 2 && three.count() >= 2, 5000);
        QCOMPARE(two.count(), 0);
        QCOMPARE(temperature.count(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(worker->statusText().startsWith("SSPD 1: "), 5000);
        QVERIFY(worker->statusText().contains("\r\nSSPD 3: "));

        // Each module takes the plot's time constant ...
        // (The modules keep it as a float.)
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(recordOf(list, 1).value("time_const").toDouble() - 0.1) < 1e-6, 5000);
        // ... and a change of it while the plot runs.
        settings->setTimeConstant(0.05);
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(recordOf(list, 3).value("time_const").toDouble() - 0.05) < 1e-6, 5000);

        settings->setSeries({&temperature});
        worker->activateMode(WorkerAsync::WorkerModeTemperatureVersTime);
        QTRY_VERIFY_WITH_TIMEOUT(temperature.count() >= 2, 5000);
        QVERIFY(temperature.at(0).y() > 1.0);
        QVERIFY(temperature.at(0).y() < 10.0);
    }

    void ivSweepRunsFromTheRowsTheSettingsShow()
    {
        QVERIFY(connectWorker(worker));
        worker->initializeGUI(WorkerAsync::WorkerModeIVCurves);
        QList<DriverDataItem>* rows = settings->sweepParameters();
        setRow(rows, "from", 1e-5);
        setRow(rows, "to", 1.03e-5);
        setRow(rows, "step", 1e-7);
        setRow(rows, "time_constant", 0.02);
        QLineSeries iv;
        settings->setSeries({&iv});
        settings->setActiveChannel(1);
        QSignalSpy finished(worker, &WorkerAsync::sweepFinished);

        worker->activateMode(WorkerAsync::WorkerModeIVCurves);

        QVERIFY(finished.wait(10000));
        QCOMPARE(worker->progress(), 100.0);
        // Readings at 10.0, 10.1, 10.2 and 10.3 uA, and one step beyond unless rounding
        // already ended the sweep at the end value.
        QVERIFY2(iv.count() == 4 || iv.count() == 5, qPrintable(QString::number(iv.count())));
        for (int i = 0; i < iv.count(); ++i)
            QVERIFY2(qAbs(iv.at(i).y() - (10.0 + 0.1 * i)) < 0.02,
                     qPrintable(QString::number(iv.at(i).y())));
        QVERIFY(worker->statusText().startsWith("X: "));
        QVERIFY(worker->statusText().contains(QString::fromUtf8("\r\nY: 10.")));
        QVERIFY(qAbs(recordOf(list, 1).value("time_const").toDouble() - 0.02) < 1e-6);
    }

    void parametersAndSelectedChannelsReachTheModules()
    {
        QVERIFY(connectWorker(worker));
        QLineSeries one, two;
        one.setName("SSPD 1");
        two.setName("SSPD 2");
        settings->setSeries({&one, &two});
        settings->setTimeConstant(0.05);
        worker->activateMode(WorkerAsync::WorkerModeCpsVersTime);

        worker->setParameter(1, "current", 1.2e-5);
        worker->setParameter(2, "cmp_ref_level", 0.25);
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(recordOf(list, 1).value("current").toDouble() - 1.2e-5) < 1e-8, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(recordOf(list, 2).value("cmp_ref_level").toDouble() - 0.25) < 1e-4, 5000);

        // Nothing selected: nothing is switched on.
        worker->turnOnAllSelectedChannels(true);
        setRecordValue(list, 2, "selected", true);
        worker->turnOnAllSelectedChannels(true);
        QTRY_VERIFY_WITH_TIMEOUT(recordOf(list, 2).value("operate").toBool(), 5000);
        QVERIFY(!recordOf(list, 1).value("operate").toBool());

        worker->turnOnAllSelectedChannels(false);
        QTRY_VERIFY_WITH_TIMEOUT(!recordOf(list, 2).value("operate").toBool(), 5000);
    }

    void unitCommandsPassUnchanged()
    {
        QVERIFY(connectWorker(worker));
        QVERIFY(!rack.unit.isLocked());
        worker->sendCommand(WorkerAsync::CommandLock, 1);
        QTRY_VERIFY_WITH_TIMEOUT(rack.unit.isLocked(), 5000);
        worker->sendCommand(WorkerAsync::CommandLock, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!rack.unit.isLocked(), 5000);
    }

    void eepromConstantsTravelBothWays()
    {
        QVERIFY(connectWorker(worker));
        QSignalSpy updated(worker, &WorkerAsync::eepromDataUpdated);
        worker->sendCommand(WorkerAsync::CommandUpdateEepromConst, 3);
        QVERIFY(updated.wait(5000));
        EepromDataStorage* storage = worker->eepromStorage();
        QCOMPARE(storage->address(), 3);
        QCOMPARE(storage->count(), 6);

        storage->getByName("PulseWidth")->setValue(12.0);
        worker->sendEepromData();
        QVERIFY(updated.wait(5000));

        QSignalSpy stored(&rack.unit, &SimUnit::moduleStateStored);
        worker->writeEeprom();
        QVERIFY(stored.wait(5000));
        QCOMPARE(stored.at(0).at(0).value<quint8>(), quint8(3));
        QTRY_COMPARE_WITH_TIMEOUT(updated.count(), 3, 5000);

        // The module now holds the value sent, not the one only edited here.
        storage->getByName("PulseWidth")->setValue(99.0);
        worker->sendCommand(WorkerAsync::CommandUpdateEepromConst, 3);
        QVERIFY(updated.wait(5000));
        QCOMPARE(updated.count(), 4);
        QCOMPARE(storage->getByName("PulseWidth")->value().toDouble(), 12.0);
    }

    // A front object destroyed before its thread got to run the loop still takes its process
    // (and the drivers and link it would own) along.
    void destructionRightAfterConstructionEndsTheProcess()
    {
        delete WorkerAsync::instance();
        for (int i = 0; i < 50; ++i) {
            const QPointer<WorkerProcess> process(WorkerAsync::instance()->process());
            delete WorkerAsync::instance();
            QVERIFY2(process.isNull(), qPrintable(QString::number(i)));
        }
        worker = WorkerAsync::instance();
        settings = worker->settings();
        list = worker->dataList();
        DataModel::instance()->setList(list);
    }

    // Runs last: a new front object reads the address the previous one stored.
    void storedAddressSurvivesARestart()
    {
        worker->connectToControlUnit("127.0.0.3");
        delete WorkerAsync::instance();
        worker = WorkerAsync::instance();
        settings = worker->settings();
        list = worker->dataList();
        QCOMPARE(worker->CurrentAddress(), QStringLiteral("127.0.0.3"));
        QCOMPARE(EepromDataModel::instance()->storage(), worker->eepromStorage());
    }
};

TAVIK_ENGINE_TEST_MAIN(TestWorkerAsync)
#include "tst_workerasync.moc"
