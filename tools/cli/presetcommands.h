#pragma once
// Channel presets through the engine's own preset files: saving after one reading pass of
// the chosen channels, restoring with the writes the screen would make.
#include "enginerequests.h"

class EngineSession;

int savePreset(EngineSession& session, const PresetRequest& request);
int restorePreset(EngineSession& session, const PresetRequest& request);
