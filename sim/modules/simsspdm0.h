#pragma once
// The model-0 SSPD bias and read-out module ("VX9SDM0") of the simulated unit.
//
// Rack keys: "physics" as SspdPhysics documents (without the HF keys); EEPROM JSON
// {"constants": {"currentAdc": {"first", "second"}, "voltageAdc", "currentDac", "cmpRefDac"}},
// fields not given keep their values.
#include "simsspd.h"

class SimSspdM0 : public SimSspd<SimSspdModel0>
{
    Q_OBJECT
public:
    using SimSspd::SimSspd;
};
