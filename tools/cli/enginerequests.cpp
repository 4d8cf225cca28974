#include "enginerequests.h"

#include "engine/sweepparameters.h"
#include "models/driverdataitem.h"
#include "models/sweepparameterlists.h"
#include "parameternames.h"

#include <cmath>
#include <limits>

namespace {

// The time plots accept what their chart options panel accepts.
constexpr double MinPlotTimeConstant = 0.01;
constexpr double MaxPlotTimeConstant = 100.0;
// A duration still fits the millisecond timers (about 23 days).
constexpr double MaxDuration = 2.0e6;
// The engine lays out no more histogram bins than it takes sweep steps.
constexpr double MaxHistogramBins = SweepParameters::MaxSteps;

std::optional<double> parseNumber(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<bool> parseSwitch(const QString& text)
{
    const QString word = text.trimmed().toLower();
    if (word == "1" || word == "true" || word == "on")
        return true;
    if (word == "0" || word == "false" || word == "off")
        return false;
    return std::nullopt;
}

std::optional<QList<int>> parseChannels(const QString& text)
{
    QList<int> channels;
    const QStringList parts = text.split(u',');
    for (const QString& part : parts) {
        const std::optional<int> address = parseModuleAddress(part);
        if (!address)
            return std::nullopt;
        if (!channels.contains(*address))
            channels.append(*address);
    }
    return channels;
}

// Every parse ends a failure the same way: the text for the usage error, and no request.
std::nullopt_t fail(QString* error, const QString& text)
{
    *error = text;
    return std::nullopt;
}

bool wrongCount(const EngineArguments& arguments, int words, const QString& synopsis,
                QString* error)
{
    if (arguments.words.size() == words)
        return false;
    *error = QStringLiteral("usage: %1").arg(synopsis);
    return true;
}

// A number option in [min, max]; the error names the option and the unit.
std::optional<double> numberOption(const EngineArguments& arguments, const QString& name,
                                   double min, double max, const QString& unit, QString* error)
{
    const std::optional<double> value = parseNumber(arguments.value(name));
    if (!value || *value < min || *value > max) {
        return fail(error, QStringLiteral("--%1 must be a number from %2 to %3 %4")
                               .arg(name)
                               .arg(min)
                               .arg(max)
                               .arg(unit));
    }
    return value;
}

std::optional<double> durationOption(const EngineArguments& arguments, QString* error)
{
    const std::optional<double> value = parseNumber(arguments.value(QStringLiteral("duration")));
    if (!value || *value <= 0 || *value > MaxDuration) {
        return fail(error, QStringLiteral("--duration must be a number of seconds above 0"));
    }
    return value;
}

// The sweep row's range, in SI units: the panel gives it in shown units.
struct RowRange
{
    double min;
    double max;
};

std::optional<RowRange> sweepRowRange(WorkerAsync::WorkerMode mode, const QString& name)
{
    const QList<DriverDataItem> rows = defaultSweepParameterLists().value(int(mode));
    for (const DriverDataItem& row : rows) {
        if (row.name() == name && row.scale() != 0)
            return RowRange{row.min() / row.scale(), row.max() / row.scale()};
    }
    return std::nullopt;
}

// A sweep value within the range its tab allows, with a hair of slack for the scaling.
std::optional<double> sweepOption(const EngineArguments& arguments, WorkerAsync::WorkerMode mode,
                                  const QString& option, const QString& row, const QString& unit,
                                  QString* error)
{
    const std::optional<RowRange> range = sweepRowRange(mode, row);
    const double slack = range ? 1e-9 * qMax(std::abs(range->min), std::abs(range->max)) : 0;
    const std::optional<double> value = parseNumber(arguments.value(option));
    if (!range || !value || *value < range->min - slack || *value > range->max + slack) {
        return fail(error, QStringLiteral("--%1 must be a number from %2 to %3 %4")
                               .arg(option)
                               .arg(range ? range->min : 0)
                               .arg(range ? range->max : 0)
                               .arg(unit));
    }
    return value;
}

} // namespace

QString unexpectedOption(const EngineArguments& arguments, const QString& command,
                         const QStringList& allowed)
{
    for (auto it = arguments.options.cbegin(); it != arguments.options.cend(); ++it) {
        if (!allowed.contains(it.key()))
            return QStringLiteral("--%1 does not apply to %2").arg(it.key(), command);
    }
    return {};
}

std::optional<int> parseModuleAddress(const QString& text)
{
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok, 0);
    if (!ok || value > 255)
        return std::nullopt;
    return int(value);
}

std::optional<SetRequest> parseSet(const EngineArguments& arguments, QString* error)
{
    if (wrongCount(arguments, 4, QStringLiteral("set MODULE NAME VALUE"), error))
        return std::nullopt;
    if (const QString e = unexpectedOption(arguments, QStringLiteral("set"), {}); !e.isEmpty())
        return fail(error, e);
    SetRequest request;
    const std::optional<int> module = parseModuleAddress(arguments.words.at(1));
    if (!module)
        return fail(
            error,
            QStringLiteral("MODULE must be a bus address 0 to 255: %1").arg(arguments.words.at(1)));
    request.module = *module;
    request.name = arguments.words.at(2);
    const ParameterName* parameter = findParameterName(request.name);
    if (!parameter) {
        QStringList names;
        for (const ParameterName& known : parameterNames())
            names << known.name;
        return fail(
            error,
            QStringLiteral("unknown parameter %1; known: %2").arg(request.name, names.join(", ")));
    }
    const QString valueText = arguments.words.at(3);
    if (parameter->isSwitch) {
        const std::optional<bool> on = parseSwitch(valueText);
        if (!on)
            return fail(error,
                        QStringLiteral("%1 takes 0 or 1, not %2").arg(request.name, valueText));
        request.value = *on;
    } else {
        const std::optional<double> number = parseNumber(valueText);
        if (!number || std::abs(*number) > double(std::numeric_limits<float>::max()))
            return fail(error, QStringLiteral("%1 takes a number in %2, not %3")
                                   .arg(request.name, parameter->unit, valueText));
        request.value = *number;
    }
    return request;
}

std::optional<UnitRequest> parseUnit(const EngineArguments& arguments, QString* error)
{
    const QString synopsis =
        QStringLiteral("unit reset|system-reset|power-off|add MODULE|remove MODULE|lock 0|1");
    if (const QString e = unexpectedOption(arguments, QStringLiteral("unit"), {}); !e.isEmpty())
        return fail(error, e);
    const QString action = arguments.words.value(1);
    UnitRequest request;
    const QHash<QString, WorkerAsync::WorkerCommands> plain = {
        {"reset", WorkerAsync::CommandResetUnits},
        {"system-reset", WorkerAsync::CommandSystemReset},
        {"power-off", WorkerAsync::CommandPowerOff},
    };
    if (plain.contains(action)) {
        if (wrongCount(arguments, 2, synopsis, error))
            return std::nullopt;
        request.command = plain.value(action);
        request.parameter = 0;
        return request;
    }
    if (action == "add" || action == "remove") {
        if (wrongCount(arguments, 3, synopsis, error))
            return std::nullopt;
        const std::optional<int> module = parseModuleAddress(arguments.words.at(2));
        if (!module)
            return fail(error, QStringLiteral("MODULE must be a bus address 0 to 255: %1")
                                   .arg(arguments.words.at(2)));
        request.command =
            action == "add" ? WorkerAsync::CommandAddUnit : WorkerAsync::CommandRemoveUnit;
        request.parameter = *module;
        return request;
    }
    if (action == "lock") {
        if (wrongCount(arguments, 3, synopsis, error))
            return std::nullopt;
        const QString value = arguments.words.at(2).trimmed();
        if (value != "0" && value != "1")
            return fail(error, QStringLiteral("unit lock takes 0 or 1, not %1").arg(value));
        request.command = WorkerAsync::CommandLock;
        request.parameter = value.toInt();
        return request;
    }
    return fail(error, QStringLiteral("usage: %1").arg(synopsis));
}

std::optional<PresetRequest> parsePreset(const EngineArguments& arguments, QString* error)
{
    const QString synopsis = QStringLiteral("preset save|restore FILE");
    const QString action = arguments.words.value(1);
    if (action != "save" && action != "restore")
        return fail(error, QStringLiteral("usage: %1").arg(synopsis));
    if (wrongCount(arguments, 3, synopsis, error))
        return std::nullopt;
    PresetRequest request;
    request.save = action == "save";
    const QStringList allowed =
        request.save ? QStringList{QStringLiteral("channels")} : QStringList{};
    if (const QString e = unexpectedOption(arguments, "preset " + action, allowed); !e.isEmpty())
        return fail(error, e);
    request.file = arguments.words.at(2);
    if (arguments.has("channels")) {
        request.channels = parseChannels(arguments.value("channels"));
        if (!request.channels)
            return fail(error, QStringLiteral("--channels must be bus addresses 0 to 255 "
                                              "separated by commas"));
    }
    return request;
}

std::optional<EepromRequest> parseEeprom(const EngineArguments& arguments, QString* error)
{
    const QString action = arguments.words.value(1);
    EepromRequest request;
    request.write = action == "write";
    if (action == "read") {
        if (wrongCount(arguments, 3, QStringLiteral("eeprom read MODULE [--out FILE]"), error))
            return std::nullopt;
    } else if (action == "write") {
        if (wrongCount(arguments, 4, QStringLiteral("eeprom write MODULE FILE [--store]"), error))
            return std::nullopt;
        request.file = arguments.words.at(3);
    } else {
        return fail(error, QStringLiteral("usage: eeprom read MODULE [--out FILE] | "
                                          "eeprom write MODULE FILE [--store]"));
    }
    const QStringList allowed = request.write ? QStringList{"store", "force"} : QStringList{"out"};
    if (const QString e = unexpectedOption(arguments, "eeprom " + action, allowed); !e.isEmpty())
        return fail(error, e);
    const std::optional<int> module = parseModuleAddress(arguments.words.at(2));
    if (!module)
        return fail(
            error,
            QStringLiteral("MODULE must be a bus address 0 to 255: %1").arg(arguments.words.at(2)));
    request.module = *module;
    if (!request.write) {
        request.file = arguments.value("out");
        if (arguments.has("out") && request.file.isEmpty())
            return fail(error, QStringLiteral("--out needs a file name"));
    }
    request.store = arguments.has("store");
    request.force = arguments.has("force");
    return request;
}

std::optional<MonitorRequest> parseMonitor(const EngineArguments& arguments, QString* error)
{
    if (wrongCount(arguments, 1, QStringLiteral("monitor [--mode all|cps|temp] [options]"), error))
        return std::nullopt;
    MonitorRequest request;
    const QString mode = arguments.has("mode") ? arguments.value("mode") : QStringLiteral("all");
    if (mode == "all")
        request.kind = MonitorRequest::All;
    else if (mode == "cps")
        request.kind = MonitorRequest::Cps;
    else if (mode == "temp")
        request.kind = MonitorRequest::Temperature;
    else
        return fail(error, QStringLiteral("--mode must be all, cps or temp"));

    QStringList allowed = {"mode", "channels", "duration", "keep-going"};
    request.keepGoing = arguments.has("keep-going");
    // The home view reads every module once a second, whatever the time constant.
    if (request.kind != MonitorRequest::All)
        allowed << "time-constant";
    if (const QString e = unexpectedOption(arguments, "monitor --mode " + mode, allowed);
        !e.isEmpty())
        return fail(error, e);
    if (arguments.has("channels")) {
        request.channels = parseChannels(arguments.value("channels"));
        if (!request.channels)
            return fail(error, QStringLiteral("--channels must be bus addresses 0 to 255 "
                                              "separated by commas"));
    }
    if (arguments.has("time-constant")) {
        request.timeConstant = numberOption(arguments, "time-constant", MinPlotTimeConstant,
                                            MaxPlotTimeConstant, "s", error);
        if (!request.timeConstant)
            return std::nullopt;
    }
    if (arguments.has("duration")) {
        request.duration = durationOption(arguments, error);
        if (!request.duration)
            return std::nullopt;
    }
    return request;
}

std::optional<SweepRequest> parseSweep(const EngineArguments& arguments, QString* error)
{
    const QString synopsis = QStringLiteral(
        "sweep current|trigger|iv|histogram --channel N --from X --to Y --step S --out FILE");
    if (wrongCount(arguments, 2, synopsis, error))
        return std::nullopt;
    SweepRequest request;
    request.kind = arguments.words.at(1);
    const QHash<QString, WorkerAsync::WorkerMode> modes = {
        {"current", WorkerAsync::WorkerModeCpsVersCurrent},
        {"trigger", WorkerAsync::WorkerModeCpsVersTrigger},
        {"iv", WorkerAsync::WorkerModeIVCurves},
        {"histogram", WorkerAsync::WorkerModeHistogram},
    };
    if (!modes.contains(request.kind))
        return fail(error, QStringLiteral("usage: %1").arg(synopsis));
    request.mode = modes.value(request.kind);
    const bool histogram = request.mode == WorkerAsync::WorkerModeHistogram;

    QStringList allowed = {"channel", "from", "to", "step", "time-constant", "out"};
    if (request.mode == WorkerAsync::WorkerModeCpsVersCurrent)
        allowed << "trigger";
    if (histogram)
        allowed << "duration";
    const QString command = "sweep " + request.kind;
    if (const QString e = unexpectedOption(arguments, command, allowed); !e.isEmpty())
        return fail(error, e);
    QStringList required = {"channel", "from", "to", "step", "out"};
    if (histogram)
        required << "duration";
    for (const QString& name : std::as_const(required)) {
        if (!arguments.has(name))
            return fail(error, QStringLiteral("%1 needs --%2").arg(command, name));
    }

    const std::optional<int> channel = parseModuleAddress(arguments.value("channel"));
    if (!channel)
        return fail(error, QStringLiteral("--channel must be a bus address 0 to 255"));
    request.channel = *channel;
    const QString unit = request.mode == WorkerAsync::WorkerModeCpsVersTrigger ? "V"
                         : histogram                                           ? "cps"
                                                                               : "A";
    const std::optional<double> from =
        sweepOption(arguments, request.mode, "from", "from", unit, error);
    if (!from)
        return std::nullopt;
    const std::optional<double> to = sweepOption(arguments, request.mode, "to", "to", unit, error);
    if (!to)
        return std::nullopt;
    const std::optional<double> step =
        sweepOption(arguments, request.mode, "step", "step", unit, error);
    if (!step)
        return std::nullopt;
    request.from = *from;
    request.to = *to;
    request.step = *step;
    if (!(request.step > 0) && request.from != request.to)
        return fail(error, QStringLiteral("--step must be above 0"));
    if (histogram) {
        const double bins = std::trunc((request.to - request.from) / request.step);
        if (!(request.to > request.from) || !std::isfinite(bins) || bins < 1 ||
            bins > MaxHistogramBins)
            return fail(error, QStringLiteral("the histogram needs --to above --from and 1 to "
                                              "%1 bins of --step")
                                   .arg(MaxHistogramBins));
        request.duration = durationOption(arguments, error);
        if (!request.duration)
            return std::nullopt;
    }
    if (arguments.has("trigger")) {
        request.trigger = sweepOption(arguments, request.mode, "trigger", "trigger", "V", error);
        if (!request.trigger)
            return std::nullopt;
    }
    if (arguments.has("time-constant")) {
        request.timeConstant =
            sweepOption(arguments, request.mode, "time-constant", "time_constant", "s", error);
        if (!request.timeConstant)
            return std::nullopt;
    }
    request.out = arguments.value("out");
    if (request.out.isEmpty())
        return fail(error, QStringLiteral("--out needs a file name"));
    return request;
}
