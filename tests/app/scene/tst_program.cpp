// The whole scene offscreen against the simulated demo rack: the connection flow reaches the
// main window, the home list shows the rack's modules with live values, and losing the unit
// brings back the connection form. Any warning of the QML engine fails the test.
#include "app/startup.h"
#include "chartpages.h"
#include "enginetestsupport.h"
#include "firmware/filemaphandler.h"
#include "firmware/fileserver.h"
#include "link/storedsettings.h"
#include "models/datamodel.h"
#include "models/eepromdatamodel.h"
#include "modules/simsspdm0.h"
#include "net/simcatalogueserver.h"

#include <QAreaSeries>
#include <QDir>
#include <QFile>
#include <QLineSeries>
#include <QQmlApplicationEngine>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QXYSeries>
#include <algorithm>

namespace {

QStringList s_qmlMessages;
QtMessageHandler s_previousHandler = nullptr;

void recordQmlMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const QByteArray category(context.category ? context.category : "");
    const bool fromScene = category == "qml" || category == "js" || category.startsWith("qt.qml") ||
                           text.contains(QLatin1String("qrc:/"));
    if (fromScene && type != QtDebugMsg && type != QtInfoMsg)
        s_qmlMessages.append(text);
    s_previousHandler(type, context, text);
}

// Items of the scene by object name, through the visual tree (loaded pages included).
QList<QQuickItem*> itemsNamed(QQuickItem* item, const QString& name)
{
    QList<QQuickItem*> found;
    if (item->objectName() == name)
        found.append(item);
    for (QQuickItem* child : item->childItems())
        found.append(itemsNamed(child, name));
    return found;
}

// A non-visual object of the scene (a popup, say) that some item of the visual tree owns.
QObject* objectNamed(QQuickItem* item, const QString& name)
{
    if (QObject* found = item->findChild<QObject*>(name, Qt::FindDirectChildrenOnly))
        return found;
    for (QQuickItem* child : item->childItems()) {
        if (QObject* found = objectNamed(child, name))
            return found;
    }
    return nullptr;
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

    SimulatedRack m_rack;
    // The firmware catalogue the scene reads: the sample one, on loopback.
    SimCatalogueServer m_catalogue{QStringLiteral(TAVIK_FIRMWARE_CATALOGUE)};
    FileMapHandler* m_fileHandler = nullptr;
    FileServer* m_fileServer = nullptr;
    QQmlApplicationEngine* m_engine = nullptr;
    QQuickWindow* m_welcome = nullptr;
    QQuickWindow* m_main = nullptr;

    QQuickItem* item(const char* name, QQuickItem* in = nullptr) const
    {
        return itemsNamed(in ? in : m_main->contentItem(), name).value(0);
    }

    // The first item of that name whose property `key` holds `value` (rows of a list each
    // have their own).
    QQuickItem* itemWhere(const char* name, QQuickItem* in, const char* key, const QVariant& value)
    {
        for (QQuickItem* found : itemsNamed(in, name)) {
            if (found->property(key) == value)
                return found;
        }
        return nullptr;
    }

    QQuickItem* moduleRow(int address)
    {
        return itemWhere("moduleRow", m_main->contentItem(), "address", address);
    }

    // Calls a QML function of the scene with at most one argument.
    static bool call(QObject* object, const char* method, const QVariant& argument = {})
    {
        return object && (argument.isValid()
                              ? QMetaObject::invokeMethod(object, method, Q_ARG(QVariant, argument))
                              : QMetaObject::invokeMethod(object, method));
    }

    static QPoint centre(QQuickItem* item)
    {
        return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    }

    void click(QQuickItem* item) { QTest::mouseClick(m_main, Qt::LeftButton, {}, centre(item)); }

    bool shot(const QString& name, QQuickWindow* window = nullptr)
    {
        QDir().mkpath(QStringLiteral(TAVIK_SHOTS_DIR));
        return (window ? window : m_main)
            ->grabWindow()
            .save(QStringLiteral(TAVIK_SHOTS_DIR "/") + name + QStringLiteral(".png"));
    }

    static bool opened(QObject* popup)
    {
        return QTest::qWaitFor([popup] { return popup->property("opened").toBool(); });
    }
    static bool closed(QObject* popup)
    {
        return QTest::qWaitFor([popup] { return !popup->property("visible").toBool(); });
    }

    bool closeTab(int index)
    {
        return call(m_main, "closeTab", index) && m_main->property("currentIndex").toInt() == 0;
    }

    // Opens the device manager and waits for it to list the rack.
    QObject* openDeviceManager()
    {
        QObject* manager = objectNamed(m_main->contentItem(), "deviceManager");
        if (!manager || !call(manager, "open") || !opened(manager))
            return nullptr;
        QQuickItem* list = item("unitList", content(manager));
        return QTest::qWaitFor([list] { return list->property("count").toInt() == 6; }) ? manager
                                                                                        : nullptr;
    }

    // Its close button; the home view reads all channels again.
    bool closeDeviceManager(QObject* manager)
    {
        return call(item("closeButton", content(manager)), "clicked") && closed(manager) &&
               QTest::qWaitFor([] {
                   return WorkerAsync::instance()->currentMode() ==
                          WorkerAsync::WorkerModeAllChannels;
               });
    }

    static QQuickItem* content(QObject* popup)
    {
        return popup->property("contentItem").value<QQuickItem*>();
    }

    double detectorCurrent(int address)
    {
        return qobject_cast<SimSspdM0*>(m_rack.unit.module(address))->physics().detectorCurrent();
    }

    // Chooses entry `index` of the home view's settings menu.
    bool chooseSetting(int index)
    {
        QObject* menu = item("settingsButton")->findChild<QObject*>("settingsMenu");
        QQuickItem* entry = nullptr;
        click(item("settingsButton"));
        QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, entry),
                                  Q_ARG(int, index));
        if (!opened(menu) || !entry)
            return false;
        click(entry);
        return closed(menu);
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_rack.start(&error), qPrintable(error));
        s_previousHandler = qInstallMessageHandler(recordQmlMessages);

        startEngine();
        registerTavikQmlTypes();
        QVERIFY2(m_catalogue.start(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        m_fileHandler = new FileMapHandler(
            m_catalogue.rootUrl() + QStringLiteral("vx9Rack/Bin/Firmware/"), this);
        m_fileServer = new FileServer(this);
        m_engine = new QQmlApplicationEngine(this);
        connect(m_engine, &QQmlEngine::warnings, this, [](const QList<QQmlError>& warnings) {
            for (const QQmlError& warning : warnings)
                s_qmlMessages.append(warning.toString());
        });
        prepareScene(m_engine, m_fileHandler, m_fileServer, QStringLiteral("127.0.0.1"));
        m_engine->setInitialProperties(
            {{"splashDelay", 50}, {"connectionWait", 400}, {"splashAnimation", 50}});
        m_engine->load(QUrl(QString::fromLatin1(SceneUrl)));
        QCOMPARE(m_engine->rootObjects().size(), 1);
        QObject* root = m_engine->rootObjects().first();
        m_welcome = root->property("welcomeWindow").value<QQuickWindow*>();
        m_main = root->property("mainWindow").value<QQuickWindow*>();
        QVERIFY(m_welcome && m_main);
    }

    void cleanup() { QVERIFY2(s_qmlMessages.isEmpty(), qPrintable(s_qmlMessages.join('\n'))); }

    void cleanupTestCase()
    {
        // The windows hand their scene graphs to deferred deletes, which no event loop
        // runs once the test is over.
        delete m_engine;
        m_engine = nullptr;
        stopEngine();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void connectsToTheUnitOnTheCommandLine()
    {
        QVERIFY(m_welcome->isVisible() && QTest::qWaitForWindowExposed(m_welcome));
        QVERIFY(shot("welcome", m_welcome));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->isVisible(), 10000);
        QVERIFY(!m_welcome->isVisible());
        // A unit named on the command line is not remembered.
        QVERIFY(!QSettings(StoredSettings::Organisation, StoredSettings::Application)
                     .contains(StoredSettings::UnitAddressKey));
    }

    void homeListShowsTheRack()
    {
        QTRY_COMPARE(item("moduleList")->property("count").toInt(), 6);
        auto rowTexts = [this] {
            QStringList texts;
            for (QQuickItem* label : itemsNamed(m_main->contentItem(), "valueLabel"))
                texts.append(label->property("text").toString());
            return texts;
        };
        // SSPD rows show their count rate, both temperature rows a reading (model 1 its first
        // sensor's); the heater has no row content.
        QTRY_VERIFY_WITH_TIMEOUT(
            rowTexts().count() == 5 && rowTexts().at(0).contains(" cps") &&
                !rowTexts().at(0).contains("---") && rowTexts().at(3).endsWith(" K") &&
                rowTexts().at(4).endsWith(" K") && !rowTexts().at(4).contains("---"),
            5000);
        QVERIFY(shot("home"));
    }

    void homeRowSendsOperateAndCurrent()
    {
        QQuickItem* row = moduleRow(1);
        QVERIFY(row);
        QQuickItem* operate = item("operateSwitch", row);
        QQuickItem* spin = item("currentSpinBox", row);
        QVERIFY(operate && spin && !operate->property("checked").toBool());

        click(operate);
        // A reading that lands while the text is typed puts the shown value back, so the
        // text is typed once the switch-on has settled.
        QTRY_VERIFY_WITH_TIMEOUT(DataModel::instance()->data(0, "operate").toBool(), 5000);
        QQuickItem* input = content(spin);
        input->forceActiveFocus();
        input->setProperty("text", QStringLiteral("2.5"));
        QTest::keyClick(m_main, Qt::Key_Return);
        QCOMPARE(spin->property("value").toInt(), 25);
        // The channel is switched on (no short) and carries the bias that was typed.
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(detectorCurrent(1) - 2.5e-6) < 1e-12, 5000);
        QVERIFY(operate->property("checked").toBool() && shot("home-operating"));

        click(operate);
        QTRY_COMPARE_WITH_TIMEOUT(detectorCurrent(1), 0.0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!DataModel::instance()->data(0, "operate").toBool(), 5000);
        QVERIFY(!operate->property("checked").toBool());
    }

    void settingsOpenTheDialogs()
    {
        QQuickItem* home = item("moduleList")->parentItem();
        QObject* errorBox = home->findChild<QObject*>("errorBox");
        const struct
        {
            int entry;
            const char *dialog, *cancel, *shot;
        } dialogs[] = {{2, "presetsDialog", "presetsCancel", "presets-dialog"},
                       {4, "switchingDialog", "switchingCancel", "switching-dialog"}};
        for (const auto& d : dialogs) {
            QObject* dialog = home->findChild<QObject*>(d.dialog);
            QVERIFY(dialog && chooseSetting(d.entry) && opened(dialog) && shot(d.shot));
            click(item(d.cancel));
            QVERIFY(closed(dialog));
        }
        emit WorkerAsync::instance()->sendErrorMessage("ERROR!", "No channels selected");
        QVERIFY(opened(errorBox));
        QCOMPARE(errorBox->property("title").toString(), QStringLiteral("ERROR!"));
        QVERIFY(call(errorBox, "close") && closed(errorBox));
    }

    // The device manager lists the rack's modules, a module opens its details and its EEPROM
    // constants, read from the simulated module and editable after the factory password.
    void deviceManagerShowsModulesAndConstants()
    {
        QObject* manager = openDeviceManager();
        QVERIFY(manager);
        QTRY_COMPARE(WorkerAsync::instance()->currentMode(), WorkerAsync::WorkerModeNoAction);
        QVERIFY(shot("device-manager"));

        QQuickItem* header = item("unitHeader", content(manager));
        QQuickItem* unit = header->parentItem()->parentItem();
        const int address = unit->property("address").toInt();
        QTest::mouseClick(m_main, Qt::LeftButton, {},
                          header->mapToScene(QPointF(header->width() / 2, 10)).toPoint());
        QTRY_COMPARE(manager->property("selectedAddress").toInt(), address);
        QVERIFY(item("unitDetails", unit)->isVisible());
        QQuickItem* constants = item("constantsButton", unit);
        QVERIFY(constants->isEnabled() && item("updateButton", unit)->isEnabled());
        QVERIFY(shot("device-manager-module"));

        // "Constants": the dialog fetches the module's constants and shows them folded.
        QObject* eeprom = manager->findChild<QObject*>("eepromDialog");
        QQuickItem* eepromContent = content(eeprom);
        click(constants);
        QVERIFY(opened(eeprom));
        QTRY_VERIFY_WITH_TIMEOUT(!eeprom->property("busy").toBool(), 5000);
        QCOMPARE(EepromDataModel::instance()->rowCount(), 4); // SSPD model 0
        QCOMPARE(EepromDataModel::instance()->storage()->address(), address);
        QTRY_COMPARE(itemsNamed(eepromContent, "sectionHeader").size(), 2);
        QTRY_VERIFY(item("firstValue", eepromContent)); // folded: a click shows it
        // Unfolded, the values are there but locked until the factory password is typed.
        QTest::mouseClick(
            m_main, Qt::LeftButton, {},
            item("sectionHeader", eepromContent)->mapToScene(QPointF(40, 10)).toPoint());
        QQuickItem* first = item("firstValue", eepromContent);
        QTRY_VERIFY(first->isVisible());
        QVERIFY(!first->property("text").toString().isEmpty());
        QQuickItem* tools = item("toolButton", eepromContent);
        QVERIFY(!first->isEnabled() && !tools->isEnabled());
        item("passwordField", eepromContent)->setProperty("text", "quorbel");
        QVERIFY(first->isEnabled() && tools->isEnabled());
        // An edit reaches the constant in the storage, the other half of the pair kept.
        const QString name = first->parentItem()->parentItem()->property("name").toString();
        EepromDataItem* constant = EepromDataModel::instance()->storage()->getByName(name);
        QVERIFY(constant);
        const double second = constant->pairValue().second;
        first->setProperty("text", "2.5");
        QVERIFY(call(first, "editingFinished"));
        QCOMPARE(constant->pairValue(), EepromPair(2.5, second));
        QVERIFY(shot("eeprom-constants"));
        QObject* toolMenu = tools->findChild<QObject*>("toolMenu");
        QVERIFY(call(tools, "clicked") && opened(toolMenu) && shot("eeprom-tools"));
        QVERIFY(call(toolMenu, "close") && closed(toolMenu));

        QVERIFY(call(item("closeButton", eepromContent), "clicked") && closed(eeprom));
        QVERIFY(closeDeviceManager(manager));
        QCOMPARE(manager->property("selectedAddress").toInt(), -1);
    }

    // Holding the reset button to its end resets the units once; an early release sends
    // nothing.
    void heldResetReachesTheUnitOnce()
    {
        QObject* manager = openDeviceManager();
        QVERIFY(manager);
        QQuickItem* reset = item("resetButton", content(manager));
        auto resets = [](const QSignalSpy& spy) {
            return std::count_if(spy.begin(), spy.end(), [](const QList<QVariant>& call) {
                return call.at(0).toInt() == WorkerAsync::CommandResetUnits && call.at(2).toBool();
            });
        };
        QSignalSpy executed(WorkerAsync::instance(), &WorkerAsync::commandExecuted);

        QTest::mousePress(m_main, Qt::LeftButton, {}, centre(reset));
        QTest::qWait(300);
        QTest::mouseRelease(m_main, Qt::LeftButton, {}, centre(reset));
        QTest::mousePress(m_main, Qt::LeftButton, {}, centre(reset));
        QTRY_VERIFY_WITH_TIMEOUT(reset->property("completed").toBool(), 3000);
        QVERIFY(shot("device-manager-reset"));
        QTest::mouseRelease(m_main, Qt::LeftButton, {}, centre(reset));
        QTRY_COMPARE_WITH_TIMEOUT(resets(executed), 1, 3000);
        QTRY_VERIFY(!reset->property("completed").toBool());
        QCOMPARE(resets(executed), 1);
        QVERIFY(closeDeviceManager(manager));
    }

    // A firmware update through the dialogs: only the version is open without the factory
    // password; held "Update" serves the image to the unit, whose module comes back listed
    // with its new firmware once the dialogs are closed.
    void firmwareUpdateThroughTheDialogs()
    {
        QObject* manager = openDeviceManager();
        QVERIFY(manager);
        manager->setProperty("selectedAddress", 1);
        QQuickItem* updateButton = itemWhere("updateButton", content(manager), "visible", true);
        QVERIFY(updateButton && updateButton->isEnabled() && call(updateButton, "clicked"));

        QObject* update = manager->findChild<QObject*>("updateDialog");
        QQuickItem* updateContent = content(update);
        QVERIFY(opened(update));
        QTRY_VERIFY_WITH_TIMEOUT(!update->property("busy").toBool(), 10000);
        QCOMPARE(update->property("type").toString(), QStringLiteral("VX9SD"));
        // The installed 1.3.2 is not offered: nothing is chosen yet, and the kind is locked.
        QQuickItem* hold = item("updateHoldButton", updateContent);
        QVERIFY(!hold->isEnabled() && !item("typeBox", updateContent)->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(update, "choose", Q_ARG(QVariant, "version"),
                                          Q_ARG(QVariant, "1.3.3")));
        QVERIFY(hold->isEnabled() && shot("update-dialog"));

        QObject* progress = update->property("progressDialog").value<QObject*>();
        QQuickItem* progressContent = content(progress);
        // An image that cannot be had leaves a way out: Cancel stops the server and unlocks
        // the unit, and the choice stays for another try.
        progress->setProperty("address", 1);
        progress->setProperty("location", m_fileHandler->baseUrl() +
                                              QStringLiteral("9.9.9/VX9SDM1V2_code.bin"));
        QVERIFY(call(progress, "open"));
        QTRY_VERIFY_WITH_TIMEOUT(
            progress->property("error").toString().startsWith(QStringLiteral("Download error")),
            5000);
        QVERIFY(m_rack.unit.isLocked());
        QVERIFY(call(item("progressCancelButton", progressContent), "clicked") && closed(progress));
        QTRY_VERIFY(!m_rack.unit.isLocked());
        QVERIFY(update->property("visible").toBool());

        QTest::mousePress(m_main, Qt::LeftButton, {}, centre(hold));
        QTRY_VERIFY_WITH_TIMEOUT(progress->property("opened").toBool(), 4000);
        QTest::mouseRelease(m_main, Qt::LeftButton, {}, centre(hold));
        QCOMPARE(progress->property("location").toString(),
                 m_fileHandler->baseUrl() + QStringLiteral("1.3.3/VX9SDM1V2_code.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(m_fileServer->progress() > 0 && m_fileServer->progress() < 100,
                                 10000);
        QVERIFY(shot("update-progress"));
        QTRY_VERIFY_WITH_TIMEOUT(progress->property("completed").toBool(), 15000);
        QVERIFY(progress->property("error").toString().isEmpty());
        QQuickItem* close = item("progressCloseButton", progressContent);
        QTRY_VERIFY(close->isVisible());
        QVERIFY(shot("update-completed"));
        QTRY_VERIFY(!m_rack.unit.isLocked());

        // Closing the dialogs lists the module again, with its new firmware.
        QSignalSpy messages(WorkerAsync::instance(), &WorkerAsync::sendMessage);
        QVERIFY(call(close, "clicked") && closed(progress) && closed(update));
        QTRY_VERIFY_WITH_TIMEOUT(messages.size() == 1, 5000);
        QCOMPARE(messages.first().at(1).toString(), QStringLiteral("Unit 1 sicessfully added"));
        QTRY_VERIFY(!manager->property("waiting").toBool());
        manager->setProperty("selectedAddress", 1);
        QStringList shown;
        for (QQuickItem* label :
             itemWhere("unitDetails", content(manager), "visible", true)->childItems())
            shown.append(label->property("text").toString());
        QVERIFY2(shown.contains("1.3.3"), qPrintable(shown.join(", ")));
        QVERIFY(closeDeviceManager(manager));
    }

    // Every chart page of the "+" menu opens on its own worker mode and closes again.
    void chartTabsOpenFromTheMenuAndClose()
    {
        QQuickItem* plus = item("plusButton");
        QObject* menu = plus->findChild<QObject*>("addMenu");
        QVERIFY(call(plus, "clicked") && opened(menu) && shot("add-menu"));
        QVERIFY(call(menu, "close") && closed(menu));
        for (const char* name : {"CPS(Time)", "Temp(Time)", "CPS(Current)", "CPS(Trigger)",
                                 "IV curve", "Histogram (cps)"}) {
            QVERIFY2(ChartPages::chooseFromAddMenu(plus, name), name);
            const int index = m_main->property("currentIndex").toInt();
            QObject* page = ChartPages::currentPage(m_main);
            QVERIFY(index > 0 && page && page->property("workerMode").toInt() > 0);
            QVERIFY(closeTab(index));
        }
    }

    // A time plot records the channel it was given, with the chart options beside it; while
    // it reads, the tabs are locked.
    void cpsVsTimeRecordsAChannel()
    {
        Settings* settings = WorkerAsync::instance()->settings();
        settings->setTimeConstant(0.2);
        QVERIFY(ChartPages::chooseFromAddMenu(item("plusButton"), "CPS(Time)"));
        const int index = m_main->property("currentIndex").toInt();
        QObject* page = ChartPages::currentPage(m_main);
        QObject* channels = ChartPages::panel(page, "activeChannels");
        QVERIFY(!page->property("canStart").toBool()); // no channel yet
        QVERIFY(call(channels, "add", "SSPD 1") && call(channels, "add", "SSPD 1"));
        QCOMPARE(channels->property("count").toInt(), 1);
        QVERIFY(call(channels, "add", "SSPD 3"));
        QCOMPARE(settings->series().size(), 2);
        // The two hidden dummies keep the axes: they are never removed, nor are unknown names.
        QObject* scope = ChartPages::panel(page, "chart");
        QObject* chart = scope->property("chart").value<QObject*>();
        QCOMPARE(chart->property("count").toInt(), 4);
        QVERIFY(call(scope, "removeSeries", "dummy") && call(scope, "removeSeries", "SSPD 9"));
        QCOMPARE(chart->property("count").toInt(), 4);
        QCOMPARE(scope->property("legendModel").value<QObject*>()->property("count").toInt(), 2);

        QVERIFY(call(page, "start"));
        QVERIFY(!item("tabBar")->isEnabled() && !item("plusButton")->isEnabled());
        auto* second = qobject_cast<QXYSeries*>(settings->series().value(1));
        QVERIFY(second);
        QTRY_VERIFY_WITH_TIMEOUT(second->count() >= 4, 5000);
        QVERIFY(shot("cps-time") && call(page, "stop"));
        QVERIFY(item("tabBar")->isEnabled() && item("plusButton")->isEnabled());
        QVERIFY(call(channels, "remove", "SSPD 3"));
        QCOMPARE(settings->series().size(), 1);
        QVERIFY(closeTab(index));
        settings->setTimeConstant(1.0);
    }

    void sweepTabsPlotOnTheSimulator_data()
    {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("step");
        QTest::addColumn<bool>("ends");
        QTest::newRow("counts vs current") << "CPS(Current)" << 15.4e-6 << 1e-7 << true;
        QTest::newRow("counts vs trigger") << "CPS(Trigger)" << 0.02 << 0.005 << true;
        QTest::newRow("IV curve") << "IV curve" << 4e-6 << 1e-6 << true;
        QTest::newRow("histogram") << "Histogram (cps)" << 1e6 << 5e4 << false;
    }

    void sweepTabsPlotOnTheSimulator()
    {
        QFETCH(QString, tab);
        QFETCH(double, to);
        QFETCH(double, step);
        QFETCH(bool, ends);
        Settings* settings = WorkerAsync::instance()->settings();
        QVERIFY(ChartPages::chooseFromAddMenu(item("plusButton"), tab));
        const int index = m_main->property("currentIndex").toInt();
        QObject* page = ChartPages::currentPage(m_main);
        QVERIFY(ChartPages::setSweepRow("from", tab == "CPS(Current)" ? 15e-6 : 0.0));
        QVERIFY(ChartPages::setSweepRow("step", step));
        QVERIFY(ChartPages::setSweepRow("time_constant", 0.01));
        QVERIFY(ChartPages::setSweepRow("to", to));

        QObject* process = ChartPages::panel(page, "process");
        QCOMPARE(process->property("channel").toString(), QStringLiteral("None"));
        QVERIFY(!page->property("canStart").toBool() && call(process, "select", "SSPD 1"));
        item("postfixField", qobject_cast<QQuickItem*>(process))->setProperty("text", "a");
        QVERIFY(page->property("canStart").toBool());

        QSignalSpy finished(WorkerAsync::instance(), &WorkerAsync::sweepFinished);
        QVERIFY(call(page, "start"));
        QCOMPARE(settings->activeChannel(), 1);
        QCOMPARE(settings->series().last()->name(), QStringLiteral("SSPD 1_a"));
        if (ends) {
            QVERIFY(finished.wait(10000));
            QTRY_VERIFY(!page->property("reading").toBool());
            auto* points = qobject_cast<QXYSeries*>(settings->series().last());
            QVERIFY(points && points->count() >= 3);
        } else {
            auto* area = qobject_cast<QAreaSeries*>(settings->series().last());
            QVERIFY(area);
            QTRY_VERIFY_WITH_TIMEOUT(area->upperSeries()->count() > 0, 5000);
            QTest::qWait(300);
            QVERIFY(call(page, "stop"));
        }
        QVERIFY(item("tabBar")->isEnabled());

        // Exporting from the legend reaches the worker's text export (a histogram as its bars).
        QObject* scope = ChartPages::panel(page, "chart");
        QTemporaryDir dir;
        const QString one = dir.filePath("one.txt"), all = dir.filePath("all.txt");
        QObject* series = settings->series().last();
        QVERIFY(QMetaObject::invokeMethod(scope, "saveFile",
                                          Q_ARG(QVariant, QVariant::fromValue(series)),
                                          Q_ARG(QString, QUrl::fromLocalFile(one).toString())));
        QVERIFY(QMetaObject::invokeMethod(
            scope, "saveMultipleFile",
            Q_ARG(QVariant, QVariant::fromValue(QVariantList{QVariant::fromValue(series)})),
            Q_ARG(QString, QUrl::fromLocalFile(all).toString())));
        for (const QString& path : {one, all}) {
            QFile saved(path);
            QVERIFY(saved.open(QIODevice::ReadOnly) && saved.readAll().count("\r\n") >= 3);
        }
        QObject* legendMenu = scope->findChild<QObject*>("legendMenu");
        QVERIFY(call(legendMenu, "openFor", 0) && opened(legendMenu));
        QVERIFY(call(legendMenu, "close") && closed(legendMenu));

        // The counts axes switch to a logarithmic scale and back.
        QQuickItem* logY = item("logYButton", qobject_cast<QQuickItem*>(scope));
        if (logY->isVisible())
            logY->setProperty("checked", true);
        QTest::qWait(150); // the chart's fade-in
        QVERIFY(shot(QString(QTest::currentDataTag()).replace(' ', '-')));
        logY->setProperty("checked", false);
        QVERIFY(closeTab(index));
    }

    void driverPagesShowTheActiveChannel_data()
    {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("rows");
        QTest::newRow("SSPD model 1") << "SSPD Driver" << 3 << 16;
        QTest::newRow("temperature") << "Temp Driver" << 4 << 7;
    }

    void driverPagesShowTheActiveChannel()
    {
        QFETCH(QString, tab);
        QFETCH(int, channel);
        QFETCH(int, rows);
        Settings* settings = WorkerAsync::instance()->settings();
        // The page opens from the module's row on the home view.
        click(item("driverButton", moduleRow(channel)));
        QTRY_VERIFY(m_main->property("currentIndex").toInt() > 0);
        QCOMPARE(settings->activeChannel(), channel);
        const int index = m_main->property("currentIndex").toInt();
        QObject* properties = ChartPages::panel(ChartPages::currentPage(m_main), "properties");
        QCOMPARE(properties->property("title").toString(), tab + "#" + QString::number(channel));
        QQuickItem* list = item("propertyRows", qobject_cast<QQuickItem*>(properties));
        QTRY_COMPARE(list->property("count").toInt(), rows);
        QCOMPARE(settings->series().size(), 1);
        auto* live = qobject_cast<QXYSeries*>(settings->series().first());
        QTRY_VERIFY_WITH_TIMEOUT(live->count() >= 2, 5000);
        if (tab == "SSPD Driver") {
            // A switch on the page reaches the module: its next reading says so.
            QQuickItem* amplifier = nullptr;
            for (QQuickItem* row : itemsNamed(list, "propertyRow")) {
                for (QQuickItem* child : row->childItems()) {
                    if (child->property("text").toString() == QLatin1String("Amplifier"))
                        amplifier = item("boolSwitch", row);
                }
            }
            QVERIFY(amplifier && !amplifier->property("checked").toBool());
            click(amplifier);
            QTRY_VERIFY_WITH_TIMEOUT(
                DataModel::instance()->data(channel - 1, "status_amplifier_on").toBool(), 5000);
        }
        QTest::qWait(250);
        QVERIFY(shot(tab.replace(' ', '-')) && closeTab(index));
    }

    // The SSPD driver page's characterisation: measured with the curve drawn, the result
    // shown, and the recommended bias applied to the channel.
    void characteriseDialogMeasuresAndApplies()
    {
        WorkerAsync::instance()->settings()->setActiveChannel(1);
        QObject* home = ChartPages::pageAt(m_main, 0);
        QVERIFY(QMetaObject::invokeMethod(home, "openOther", Q_ARG(QString, "SSPD Driver")));
        const int index = m_main->property("currentIndex").toInt();
        auto* page = qobject_cast<QQuickItem*>(ChartPages::currentPage(m_main));
        QObject* dialog = objectNamed(page, "characteriseDialog");
        QTRY_VERIFY(item("characteriseButton", page)->isVisible());
        click(item("characteriseButton", page));
        QVERIFY(opened(dialog));
        QCOMPARE(dialog->property("address").toInt(), 1);
        QQuickItem* form = content(dialog);
        item("characteriseTimeConstant", form)->setProperty("text", "0.02");
        item("characteriseTrigger", form)->setProperty("text", "0.05");
        click(item("characteriseStart", form));
        QTRY_VERIFY(dialog->property("running").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->property("running").toBool(), 60000);
        const QVariantMap report = dialog->property("report").toMap();
        QCOMPARE(report.value("outcome").toString(), QString("complete"));
        QVERIFY(report.value("points").toList().size() >= 40);
        const QString result = item("characteriseResult", form)->property("text").toString();
        QVERIFY2(result.contains("Recommended bias"), qPrintable(result));
        QVERIFY(shot("characterise-dialog"));

        QTRY_VERIFY(item("characteriseApply", form)->isEnabled());
        click(item("characteriseApply", form));
        const double recommended = report.value("recommended_bias_A").toDouble();
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(detectorCurrent(1) - recommended) < 1e-9, 5000);

        click(item("characteriseClose", form));
        QVERIFY(closed(dialog));
        WorkerAsync::instance()->setParameter(1, "current", 0.0);
        WorkerAsync::instance()->setParameter(1, "operate", false);
        QTRY_COMPARE_WITH_TIMEOUT(detectorCurrent(1), 0.0, 5000);
        QVERIFY(closeTab(index));
    }

    // The unit going away while a time plot reads stops the plot and brings back the
    // connection form with the reason; once the unit is back, connecting from the form
    // restores the home view with free tabs and remembers the address.
    void aLostUnitBringsBackTheForm()
    {
        QVERIFY(ChartPages::chooseFromAddMenu(item("plusButton"), "CPS(Time)"));
        QObject* page = ChartPages::currentPage(m_main);
        QObject* channels = ChartPages::panel(page, "activeChannels");
        QVERIFY(call(channels, "add", "SSPD 1") && call(page, "start"));
        QVERIFY(page->property("reading").toBool());

        m_rack.unit.stop();
        QTRY_VERIFY_WITH_TIMEOUT(m_welcome->isVisible(), 5000);
        QVERIFY(m_welcome->property("formShown").toBool());
        QTRY_VERIFY(!m_main->isVisible());
        QVERIFY(!page->property("reading").toBool());
        QCOMPARE(WorkerAsync::instance()->statusText(),
                 QStringLiteral("Connection to 127.0.0.1 lost"));
        QVERIFY(WorkerAsync::instance()->GUIEnable());
        QTRY_COMPARE(itemsNamed(m_welcome->contentItem(), "connectionForm").value(0)->opacity(),
                     1.0);
        QVERIFY(shot("unit-lost", m_welcome) && shot("connection-form", m_welcome));

        QString error;
        QVERIFY2(m_rack.unit.start(&error), qPrintable(error));
        QQuickItem* go = itemsNamed(m_welcome->contentItem(), "goButton").value(0);
        QTRY_VERIFY(go->isEnabled());
        QVERIFY(call(go, "clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->isVisible(), 5000);
        QVERIFY(!m_welcome->isVisible());
        QTRY_COMPARE(item("moduleList")->property("count").toInt(), 6);
        QVERIFY(item("tabBar")->isEnabled());
        QCOMPARE(m_main->property("currentIndex").toInt(), 0);
        QCOMPARE(QSettings(StoredSettings::Organisation, StoredSettings::Application)
                     .value(StoredSettings::UnitAddressKey)
                     .toString(),
                 QStringLiteral("127.0.0.1"));
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    TestProgram test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_program.moc"
