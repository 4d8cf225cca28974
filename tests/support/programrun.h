#pragma once
// Runs one of our command-line programs to its end while this thread keeps serving its
// events (an in-process simulated unit or web server answers meanwhile), and keeps what the
// program printed.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

struct ProgramRun
{
    int exitCode = -1; // -1 also when the program crashed or did not finish in time
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

struct ProgramOptions
{
    // HOME (and XDG_CONFIG_HOME below it), so that stored settings stay the test's own;
    // empty: the test's environment as it is.
    QString home;
    // Where standard output goes instead of ProgramRun::out.
    QString stdoutFile;
    int timeoutMs = 30000;
    // Runs once the program has started, before the wait for its end.
    std::function<void(QProcess&)> during;
};

// The program picks its own off-screen platform and keeps a missing desktop session to
// itself; one that does not finish in time is killed.
ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const ProgramOptions& options = {});
