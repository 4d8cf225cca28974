#pragma once
// The ports a control unit and the application meet on: the unit's own TCP port, the
// discovery broadcast and its answer connections, and the application's firmware file
// server, which the unit connects to during an update.
#include <QtGlobal>

namespace UnitPorts {
constexpr quint16 Unit = 9876;               // TCP: text commands and module packets
constexpr quint16 DiscoveryBroadcast = 9877; // UDP: "cu-software" to the units
constexpr quint16 DiscoveryAnswer = 9878;    // TCP: units connect back to the application
constexpr quint16 FileServer = 9879;         // TCP: the unit fetches a firmware image
} // namespace UnitPorts
