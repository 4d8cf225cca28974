#pragma once
// Where the firmware catalogue lives: the root address of the firmware web server's
// directory listings, as the application stores it.
#include <QString>

// The stored "FirmwareBaseUrl" of the application's settings, or the maker's server when
// none is stored.
QString storedFirmwareBaseUrl();
