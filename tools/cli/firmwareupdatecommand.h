#pragma once
// cu-tavik-cli firmware update: the update dialog's sequence without a screen. It reads
// the module's identity from the engine's inventory, checks the chosen version in the
// firmware catalogue, serves the image to the unit from the file server, has the engine
// lock the unit and start the update, prints the unit's reports as they come and unlocks
// the unit at the end, whether the update completed or not.
#include "enginesession.h"

#include <QHash>
#include <QString>
#include <QStringList>

// arguments: what follows "firmware update"; options: the options given, by name (without
// the unit's address and port, which are in target).
int runFirmwareUpdate(const QStringList& arguments, const QHash<QString, QString>& options,
                      const EngineSession::Target& target);
QString firmwareUpdateHelp();
