// The program's side of the soak (scripts/soak.sh): the whole scene offscreen, connected to
// the unit at 127.0.0.1, with a CPS(Time) tab reading SSPD 1 to 8 at a 10 ms time constant.
// When the unit closes the connection the scene returns to its connection form; this driver
// then connects again as a user would, opens the tab again and starts it.
//
// Every reading the worker thread concludes (WorkerProcess::dataReady, one per channel and
// step) is judged once the screen side has taken it: "recorded" when the channel's series
// gained that point, "marked" when the channel's row in the device list shows the fault
// status, "lost" when neither. One line per reading goes to standard output:
//   EPOCH_MS,ADDRESS,recorded|marked|lost       (the time the worker emitted it)
// and "#" lines tell the connection's state and, once a second, how many readings wait for
// the screen side ("# waiting EPOCH_MS N"; with SOAK_TRACE set, also the scene's state once
// a second). It runs until SIGTERM or SIGINT.
#include "app/startup.h"
#include "engine/liveseries.h"
#include "engine/settings.h"
#include "engine/workerasync.h"
#include "engine/workerprocess.h"
#include "firmware/filemaphandler.h"
#include "firmware/fileserver.h"
#include "models/dataproviderlist.h"

#include <QApplication>
#include <QDateTime>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QSocketNotifier>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QXYSeries>

#include <csignal>
#include <deque>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Channels = 8;
constexpr double TimeConstantS = 0.01;
constexpr int StatusFault = 2; // DataProviderList::DeviceStatusFault

int signalPair[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPair[0], &byte, 1);
}

void quitOnSignals(QCoreApplication* app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
}

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QQuickItem* itemNamed(QQuickItem* item, const QString& name)
{
    if (item->objectName() == name)
        return item;
    for (QQuickItem* child : item->childItems()) {
        if (QQuickItem* found = itemNamed(child, name))
            return found;
    }
    return nullptr;
}

QObject* pageAt(QQuickWindow* main, int index)
{
    QVariant page;
    QMetaObject::invokeMethod(main, "pageAt", Q_RETURN_ARG(QVariant, page), Q_ARG(QVariant, index));
    return page.value<QObject*>();
}

// Opens the named tab from the "+" menu as a user would; the new page, or null.
QObject* openTab(QQuickWindow* main, const QString& name)
{
    QQuickItem* plus = itemNamed(main->contentItem(), "plusButton");
    QObject* menu = plus ? plus->findChild<QObject*>("addMenu") : nullptr;
    if (!menu)
        return nullptr;
    QMetaObject::invokeMethod(plus, "clicked");
    if (!QTest::qWaitFor([menu] { return menu->property("opened").toBool(); }))
        return nullptr;
    for (int i = 0; i < menu->property("count").toInt(); ++i) {
        QQuickItem* item = nullptr;
        QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, item), Q_ARG(int, i));
        if (item && item->property("text").toString() == name)
            QMetaObject::invokeMethod(item, "triggered");
    }
    QMetaObject::invokeMethod(menu, "close");
    return pageAt(main, main->property("currentIndex").toInt());
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cu-tavik"));
    quitOnSignals(&app);

    WorkerAsync* worker = startEngine();
    registerTavikQmlTypes();
    int status = 0;
    {
        FileMapHandler fileHandler;
        FileServer fileServer;
        QQmlApplicationEngine engine;
        prepareScene(&engine, &fileHandler, &fileServer, QStringLiteral("127.0.0.1"));
        engine.setInitialProperties(
            {{"splashDelay", 50}, {"connectionWait", 400}, {"splashAnimation", 50}});
        engine.load(QUrl(QString::fromLatin1(SceneUrl)));
        if (engine.rootObjects().isEmpty())
            return 1;
        QObject* root = engine.rootObjects().first();
        auto* main = root->property("mainWindow").value<QQuickWindow*>();
        QObject* page = nullptr;
        bool linked = false;

        // Channels whose series gained a point since their last reading was judged. Points
        // are counted as the engine appends them: at the 10 000-point cap a series keeps its
        // length, and readings taken in one burst can carry the same time and value.
        QSet<QString> appended;
        QObject::connect(worker->settings()->liveSeries(), &LiveSeries::pointAppended, &app,
                         [&appended](QXYSeries* series) { appended.insert(series->name()); });
        // Readings emitted on the worker thread, and those the screen side has taken: their
        // difference is the queue of readings still waiting for the screen.
        // Each reading is stamped when the worker emits it, so that a screen side that falls
        // behind shows as a queue, not as readings moved into a later phase.
        std::mutex stampsMutex;
        std::deque<qint64> stamps;
        QObject::connect(
            worker->process(), &WorkerProcess::dataReady, worker->process(),
            [&] {
                const std::lock_guard lock(stampsMutex);
                stamps.push_back(QDateTime::currentMSecsSinceEpoch());
            },
            Qt::DirectConnection);
        const auto takeStamp = [&] {
            const std::lock_guard lock(stampsMutex);
            const qint64 stamp = stamps.empty() ? 0 : stamps.front();
            if (!stamps.empty())
                stamps.pop_front();
            return stamp;
        };
        const auto waiting = [&] {
            const std::lock_guard lock(stampsMutex);
            return stamps.size();
        };
        // Queued after the worker's own connection, so the screen side has taken the
        // reading when this runs.
        QObject::connect(
            worker->process(), &WorkerProcess::dataReady, &app,
            [&](int address, const QHash<QString, QVariant>& record) {
                const qint64 stamp = takeStamp();
                if (address < 1 || address > Channels || !page ||
                    !page->property("reading").toBool())
                    return;
                const bool gained = appended.remove(QStringLiteral("SSPD %1").arg(address));
                QString result = QStringLiteral("lost");
                if (record.value("status").toInt() == StatusFault) {
                    for (const DataProviderItem& item : worker->dataList()->items()) {
                        if (item.value("address").toInt() == address &&
                            item.value("status").toInt() == StatusFault)
                            result = QStringLiteral("marked");
                    }
                } else if (gained) {
                    result = QStringLiteral("recorded");
                }
                out() << stamp << ',' << address << ',' << result << Qt::endl;
            },
            Qt::QueuedConnection);

        const auto startTab = [&] {
            if (!main->isVisible())
                return;
            if (!page) {
                page = openTab(main, QStringLiteral("CPS(Time)"));
                QObject* channels =
                    page ? page->property("activeChannels").value<QObject*>() : nullptr;
                if (!channels) {
                    out() << "# no CPS(Time) tab" << Qt::endl;
                    QCoreApplication::exit(1);
                    return;
                }
                for (int address = 1; address <= Channels; ++address)
                    QMetaObject::invokeMethod(
                        channels, "add", Q_ARG(QVariant, QStringLiteral("SSPD %1").arg(address)));
                worker->settings()->setTimeConstant(TimeConstantS);
            }
            if (!page->property("reading").toBool() && page->property("canStart").toBool()) {
                appended.clear();
                QMetaObject::invokeMethod(page, "start");
                out() << "# reading " << QDateTime::currentMSecsSinceEpoch() << Qt::endl;
            }
        };
        // Every connection starts the main window afresh on its home tab, with the chart
        // tabs emptied and hidden: the tab is opened and filled again.
        QObject::connect(worker, &WorkerAsync::connected, &app, [&] {
            linked = true;
            page = nullptr;
            out() << "# connected " << QDateTime::currentMSecsSinceEpoch() << Qt::endl;
        });
        QObject::connect(worker, &WorkerAsync::disconnected, &app, [&] {
            linked = false;
            out() << "# disconnected " << QDateTime::currentMSecsSinceEpoch() << Qt::endl;
        });
        // Once a second: a lost link is connected again from the connection form (when the
        // form takes input), and a main window without a reading tab gets it started.
        QTimer keeper;
        QObject::connect(&keeper, &QTimer::timeout, &app, [&] {
            out() << "# waiting " << QDateTime::currentMSecsSinceEpoch() << ' ' << waiting()
                  << Qt::endl;
            if (qEnvironmentVariableIsSet("SOAK_TRACE"))
                out() << "# state linked " << linked << " gui " << worker->GUIEnable() << " main "
                      << main->isVisible() << " reading "
                      << (page ? page->property("reading").toBool() : false) << " canStart "
                      << (page ? page->property("canStart").toBool() : false) << " status "
                      << worker->statusText().replace('\n', ' ') << " waiting " << waiting()
                      << Qt::endl;
            if (!linked && worker->GUIEnable())
                worker->connectToControlUnit(QStringLiteral("127.0.0.1"));
            else if (linked)
                startTab();
        });
        keeper.start(1000);
        status = QApplication::exec();
        if (page)
            QMetaObject::invokeMethod(page, "stop");
    }
    stopEngine();
    return status;
}
