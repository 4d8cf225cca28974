#pragma once
// `sweep`: one of the engine's sweeps on an SSPD channel (counts against bias current or
// trigger level, IV curve) run to its end, or its count histogram for --duration; the
// points of the engine's own chart series go to a CSV file with the run's metadata.
#include "enginerequests.h"

class EngineSession;

int sweep(EngineSession& session, const SweepRequest& request);
