#pragma once
// The program's command line: --unit ADDRESS connects to that unit for this run only;
// --help and --version answer and end the program.
#include <QString>
#include <QStringList>

struct AppOptions
{
    // The unit to connect to instead of the stored address; empty when not given.
    QString unit;
    // Set when the program should end at once with exitCode (help, version, bad usage).
    bool exit = false;
    int exitCode = 0;
};

// Parses the arguments of the running application (name and version must be set); prints
// help, version or the error itself. With helpAndVersionOnly every other argument is left
// alone, so help and version can answer before the display is opened.
AppOptions parseAppOptions(const QStringList& arguments, bool helpAndVersionOnly = false);

// True for a dotted quad of numbers 0 to 255 (leading zeros allowed, as the stored default).
bool isUnitAddress(const QString& text);
