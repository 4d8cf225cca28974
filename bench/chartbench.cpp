// Fluidity of the live time plots: the whole scene offscreen with Qt Quick's software renderer,
// against the unit simulator in this process with 8 SSPD modules. A CPS(Time) tab records
// 8 channels, each series pre-filled to the 10 000-point cap; then the GUI thread's share of
// every monitoring step is timed: the 8 readings through WorkerAsync::updateData (device
// list and series append), WorkerAsync::updatePlot (chart rectangle), and the repaint, up to
// the window's last frameSwapped of the step. Frames are drawn by the software render loop on
// this thread: the chart view lays out its series for the new axes, renders its graphics scene
// into an image, and the scene graph paints the window's changed region, so the figure
// includes the software rendering of the chart.
// The same then with 1 channel, so that the cost per series shows.
//
// The window asks for 1280 x 800 (the offscreen screen may give less; the size is printed),
// the time axis windowed over 1000 s (10 000 points at 0.1 s),
// Y fixed from 0 to 10 000 cps (autoscale off). The worker thread reads nothing meanwhile (time
// constant 100 s): the readings are handed to the GUI thread's slots directly, as the queued
// signals would. Target: p90 of the GUI thread's own time per step (its CPU time) at most
// 16 ms (one frame at 60 Hz) with 8 channels and with 1. The wall time is printed beside it: it
// adds what the thread spends waiting for a CPU other processes hold (printed too) and for
// Qt's pool threads, which depends on the machine's load more than on the program.
//
// The simulator listens on loopback, so this runs inside a network namespace of its own
// (it refuses anywhere else):
//   scripts/netns-run -- build-bench/bench/tavik_chartbench [STEPS]
// STEPS (default 200) timed steps per channel count, after 20 to warm up.
// Exit status: 0 when the targets are met, 3 when one is missed, 1 when something broke.
#include "app/startup.h"
#include "benchsupport.h"
#include "chartpages.h"
#include "core/simenvironment.h"
#include "core/simmodulefactory.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "engine/mychartrect.h"
#include "engine/settings.h"
#include "engine/workerasync.h"
#include "firmware/filemaphandler.h"
#include "firmware/fileserver.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QXYSeries>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <vector>

namespace {

using Reading = QVariantHash;

constexpr int Channels = 8;
constexpr int CapPoints = 10000;
constexpr double PointSpacingMs = 100.0;
constexpr double WindowSeconds = 1000.0;
constexpr int DefaultSteps = 200;
constexpr int WarmUpSteps = 20;
constexpr double TargetP90Ms = 16.0;
constexpr int FrameTimeoutMs = 10000;
constexpr int QuietMs = 40;
constexpr double YTop = 10000.0;

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Time this thread spent ready to run while other processes had the CPUs (Linux schedstat:
// run time, run-queue wait, time slices). On a shared machine it is most of a step's wall time.
double threadWaitMs()
{
    FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
    unsigned long long run = 0, wait = 0;
    if (!f)
        return 0;
    const int read = std::fscanf(f, "%llu %llu", &run, &wait);
    std::fclose(f);
    return read == 2 ? double(wait) / 1e6 : 0;
}

struct Spread
{
    double median = 0;
    double p90 = 0;
    double max = 0;
};

Spread spread(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[size_t(q * double(samples.size() - 1))]; };
    return {at(0.5), at(0.9), samples.back()};
}

// Channel c counts about 1000 (c + 1) cps, give or take 300; on the fixed axis of 0 to
// 10 000 cps every series then draws a band of the same height, so each costs the same.
double countRate(unsigned& seed, int channel)
{
    seed = seed * 1664525u + 1013904223u;
    return 1000.0 * (channel + 1) + 600.0 * (double(seed >> 8) / double(1u << 24) - 0.5);
}

QList<QQuickItem*> itemsNamed(QQuickItem* item, const QString& name)
{
    QList<QQuickItem*> found;
    if (item->objectName() == name)
        found.append(item);
    for (QQuickItem* child : item->childItems())
        found.append(itemsNamed(child, name));
    return found;
}

// Runs this thread's events until the condition holds or the time is up.
bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

SimRack rackOfSspds()
{
    SimRack rack;
    for (int i = 1; i <= Channels; ++i) {
        SimRackModule module;
        module.address = quint8(i);
        module.identity = SimModuleFactory::defaultIdentity(QStringLiteral("VX9SDM0"), quint8(i));
        rack.modules.append(module);
    }
    return rack;
}

class ChartBench
{
public:
    bool start(QString* error)
    {
        if (!rackOfSspds().install(&m_unit, error) || !m_unit.start(error))
            return false;
        startEngine();
        registerTavikQmlTypes();
        m_fileHandler = new FileMapHandler(&m_engine);
        m_fileServer = new FileServer(&m_engine);
        prepareScene(&m_engine, m_fileHandler, m_fileServer, QStringLiteral("127.0.0.1"));
        m_engine.setInitialProperties(
            {{"splashDelay", 50}, {"connectionWait", 400}, {"splashAnimation", 50}});
        m_engine.load(QUrl(QString::fromLatin1(SceneUrl)));
        if (m_engine.rootObjects().size() != 1) {
            *error = QStringLiteral("the scene did not load");
            return false;
        }
        m_main = m_engine.rootObjects().first()->property("mainWindow").value<QQuickWindow*>();
        if (!m_main || !runUntil([this] { return m_main->isVisible(); }, 15000)) {
            *error = QStringLiteral("the main window did not open");
            return false;
        }
        m_main->resize(1280, 800);

        Settings* settings = WorkerAsync::instance()->settings();
        settings->setTimeConstant(100.0);
        settings->setMode(WorkerAsync::CpsVsTimeWindowed);
        settings->setTimeWindowSize(WindowSeconds);
        settings->setAutoscale(false);
        QQuickItem* plus = itemsNamed(m_main->contentItem(), QStringLiteral("plusButton")).value(0);
        if (!plus || !ChartPages::chooseFromAddMenu(plus, QStringLiteral("CPS(Time)"))) {
            *error = QStringLiteral("no CPS(Time) tab");
            return false;
        }
        m_page = ChartPages::currentPage(m_main);
        m_channels = m_page ? ChartPages::panel(m_page, "activeChannels") : nullptr;
        if (!m_channels) {
            *error = QStringLiteral("the CPS(Time) tab has no channel list");
            return false;
        }
        return true;
    }

    // Sets the tab to record `count` channels and fills every series to the cap.
    bool record(int count, QString* error)
    {
        QMetaObject::invokeMethod(m_page, "stop");
        for (int i = 1; i <= Channels; ++i) {
            const QString name = QStringLiteral("SSPD %1").arg(i);
            QMetaObject::invokeMethod(m_channels, i <= count ? "add" : "remove",
                                      Q_ARG(QVariant, name));
        }
        QMetaObject::invokeMethod(m_page, "start");
        const QList<QAbstractSeries*> series = WorkerAsync::instance()->settings()->series();
        if (series.size() != count) {
            *error = QStringLiteral("%1 series recording, not %2").arg(series.size()).arg(count);
            return false;
        }
        const double now = double(QDateTime::currentMSecsSinceEpoch());
        unsigned seed = 7;
        for (int c = 0; c < count; ++c) {
            QList<QPointF> points;
            points.reserve(CapPoints);
            for (int i = 0; i < CapPoints; ++i)
                points.append(QPointF(now - (CapPoints - i) * PointSpacingMs, countRate(seed, c)));
            qobject_cast<QXYSeries*>(series.at(c))->replace(points);
        }
        MyChartRect* rect = WorkerAsync::instance()->settings()->chartRect();
        rect->setBottom(0.0);
        rect->setTop(YTop);
        m_count = count;
        return true;
    }

    // One monitoring step as the GUI thread sees it: every channel's reading, the chart
    // rectangle, and the frame that shows them. False when no frame came. The slots are called
    // as the worker's queued signals call them, through the meta-object.
    bool step(double* wallMs, double* cpuMs, double* waitMs, double* dataMs, double* plotMs)
    {
        WorkerAsync* worker = WorkerAsync::instance();
        QElapsedTimer wall;
        const double cpu0 = threadCpuMs();
        const double wait0 = threadWaitMs();
        wall.start();
        for (int c = 0; c < m_count; ++c) {
            Reading reading{{QStringLiteral("cps"), countRate(m_seed, c)},
                            {QStringLiteral("status"), 1}};
            QMetaObject::invokeMethod(worker, "updateData", Q_ARG(int, c + 1),
                                      Q_ARG(QVariantHash, reading));
        }
        *dataMs = double(wall.nsecsElapsed()) / 1e6;
        QMetaObject::invokeMethod(worker, "updatePlot");
        *plotMs = double(wall.nsecsElapsed()) / 1e6 - *dataMs;

        // The chart view draws its graphics scene on a zero timer after the scene reports
        // the change, so the step's first frame may not show it yet: the step lasts until
        // its last frame, when no further frame follows within QuietMs.
        int frames = 0;
        QEventLoop loop;
        QTimer quiet;
        quiet.setSingleShot(true);
        QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
        const auto swapped = QObject::connect(m_main, &QQuickWindow::frameSwapped, &loop, [&] {
            ++frames;
            *wallMs = double(wall.nsecsElapsed()) / 1e6;
            *cpuMs = threadCpuMs() - cpu0;
            *waitMs = threadWaitMs() - wait0;
            quiet.start(QuietMs);
        });
        quiet.start(FrameTimeoutMs);
        loop.exec();
        QObject::disconnect(swapped);
        return frames > 0;
    }

    QQuickWindow* window() const { return m_main; }
    QQuickItem* chartView() const
    {
        return itemsNamed(m_main->contentItem(), QStringLiteral("chartView")).value(0);
    }

private:
    SimEnvironment m_environment{11};
    SimUnit m_unit{&m_environment};
    QQmlApplicationEngine m_engine;
    FileMapHandler* m_fileHandler = nullptr;
    FileServer* m_fileServer = nullptr;
    QQuickWindow* m_main = nullptr;
    QObject* m_page = nullptr;
    QObject* m_channels = nullptr;
    int m_count = 0;
    unsigned m_seed = 11;
};

struct Figures
{
    Spread wall;
    Spread cpu;
    Spread wait; // ready to run, but other processes had the CPUs
    Spread data; // the readings: device list and series appends
    Spread plot; // the chart rectangle, with the axes and chart geometry that follow it
};

bool measure(ChartBench& bench, int count, int steps, Figures* figures)
{
    QString error;
    if (!bench.record(count, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    std::vector<double> wall, cpu, wait, data, plot;
    for (int i = 0; i < WarmUpSteps + steps; ++i) {
        double w = 0, c = 0, q = 0, d = 0, p = 0;
        if (!bench.step(&w, &c, &q, &d, &p)) {
            std::fprintf(stderr, "no frame within %d ms after step %d\n", FrameTimeoutMs, i);
            return false;
        }
        if (i >= WarmUpSteps) {
            wall.push_back(w);
            cpu.push_back(c);
            wait.push_back(q);
            data.push_back(d);
            plot.push_back(p);
        }
    }
    *figures = {spread(wall), spread(cpu), spread(wait), spread(data), spread(plot)};
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int steps = DefaultSteps;
    if (argc > 2 || (argc == 2 && (steps = std::atoi(argv[1])) < 10)) {
        std::fprintf(stderr, "usage: %s [STEPS]   (default %d, at least 10)\n", argv[0],
                     DefaultSteps);
        return 1;
    }
    if (!onlyLoopbackPresent()) {
        std::fprintf(stderr, "%s opens sockets: run it through scripts/netns-run -- %s\n", argv[0],
                     argv[0]);
        return 1;
    }
    // Settings stay in a scratch directory; the scene renders offscreen in software, and a
    // requested frame is drawn at once rather than after the platform's idle delay.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nqt.*.warning=false"));
    QApplication app(argc, argv);

    int status = 0;
    {
        ChartBench bench;
        QString error;
        if (!bench.start(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        Figures eight, one;
        if (!measure(bench, Channels, steps, &eight) || !measure(bench, 1, steps, &one))
            return 1;
        const QQuickItem* chart = bench.chartView();
        std::printf("CPS(Time) tab offscreen, software renderer, window %dx%d, chart %dx%d; "
                    "%d points per series (0.1 s apart, 1000 s window, Y fixed 0 to 10000 cps);\n"
                    "per step: updateData for every channel, updatePlot, up to the window's last "
                    "frameSwapped (none for %d ms after it); %d steps each after %d to warm up\n",
                    bench.window()->width(), bench.window()->height(),
                    chart ? int(chart->width()) : 0, chart ? int(chart->height()) : 0, CapPoints,
                    QuietMs, steps, WarmUpSteps);
        const auto line = [&](int count, const Figures& f) {
            const bool met = f.cpu.p90 <= TargetP90Ms;
            std::printf("%d channel%s  step wall median %6.2f ms  p90 %6.2f ms  max %6.2f ms   "
                        "GUI thread CPU median %6.2f ms  p90 %6.2f ms   target p90 <= %.0f ms  "
                        "%s\n",
                        count, count == 1 ? " " : "s", f.wall.median, f.wall.p90, f.wall.max,
                        f.cpu.median, f.cpu.p90, TargetP90Ms, met ? "PASS" : "FAIL");
            std::printf(
                "            of which readings median %6.2f ms, chart rectangle median %6.2f "
                "ms; the rest: axes, chart layout, the frame\n",
                f.data.median, f.plot.median);
            std::printf("            waiting for a CPU taken by other processes: median %6.2f ms  "
                        "p90 %6.2f ms\n",
                        f.wait.median, f.wait.p90);
            if (!met)
                status = 3;
        };
        line(Channels, eight);
        line(1, one);
        std::printf("per extra series (median): %.2f ms\n",
                    (eight.wall.median - one.wall.median) / (Channels - 1));
    }
    // The windows hand their scene graphs to deferred deletes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    stopEngine();
    return status;
}
