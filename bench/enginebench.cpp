// Figures of the measurement engine against the unit simulator (cu-tavik-sim, started as a
// child process on 127.0.0.1:9876 with 16 SSPD modules), so that the processor time of this
// process is the engine's alone:
//  (1) idle cost: a connected WorkerProcess on its own thread, first with nothing to do
//      (mode 9), then in the home view (mode 0, every module once a second), each for 10 s:
//      process CPU time over wall time;
//  (2) one home view pass (readChannel(driver, 0) over all 16 modules, two round trips per
//      module) against 32 single round trips of a small module packet on the same link,
//      in alternation, medians over many of each;
//  (3) a 200-step current sweep at a 10 ms time constant: wall time per point, from the
//      first step's progress signal to sweepFinished, less the time constant.
//
// It opens sockets, so it runs inside a network namespace of its own, where only loopback
// exists (it refuses to run anywhere else):
//   scripts/netns-run -- build-bench/bench/tavik_enginebench [PASSES]
// PASSES (default 200) is the number of timed home view passes of (2), and of timed groups
// of 32 round trips. Runs for about 25 s.
// This process and the simulator run on one CPU, as in tavik_linkbench: on a virtual
// machine a wake-up across CPUs costs 15 to 70 us depending on where the scheduler puts the
// two ends, which would swing (2) and (3) from run to run; on one CPU every round trip pays
// the same two context switches.
// Exit status: 0 when every target is met, 3 when one is missed, 1 when something broke.
#include "benchsupport.h"
#include "drivers/abstractdriver.h"
#include "drivers/sspddriverm0.h"
#include "engine/workerasync.h"
#include "engine/workerprocess.h"
#include "link/cutcpsocketiointerface.h"
#include "link/eventwait.h"
#include "link/unitports.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int ModuleCount = 16;
constexpr quint16 UnitPort = UnitPorts::Unit;
constexpr int DefaultPasses = 200;
constexpr int RoundTripsPerPass = 2 * ModuleCount;
constexpr int IdleSeconds = 10;
constexpr int StartTimeoutMs = 5000;

// The sweep: 0 to 20 uA in 0.1 uA steps at 10 ms; the trigger is far above any voltage the
// detector shows, so the sweep always runs to its end.
constexpr double SweepFrom = 0.0;
constexpr double SweepTo = 20e-6;
constexpr double SweepStep = 0.1e-6;
constexpr double SweepTimeConstant = 0.01;
constexpr double SweepTrigger = 1e3;
// The start sequence alone takes more than a second (settling, then the short removal).
constexpr int SweepTimeoutMs = 30000;

constexpr double IdleTarget = 0.01;
constexpr double HomeViewTarget = 0.03;
constexpr double PassRatioTarget = 3.0;
constexpr double SweepOverheadTargetMs = 2.0;

using ModeId = WorkerAsync::WorkerMode;
using CommandId = WorkerAsync::WorkerCommands;

double seconds(const timespec& t)
{
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return seconds(t);
}

// CPU time of another thread of this process; -1 when it cannot be read.
double threadCpuSeconds(pthread_t thread)
{
    clockid_t clock{};
    timespec t{};
    if (::pthread_getcpuclockid(thread, &clock) != 0 || ::clock_gettime(clock, &t) != 0)
        return -1.0;
    return seconds(t);
}

// Runs this thread's events until done() holds; the thread sleeps in its dispatcher.
bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    return cuWaitForEvents(done, timeoutMs);
}

void runEvents(int ms)
{
    cuWaitForEvents([] { return false; }, ms);
}

struct Spread
{
    double median = 0;
    double p10 = 0;
    double p90 = 0;
};

Spread spread(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[size_t(q * double(samples.size() - 1))]; };
    return {at(0.5), at(0.1), at(0.9)};
}

const char* verdict(bool met)
{
    return met ? "PASS" : "FAIL";
}

// The rack: SSPD modules of model 0 at addresses 1 to 16 with the simulator's default
// physics.
QByteArray rackJson()
{
    QJsonArray modules;
    for (int address = 1; address <= ModuleCount; ++address) {
        modules.append(QJsonObject{
            {"address", address},
            {"type", "VX9SDM0"},
            {"description", QStringLiteral("SSPD channel %1").arg(address)},
            {"firmware", "1.3.2"},
            {"hardware", "2"},
            {"modification", "1"},
            {"udid", QStringLiteral("5456-4B00-0001-0000-0000-%1")
                         .arg(address, 4, 16, QLatin1Char('0'))
                         .toUpper()},
        });
    }
    const QJsonObject rack{{"unit", QJsonObject{{"oldUnit", false}, {"softwareVersion", "1.4.0"}}},
                           {"modules", modules}};
    return QJsonDocument(rack).toJson();
}

// The simulator as a child process; its output is kept for the report of a failed start.
class Simulator
{
public:
    ~Simulator() { stop(); }

    bool start(const QString& rackFile)
    {
        m_process.setProgram(QStringLiteral(TAVIK_SIM_PROGRAM));
        m_process.setArguments({"--port", QString::number(UnitPort), "--rack", rackFile});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        // Should this program die, the simulator must not keep the namespace alive.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { m_output += m_process.readAllStandardOutput(); });
        m_process.start();
        // The program says so once it listens.
        const bool listening = waitUntil(
            [this] {
                return m_output.contains("listening") || m_process.state() == QProcess::NotRunning;
            },
            StartTimeoutMs);
        if (!listening || m_process.state() != QProcess::Running) {
            std::fprintf(stderr, "%s did not start: %s\n", TAVIK_SIM_PROGRAM, m_output.constData());
            return false;
        }
        return true;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(StartTimeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(StartTimeoutMs);
        }
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

// ---- (2) home view pass against single round trips ----------------------------------

struct PassFigures
{
    Spread pass;       // us, one readChannel(driver, 0) over every module
    Spread stackTrips; // us, 32 time constant reads through the driver stack
    Spread rawTrips;   // us, 32 of the same request on a bare socket
};

int connectRawSocket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(UnitPort);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "cannot connect a bare socket: %s\n", std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// The time constant of module 1: a 3-byte request and a 7-byte answer, blocking on both
// sides of the call; the floor that no driver stack can beat.
bool rawRoundTrip(int fd)
{
    const char request[3] = {1, char(SspdDriverM0::CodeTimeConstRead), 0};
    if (::send(fd, request, sizeof request, MSG_NOSIGNAL) != ssize_t(sizeof request))
        return false;
    char answer[7];
    size_t got = 0;
    while (got < sizeof answer) {
        const ssize_t n = ::recv(fd, answer + got, sizeof answer - got, 0);
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    return answer[0] == 1 && quint8(answer[1]) == SspdDriverM0::CodeTimeConstRead && answer[2] == 4;
}

// Passes and groups of round trips alternate, so that any drift of the machine's load
// falls on both alike.
bool measureHomeViewPass(int passes, PassFigures* figures)
{
    WorkerProcess process;
    process.connectToUnit(QStringLiteral("127.0.0.1"));
    const QList<AbstractDriver*> drivers = process.drivers();
    if (drivers.size() != ModuleCount) {
        std::fprintf(stderr, "the engine found %d modules, not %d\n", int(drivers.size()),
                     ModuleCount);
        return false;
    }
    auto* module = qobject_cast<SspdDriverM0*>(drivers.first());
    const int fd = connectRawSocket();
    if (!module || fd < 0)
        return false;

    int readings = 0;
    QObject::connect(&process, &WorkerProcess::dataReady, [&readings] { ++readings; });
    const auto pass = [&] {
        for (AbstractDriver* driver : drivers) {
            if (!process.readChannel(driver, 0))
                return false;
        }
        return true;
    };
    const auto stackTrips = [&] {
        for (int i = 0; i < RoundTripsPerPass; ++i) {
            bool ok = false;
            module->timeConst()->read(&ok, 1);
            if (!ok)
                return false;
        }
        return true;
    };
    const auto rawTrips = [&] {
        for (int i = 0; i < RoundTripsPerPass; ++i) {
            if (!rawRoundTrip(fd))
                return false;
        }
        return true;
    };
    const auto timed = [](const auto& work, std::vector<double>* samples, bool keep) {
        QElapsedTimer timer;
        timer.start();
        if (!work())
            return false;
        if (keep)
            samples->push_back(double(timer.nsecsElapsed()) / 1000.0);
        return true;
    };

    std::vector<double> passSamples;
    std::vector<double> stackSamples;
    std::vector<double> rawSamples;
    const int warmUp = std::max(5, passes / 10);
    bool ok = true;
    for (int i = 0; ok && i < warmUp + passes; ++i) {
        const bool keep = i >= warmUp;
        ok = timed(pass, &passSamples, keep) && timed(stackTrips, &stackSamples, keep) &&
             timed(rawTrips, &rawSamples, keep);
    }
    ::close(fd);
    if (!ok || readings != (warmUp + passes) * ModuleCount) {
        std::fprintf(stderr, "a reading failed (%d of %d module readings arrived)\n", readings,
                     (warmUp + passes) * ModuleCount);
        return false;
    }
    figures->pass = spread(std::move(passSamples));
    figures->stackTrips = spread(std::move(stackSamples));
    figures->rawTrips = spread(std::move(rawSamples));
    return true;
}

// ---- (1) and (3): the engine on its own thread --------------------------------------

// A WorkerProcess on its thread, as the application runs it; its signals are counted on
// the worker thread itself (direct connections), so that the bench's thread stays asleep
// while the engine is measured. Only connected() and sweepFinished() also reach this thread,
// to end its waits.
class ThreadedEngine
{
public:
    ThreadedEngine()
    {
        m_thread.setObjectName(QStringLiteral("WorkerThread"));
        m_process->moveToThread(&m_thread);
        QObject::connect(m_process, &WorkerProcess::finished, &m_thread, &QThread::quit);
        QObject::connect(m_process, &WorkerProcess::finished, m_process, &QObject::deleteLater);
        QObject::connect(m_process, &WorkerProcess::deviceListUpdated, &m_receiver,
                         [this](const QJsonObject& list) {
                             m_modules = list.value(QLatin1String("count")).toInt();
                         });
        QObject::connect(m_process, &WorkerProcess::connected, &m_receiver,
                         [this] { ++m_connects; });
        QObject::connect(
            m_process, &WorkerProcess::dataReady, m_process,
            [this] { m_readings.fetch_add(1, std::memory_order_relaxed); }, Qt::DirectConnection);
        QObject::connect(
            m_process, &WorkerProcess::sweepProgress, m_process,
            [this](double) { m_progressNs.push_back(m_clock.nsecsElapsed()); },
            Qt::DirectConnection);
        QObject::connect(
            m_process, &WorkerProcess::sweepFinished, m_process,
            [this] { m_finishedNs = m_clock.nsecsElapsed(); }, Qt::DirectConnection);
        QObject::connect(m_process, &WorkerProcess::sweepFinished, &m_receiver,
                         [this] { m_sweepDone = true; });
        m_clock.start();
    }

    ~ThreadedEngine()
    {
        m_thread.requestInterruption();
        m_thread.quit();
        m_thread.wait();
    }

    void start()
    {
        m_thread.start();
        // Asked before the loop starts: the loop runs inside the delivery of a posted call,
        // and calls already queued behind that one when its delivery began wait until some
        // later call is posted.
        QMetaObject::invokeMethod(
            m_process, [this] { m_threadHandle = ::pthread_self(); }, Qt::BlockingQueuedConnection);
        QMetaObject::invokeMethod(m_process, &WorkerProcess::runProcess, Qt::QueuedConnection);
    }

    bool connectToUnit()
    {
        m_process->addCommand(CommandId::CommandConnect, QStringLiteral("127.0.0.1"));
        if (!waitUntil([this] { return m_connects > 0; }, StartTimeoutMs))
            return false;
        if (m_modules != ModuleCount) {
            std::fprintf(stderr, "the engine found %d modules, not %d\n", m_modules, ModuleCount);
            return false;
        }
        return true;
    }

    void setMode(ModeId mode) { m_process->addCommand(CommandId::CommandSetMode, int(mode)); }

    struct Idle
    {
        double processShare = 0;
        double workerShare = 0;
        double wallSeconds = 0;
        int readings = 0;
        quint64 passes = 0;
    };

    // The bench's thread sleeps meanwhile: nothing is posted to it.
    Idle measureIdle(int ms)
    {
        const int readingsBefore = m_readings.load();
        const quint64 passesBefore = m_process->loopPasses();
        const double processBefore = processCpuSeconds();
        const double workerBefore = threadCpuSeconds(m_threadHandle);
        QElapsedTimer wall;
        wall.start();
        runEvents(ms);
        Idle idle;
        idle.wallSeconds = double(wall.nsecsElapsed()) * 1e-9;
        idle.processShare = (processCpuSeconds() - processBefore) / idle.wallSeconds;
        idle.workerShare = (threadCpuSeconds(m_threadHandle) - workerBefore) / idle.wallSeconds;
        idle.readings = m_readings.load() - readingsBefore;
        idle.passes = m_process->loopPasses() - passesBefore;
        return idle;
    }

    struct Sweep
    {
        int points = 0;
        double perPointMs = 0;
        double startSequenceMs = 0;
        Spread stepMs;
    };

    bool runSweep(Sweep* sweep)
    {
        const QVariantMap parameters{{"from", SweepFrom},
                                     {"to", SweepTo},
                                     {"step", SweepStep},
                                     {"time_constant", SweepTimeConstant},
                                     {"trigger", SweepTrigger}};
        m_sweepDone = false;
        m_progressNs.clear();
        m_finishedNs = 0;
        const qint64 startNs = m_clock.nsecsElapsed();
        m_process->addCommand(CommandId::CommandSweepParams, parameters);
        m_process->addCommand(CommandId::CommandSetActiveChannels,
                              QVariant::fromValue(QList<int>{1}));
        m_process->addCommand(CommandId::CommandSetMode, int(ModeId::WorkerModeCpsVersCurrent));
        if (!waitUntil([this] { return m_sweepDone; }, SweepTimeoutMs)) {
            std::fprintf(stderr, "the sweep did not finish within %d ms\n", SweepTimeoutMs);
            return false;
        }
        // The worker has emitted everything it will: sweepFinished came after the last.
        // The first progress signal comes from the start sequence, the last one from the
        // end of the sweep; the ones between are the steps.
        const std::vector<qint64> progress = m_progressNs;
        if (progress.size() < 3) {
            std::fprintf(stderr, "the sweep made no steps\n");
            return false;
        }
        const std::vector<qint64> steps(progress.begin() + 1, progress.end() - 1);
        sweep->points = int(steps.size());
        sweep->perPointMs = double(m_finishedNs - steps.front()) * 1e-6 / sweep->points;
        sweep->startSequenceMs = double(steps.front() - startNs) * 1e-6;
        std::vector<double> periods;
        for (size_t i = 1; i < steps.size(); ++i)
            periods.push_back(double(steps[i] - steps[i - 1]) * 1e-6);
        periods.push_back(double(m_finishedNs - steps.back()) * 1e-6);
        sweep->stepMs = spread(std::move(periods));
        return true;
    }

private:
    QThread m_thread;
    WorkerProcess* m_process = new WorkerProcess;
    QObject m_receiver;
    pthread_t m_threadHandle{};
    int m_connects = 0;
    int m_modules = 0;
    bool m_sweepDone = false;
    std::atomic<int> m_readings{0};
    QElapsedTimer m_clock;
    // Written on the worker thread while a sweep runs, read here once it has finished.
    std::vector<qint64> m_progressNs;
    qint64 m_finishedNs = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int passes = DefaultPasses;
    if (argc > 2 || (argc == 2 && (passes = std::atoi(argv[1])) < 1)) {
        std::fprintf(stderr, "usage: %s [PASSES]   (default %d)\n", argv[0], DefaultPasses);
        return 1;
    }
    if (!onlyLoopbackPresent()) {
        std::fprintf(stderr, "%s opens sockets: run it through scripts/netns-run -- %s\n", argv[0],
                     argv[0]);
        return 1;
    }
    // Pinned before the simulator starts, which inherits the CPU.
    const int cpu = pinToCurrentCpu();
    if (cpu < 0) {
        std::fprintf(stderr, "cannot keep to one CPU: %s\n", std::strerror(errno));
        return 1;
    }

    QTemporaryDir directory;
    const QString rackFile = directory.filePath(QStringLiteral("rack.json"));
    QFile rack(rackFile);
    if (!directory.isValid() || !rack.open(QIODevice::WriteOnly) || rack.write(rackJson()) < 0 ||
        !rack.flush()) {
        std::fprintf(stderr, "cannot write the rack file\n");
        return 1;
    }
    rack.close();
    Simulator simulator;
    if (!simulator.start(rackFile))
        return 1;
    std::printf("engine against cu-tavik-sim on 127.0.0.1:%u with %d SSPD modules; this process "
                "and the simulator on CPU %d\n",
                UnitPort, ModuleCount, cpu);
    std::fflush(stdout);

    PassFigures pass;
    if (!measureHomeViewPass(passes, &pass))
        return 1;

    ThreadedEngine engine;
    engine.start();
    if (!engine.connectToUnit()) {
        std::fprintf(stderr, "the engine did not connect\n");
        return 1;
    }
    engine.setMode(ModeId::WorkerModeNoAction);
    const ThreadedEngine::Idle idle = engine.measureIdle(IdleSeconds * 1000);
    engine.setMode(ModeId::WorkerModeAllChannels);
    const ThreadedEngine::Idle home = engine.measureIdle(IdleSeconds * 1000);
    engine.setMode(ModeId::WorkerModeNoAction);
    ThreadedEngine::Sweep sweep;
    if (!engine.runSweep(&sweep))
        return 1;

    const bool idleMet = idle.processShare <= IdleTarget;
    const bool homeMet = home.processShare <= HomeViewTarget;
    const double ratio = pass.pass.median / pass.stackTrips.median;
    const bool ratioMet = ratio <= PassRatioTarget;
    const double overheadMs = sweep.perPointMs - SweepTimeConstant * 1000.0;
    const bool sweepMet = overheadMs <= SweepOverheadTargetMs;

    std::printf("(1) idle, connected, mode 9, %.1f s        CPU/wall %.4f   target <= %.2f   %s"
                "   (worker thread %.4f, %llu loop passes)\n",
                idle.wallSeconds, idle.processShare, IdleTarget, verdict(idleMet), idle.workerShare,
                static_cast<unsigned long long>(idle.passes));
    std::printf("    home view, mode 0, %.1f s             CPU/wall %.4f   target <= %.2f   %s"
                "   (worker thread %.4f, %d module readings)\n",
                home.wallSeconds, home.processShare, HomeViewTarget, verdict(homeMet),
                home.workerShare, home.readings);
    std::printf("(2) home view pass, %d modules            median %8.1f us  (p10 %.1f, p90 %.1f)"
                ", %d passes\n",
                ModuleCount, pass.pass.median, pass.pass.p10, pass.pass.p90, passes);
    std::printf("    %d time constant reads, driver stack  median %8.1f us  (p10 %.1f, p90 %.1f)"
                "\n",
                RoundTripsPerPass, pass.stackTrips.median, pass.stackTrips.p10,
                pass.stackTrips.p90);
    std::printf("    %d time constant reads, bare socket   median %8.1f us  (p10 %.1f, p90 %.1f)"
                "\n",
                RoundTripsPerPass, pass.rawTrips.median, pass.rawTrips.p10, pass.rawTrips.p90);
    std::printf("    pass / %d driver stack round trips    %8.2f          target <= %.0f      %s"
                "   (pass / %d bare: %.2f)\n",
                RoundTripsPerPass, ratio, PassRatioTarget, verdict(ratioMet), RoundTripsPerPass,
                pass.pass.median / pass.rawTrips.median);
    std::printf("(3) current sweep, %d points at %.0f ms   per point %.2f ms, overhead %.2f ms"
                "   target <= %.0f ms   %s\n",
                sweep.points, SweepTimeConstant * 1000.0, sweep.perPointMs, overheadMs,
                SweepOverheadTargetMs, verdict(sweepMet));
    std::printf("    step period median %.2f ms (p10 %.2f, p90 %.2f); start sequence %.0f ms, "
                "not counted\n",
                sweep.stepMs.median, sweep.stepMs.p10, sweep.stepMs.p90, sweep.startSequenceMs);
    return idleMet && homeMet && ratioMet && sweepMet ? 0 : 3;
}
