#pragma once
// `monitor`: the engine's home view or one of its time plots, with every reading printed
// as one CSV line until --duration has passed or the user presses Ctrl-C.
#include "enginerequests.h"

#include <QStringList>

class EngineSession;

// The CSV columns of a monitor kind, header first.
QStringList monitorColumns(MonitorRequest::Kind kind);
int monitor(EngineSession& session, const MonitorRequest& request);
