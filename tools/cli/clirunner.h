#pragma once
// Carries out one command of cu-tavik-cli against a unit and prints the result.
#include "drivers/abstractdriver.h"
#include "link/unitports.h"

#include <QHostAddress>
#include <QStringList>

class CommonDriver;
class cuTcpSocketIOInterface;
struct ModuleKind;

class CliRunner
{
public:
    enum ExitCode { Success = 0, Unreachable = 1, UsageError = 2 };

    struct Options
    {
        QHostAddress unit;
        QString unitText;
        quint16 port = UnitPorts::Unit;
        int tries = 3;
        // One time-out serves module answers and text queries alike.
        int timeoutMs = AbstractDriver::DefaultAnswerTimeoutMs;
        // Skip the module type check and the application's limits.
        bool force = false;
    };

    explicit CliRunner(const Options& options);
    ~CliRunner();

    int query(const QString& text);
    int identity(const QString& module);
    int read(const QString& module, const QString& kind, const QString& property);
    int write(const QString& module, const QString& kind, const QString& property,
              const QString& value);

private:
    int fail(int code, const QString& message);
    int unreachable();
    // "module N gave no answer within T ms" with the tries and what follows from it, as
    // exit status 1.
    int noAnswer(quint8 address, const QString& consequence = {});
    int resolveModule(const QString& module, quint8* address);
    // Checks MODULE, KIND and PROPERTY of a read or write: Success or the usage error.
    int resolve(const QString& module, const QString& kindName, const QString& property,
                quint8* address, const ModuleKind** kind);
    // Gives the driver its address and the link; false when the unit cannot be reached.
    bool attach(CommonDriver* driver, quint8 address);
    // Asks the module its type and refuses one of another kind than the driver's, unless
    // forced: Success, or the exit status with the reason printed.
    int checkType(CommonDriver* driver, const ModuleKind& kind, quint8 address);

    Options m_options;
    cuTcpSocketIOInterface* m_link;
};
