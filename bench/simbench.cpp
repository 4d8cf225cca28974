// Throughput of the unit simulator: with 32 modules plugged in, one client reads data
// structures one after the other (request, wait for the answer, next module) and the
// program prints answers per second and the simulator's processor time per answer. The
// simulator runs on a thread of its own with its event loop, the client on the main thread
// with a plain blocking socket, so the figure is the simulator's, not a driver stack's.
// Target: at least 20 000 answers per second, so that the simulator never limits a
// benchmark of the application.
//
// It opens sockets, so it runs inside a network namespace of its own, where only loopback
// exists (it refuses to run anywhere else):
//   scripts/netns-run -- build-bench/bench/tavik_simbench [READS]
// READS defaults to 10000, after a tenth as many to warm up.
// Exit status: 0 when the target is met, 3 when it is missed, 1 when something broke.
#include "benchsupport.h"
#include "core/simenvironment.h"
#include "core/simmodulefactory.h"
#include "core/simunit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int DefaultReads = 10000;
constexpr int ModuleCount = 32;
constexpr double TargetAnswersPerSecond = 20000;
constexpr quint8 DataCode = 16; // the live data structure of SSPD and temperature model 0

double threadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

bool readFully(int fd, char* buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(fd, buffer + done, size - done, 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// One read of module address's data structure; false if the answer is not what a module
// sends.
bool readData(int fd, quint8 address)
{
    const char request[3] = {char(address), char(DataCode), 0};
    if (::send(fd, request, 3, 0) != 3)
        return false;
    char header[3];
    if (!readFully(fd, header, 3) || quint8(header[0]) != address ||
        quint8(header[1]) != DataCode || quint8(header[2]) == 0)
        return false;
    char data[255];
    return readFully(fd, data, quint8(header[2]));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int reads = DefaultReads;
    if (argc > 2 || (argc == 2 && (reads = std::atoi(argv[1])) < 1)) {
        std::fprintf(stderr, "usage: %s [READS]   (default %d)\n", argv[0], DefaultReads);
        return 1;
    }
    if (!onlyLoopbackPresent()) {
        std::fprintf(stderr, "%s opens sockets: run it through scripts/netns-run -- %s\n", argv[0],
                     argv[0]);
        return 1;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("tavik.sim.info=false"));
    const int cpu = pinToCurrentCpu();
    if (cpu < 0) {
        std::fprintf(stderr, "cannot keep to one CPU: %s\n", std::strerror(errno));
        return 1;
    }

    // The simulator and its modules live on their own thread.
    QThread simThread;
    simThread.setObjectName(QStringLiteral("simulator"));
    auto* environment = new SimEnvironment(1);
    auto* unit = new SimUnit(environment, environment);
    const QStringList types = {"VX9SDM0", "VX9SDM1", "VX9TDM0", "VX9SDM0"};
    for (int i = 0; i < ModuleCount; ++i) {
        const QString type = types.at(i % types.size());
        const auto address = quint8(i + 1);
        unit->addModule(SimModuleFactory::create(
            type, address, SimModuleFactory::defaultIdentity(type, address), environment));
    }
    unit->setPort(0);
    environment->moveToThread(&simThread);
    simThread.start();
    bool started = false;
    QMetaObject::invokeMethod(
        unit, [&] { started = unit->start(); }, Qt::BlockingQueuedConnection);
    if (!started) {
        std::fprintf(stderr, "the simulator cannot listen\n");
        return 1;
    }

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(unit->serverPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "cannot connect: %s\n", std::strerror(errno));
        return 1;
    }

    const auto simCpu = [&] {
        double seconds = 0;
        QMetaObject::invokeMethod(
            unit, [&] { seconds = threadCpuSeconds(); }, Qt::BlockingQueuedConnection);
        return seconds;
    };
    const int warmUp = std::max(10, reads / 10);
    for (int i = 0; i < warmUp; ++i) {
        if (!readData(fd, quint8(i % ModuleCount + 1))) {
            std::fprintf(stderr, "warm-up read %d failed\n", i);
            return 1;
        }
    }

    const double simCpuBefore = simCpu();
    const double processCpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < reads; ++i) {
        if (!readData(fd, quint8(i % ModuleCount + 1))) {
            std::fprintf(stderr, "read %d failed\n", i);
            return 1;
        }
    }
    const double seconds = double(wall.nsecsElapsed()) * 1e-9;
    const double processCpu = processCpuSeconds() - processCpuBefore;
    const double simulatorCpu = simCpu() - simCpuBefore;
    ::close(fd);

    const double rate = reads / seconds;
    std::printf("simulator: %d modules, %d data reads by one client, one at a time, all threads "
                "on CPU %d\n",
                ModuleCount, reads, cpu);
    std::printf("  answers per second        %10.0f   (target >= %.0f)\n", rate,
                TargetAnswersPerSecond);
    std::printf("  wall time per answer      %10.1f us\n", seconds / reads * 1e6);
    std::printf("  simulator CPU per answer  %10.1f us\n", simulatorCpu / reads * 1e6);
    std::printf("  process CPU per answer    %10.1f us   (simulator and client)\n",
                processCpu / reads * 1e6);

    QMetaObject::invokeMethod(
        unit, [&] { delete environment; }, Qt::BlockingQueuedConnection);
    simThread.quit();
    simThread.wait();
    const bool met = rate >= TargetAnswersPerSecond;
    std::printf("%s\n", met ? "target met" : "TARGET MISSED");
    return met ? 0 : 3;
}
