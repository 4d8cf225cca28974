// Figures of the TCP link to the unit, against a stand-in unit on 127.0.0.1:
//  (a) the round trip of one bare 3-byte request and its 7-byte answer on a plain socket,
//      the floor that no driver stack can beat;
//  (b) the same exchange as a typed float property read through the driver stack
//      (CommonDriver, DriverPropertyReadOnly<float>, cuTcpSocketIOInterface), and its
//      cost relative to (a);
//  (c) the processor time spent while a driver waits for a module that never answers,
//      which must sleep rather than poll.
//
// It opens sockets, so it runs inside a network namespace of its own, where only loopback
// exists (it refuses to run anywhere else):
//   scripts/netns-run -- build-bench/bench/tavik_linkbench [ITERATIONS]
// scripts/bench.sh builds it optimised and runs it that way. ITERATIONS (default 20000)
// is the number of timed round trips of (a) and of (b), after a tenth as many to warm up.
// Every thread runs on one CPU: on a virtual machine a wake-up across CPUs costs anywhere
// from 15 to 70 us depending on where the scheduler happens to put the two threads, which
// drowns the cost of the stack and can differ between (a) and (b) within one run. On one
// CPU each round trip pays the same two context switches in (a) and (b), so the difference
// is the stack's own work.
// Exit status: 0 when every target is met, 3 when one is missed, 1 when something broke.
#include "benchsupport.h"
#include "drivers/commondriver.h"
#include "drivers/driverproperty.h"
#include "link/cutcpsocketiointerface.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr quint8 ModuleAddress = 7;
// The stand-in unit never answers this address: a module that is plugged out.
constexpr quint8 SilentAddress = 0x55;
constexpr quint8 ReadCode = 16;
constexpr float ModuleValue = 273.15f;
constexpr int DefaultIterations = 20000;

constexpr double RatioTarget = 3.0;
constexpr double IdleCpuTarget = 0.02;
constexpr int SilentTimeoutMs = 500;
constexpr int SilentReads = 4;

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

void setNoDelay(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool sendAll(int fd, const char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

// The stand-in unit. It serves on a thread of its own with blocking POSIX calls, so that
// its side of a round trip costs the same in every figure and none of it is charged to
// the event loop of the thread being measured. A packet (address, command, 0) is a read
// request and gets (address, command, 4, float); other packets come back unchanged;
// packets for SilentAddress are swallowed.
class StandInUnit
{
public:
    ~StandInUnit() { stop(); }

    bool start()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        m_wake = ::eventfd(0, EFD_CLOEXEC);
        if (m_listener < 0 || m_wake < 0)
            return false;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
        return true;
    }

    void stop()
    {
        if (m_thread.joinable()) {
            const quint64 one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
            m_thread.join();
        }
        for (int fd : {m_listener, m_wake})
            if (fd >= 0)
                ::close(fd);
        m_listener = m_wake = -1;
    }

    quint16 port() const { return m_port; }
    int swallowed() const { return m_swallowed.load(); }

private:
    struct Client
    {
        int fd;
        std::string pending;
    };

    void serve()
    {
        std::vector<Client> clients;
        std::vector<pollfd> fds;
        for (;;) {
            fds.assign({{m_wake, POLLIN, 0}, {m_listener, POLLIN, 0}});
            for (const Client& c : clients)
                fds.push_back({c.fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0)
                continue;
            if (fds[0].revents)
                break;
            if (fds[1].revents) {
                const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    setNoDelay(fd);
                    clients.push_back({fd, {}});
                }
            }
            for (size_t i = 2; i < fds.size(); ++i) {
                if (fds[i].revents && !serveClient(clients[i - 2])) {
                    ::close(clients[i - 2].fd);
                    clients[i - 2].fd = -1;
                }
            }
            std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
        }
        for (const Client& c : clients)
            ::close(c.fd);
    }

    // False when the client has gone.
    bool serveClient(Client& client)
    {
        std::array<char, 4096> chunk;
        const ssize_t n = ::recv(client.fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
        if (n <= 0)
            return n < 0 && (errno == EAGAIN || errno == EINTR);
        client.pending.append(chunk.data(), size_t(n));
        std::string replies;
        size_t at = 0;
        while (client.pending.size() - at >= 3) {
            const auto address = quint8(client.pending[at]);
            const auto command = quint8(client.pending[at + 1]);
            const size_t length = 3 + quint8(client.pending[at + 2]);
            if (client.pending.size() - at < length)
                break;
            if (address == SilentAddress) {
                ++m_swallowed;
            } else if (length == 3) {
                const char header[3] = {char(address), char(command), char(sizeof ModuleValue)};
                replies.append(header, sizeof header);
                replies.append(reinterpret_cast<const char*>(&ModuleValue), sizeof ModuleValue);
            } else {
                replies.append(client.pending, at, length);
            }
            at += length;
        }
        client.pending.erase(0, at);
        return replies.empty() || sendAll(client.fd, replies.data(), replies.size());
    }

    int m_listener = -1;
    int m_wake = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<int> m_swallowed{0};
};

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

// (a): blocking calls on both ends, nothing between the request and the kernel.
bool measureRawRoundTrip(quint16 port, int warmUp, int iterations, Spread* result)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "cannot connect to the stand-in unit: %s\n", std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    setNoDelay(fd);
    const char request[3] = {char(ModuleAddress), char(ReadCode), 0};
    std::vector<double> samples;
    samples.reserve(size_t(iterations));
    bool ok = true;
    for (int i = 0; ok && i < warmUp + iterations; ++i) {
        std::array<char, 7> answer{};
        size_t got = 0;
        const Clock::time_point start = Clock::now();
        ok = sendAll(fd, request, sizeof request);
        while (ok && got < answer.size()) {
            const ssize_t n = ::recv(fd, answer.data() + got, answer.size() - got, 0);
            ok = n > 0;
            got += ok ? size_t(n) : 0;
        }
        const Clock::time_point end = Clock::now();
        float value = 0;
        std::memcpy(&value, answer.data() + 3, sizeof value);
        ok = ok && value == ModuleValue;
        if (i >= warmUp)
            samples.push_back(micros(end - start));
    }
    ::close(fd);
    if (!ok) {
        std::fprintf(stderr, "raw round trip failed\n");
        return false;
    }
    *result = spread(std::move(samples));
    return true;
}

// (b): what a driver pays for one synchronous read, event loop and all.
bool measurePropertyRead(DriverPropertyReadOnly<float>& property, int warmUp, int iterations,
                         Spread* result)
{
    std::vector<double> samples;
    samples.reserve(size_t(iterations));
    for (int i = 0; i < warmUp + iterations; ++i) {
        bool ok = false;
        const Clock::time_point start = Clock::now();
        const float value = property.read(&ok, 1);
        const Clock::time_point end = Clock::now();
        if (!ok || value != ModuleValue) {
            std::fprintf(stderr, "property read %d failed (ok %d, value %g)\n", i, int(ok),
                         double(value));
            return false;
        }
        if (i >= warmUp)
            samples.push_back(micros(end - start));
    }
    *result = spread(std::move(samples));
    return true;
}

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct IdleCost
{
    double cpuMs = 0;
    double wallMs = 0;
};

// (c): every read must time out; the whole process is charged, the stand-in unit included.
bool measureSilentWait(DriverPropertyReadOnly<float>& property, IdleCost* result)
{
    const double cpuStart = processCpuSeconds();
    const Clock::time_point start = Clock::now();
    bool anyAnswer = false;
    for (int i = 0; i < SilentReads; ++i) {
        bool ok = true;
        property.read(&ok, 1);
        anyAnswer = anyAnswer || ok;
    }
    result->wallMs = micros(Clock::now() - start) / 1000.0;
    result->cpuMs = (processCpuSeconds() - cpuStart) * 1000.0;
    if (anyAnswer) {
        std::fprintf(stderr, "the silent module answered\n");
        return false;
    }
    return true;
}

const char* verdict(bool met)
{
    return met ? "PASS" : "MISS";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int iterations = DefaultIterations;
    if (argc > 2 || (argc == 2 && (iterations = std::atoi(argv[1])) < 1)) {
        std::fprintf(stderr, "usage: %s [ITERATIONS]   (default %d)\n", argv[0], DefaultIterations);
        return 1;
    }
    if (!onlyLoopbackPresent()) {
        std::fprintf(stderr, "%s opens sockets: run it through scripts/netns-run -- %s\n", argv[0],
                     argv[0]);
        return 1;
    }
    const int warmUp = std::max(10, iterations / 10);
    const int cpu = pinToCurrentCpu();
    if (cpu < 0) {
        std::fprintf(stderr, "cannot keep to one CPU: %s\n", std::strerror(errno));
        return 1;
    }

    StandInUnit unit;
    if (!unit.start()) {
        std::fprintf(stderr, "cannot start the stand-in unit: %s\n", std::strerror(errno));
        return 1;
    }

    Spread raw;
    if (!measureRawRoundTrip(unit.port(), warmUp, iterations, &raw))
        return 1;

    cuTcpSocketIOInterface link;
    link.setHostAddress(QHostAddress(QHostAddress::LocalHost));
    link.setPort(unit.port());
    if (!link.open()) {
        std::fprintf(stderr, "the transport cannot connect to the stand-in unit\n");
        return 1;
    }
    CommonDriver module;
    module.setInterface(&link);
    module.setAddress(ModuleAddress);
    const auto value = std::make_unique<DriverPropertyReadOnly<float>>(&module, ReadCode,
                                                                       DriverProperty_p::NoCode);
    CommonDriver silent;
    silent.setInterface(&link);
    silent.setAddress(SilentAddress);
    silent.setAnswerTimeout(SilentTimeoutMs);
    const auto silentValue = std::make_unique<DriverPropertyReadOnly<float>>(
        &silent, ReadCode, DriverProperty_p::NoCode);

    Spread stack;
    if (!measurePropertyRead(*value, warmUp, iterations, &stack))
        return 1;
    IdleCost idle;
    if (!measureSilentWait(*silentValue, &idle))
        return 1;
    unit.stop();

    const double ratio = stack.median / raw.median;
    const double idleShare = idle.cpuMs / idle.wallMs;
    const bool ratioMet = ratio <= RatioTarget;
    const bool idleMet = idleShare <= IdleCpuTarget;
    std::printf("TCP link on loopback, all threads on CPU %d, %d timed round trips each after %d "
                "to warm up\n",
                cpu, iterations, warmUp);
    std::printf("(a) raw round trip, 3-byte request   median %7.1f us  (p10 %.1f, p90 %.1f)\n",
                raw.median, raw.p10, raw.p90);
    std::printf("(b) float property read(&ok, 1)      median %7.1f us  (p10 %.1f, p90 %.1f)\n",
                stack.median, stack.p10, stack.p90);
    std::printf("    (b)/(a)                          %7.2f          target <= %.0f     %s\n",
                ratio, RatioTarget, verdict(ratioMet));
    std::printf("(c) silent module, %d x %d ms read   CPU/wall %.4f       target <= %.2f  %s"
                "   (CPU %.2f ms in %.1f ms)\n",
                SilentReads, SilentTimeoutMs, idleShare, IdleCpuTarget, verdict(idleMet),
                idle.cpuMs, idle.wallMs);
    return ratioMet && idleMet ? 0 : 3;
}
