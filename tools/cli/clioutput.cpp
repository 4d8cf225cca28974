#include "clioutput.h"

#include "exitcode.h"

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
