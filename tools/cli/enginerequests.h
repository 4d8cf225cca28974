#pragma once
// What each engine command of cu-tavik-cli was asked to do, checked from the command line
// before anything goes to the unit: the words after the command, the options that apply to
// it and their values in SI units. A parse gives nullopt and the usage error's text.
#include "engine/workerasync.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

// The command line of one engine command: its words (the command first) and the options
// given on it, by name.
struct EngineArguments
{
    QStringList words;
    QHash<QString, QString> options;

    bool has(const QString& name) const { return options.contains(name); }
    QString value(const QString& name) const { return options.value(name); }
};

struct SetRequest
{
    int module = 0;
    QString name;
    QVariant value;
};

struct UnitRequest
{
    WorkerAsync::WorkerCommands command = WorkerAsync::CommandResetUnits;
    QVariant parameter;
};

struct PresetRequest
{
    bool save = true;
    QString file;
    std::optional<QList<int>> channels;
};

struct EepromRequest
{
    bool write = false;
    int module = 0;
    QString file; // read: the --out file, empty for standard output; write: the input
    bool store = false;
    bool force = false; // write: constants of another module (another UDID) too
};

struct MonitorRequest
{
    enum Kind { All, Cps, Temperature };
    Kind kind = All;
    std::optional<QList<int>> channels;
    std::optional<double> timeConstant;
    std::optional<double> duration;
    // Failed readings neither end the monitor nor its exit status.
    bool keepGoing = false;
};

struct SweepRequest
{
    WorkerAsync::WorkerMode mode = WorkerAsync::WorkerModeCpsVersCurrent;
    QString kind; // current, trigger, iv, histogram
    int channel = 0;
    double from = 0;
    double to = 0;
    double step = 0;
    std::optional<double> trigger;
    std::optional<double> timeConstant;
    std::optional<double> duration;
    QString out;
};

// Empty when every option given belongs to the command; otherwise the usage error.
QString unexpectedOption(const EngineArguments& arguments, const QString& command,
                         const QStringList& allowed);

std::optional<int> parseModuleAddress(const QString& text);

std::optional<SetRequest> parseSet(const EngineArguments& arguments, QString* error);
std::optional<UnitRequest> parseUnit(const EngineArguments& arguments, QString* error);
std::optional<PresetRequest> parsePreset(const EngineArguments& arguments, QString* error);
std::optional<EepromRequest> parseEeprom(const EngineArguments& arguments, QString* error);
std::optional<MonitorRequest> parseMonitor(const EngineArguments& arguments, QString* error);
std::optional<SweepRequest> parseSweep(const EngineArguments& arguments, QString* error);
