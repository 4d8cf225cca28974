#pragma once
// The engine commands that act once and end: the module list, one parameter write, and the
// unit's own commands (resets, power off, module list changes, lock).
#include "enginerequests.h"

class EngineSession;

int listModules(EngineSession& session);
int setParameter(EngineSession& session, const SetRequest& request);
int unitCommand(EngineSession& session, const UnitRequest& request);
