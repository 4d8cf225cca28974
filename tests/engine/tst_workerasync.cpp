// The engine's front object and its settings: property change rules, the stored unit address,
// the inventory handed to the device list, the search for units, and the screen's modes and
// requests as the worker thread carries them out against the simulated demo rack.
#include "engine/mychartrect.h"
#include "engine/settings.h"
#include "enginetestsupport.h"
#include "link/controlunitlistprovider.h"
#include "models/datamodel.h"
#include "models/driverdatamodel.h"
#include "models/eepromdatamodel.h"
#include "models/eepromdatastorage.h"

#include <QLineSeries>
#include <QPointer>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

void initDataList(WorkerAsync* worker, const QJsonObject& list)
{
    QVERIFY(QMetaObject::invokeMethod(worker, "initDataList", Q_ARG(QJsonObject, list)));
}

// Opens a unit's answer to a search from source and waits until the search has taken it.
bool answerFrom(const QString& source, QObject* owner)
{
    auto* socket = new QTcpSocket(owner);
    QSignalSpy connected(socket, &QTcpSocket::connected);
    QSignalSpy taken(socket, &QTcpSocket::disconnected);
    if (!socket->bind(QHostAddress(source)))
        return false;
    socket->connectToHost(QHostAddress::LocalHost, UnitPorts::DiscoveryAnswer);
    return connected.wait(1000) && socket->write("unit") == 4 && taken.wait(1000);
}

} // namespace

class TestWorkerAsync : public QObject
{
    Q_OBJECT

    SimulatedRack rack{7};
    WorkerAsync* worker = nullptr;
    Settings* settings = nullptr;
    DataProviderList* list = nullptr;

    void takeInstance()
    {
        worker = WorkerAsync::instance();
        settings = worker->settings();
        list = worker->dataList();
        DataModel::instance()->setList(list);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(rack.start());
        takeInstance();
        // On its own thread, with the default address.
        QCOMPARE(worker->CurrentAddress(), QStringLiteral("127.000.000.001"));
        QVERIFY(worker->process()->thread()->isRunning());
        QVERIFY(worker->process()->thread() != QThread::currentThread());
        QCOMPARE(worker->urlToPath("file:///tmp/a%20b/presets.json"),
                 QStringLiteral("/tmp/a b/presets.json"));
        QCOMPARE(worker->urlToPath("not a url"), QString());
    }
    void cleanup()
    {
        worker->activateMode(WorkerAsync::WorkerModeNoAction);
        settings->setSeries({});
    }
    void cleanupTestCase() { delete WorkerAsync::instance(); }

    // A property announces a real change once, and none for the same value (doubles: within
    // a relative 1e-12).
    void propertiesAnnounceOnlyRealChanges()
    {
        struct Row
        {
            QObject* target;
            const char* property;
            QVariant first, same, other;
        };
        MyChartRect* rect = settings->chartRect();
        for (const Row& r : {Row{worker, "progress", 50.0, 50.0 * (1 + 1e-13), 50.1},
                             Row{settings, "timeConstant", 1.0, 1.0 + 1e-13, 1.001},
                             Row{rect, "top", 0.0, 0.0, 1e-300},
                             Row{rect, "left", 1.7e12, 1.7e12 * (1 + 1e-13), 1.7e12 + 1000},
                             Row{rect, "right", 5.0, 5.0, 5.0 * (1 + 2e-12)}}) {
            const QMetaObject* meta = r.target->metaObject();
            const QMetaProperty property = meta->property(meta->indexOfProperty(r.property));
            const QVariant before = property.read(r.target);
            QSignalSpy spy(r.target, property.notifySignal());
            QVERIFY(property.write(r.target, r.first));
            spy.clear();
            QVERIFY(property.write(r.target, r.same));
            QCOMPARE(spy.count(), 0);
            QVERIFY(property.write(r.target, r.other));
            QVERIFY2(spy.count() == 1 && property.read(r.target) == r.other, r.property);
            property.write(r.target, before);
        }
    }

    void anotherChartRectIsAnnouncedAndTheReplacedKept()
    {
        QSignalSpy rectSpy(settings, &Settings::chartRectChanged);
        // A rectangle with equal edges is still another object; the replaced one is kept.
        MyChartRect* original = settings->chartRect();
        settings->setChartRect(original);
        settings->setChartRect(new MyChartRect(settings));
        QPointer<MyChartRect> guard(original);
        settings->setChartRect(original);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard);
        QCOMPARE(rectSpy.count(), 2);
    }

    void activeChannelRebuildsItsRows()
    {
        // The active channel always rebuilds its rows, so a record changed without a signal shows.
        DataProviderList channels;
        channels.appendItem({{"address", 3}, {"type", 0}, {"current", 1.5e-5}});
        DataModel::instance()->setList(&channels);
        Settings local;
        QSignalSpy changed(&local, &Settings::activeChannelChanged);
        local.setActiveChannel(3);
        DataProviderItem record = channels.items().at(0);
        record.insert("current", 2.25e-5);
        channels.setItemAt(0, record);
        local.setActiveChannel(3);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(DataModel::instance()->activeAddress(), 3);
        QCOMPARE(DataModel::instance()->driverModel()->index(0).data(DriverDataModel::ValueRole),
                 QVariant(2.25e-5));
        DataModel::instance()->setList(list);
    }

    void inventoryBuildsOneRecordPerModule()
    {
        const QJsonObject inventory{
            {"count", 6},
            {"info",
             QJsonArray{QJsonObject{{"address", 1}, {"type", "VX9SDM0"}, {"Firmware", "1.3.2"}},
                        QJsonObject{{"address", 3}, {"type", "VX9SDM1"}},
                        QJsonObject{{"address", 4}, {"type", "VX9TDM0"}},
                        QJsonObject{{"address", 5}, {"type", "VX9TDM1"}}, 17,
                        QJsonObject{{"address", 6}, {"type", "VX9HTM0"}},
                        QJsonObject{{"address", 9}, {"type", "VX9SDM0"}}}}};
        list->appendItem(DataProviderItem{{"address", 77}});
        worker->setGUIEnable(false);
        QSignalSpy updated(list, &DataProviderList::updated);
        initDataList(worker, inventory);
        QCOMPARE(updated.count(), 1);
        QVERIFY(worker->GUIEnable());
        QCOMPARE(worker->statusText(), QStringLiteral("Connected!!!"));
        const QList<DataProviderItem> items = list->items();
        // One record per module (their fields are moduleRecords()' own business).
        QList<int> addresses;
        for (const DataProviderItem& item : items)
            addresses << item.value("address").toInt();
        QCOMPARE(addresses, (QList<int>{1, 3, 4, 5, 6}));
        // Flags are booleans and settings integers, as the screen's delegates expect.
        QCOMPARE(items.at(0).value("restore").typeId(), QMetaType::Bool);
        QCOMPARE(items.at(0).value("status_shorted").typeId(), QMetaType::Int);
        // No count: no modules, though connected; an empty inventory is a failure that
        // leaves the list alone.
        initDataList(worker, QJsonObject{{"info", inventory.value("info")}});
        QCOMPARE(list->count(), 0);
        QCOMPARE(worker->statusText(), QStringLiteral("Connected!!!"));
        list->appendItem(DataProviderItem{{"address", 1}});
        initDataList(worker, QJsonObject());
        QCOMPARE(worker->statusText(), QStringLiteral("Connection failure!"));
        QCOMPARE(list->count(), 1);
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

    // Each mode has rows and a rectangle of its own (the scene's program test fills the rows);
    // a mode without rows keeps the last rows shown.
    void initializeGuiHandsTheModesRowsAndRectangleToTheSettings()
    {
        QList<MyChartRect*> rects;
        for (WorkerAsync::WorkerMode mode :
             {WorkerAsync::WorkerModeCpsVersCurrent, WorkerAsync::WorkerModeCpsVersTrigger,
              WorkerAsync::WorkerModeIVCurves, WorkerAsync::WorkerModeHistogram}) {
            worker->initializeGUI(mode);
            QCOMPARE(settings->sweepParameters(), worker->sweepParameterRows(mode));
            QVERIFY(!rects.contains(settings->chartRect()));
            rects.append(settings->chartRect());
        }
        worker->initializeGUI(WorkerAsync::WorkerModeCpsVersCurrent);
        QCOMPARE(settings->chartRect(), rects.at(0));
        worker->initializeGUI(WorkerAsync::WorkerModeCpsVersTime);
        QVERIFY(!rects.contains(settings->chartRect()));
        QCOMPARE(settings->sweepParameters(),
                 worker->sweepParameterRows(WorkerAsync::WorkerModeCpsVersCurrent));
        QCOMPARE(worker->sweepParameterRows(WorkerAsync::WorkerModeAllChannels), nullptr);
    }

    void newestSearchReportsItsUnits()
    {
        worker->setGUIEnable(false);
        QSignalSpy listChanged(worker, &WorkerAsync::AvailableControlUnitsChanged);
        QObject units;
        worker->updateAvailableControlUnitList();
        QCOMPARE(worker->statusText(), QStringLiteral("Update available TCP/IP Devices..."));
        QVERIFY(answerFrom("127.0.0.2", &units));
        worker->updateAvailableControlUnitList();
        QVERIFY(answerFrom("127.0.0.3", &units));
        QTRY_VERIFY_WITH_TIMEOUT(worker->GUIEnable(), 3000);
        QCOMPARE(worker->AvailableControlUnits(), QStringList{"127.0.0.3"});
        QCOMPARE(worker->statusText(), QStringLiteral("1 device(s) founded."));
        QCOMPARE(listChanged.size(), 1);
        QTRY_VERIFY(worker->findChildren<ControlUnitListProvider*>().isEmpty());
        // A busy answer port is reported.
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, UnitPorts::DiscoveryAnswer));
        worker->setGUIEnable(false);
        worker->updateAvailableControlUnitList();
        QCOMPARE(worker->statusText(),
                 QStringLiteral("Cannot search for units: answer port 9878 is in use"));
        QVERIFY(worker->GUIEnable() && worker->AvailableControlUnits().isEmpty());
        QTRY_VERIFY(worker->findChildren<ControlUnitListProvider*>().isEmpty());
    }

    void connectingStoresTheAddressAndDisablesTheScreenOnce()
    {
        QSignalSpy enabled(worker, &WorkerAsync::GUIEnableChanged);
        worker->connectToControlUnit("127.0.0.2"); // nothing listens there
        QCOMPARE(worker->GUIEnable(), false);
        QCOMPARE(worker->CurrentAddress(), QStringLiteral("127.0.0.2"));
        QCOMPARE(worker->statusText(), QStringLiteral("Try to connect to 127.0.0.2"));
        worker->connectToControlUnit("127.000.000.002");
        QCOMPARE(enabled.count(), 1);
        QCOMPARE(QSettings("Norvane", "cu-tavik").value("TcpIpAddress").toString(),
                 QStringLiteral("127.000.000.002"));
        // The next connection succeeds (the scene's program test checks its inventory).
        QVERIFY(connectWorker(worker));
        QCOMPARE(enabled.count(), 2);
    }

    void timePlotsReadTheChannelsNamedByTheSeries()
    {
        QVERIFY(connectWorker(worker));
        QLineSeries one, two, three;
        one.setName("SSPD 1");
        two.setName("SSPD 2");
        three.setName("SSPD 3");
        // The single channel view reads only the active channel.
        settings->setSeries({&one, &two});
        settings->setActiveChannel(1);
        worker->initializeGUI(WorkerAsync::WorkerModeSspdSingleChannel);
        worker->activateMode(WorkerAsync::WorkerModeSspdSingleChannel);
        QTRY_VERIFY_WITH_TIMEOUT(one.count() >= 2, 5000);
        QCOMPARE(two.count(), 0);
        // Each module of a time plot takes its time constant, and a change of it while it runs
        // (the scene's program test checks the plot's points).
        settings->setSeries({&one, &three});
        settings->setTimeConstant(0.1);
        worker->activateMode(WorkerAsync::WorkerModeCpsVersTime);
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(recordOf(list, 1).value("time_const").toDouble() - 0.1) < 1e-6, 5000);
        settings->setTimeConstant(0.05);
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(recordOf(list, 3).value("time_const").toDouble() - 0.05) < 1e-6, 5000);
        // Selected channels are switched on.
        worker->turnOnAllSelectedChannels(true); // nothing selected: nothing switched on
        DataProviderItem record = recordOf(list, 3);
        record.insert("selected", true);
        list->setItemAt(indexOfAddress(list, 3), record);
        worker->turnOnAllSelectedChannels(true);
        QTRY_VERIFY_WITH_TIMEOUT(recordOf(list, 3).value("operate").toBool(), 5000);
        QVERIFY(!recordOf(list, 1).value("operate").toBool());
    }

    // A front object destroyed before its thread got to run the loop still takes its process
    // (and the drivers and link it would own) along; a new one reads the address stored last.
    void destructionRightAfterConstructionEndsTheProcess()
    {
        worker->connectToControlUnit("127.0.0.3");
        delete WorkerAsync::instance();
        for (int i = 0; i < 20; ++i) {
            const QPointer<WorkerProcess> process(WorkerAsync::instance()->process());
            delete WorkerAsync::instance();
            QVERIFY2(process.isNull(), qPrintable(QString::number(i)));
        }
        takeInstance();
        QCOMPARE(worker->CurrentAddress(), QStringLiteral("127.0.0.3"));
        QCOMPARE(EepromDataModel::instance()->storage(), worker->eepromStorage());
    }
};

TAVIK_ENGINE_TEST_MAIN(TestWorkerAsync)
#include "tst_workerasync.moc"
