#pragma once
// The commands of cu-tavik-cli that run through the measurement engine, the screen's own
// worker: which they are, their help, and running one (checked, connected, carried out).
#include "enginerequests.h"
#include "enginesession.h"

#include <QString>

bool isEngineCommand(const QString& command);
QString engineCommandsHelp();
// Needs the application object (a QApplication: the engine's chart series need one).
int runEngineCommand(const EngineArguments& arguments, const EngineSession::Target& target);
