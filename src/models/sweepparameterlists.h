#pragma once
// The default parameter rows of the four sweeps, as the sweep tabs first show them.
#include "driverdataitem.h"

#include <QList>
#include <QMap>

// Rows keyed by sweep mode number: 5 counts against bias current, 6 counts against trigger
// level, 7 IV curve, 8 count histogram. Every call builds fresh, independent lists.
QMap<int, QList<DriverDataItem>> defaultSweepParameterLists();
