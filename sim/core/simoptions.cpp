#include "simoptions.h"

#include "tavikversion.h"

#include <QCommandLineParser>

namespace {

bool toInt(const QString& text, int min, int max, int* value)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

} // namespace

SimOptionsResult parseSimOptions(const QStringList& arguments, SimOptions* options, QString* output,
                                 QString* error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates a Tavik control unit with its modules on a TCP port, for demos, training "
        "and tests.\nWithout --rack it carries the built-in demo rack: two SSPD model 0, one "
        "SSPD model 1,\none temperature model 0, one temperature model 1 and one heater.\n"
        "\"SYST:POFF\" powers the unit off: the program then ends."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listen("listen", "Address to listen on (default 127.0.0.1).", "ADDR",
                                    "127.0.0.1");
    const QString unitPort = QString::number(UnitPorts::Unit);
    const QCommandLineOption port(
        "port", QStringLiteral("TCP port of the unit (default %1).").arg(unitPort), "N", unitPort);
    const QCommandLineOption rack("rack", "Rack description (JSON); see sim/demo-rack.json.",
                                  "FILE");
    const QCommandLineOption state(
        "state",
        "State file: EEPROM contents, firmware versions and the saved module list "
        "survive a restart in it.",
        "FILE");
    const QCommandLineOption discoverable(
        "discoverable", QStringLiteral("Answer the application's discovery broadcasts (UDP %1).")
                            .arg(UnitPorts::DiscoveryBroadcast));
    const QCommandLineOption verbose("verbose", "Log every packet.");
    const QCommandLineOption seed("seed", "Seed of the simulated noise (default 1).", "N", "1");
    const QCommandLineOption latency("latency-ms", "Fault: delay every answer by N ms.", "N");
    const QCommandLineOption dropProbability(
        "drop-probability", "Fault: drop each module answer with probability P (0..1).", "P");
    const QCommandLineOption dropEvery("drop-every", "Fault: drop every Nth module answer.", "N");
    const QCommandLineOption wrongLength(
        "wrong-length-every", "Fault: every Nth module answer has a wrong data length.", "N");
    const QCommandLineOption garbage(
        "garbage-every", "Fault: send garbage bytes before every Nth module answer.", "N");
    const QCommandLineOption closeAfter(
        "close-after", "Fault: close each connection after it sent N packets.", "N");
    const QCommandLineOption mute("mute", "Fault: accept connections but never answer anything.");
    const QCommandLineOption firmwareDir(
        "firmware-dir",
        "Serve DIR over HTTP as a firmware web server's directory listings (see "
        "sim/firmware-catalogue).",
        "DIR");
    const QCommandLineOption httpListen("http-listen",
                                        "Address of the firmware web server (default 127.0.0.1).",
                                        "ADDR", "127.0.0.1");
    const QCommandLineOption httpPort(
        "http-port", "Port of the firmware web server (default 8080).", "N", "8080");
    const QCommandLineOption controlPort(
        "control-port",
        "Accept control lines on 127.0.0.1 port N: \"faults [fault options]\" replaces the "
        "faults, \"restart MS\" takes the unit away for MS ms.",
        "N");
    parser.addOptions({listen, port, rack, state, discoverable, verbose, seed, latency,
                       dropProbability, dropEvery, wrongLength, garbage, closeAfter, mute,
                       firmwareDir, httpListen, httpPort, controlPort});

    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return SimOptionsResult::Error;
    }
    if (parser.isSet("help")) {
        *output = parser.helpText();
        return SimOptionsResult::Help;
    }
    if (parser.isSet("version")) {
        *output = QStringLiteral("cu-tavik-sim " TAVIK_VERSION "\n");
        return SimOptionsResult::Version;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error =
            QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return SimOptionsResult::Error;
    }

    SimOptions result;
    if (!result.listen.setAddress(parser.value(listen))) {
        *error = QStringLiteral("--listen: not an IP address: %1").arg(parser.value(listen));
        return SimOptionsResult::Error;
    }
    int number = 0;
    if (!toInt(parser.value(port), 0, 65535, &number)) {
        *error = QStringLiteral("--port must be 0 to 65535");
        return SimOptionsResult::Error;
    }
    result.port = quint16(number);
    result.rackFile = parser.value(rack);
    result.stateFile = parser.value(state);
    result.discoverable = parser.isSet(discoverable);
    result.verbose = parser.isSet(verbose);
    bool ok = false;
    result.seed = parser.value(seed).toUInt(&ok);
    if (!ok) {
        *error = QStringLiteral("--seed must be a non-negative whole number");
        return SimOptionsResult::Error;
    }

    const auto count = [&](const QCommandLineOption& option, int* value) {
        if (!parser.isSet(option))
            return true;
        if (toInt(parser.value(option), 0, 1000000000, value))
            return true;
        *error =
            QStringLiteral("--%1 must be a non-negative whole number").arg(option.names().first());
        return false;
    };
    SimFaults& faults = result.faults;
    if (!count(latency, &faults.latencyMs) || !count(dropEvery, &faults.dropEvery) ||
        !count(wrongLength, &faults.wrongLengthEvery) || !count(garbage, &faults.garbageEvery) ||
        !count(closeAfter, &faults.closeAfterPackets))
        return SimOptionsResult::Error;
    if (parser.isSet(dropProbability)) {
        faults.dropProbability = parser.value(dropProbability).toDouble(&ok);
        if (!ok || !(faults.dropProbability >= 0.0 && faults.dropProbability <= 1.0)) {
            *error = QStringLiteral("--drop-probability must be a number from 0 to 1");
            return SimOptionsResult::Error;
        }
    }
    faults.mute = parser.isSet(mute);

    result.firmwareDir = parser.value(firmwareDir);
    if (result.firmwareDir.isEmpty() && (parser.isSet(httpPort) || parser.isSet(httpListen))) {
        *error = QStringLiteral("--http-port and --http-listen need --firmware-dir");
        return SimOptionsResult::Error;
    }
    if (!result.httpListen.setAddress(parser.value(httpListen))) {
        *error =
            QStringLiteral("--http-listen: not an IP address: %1").arg(parser.value(httpListen));
        return SimOptionsResult::Error;
    }
    if (!toInt(parser.value(httpPort), 0, 65535, &number)) {
        *error = QStringLiteral("--http-port must be 0 to 65535");
        return SimOptionsResult::Error;
    }
    result.httpPort = quint16(number);
    if (parser.isSet(controlPort)) {
        if (!toInt(parser.value(controlPort), 1, 65535, &number)) {
            *error = QStringLiteral("--control-port must be 1 to 65535");
            return SimOptionsResult::Error;
        }
        result.controlPort = quint16(number);
    }
    *options = result;
    return SimOptionsResult::Run;
}
