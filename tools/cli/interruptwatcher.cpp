#include "interruptwatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler may only do async-signal-safe work: it writes one byte into a socket pair
// whose other end the event loop watches.
int signalSockets[2] = {-1, -1};

void onSignalHandler(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalSockets[0], &byte, 1);
}

bool installHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onSignalHandler;
    sigemptyset(&action.sa_mask);
    // Back to the default after the first signal: a second Ctrl-C always ends the program.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

void restoreDefaults()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0)
        return;
    m_notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptWatcher::onSignal);
    if (!installHandlers()) {
        restoreDefaults();
        delete m_notifier;
        m_notifier = nullptr;
    }
}

InterruptWatcher::~InterruptWatcher()
{
    restoreDefaults();
    delete m_notifier;
    for (int& fd : signalSockets) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void InterruptWatcher::onSignal()
{
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(signalSockets[1], &byte, 1);
    if (m_interrupted)
        return;
    m_interrupted = true;
    emit interrupted();
}

#include "moc_interruptwatcher.cpp"
