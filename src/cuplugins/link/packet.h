#pragma once
// The bare packet of the module bus as it travels on the unit's TCP stream:
// address, command, data length, then that many data bytes; no start byte, no checksum.
#include <QByteArray>
#include <cstddef>
#include <functional>

struct cuPacketHeader
{
    quint8 address;
    quint8 command;
    quint8 dataLength;
};
static_assert(sizeof(cuPacketHeader) == 3);
static_assert(offsetof(cuPacketHeader, address) == 0);
static_assert(offsetof(cuPacketHeader, command) == 1);
static_assert(offsetof(cuPacketHeader, dataLength) == 2);

using cuPacketSink =
    std::function<void(quint8 address, quint8 command, quint8 dataLength, quint8* data)>;

// Header followed by dataLength bytes taken from data (data may be null when dataLength is 0).
QByteArray cuEncodePacket(quint8 address, quint8 command, quint8 dataLength, const quint8* data);

// Takes every complete packet off the front of buffer, in order, and hands each to sink.
// A packet leaves the buffer before its sink call, so the sink may touch the buffer
// (clear it, or parse it again from a nested event loop). Incomplete bytes stay.
// Returns the number of packets delivered.
int cuTakePackets(QByteArray& buffer, const cuPacketSink& sink);
