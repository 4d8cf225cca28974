#pragma once
// The device list's records for a unit's module list object: one record per module listed,
// with its identity, its type code and the initial values its type shows until the first
// reading of the module replaces them.
#include "models/dataproviderlist.h"

#include <QJsonObject>
#include <QList>

// Type code of the device list (DataProviderList::DeviceType) for a unit's type string;
// a later match in the order SSPD, VX9TDM0, VX9TDM1 wins.
int moduleDeviceType(const QString& type);

// Records for entries 0 to "count" - 1 of "info" (none without a usable "count", never more
// than "info" holds), in order; entries that are not objects are skipped. "address" is the
// entry's own (-1 when missing).
QList<DataProviderItem> moduleRecords(const QJsonObject& list);
