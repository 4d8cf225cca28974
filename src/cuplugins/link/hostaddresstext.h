#pragma once
// Unit addresses as people and the stored setting write them: "127.000.000.001" (zero-padded
// groups, which QHostAddress would not take as decimal) as well as ordinary host addresses.
#include <QHostAddress>
#include <QString>

// Four dot-separated decimal groups (leading zeros allowed, each 0 to 255) make an IPv4
// address; any other text goes to QHostAddress's own parser unchanged (null if it fails).
QHostAddress cuHostAddressFromText(const QString& text);
