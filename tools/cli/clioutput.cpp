#include "clioutput.h"

#include "exitcode.h"

#include <QIODevice>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

QTextStream& cliErr()
{
    static QTextStream stream(stderr);
    return stream;
}

bool progressShown = false;

} // namespace

QTextStream& cliOut()
{
    static QTextStream stream(stdout);
    return stream;
}

bool outputWritten()
{
    static bool reported = false;
    QTextStream& out = cliOut();
    out.flush();
    errno = 0;
    const bool streamOk = out.status() == QTextStream::Ok;
    const bool written = streamOk && std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!written && !reported) {
        reported = true;
        QString reason;
        if (!streamOk && out.device())
            reason = out.device()->errorString();
        else if (errno != 0)
            reason = QString::fromLocal8Bit(std::strerror(errno));
        printError(QStringLiteral("cannot write to standard output") +
                   (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
    }
    return written;
}

int checkedExit(int code)
{
    if (!outputWritten() && code == Exit::Success)
        return Exit::Failure;
    return code;
}

void printError(const QString& message)
{
    endProgress();
    cliErr() << "cu-tavik-cli: " << message << Qt::endl;
}

int usageError(const QString& message)
{
    endProgress();
    cliErr() << "cu-tavik-cli: " << message << "\n"
             << "Try 'cu-tavik-cli --help'." << Qt::endl;
    return Exit::Usage;
}

int failure(const QString& message)
{
    printError(message);
    return Exit::Failure;
}

bool stderrIsTerminal()
{
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return terminal;
}

void printProgress(const QString& text)
{
    if (!stderrIsTerminal())
        return;
    // Clears what a longer line before left behind.
    cliErr() << "\r\x1b[K" << text << Qt::flush;
    progressShown = true;
}

void endProgress()
{
    if (!progressShown)
        return;
    cliErr() << "\n" << Qt::flush;
    progressShown = false;
}
