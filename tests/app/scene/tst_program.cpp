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
        settings->setActiveChannel(channel);
        QObject* home = ChartPages::pageAt(m_main, 0);
        QVERIFY(QMetaObject::invokeMethod(home, "openOther", Q_ARG(QString, tab)));
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
        QTest::qWait(250);
        QVERIFY(m_main->grabWindow().save(shotPath(tab.replace(' ', '-'))));
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
