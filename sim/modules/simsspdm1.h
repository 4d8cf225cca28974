#pragma once
// The model-1 SSPD bias and read-out module ("VX9SDM1") of the simulated unit, with a
// current monitor (the current through the detector) and an HF mode (a faster read-out:
// shorter dead time, more noise).
//
// Rack keys: "physics" as SspdPhysics documents, HF keys included; EEPROM JSON
// {"constants": {"currentAdc": {"first", "second"}, "voltageAdc", "currentDac",
// "currentMonitorAdc", "pulseWidth": number, "cmpRefDac"}}, fields not given keep their values.
// The pulse width is stored and echoed; the simulated read-out does not depend on it.
#include "simsspd.h"

class SimSspdM1 : public SimSspd<SimSspdModel1>
{
    Q_OBJECT
public:
    using SimSspd::SimSspd;
};
