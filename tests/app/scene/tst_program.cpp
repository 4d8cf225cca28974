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

QString shotPath(const QString& name)
{
    QDir().mkpath(QStringLiteral(TAVIK_SHOTS_DIR));
    return QStringLiteral(TAVIK_SHOTS_DIR "/") + name + QStringLiteral(".png");
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

    QStringList rowTexts() const
    {
        QStringList texts;
        for (QQuickItem* label : itemsNamed(m_main->contentItem(), "valueLabel"))
            texts.append(label->property("text").toString());
        return texts;
    }

    QQuickItem* homePage() const
    {
        QQuickItem* list = itemsNamed(m_main->contentItem(), "moduleList").value(0);
        return list ? list->parentItem() : nullptr;
    }

    QQuickItem* moduleRow(int address) const
    {
        for (QQuickItem* row : itemsNamed(m_main->contentItem(), "moduleRow")) {
            if (row->property("address").toInt() == address)
                return row;
        }
        return nullptr;
    }

    void click(QQuickItem* item)
    {
        QTest::mouseClick(
            m_main, Qt::LeftButton, {},
            item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
    }

    // Chooses entry `index` of the home view's settings menu.
    bool chooseSetting(int index)
    {
        QQuickItem* button = itemsNamed(m_main->contentItem(), "settingsButton").value(0);
        QObject* menu = button ? button->findChild<QObject*>("settingsMenu") : nullptr;
        if (!menu)
            return false;
        click(button);
        if (!QTest::qWaitFor([&] { return menu->property("opened").toBool(); }))
            return false;
        QQuickItem* entry = nullptr;
        QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, entry),
                                  Q_ARG(int, index));
        if (!entry)
            return false;
        click(entry);
        return QTest::qWaitFor([&] { return !menu->property("visible").toBool(); });
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
        QVERIFY(m_welcome->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(m_welcome));
        QVERIFY(m_welcome->grabWindow().save(shotPath("welcome")));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->isVisible(), 10000);
        QVERIFY(!m_welcome->isVisible());
        // A unit named on the command line is not remembered.
        QVERIFY(!QSettings(StoredSettings::Organisation, StoredSettings::Application)
                     .contains(StoredSettings::UnitAddressKey));
    }

    void homeListShowsTheRack()
    {
        const QList<QQuickItem*> lists = itemsNamed(m_main->contentItem(), "moduleList");
        QCOMPARE(lists.size(), 1);
        QQuickItem* list = lists.first();
        QTRY_COMPARE(list->property("count").toInt(), 6);
        QCOMPARE(DataModel::instance()->rowCount(), 6);
        // SSPD rows show their count rate, both temperature rows a reading (model 1 its first
        // sensor's); the heater has no row content.
        QTRY_VERIFY_WITH_TIMEOUT(
            rowTexts().count() == 5 && rowTexts().at(0).contains(" cps") &&
                !rowTexts().at(0).contains("---") && rowTexts().at(3).endsWith(" K") &&
                rowTexts().at(4).endsWith(" K") && !rowTexts().at(4).contains("---"),
            5000);
        QVERIFY(m_main->grabWindow().save(shotPath("home")));
    }

    void homeRowSendsOperateAndCurrent()
    {
        QQuickItem* row = moduleRow(1);
        QVERIFY(row);
        QQuickItem* operate = itemsNamed(row, "operateSwitch").value(0);
        QQuickItem* spin = itemsNamed(row, "currentSpinBox").value(0);
        QVERIFY(operate && spin);
        QVERIFY(!operate->property("checked").toBool());
        const auto* sspd = qobject_cast<SimSspdM0*>(m_rack.unit.module(1));
        QVERIFY(sspd);

        click(operate);
        // A reading that lands while the text is typed puts the shown value back, so the
        // text is typed once the switch-on has settled.
        QTRY_VERIFY_WITH_TIMEOUT(DataModel::instance()->data(0, "operate").toBool(), 5000);
        auto* input = spin->property("contentItem").value<QQuickItem*>();
        QVERIFY(input);
        input->forceActiveFocus();
        input->setProperty("text", QStringLiteral("2.5"));
        QTest::keyClick(m_main, Qt::Key_Return);
        QCOMPARE(spin->property("value").toInt(), 25);
        // The channel is switched on (no short) and carries the bias that was typed.
        auto detectorCurrent = [&] {
            return const_cast<SimSspdM0*>(sspd)->physics().detectorCurrent();
        };
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(detectorCurrent() - 2.5e-6) < 1e-12, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(DataModel::instance()->data(0, "operate").toBool(), 5000);
        QVERIFY(operate->property("checked").toBool());
        QVERIFY(m_main->grabWindow().save(shotPath("home-operating")));

        click(operate);
        QTRY_COMPARE_WITH_TIMEOUT(detectorCurrent(), 0.0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!DataModel::instance()->data(0, "operate").toBool(), 5000);
        QVERIFY(!operate->property("checked").toBool());
    }

    void settingsOpenTheDialogs()
    {
        QQuickItem* home = homePage();
        QVERIFY(home);
        QObject* presets = home->findChild<QObject*>("presetsDialog");
        QObject* switching = home->findChild<QObject*>("switchingDialog");
        QObject* errorBox = home->findChild<QObject*>("errorBox");
        QVERIFY(presets && switching && errorBox);

        QVERIFY(chooseSetting(2));
        QTRY_VERIFY(presets->property("opened").toBool());
        QVERIFY(presets->property("fileName").toString().endsWith("/preset.json"));
        QVERIFY(m_main->grabWindow().save(shotPath("presets-dialog")));
        QQuickItem* presetsCancel = itemsNamed(m_main->contentItem(), "presetsCancel").value(0);
        QVERIFY(presetsCancel);
        click(presetsCancel);
        QTRY_VERIFY(!presets->property("visible").toBool());

        QVERIFY(chooseSetting(4));
        QTRY_VERIFY(switching->property("opened").toBool());
        QVERIFY(m_main->grabWindow().save(shotPath("switching-dialog")));
        QQuickItem* switchingCancel = itemsNamed(m_main->contentItem(), "switchingCancel").value(0);
        QVERIFY(switchingCancel);
        click(switchingCancel);
        QTRY_VERIFY(!switching->property("visible").toBool());

        emit WorkerAsync::instance()->sendErrorMessage("ERROR!", "No channels selected");
        QTRY_VERIFY(errorBox->property("opened").toBool());
        QCOMPARE(errorBox->property("title").toString(), QStringLiteral("ERROR!"));
        QVERIFY(QMetaObject::invokeMethod(errorBox, "close"));
        QTRY_VERIFY(!errorBox->property("visible").toBool());
    }

    void addMenuOffersTheChartTabs()
    {
        QQuickItem* plus = itemsNamed(m_main->contentItem(), "plusButton").value(0);
        QVERIFY(plus);
        QObject* menu = plus->findChild<QObject*>("addMenu");
        QVERIFY(menu);
        QVERIFY(QMetaObject::invokeMethod(plus, "clicked"));
        QTRY_VERIFY(menu->property("opened").toBool());
        QCOMPARE(menu->property("count").toInt(), 6);
        // Every chart page exists and none is open yet: every entry can be chosen.
        for (int i = 0; i < 6; ++i) {
            QQuickItem* item = nullptr;
            QVERIFY(QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, item),
                                              Q_ARG(int, i)));
            QVERIFY(item->isEnabled());
        }
        QVERIFY(m_main->grabWindow().save(shotPath("add-menu")));
        QVERIFY(QMetaObject::invokeMethod(menu, "close"));
        QTRY_VERIFY(!menu->property("visible").toBool());
    }

    void aMeasuringPageLocksTheTabs()
    {
        QVariant page;
        QVERIFY(QMetaObject::invokeMethod(m_main, "pageAt", Q_RETURN_ARG(QVariant, page),
                                          Q_ARG(QVariant, 0)));
        QObject* home = page.value<QObject*>();
        QVERIFY(home);
        QQuickItem* tabBar = itemsNamed(m_main->contentItem(), "tabBar").value(0);
        QQuickItem* plus = itemsNamed(m_main->contentItem(), "plusButton").value(0);
        QVERIFY(tabBar && plus);
        QVERIFY(tabBar->isEnabled() && plus->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(home, "startReading"));
        QVERIFY(!tabBar->isEnabled() && !plus->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(home, "stopReading"));
        QVERIFY(tabBar->isEnabled() && plus->isEnabled());
    }

    // The device manager of the home page: it lists the rack's modules, a module opens its
    // details and its EEPROM constants, read from the simulated module.
    void deviceManagerShowsModulesAndConstants()
    {
        QObject* manager = objectNamed(m_main->contentItem(), "deviceManager");
        QVERIFY(manager);
        QQuickItem* content = manager->property("contentItem").value<QQuickItem*>();
        QVERIFY(QMetaObject::invokeMethod(manager, "open"));
        QTRY_VERIFY(manager->property("opened").toBool());
        QTRY_COMPARE(WorkerAsync::instance()->currentMode(), WorkerAsync::WorkerModeNoAction);
        QQuickItem* list = itemsNamed(content, "unitList").value(0);
        QVERIFY(list);
        QTRY_COMPARE(list->property("count").toInt(), 6);
        QVERIFY(m_main->grabWindow().save(shotPath("device-manager")));

        // A click on the first module expands it; a second click folds it again.
        QQuickItem* header = itemsNamed(content, "unitHeader").value(0);
        QVERIFY(header);
        QQuickItem* unit = header->parentItem()->parentItem();
        const int address = unit->property("address").toInt();
        QTest::mouseClick(m_main, Qt::LeftButton, {},
                          header->mapToScene(QPointF(header->width() / 2, 10)).toPoint());
        QTRY_COMPARE(manager->property("selectedAddress").toInt(), address);
        QQuickItem* details = itemsNamed(unit, "unitDetails").value(0);
        QVERIFY(details && details->isVisible());
        QQuickItem* constants = itemsNamed(unit, "constantsButton").value(0);
        QVERIFY(constants && constants->isEnabled());
        QVERIFY(itemsNamed(unit, "updateButton").value(0)->isEnabled());
        QVERIFY(m_main->grabWindow().save(shotPath("device-manager-module")));

        // "Constants": the dialog fetches the module's constants and shows them folded.
        QObject* eeprom = manager->findChild<QObject*>("eepromDialog");
        QVERIFY(eeprom);
        QQuickItem* eepromContent = eeprom->property("contentItem").value<QQuickItem*>();
        QTest::mouseClick(
            m_main, Qt::LeftButton, {},
            constants->mapToScene(QPointF(constants->width() / 2, constants->height() / 2))
                .toPoint());
        QTRY_VERIFY(eeprom->property("opened").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!eeprom->property("busy").toBool(), 5000);
        QCOMPARE(EepromDataModel::instance()->rowCount(), 4); // SSPD model 0
        QCOMPARE(EepromDataModel::instance()->storage()->address(), address);
        QTRY_COMPARE(itemsNamed(eepromContent, "sectionHeader").size(), 2);
        QList<QQuickItem*> sections = itemsNamed(eepromContent, "sectionHeader");
        QTRY_VERIFY(itemsNamed(eepromContent, "firstValue").value(0) &&
                    !itemsNamed(eepromContent, "firstValue").value(0)->isVisible());
        // Unfolded, the values are there but locked until the factory password is typed.
        QTest::mouseClick(m_main, Qt::LeftButton, {},
                          sections.first()->mapToScene(QPointF(40, 10)).toPoint());
        QQuickItem* first = itemsNamed(eepromContent, "firstValue").value(0);
        QTRY_VERIFY(first->isVisible());
        QVERIFY(!first->property("text").toString().isEmpty());
        QVERIFY(!first->isEnabled());
        QQuickItem* tools = itemsNamed(eepromContent, "toolButton").value(0);
        QVERIFY(tools && !tools->isEnabled());
        itemsNamed(eepromContent, "passwordField").value(0)->setProperty("text", "quorbel");
        QVERIFY(first->isEnabled());
        QVERIFY(tools->isEnabled());
        // An edit reaches the constant in the storage, the other half of the pair kept.
        QQuickItem* entry = first->parentItem()->parentItem();
        QCOMPARE(entry->objectName(), QStringLiteral("eepromItem"));
        const QString name = entry->property("name").toString();
        EepromDataItem* item = EepromDataModel::instance()->storage()->getByName(name);
        const double second = item->pairValue().second;
        first->setProperty("text", "2.5");
        QVERIFY(QMetaObject::invokeMethod(first, "editingFinished"));
        QCOMPARE(item->pairValue(), EepromPair(2.5, second));
        QVERIFY(m_main->grabWindow().save(shotPath("eeprom-constants")));
        QObject* toolMenu = tools->findChild<QObject*>("toolMenu");
        QVERIFY(toolMenu);
        QVERIFY(QMetaObject::invokeMethod(tools, "clicked"));
        QTRY_VERIFY(toolMenu->property("opened").toBool());
        QCOMPARE(toolMenu->property("count").toInt(), 5);
        QVERIFY(m_main->grabWindow().save(shotPath("eeprom-tools")));
        QVERIFY(QMetaObject::invokeMethod(toolMenu, "close"));
        QTRY_VERIFY(!toolMenu->property("visible").toBool());

        QVERIFY(QMetaObject::invokeMethod(itemsNamed(eepromContent, "closeButton").value(0),
                                          "clicked"));
        QTRY_VERIFY(!eeprom->property("visible").toBool());
        QVERIFY(QMetaObject::invokeMethod(itemsNamed(content, "closeButton").value(0), "clicked"));
        QTRY_VERIFY(!manager->property("visible").toBool());
        QCOMPARE(manager->property("selectedAddress").toInt(), -1);
        QTRY_COMPARE(WorkerAsync::instance()->currentMode(), WorkerAsync::WorkerModeAllChannels);
    }

    // Holding the reset button to its end resets the units once; an early release sends
    // nothing.
    void heldResetReachesTheUnitOnce()
    {
        QObject* manager = objectNamed(m_main->contentItem(), "deviceManager");
        QVERIFY(manager);
        QQuickItem* content = manager->property("contentItem").value<QQuickItem*>();
        QVERIFY(QMetaObject::invokeMethod(manager, "open"));
        QTRY_VERIFY(manager->property("opened").toBool());
        QQuickItem* reset = itemsNamed(content, "resetButton").value(0);
        QVERIFY(reset);
        QCOMPARE(reset->property("text").toString(), QStringLiteral("Units reset"));
        const QPoint centre =
            reset->mapToScene(QPointF(reset->width() / 2, reset->height() / 2)).toPoint();
        auto resets = [](const QSignalSpy& spy) {
            return std::count_if(spy.begin(), spy.end(), [](const QList<QVariant>& call) {
                return call.at(0).toInt() == WorkerAsync::CommandResetUnits && call.at(2).toBool();
            });
        };
        QSignalSpy executed(WorkerAsync::instance(), &WorkerAsync::commandExecuted);

        QTest::mousePress(m_main, Qt::LeftButton, {}, centre);
        QTest::qWait(300);
        QTest::mouseRelease(m_main, Qt::LeftButton, {}, centre);
        QTest::mousePress(m_main, Qt::LeftButton, {}, centre);
        QTRY_VERIFY_WITH_TIMEOUT(reset->property("completed").toBool(), 3000);
        QVERIFY(m_main->grabWindow().save(shotPath("device-manager-reset")));
        QTest::mouseRelease(m_main, Qt::LeftButton, {}, centre);
        QTRY_COMPARE_WITH_TIMEOUT(resets(executed), 1, 3000);
        QTRY_VERIFY(!reset->property("completed").toBool());
        QCOMPARE(resets(executed), 1);

        QVERIFY(QMetaObject::invokeMethod(itemsNamed(content, "closeButton").value(0), "clicked"));
        QTRY_VERIFY(!manager->property("visible").toBool());
        QTRY_COMPARE(WorkerAsync::instance()->currentMode(), WorkerAsync::WorkerModeAllChannels);
    }

    // Removing a module and adding it back: the dialog waits for each answer, and the list
    // follows the unit.
    void deviceManagerRemovesAndAddsAModule()
    {
        QObject* manager = objectNamed(m_main->contentItem(), "deviceManager");
        QVERIFY(manager);
        QQuickItem* content = manager->property("contentItem").value<QQuickItem*>();
        QVERIFY(QMetaObject::invokeMethod(manager, "open"));
        QTRY_VERIFY(manager->property("opened").toBool());
        QQuickItem* list = itemsNamed(content, "unitList").value(0);
        QTRY_COMPARE(list->property("count").toInt(), 6);
        QSignalSpy messages(WorkerAsync::instance(), &WorkerAsync::sendMessage);

        manager->setProperty("selectedAddress", 2);
        QQuickItem* remove = nullptr;
        for (QQuickItem* button : itemsNamed(content, "removeButton")) {
            if (button->isVisible())
                remove = button;
        }
        QVERIFY(remove);
        QVERIFY(QMetaObject::invokeMethod(remove, "clicked"));
        QVERIFY(manager->property("waiting").toBool());
        QCOMPARE(manager->property("selectedAddress").toInt(), -1);
        QTRY_VERIFY_WITH_TIMEOUT(!manager->property("waiting").toBool(), 5000);
        QCOMPARE(messages.size(), 1);
        QTRY_COMPARE(list->property("count").toInt(), 5);
        QCOMPARE(indexOfAddress(WorkerAsync::instance()->dataList(), 2), -1);

        // Enter in the add field adds, as "Add" does; a bus address above 31 is not taken.
        QQuickItem* field = itemsNamed(content, "addField").value(0);
        QVERIFY(field);
        field->setProperty("text", "32");
        QVERIFY(!field->property("acceptableInput").toBool());
        QVERIFY(!itemsNamed(content, "addButton").value(0)->isEnabled());
        field->setProperty("text", "2");
        field->forceActiveFocus();
        QTest::keyClick(m_main, Qt::Key_Return);
        QVERIFY(manager->property("waiting").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!manager->property("waiting").toBool(), 5000);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages.last().at(1).toString(), QStringLiteral("Unit 2 sicessfully added"));
        QTRY_COMPARE(list->property("count").toInt(), 6);

        QVERIFY(QMetaObject::invokeMethod(itemsNamed(content, "closeButton").value(0), "clicked"));
        QTRY_VERIFY(!manager->property("visible").toBool());
        QTRY_COMPARE(WorkerAsync::instance()->currentMode(), WorkerAsync::WorkerModeAllChannels);
    }

    // A firmware update through the dialogs: only the version is open without the factory
    // password; held "Update" serves the image to the unit, whose module comes back listed
    // with its new firmware once the dialogs are closed.
    void firmwareUpdateThroughTheDialogs()
    {
        QObject* manager = objectNamed(m_main->contentItem(), "deviceManager");
        QVERIFY(manager);
        QQuickItem* content = manager->property("contentItem").value<QQuickItem*>();
        QVERIFY(QMetaObject::invokeMethod(manager, "open"));
        QTRY_VERIFY(manager->property("opened").toBool());
        QTRY_COMPARE(itemsNamed(content, "unitList").value(0)->property("count").toInt(), 6);
        manager->setProperty("selectedAddress", 1);
        QQuickItem* updateButton = nullptr;
        for (QQuickItem* button : itemsNamed(content, "updateButton")) {
            if (button->isVisible())
                updateButton = button;
        }
        QVERIFY(updateButton && updateButton->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(updateButton, "clicked"));

        QObject* update = manager->findChild<QObject*>("updateDialog");
        QVERIFY(update);
        auto* updateContent = update->property("contentItem").value<QQuickItem*>();
        QTRY_VERIFY(update->property("opened").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!update->property("busy").toBool(), 10000);
        QCOMPARE(update->property("type").toString(), QStringLiteral("VX9SD"));
        QCOMPARE(m_fileHandler->versions(), QStringList({"1.2.3", "1.3.3"}));
        // The installed 1.3.2 is not offered: nothing is chosen yet, and the kind is locked.
        QQuickItem* hold = itemsNamed(updateContent, "updateHoldButton").value(0);
        QQuickItem* typeBox = itemsNamed(updateContent, "typeBox").value(0);
        QVERIFY(hold && typeBox);
        QVERIFY(!hold->isEnabled());
        QVERIFY(!typeBox->isEnabled());
        QCOMPARE(typeBox->property("currentText").toString(), QStringLiteral("VX9SD"));
        QVERIFY(QMetaObject::invokeMethod(update, "choose", Q_ARG(QVariant, "version"),
                                          Q_ARG(QVariant, "1.3.3")));
        QCOMPARE(itemsNamed(updateContent, "versionBox").value(0)->property("currentText"),
                 QStringLiteral("1.3.3"));
        QVERIFY(hold->isEnabled());
        QVERIFY(m_main->grabWindow().save(shotPath("update-dialog")));

        QObject* progress = update->property("progressDialog").value<QObject*>();
        QVERIFY(progress);
        auto* progressContent = progress->property("contentItem").value<QQuickItem*>();
        // An image that cannot be had leaves a way out: Cancel stops the server and unlocks
        // the unit, and the choice stays for another try.
        progress->setProperty("address", 1);
        progress->setProperty("location", m_fileHandler->baseUrl() +
                                              QStringLiteral("9.9.9/VX9SDM1V2_code.bin"));
        QVERIFY(QMetaObject::invokeMethod(progress, "open"));
        QTRY_VERIFY_WITH_TIMEOUT(
            progress->property("error").toString().startsWith(QStringLiteral("Download error")),
            5000);
        QVERIFY(m_rack.unit.isLocked());
        QVERIFY(QMetaObject::invokeMethod(
            itemsNamed(progressContent, "progressCancelButton").value(0), "clicked"));
        QTRY_VERIFY(!progress->property("visible").toBool());
        QTRY_VERIFY(!m_rack.unit.isLocked());
        QVERIFY(update->property("visible").toBool());

        const QPoint centre =
            hold->mapToScene(QPointF(hold->width() / 2, hold->height() / 2)).toPoint();
        QTest::mousePress(m_main, Qt::LeftButton, {}, centre);
        QTRY_VERIFY_WITH_TIMEOUT(progress->property("opened").toBool(), 4000);
        QTest::mouseRelease(m_main, Qt::LeftButton, {}, centre);
        QCOMPARE(progress->property("location").toString(),
                 m_fileHandler->baseUrl() + QStringLiteral("1.3.3/VX9SDM1V2_code.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(m_fileServer->progress() > 0 && m_fileServer->progress() < 100,
                                 10000);
        QVERIFY(m_main->grabWindow().save(shotPath("update-progress")));
        QTRY_VERIFY_WITH_TIMEOUT(progress->property("completed").toBool(), 15000);
        QVERIFY(progress->property("error").toString().isEmpty());
        QQuickItem* close = itemsNamed(progressContent, "progressCloseButton").value(0);
        QTRY_VERIFY(close->isVisible());
        QVERIFY(m_main->grabWindow().save(shotPath("update-completed")));
        QTRY_VERIFY(!m_rack.unit.isLocked());

        // Closing the dialogs lists the module again, with its new firmware.
        QSignalSpy messages(WorkerAsync::instance(), &WorkerAsync::sendMessage);
        QVERIFY(QMetaObject::invokeMethod(close, "clicked"));
        QTRY_VERIFY(!progress->property("visible").toBool());
        QTRY_VERIFY(!update->property("visible").toBool());
        QVERIFY(!close->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(messages.size() == 1, 5000);
        QCOMPARE(messages.first().at(1).toString(), QStringLiteral("Unit 1 sicessfully added"));
        QTRY_VERIFY(!manager->property("waiting").toBool());
        manager->setProperty("selectedAddress", 1);
        QStringList shown;
        for (QQuickItem* details : itemsNamed(content, "unitDetails")) {
            if (details->isVisible()) {
                for (QQuickItem* label : details->childItems())
                    shown.append(label->property("text").toString());
            }
        }
        QVERIFY2(shown.contains("1.3.3"), qPrintable(shown.join(", ")));

        QVERIFY(QMetaObject::invokeMethod(itemsNamed(content, "closeButton").value(0), "clicked"));
        QTRY_VERIFY(!manager->property("visible").toBool());
        QTRY_COMPARE(WorkerAsync::instance()->currentMode(), WorkerAsync::WorkerModeAllChannels);
    }

    void chartTabsOpenFromTheMenuAndClose()
    {
        QQuickItem* plus = itemsNamed(m_main->contentItem(), "plusButton").value(0);
        QVERIFY(plus);
        const QStringList names{"CPS(Time)",    "Temp(Time)", "CPS(Current)",
                                "CPS(Trigger)", "IV curve",   "Histogram (cps)"};
        for (const QString& name : names) {
            QVERIFY2(ChartPages::chooseFromAddMenu(plus, name), qPrintable(name));
            const int index = m_main->property("currentIndex").toInt();
            QVERIFY(index > 0);
            QObject* page = ChartPages::currentPage(m_main);
            QVERIFY(page && page->property("workerMode").toInt() > 0);
            QVERIFY(QMetaObject::invokeMethod(m_main, "closeTab", Q_ARG(QVariant, index)));
            QCOMPARE(m_main->property("currentIndex").toInt(), 0);
        }
    }

    // A time plot records the channel it was given, with the chart options beside it.
    void cpsVsTimeRecordsAChannel()
    {
        Settings* settings = WorkerAsync::instance()->settings();
        settings->setTimeConstant(0.2);
        QQuickItem* plus = itemsNamed(m_main->contentItem(), "plusButton").value(0);
        QVERIFY(ChartPages::chooseFromAddMenu(plus, "CPS(Time)"));
        const int index = m_main->property("currentIndex").toInt();
        QObject* page = ChartPages::currentPage(m_main);
        QObject* channels = ChartPages::panel(page, "activeChannels");
        QVERIFY(!page->property("canStart").toBool()); // no channel yet
        QVERIFY(QMetaObject::invokeMethod(channels, "add", Q_ARG(QVariant, "SSPD 1")));
        QVERIFY(QMetaObject::invokeMethod(channels, "add", Q_ARG(QVariant, "SSPD 1")));
        QCOMPARE(channels->property("count").toInt(), 1);
        QVERIFY(QMetaObject::invokeMethod(channels, "add", Q_ARG(QVariant, "SSPD 3")));
        QCOMPARE(settings->series().size(), 2);
        // The two hidden dummies keep the axes: they are never removed, nor are unknown names.
        QObject* scope = ChartPages::panel(page, "chart");
        QObject* chart = scope->property("chart").value<QObject*>();
        QCOMPARE(chart->property("count").toInt(), 4);
        QVERIFY(QMetaObject::invokeMethod(scope, "removeSeries", Q_ARG(QVariant, "dummy")));
        QVERIFY(QMetaObject::invokeMethod(scope, "removeSeries", Q_ARG(QVariant, "SSPD 9")));
        QCOMPARE(chart->property("count").toInt(), 4);
        QCOMPARE(scope->property("legendModel").value<QObject*>()->property("count").toInt(), 2);

        QVERIFY(QMetaObject::invokeMethod(page, "start"));
        QQuickItem* tabBar = itemsNamed(m_main->contentItem(), "tabBar").value(0);
        QVERIFY(!tabBar->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QXYSeries*>(settings->series().value(1)) &&
                                     qobject_cast<QXYSeries*>(settings->series().at(1))->count() >=
                                         4,
                                 5000);
        QVERIFY(m_main->grabWindow().save(shotPath("cps-time")));
        QVERIFY(QMetaObject::invokeMethod(page, "stop"));
        QVERIFY(tabBar->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(channels, "remove", Q_ARG(QVariant, "SSPD 3")));
        QCOMPARE(settings->series().size(), 1);
        QVERIFY(QMetaObject::invokeMethod(m_main, "closeTab", Q_ARG(QVariant, index)));
        settings->setTimeConstant(1.0);
    }

    void sweepTabsPlotOnTheSimulator_data()
    {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<QVariantMap>("rows");
        QTest::addColumn<bool>("ends");
        QTest::newRow("counts vs current") << "CPS(Current)"
                                           << QVariantMap{{"from", 15e-6},
                                                          {"to", 15.4e-6},
                                                          {"step", 1e-7},
                                                          {"time_constant", 0.01}}
                                           << true;
        QTest::newRow("counts vs trigger")
            << "CPS(Trigger)"
            << QVariantMap{{"from", 0.0}, {"to", 0.02}, {"step", 0.005}, {"time_constant", 0.01}}
            << true;
        QTest::newRow("IV curve") << "IV curve"
                                  << QVariantMap{{"from", 0.0},
                                                 {"to", 4e-6},
                                                 {"step", 1e-6},
                                                 {"time_constant", 0.01}}
                                  << true;
        QTest::newRow("histogram")
            << "Histogram (cps)"
            << QVariantMap{{"from", 0.0}, {"to", 1e6}, {"step", 5e4}, {"time_constant", 0.01}}
            << false;
    }

    void sweepTabsPlotOnTheSimulator()
    {
        QFETCH(QString, tab);
        QFETCH(QVariantMap, rows);
        QFETCH(bool, ends);
        Settings* settings = WorkerAsync::instance()->settings();
        QQuickItem* plus = itemsNamed(m_main->contentItem(), "plusButton").value(0);
        QVERIFY(ChartPages::chooseFromAddMenu(plus, tab));
        const int index = m_main->property("currentIndex").toInt();
        QObject* page = ChartPages::currentPage(m_main);
        for (auto it = rows.constBegin(); it != rows.constEnd(); ++it)
            QVERIFY(ChartPages::setSweepRow(it.key(), it.value()));

        QObject* process = ChartPages::panel(page, "process");
        QCOMPARE(process->property("channel").toString(), QStringLiteral("None"));
        QVERIFY(!page->property("canStart").toBool());
        QVERIFY(QMetaObject::invokeMethod(process, "select", Q_ARG(QVariant, "SSPD 1")));
        QQuickItem* postfix =
            itemsNamed(qobject_cast<QQuickItem*>(process), "postfixField").value(0);
        postfix->setProperty("text", "a");
        QVERIFY(page->property("canStart").toBool());

        QSignalSpy finished(WorkerAsync::instance(), &WorkerAsync::sweepFinished);
        QVERIFY(QMetaObject::invokeMethod(page, "start"));
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
            QVERIFY(QMetaObject::invokeMethod(page, "stop"));
        }
        QQuickItem* tabBar = itemsNamed(m_main->contentItem(), "tabBar").value(0);
        QVERIFY(tabBar->isEnabled());

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
        QFile saved(one);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().count("\r\n") >= 3);
        QVERIFY(QFile::exists(all));
        QObject* legendMenu = scope->findChild<QObject*>("legendMenu");
        QVERIFY(QMetaObject::invokeMethod(legendMenu, "openFor", Q_ARG(QVariant, 0)));
        QTRY_VERIFY(legendMenu->property("opened").toBool());
        QVERIFY(QMetaObject::invokeMethod(legendMenu, "close"));
        QTRY_VERIFY(!legendMenu->property("visible").toBool());

        // The counts axes switch to a logarithmic scale and back.
        QQuickItem* logY =
            itemsNamed(qobject_cast<QQuickItem*>(ChartPages::panel(page, "chart")), "logYButton")
                .value(0);
        if (logY->isVisible())
            logY->setProperty("checked", true);
        QTest::qWait(150); // the chart's fade-in
        QVERIFY(m_main->grabWindow().save(
            shotPath(QString(QTest::currentDataTag()).replace(' ', '-'))));
        logY->setProperty("checked", false);
        QVERIFY(QMetaObject::invokeMethod(m_main, "closeTab", Q_ARG(QVariant, index)));
        QCOMPARE(m_main->property("currentIndex").toInt(), 0);
    }

    void driverPagesShowTheActiveChannel_data()
    {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("title");
        QTest::newRow("SSPD model 1") << "SSPD Driver" << 3 << 16 << "SSPD Driver#3";
        QTest::newRow("temperature") << "Temp Driver" << 4 << 7 << "Temp Driver#4";
    }

    void driverPagesShowTheActiveChannel()
    {
        QFETCH(QString, tab);
        QFETCH(int, channel);
        QFETCH(int, rows);
        QFETCH(QString, title);
        Settings* settings = WorkerAsync::instance()->settings();
        // The page opens from the module's row on the home view.
        QQuickItem* row = moduleRow(channel);
        QVERIFY(row);
        click(itemsNamed(row, "driverButton").value(0));
        QTRY_VERIFY(m_main->property("currentIndex").toInt() > 0);
        QCOMPARE(settings->activeChannel(), channel);
        const int index = m_main->property("currentIndex").toInt();
        QVERIFY(index > 0);
        QObject* page = ChartPages::currentPage(m_main);
        QObject* properties = ChartPages::panel(page, "properties");
        QCOMPARE(properties->property("title").toString(), title);
        QQuickItem* list =
            itemsNamed(qobject_cast<QQuickItem*>(properties), "propertyRows").value(0);
        QTRY_COMPARE(list->property("count").toInt(), rows);
        QCOMPARE(settings->series().size(), 1);
        auto* live = qobject_cast<QXYSeries*>(settings->series().first());
        QTRY_VERIFY_WITH_TIMEOUT(live->count() >= 2, 5000);
        if (tab == "SSPD Driver") {
            // A switch on the page reaches the module: its next reading says so.
            QQuickItem* amplifier = nullptr;
            for (QQuickItem* item : itemsNamed(list, "propertyRow")) {
                for (QQuickItem* child : item->childItems()) {
                    if (child->property("text").toString() == QLatin1String("Amplifier"))
                        amplifier = itemsNamed(item, "boolSwitch").value(0);
                }
            }
            QVERIFY(amplifier && !amplifier->property("checked").toBool());
            click(amplifier);
            const int modelRow = channel - 1;
            QTRY_VERIFY_WITH_TIMEOUT(
                DataModel::instance()->data(modelRow, "status_amplifier_on").toBool(), 5000);
        }
        QTest::qWait(250);
        QVERIFY(m_main->grabWindow().save(shotPath(tab.replace(' ', '-'))));
        QVERIFY(QMetaObject::invokeMethod(m_main, "closeTab", Q_ARG(QVariant, index)));
        QCOMPARE(m_main->property("currentIndex").toInt(), 0);
    }

    // The SSPD driver page's characterisation: measured with the curve drawn, the result
    // shown, and the recommended bias applied to the channel.
    void characteriseDialogMeasuresAndApplies()
    {
        Settings* settings = WorkerAsync::instance()->settings();
        settings->setActiveChannel(1);
        QObject* home = ChartPages::pageAt(m_main, 0);
        QVERIFY(QMetaObject::invokeMethod(home, "openOther", Q_ARG(QString, "SSPD Driver")));
        const int index = m_main->property("currentIndex").toInt();
        auto* page = qobject_cast<QQuickItem*>(ChartPages::currentPage(m_main));
        QVERIFY(page);
        QQuickItem* button = itemsNamed(page, "characteriseButton").value(0);
        QObject* dialog = objectNamed(page, "characteriseDialog");
        QVERIFY(button && dialog);
        QTRY_VERIFY(button->isVisible());
        click(button);
        QTRY_VERIFY(dialog->property("opened").toBool());
        QCOMPARE(dialog->property("address").toInt(), 1);
        auto* content = dialog->property("contentItem").value<QQuickItem*>();
        itemsNamed(content, "characteriseTimeConstant").value(0)->setProperty("text", "0.02");
        itemsNamed(content, "characteriseTrigger").value(0)->setProperty("text", "0.05");
        click(itemsNamed(content, "characteriseStart").value(0));
        QTRY_VERIFY(dialog->property("running").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->property("running").toBool(), 60000);
        const QVariantMap report = dialog->property("report").toMap();
        QCOMPARE(report.value("outcome").toString(), QString("complete"));
        QVERIFY(report.value("points").toList().size() >= 40);
        QVERIFY(itemsNamed(content, "characteriseResult")
                    .value(0)
                    ->property("text")
                    .toString()
                    .contains("Recommended bias"));
        QTest::qWait(100);
        QVERIFY(m_main->grabWindow().save(shotPath("characterise-dialog")));

        QQuickItem* apply = itemsNamed(content, "characteriseApply").value(0);
        QTRY_VERIFY(apply->isEnabled());
        click(apply);
        const auto* sspd = qobject_cast<SimSspdM0*>(m_rack.unit.module(1));
        const double recommended = report.value("recommended_bias_A").toDouble();
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(const_cast<SimSspdM0*>(sspd)->physics().detectorCurrent() - recommended) < 1e-9,
            5000);

        click(itemsNamed(content, "characteriseClose").value(0));
        QTRY_VERIFY(!dialog->property("visible").toBool());
        WorkerAsync::instance()->setParameter(1, "current", 0.0);
        WorkerAsync::instance()->setParameter(1, "operate", false);
        QTRY_COMPARE_WITH_TIMEOUT(const_cast<SimSspdM0*>(sspd)->physics().bias(), 0.0, 5000);
        QVERIFY(QMetaObject::invokeMethod(m_main, "closeTab", Q_ARG(QVariant, index)));
        QCOMPARE(m_main->property("currentIndex").toInt(), 0);
    }

    void losingTheUnitBringsBackTheForm()
    {
        QVERIFY(QMetaObject::invokeMethod(WorkerAsync::instance(), "disconnect"));
        QTRY_VERIFY(m_welcome->isVisible());
        QVERIFY(m_welcome->property("formShown").toBool());
        QTRY_VERIFY(!m_main->isVisible());
        QQuickItem* form = itemsNamed(m_welcome->contentItem(), "connectionForm").value(0);
        QVERIFY(form);
        QTRY_COMPARE(form->opacity(), 1.0);
        QVERIFY(m_welcome->grabWindow().save(shotPath("connection-form")));

        WorkerAsync::instance()->connectToControlUnit(QStringLiteral("127.0.0.1"));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->isVisible(), 5000);
        QVERIFY(!m_welcome->isVisible());
        QCOMPARE(QSettings(StoredSettings::Organisation, StoredSettings::Application)
                     .value(StoredSettings::UnitAddressKey)
                     .toString(),
                 QStringLiteral("127.0.0.1"));
    }

    // The unit going away while the home view reads it brings back the connection form with
    // the reason; once the unit is back, connecting from the form restores the home view.
    void aLostUnitBringsBackTheForm()
    {
        QTRY_VERIFY(m_main->isVisible());
        m_rack.unit.stop();
        QTRY_VERIFY_WITH_TIMEOUT(m_welcome->isVisible(), 5000);
        QVERIFY(m_welcome->property("formShown").toBool());
        QTRY_VERIFY(!m_main->isVisible());
        QCOMPARE(WorkerAsync::instance()->statusText(),
                 QStringLiteral("Connection to 127.0.0.1 lost"));
        QVERIFY(WorkerAsync::instance()->GUIEnable());
        QVERIFY(m_welcome->grabWindow().save(shotPath("unit-lost")));

        QString error;
        QVERIFY2(m_rack.unit.start(&error), qPrintable(error));
        QQuickItem* go = itemsNamed(m_welcome->contentItem(), "goButton").value(0);
        QVERIFY(go);
        QTRY_VERIFY(go->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(go, "clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->isVisible(), 5000);
        QTRY_COMPARE(
            itemsNamed(m_main->contentItem(), "moduleList").value(0)->property("count").toInt(), 6);
    }

    // A time plot reading when its unit goes away stops with it: after connecting again the
    // tab bar is free and the tab can start once more.
    void aTimePlotThatLostItsUnitCanStartAgain()
    {
        QTRY_VERIFY(m_main->isVisible());
        QQuickItem* plus = itemsNamed(m_main->contentItem(), "plusButton").value(0);
        QVERIFY(ChartPages::chooseFromAddMenu(plus, "CPS(Time)"));
        QObject* page = ChartPages::currentPage(m_main);
        QObject* channels = ChartPages::panel(page, "activeChannels");
        QVERIFY(QMetaObject::invokeMethod(channels, "add", Q_ARG(QVariant, "SSPD 1")));
        QVERIFY(QMetaObject::invokeMethod(page, "start"));
        QVERIFY(page->property("reading").toBool());

        m_rack.unit.stop();
        QTRY_VERIFY_WITH_TIMEOUT(m_welcome->isVisible(), 5000);
        QVERIFY(!page->property("reading").toBool());
        QString error;
        QVERIFY2(m_rack.unit.start(&error), qPrintable(error));
        WorkerAsync::instance()->connectToControlUnit(QStringLiteral("127.0.0.1"));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->isVisible(), 5000);
        QVERIFY(itemsNamed(m_main->contentItem(), "tabBar").value(0)->isEnabled());
        QCOMPARE(m_main->property("currentIndex").toInt(), 0);
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
