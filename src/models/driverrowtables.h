#pragma once
// The parameter rows of a module's panel, built from its device list record by module type.
#include "dataproviderlist.h"
#include "driverdataitem.h"

#include <QList>

// Appends the rows for record's "type" (SSPD models 0 and 1, temperature model 0) with the
// record's current values; other module types get no rows.
void appendDriverRows(QList<DriverDataItem>& rows, const DataProviderItem& record);
