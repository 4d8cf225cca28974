#include "programrun.h"

#include <QDebug>
#include <QSignalSpy>

ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const ProgramOptions& options)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!options.home.isEmpty()) {
        env.insert("HOME", options.home);
        env.insert("XDG_CONFIG_HOME", options.home + "/config");
    }
    env.remove("QT_QPA_PLATFORM");
    env.remove("XDG_RUNTIME_DIR");
    process.setProcessEnvironment(env);
    if (!options.stdoutFile.isEmpty())
        process.setStandardOutputFile(options.stdoutFile);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        qWarning() << program << "did not start";
        return {};
    }
    if (options.during)
        options.during(process);
    if (finished.isEmpty() && !finished.wait(options.timeoutMs)) {
        qWarning() << program << "did not finish";
        process.kill();
        process.waitForFinished();
        return {};
    }
    const bool normal = process.exitStatus() == QProcess::NormalExit;
    return {normal ? process.exitCode() : -1, process.exitStatus(),
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}
