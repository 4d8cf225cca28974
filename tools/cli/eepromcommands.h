#pragma once
// A module's calibration constants through the engine's EEPROM storage: read into its
// calibration JSON file, or a calibration file sent back to the module (and stored).
#include "enginerequests.h"

class EngineSession;

int readEeprom(EngineSession& session, const EepromRequest& request);
int writeEeprom(EngineSession& session, const EepromRequest& request);
