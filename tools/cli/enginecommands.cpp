#include "enginecommands.h"

#include "characterisecommand.h"
#include "clioutput.h"
#include "eepromcommands.h"
#include "exitcode.h"
#include "interruptwatcher.h"
#include "monitorcommand.h"
#include "parameternames.h"
#include "presetcommands.h"
#include "sweepcommand.h"
#include "unitcommands.h"

#include <functional>

namespace {

const QStringList EngineCommands = {"list",   "monitor", "set",    "sweep",
                                    "preset", "unit",    "eeprom", "characterise"};

// Checks the command line, then connects and runs the command with a live engine.
template <typename Request>
int checkedRun(const EngineArguments& arguments, const EngineSession::Target& target,
               std::optional<Request> (*parse)(const EngineArguments&, QString*),
               const std::function<int(EngineSession&, const Request&)>& run)
{
    QString error;
    const std::optional<Request> request = parse(arguments, &error);
    if (!request)
        return usageError(error);
    InterruptWatcher interrupts;
    EngineSession session(target, &interrupts);
    return run(session, *request);
}

// The names `set` takes, numbers with their unit, then the switches, wrapped to the help.
QString setNamesHelp()
{
    QStringList numbers;
    QStringList switches;
    for (const ParameterName& parameter : parameterNames()) {
        if (parameter.isSwitch)
            switches << parameter.name;
        else
            numbers << QStringLiteral("%1 (%2)").arg(parameter.name, parameter.unit);
    }
    const QString indent(37, u' ');
    QString text;
    QString line = indent;
    const QStringList words =
        (numbers.join(", ") + "; switches (0 or 1): " + switches.join(", ")).split(u' ');
    for (const QString& word : words) {
        if (line.size() + word.size() + 1 > 80 && line != indent) {
            text += line + u'\n';
            line = indent;
        }
        line += (line == indent ? QString() : QStringLiteral(" ")) + word;
    }
    return text + line + u'\n';
}

} // namespace

bool isEngineCommand(const QString& command)
{
    return EngineCommands.contains(command);
}

QString engineCommandsHelp()
{
    return QStringLiteral(
               "Commands through the measurement engine (the application's own worker):\n"
               "  list                               the unit's module list as JSON (\"count\",\n"
               "                                     \"info\", \"software_version\")\n"
               "  monitor [--mode all|cps|temp] [--channels A,B,...] [--time-constant S]\n"
               "          [--duration S] [--keep-going]\n"
               "                                     read modules until the duration has\n"
               "                                     passed or Ctrl-C; one CSV line per reading\n"
               "  set MODULE NAME VALUE              write one parameter of a module:\n"
               "%1"
               "  sweep current|trigger|iv --channel N --from X --to Y --step S [--trigger V]\n"
               "        [--time-constant S] --out FILE\n"
               "  sweep histogram --channel N --from X --to Y --step S --duration S\n"
               "        [--time-constant S] --out FILE\n"
               "                                     the engine's sweep on an SSPD channel\n"
               "                                     (counts against bias current or trigger\n"
               "                                     level, IV curve, count histogram) as CSV;\n"
               "                                     iv only steps the current: switch the\n"
               "                                     channel on first (set N operate 1)\n"
               "%5"
               "  preset save FILE [--channels A,B,...]\n"
               "                                     after one reading, save the channels'\n"
               "                                     settings (default: every SSPD channel)\n"
               "  preset restore FILE                set bias current and trigger level of the\n"
               "                                     SSPD channels of a preset file\n"
               "  unit reset|system-reset|power-off|add MODULE|remove MODULE|lock 0|1\n"
               "                                     the unit's own commands\n"
               "  eeprom read MODULE [--out FILE]    the module's calibration constants as a\n"
               "                                     calibration JSON file (stdout without --out)\n"
               "  eeprom write MODULE FILE [--store] [--force]\n"
               "                                     send a calibration file's constants to the\n"
               "                                     module; --store makes it keep them. A file\n"
               "                                     of another module (UDID) needs --force; one\n"
               "                                     without constants of the module is refused\n"
               "\n"
               "Values are in SI units (A, V, s, cps), within what the application's panels\n"
               "allow. Give negative values as --from=-1e-5, or after \"--\" for words:\n"
               "set 1 current -- -1e-6.\n"
               "\n"
               "monitor prints a header line, then one line per reading:\n"
               "  all:  %2\n"
               "  cps:  %3\n"
               "  temp: %4\n"
               "time is UTC (ISO 8601); status is ok or fault (the values are then empty);\n"
               "switches are 0 or 1; a value the module does not have is empty. cps reads\n"
               "every SSPD channel, temp every temperature module (of model 1 its first\n"
               "sensor), unless --channels names others (with all, --channels only picks the\n"
               "lines printed).\n"
               "\n"
               "A sweep file starts with \"# key: value\" lines (command, program, started,\n"
               "unit, module, module_type, module_udid, module_firmware, the parameters, ended,\n"
               "interrupted or unit_lost), then the columns current_A,cps (current),\n"
               "cmp_ref_level_V,cps (trigger), voltage_V,current_A (iv) or\n"
               "bin_from_cps,bin_to_cps,count (histogram), one row per point of the engine's\n"
               "chart. Counts per second below 1e-05 appear as 1e-05, the chart's floor. On a\n"
               "terminal a progress line goes to standard error. Ctrl-C ends a histogram as\n"
               "its duration does; a stopped sweep keeps the points taken so far and exits\n"
               "with status 1. A sweep, histogram or monitor whose unit stops answering (three\n"
               "failed readings in a row) ends with status 1; a sweep of more than 100000\n"
               "steps does not start. monitor says on standard error when the unit stops\n"
               "answering and when it answers again, and ends with status 1 when any reading\n"
               "failed; with --keep-going it goes on through a silent unit, connects again when\n"
               "the unit closes the connection, and ends with 0.\n"
               "\n"
               "Errors and notices of the engine go to standard error. The engine waits\n"
               "--timeout-ms (default 500) for each answer of the unit or a module.")
        .arg(setNamesHelp())
        .arg(monitorColumns(MonitorRequest::All).join(u','))
        .arg(monitorColumns(MonitorRequest::Cps).join(u','))
        .arg(monitorColumns(MonitorRequest::Temperature).join(u','))
        .arg(characteriseHelp());
}

int runEngineCommand(const EngineArguments& arguments, const EngineSession::Target& target)
{
    const QString command = arguments.words.value(0);
    if (command == "list") {
        if (arguments.words.size() != 1)
            return usageError(QStringLiteral("usage: list"));
        if (const QString e = unexpectedOption(arguments, command, {}); !e.isEmpty())
            return usageError(e);
        InterruptWatcher interrupts;
        EngineSession session(target, &interrupts);
        return listModules(session);
    }
    if (command == "monitor")
        return checkedRun<MonitorRequest>(arguments, target, parseMonitor, monitor);
    if (command == "set")
        return checkedRun<SetRequest>(arguments, target, parseSet, setParameter);
    if (command == "sweep")
        return checkedRun<SweepRequest>(arguments, target, parseSweep, sweep);
    if (command == "characterise")
        return checkedRun<CharacteriseRequest>(arguments, target, parseCharacterise, characterise);
    if (command == "unit")
        return checkedRun<UnitRequest>(arguments, target, parseUnit, unitCommand);
    if (command == "preset")
        return checkedRun<PresetRequest>(
            arguments, target, parsePreset, [](EngineSession& session, const PresetRequest& r) {
                return r.save ? savePreset(session, r) : restorePreset(session, r);
            });
    if (command == "eeprom")
        return checkedRun<EepromRequest>(
            arguments, target, parseEeprom, [](EngineSession& session, const EepromRequest& r) {
                return r.write ? writeEeprom(session, r) : readEeprom(session, r);
            });
    return usageError(QStringLiteral("unknown command: %1").arg(command));
}
