#pragma once
// The unit's module list in its two forms: the JSON object of "SYST:DEVJ?" and the
// "<br>"-separated legacy list of "SYST:DEVL?". Identity texts are those the modules send.
#include <QByteArray>
#include <QList>
#include <QString>

class SimModule;

namespace SimInventory {

// One line of compact JSON: "count", "info" (one object per module) and "software_version".
QByteArray json(const QList<SimModule*>& modules, const QString& softwareVersion);
// "module=0:addr=3:type=VX9SDM0<br>module=1:addr=..." in address order.
QByteArray legacy(const QList<SimModule*>& modules);

} // namespace SimInventory
