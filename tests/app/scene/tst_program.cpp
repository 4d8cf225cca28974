// The whole scene offscreen against the simulated demo rack: the connection flow reaches the
// main window, the home list shows the rack's modules with live values, and losing the unit
// brings back the connection form. Any warning of the QML engine fails the test.
#include "app/startup.h"
#include "enginetestsupport.h"
#include "firmware/filemaphandler.h"
#include "firmware/fileserver.h"
#include "link/storedsettings.h"
#include "models/datamodel.h"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>

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

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_rack.start(&error), qPrintable(error));
        s_previousHandler = qInstallMessageHandler(recordQmlMessages);

        startEngine();
        registerTavikQmlTypes();
        m_fileHandler = new FileMapHandler(this);
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
        // SSPD rows show current and count rate, the temperature row its reading.
        QTRY_VERIFY_WITH_TIMEOUT(rowTexts().count() == 6 && rowTexts().at(0).contains(" cps") &&
                                     !rowTexts().at(0).contains("---") &&
                                     rowTexts().at(3).endsWith(" K"),
                                 5000);
        QVERIFY(m_main->grabWindow().save(shotPath("home")));
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
        // Their pages do not exist yet: every entry is there but none can be chosen.
        for (int i = 0; i < 6; ++i) {
            QQuickItem* item = nullptr;
            QVERIFY(QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, item),
                                              Q_ARG(int, i)));
            QVERIFY(!item->isEnabled());
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
