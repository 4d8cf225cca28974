#pragma once
// Where the programs keep what they remember between runs (the QSettings organisation and
// application) and the keys and defaults of the stored values; the application, its tools
// and the firmware maintenance all read and write the same store.
#include <QString>

namespace StoredSettings {
inline constexpr QLatin1String Organisation("Norvane");
inline constexpr QLatin1String Application("cu-tavik");
// The unit address the application last connected to, zero-padded as it stores it.
inline constexpr QLatin1String UnitAddressKey("TcpIpAddress");
inline constexpr QLatin1String DefaultUnitAddress("127.000.000.001");
} // namespace StoredSettings
