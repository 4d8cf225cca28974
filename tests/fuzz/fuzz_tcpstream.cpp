// Fuzzes the packet parser of the unit's TCP stream with bytes in pieces, as socket reads
// deliver them: packets must be stretches of the stream, in order, and with the bytes handlers
// threw away and what is left add up to it exactly. Byte 0 picks the largest piece, bytes 1-2
// seed the sizes, byte 3 how handlers clear the buffer (as ones that send) or parse it again
// (as ones in a nested event loop); the rest is the stream.
#include "fuzzcheck.h"
#include "link/packet.h"
#include <iterator>

// One run through the stream; handlers clear the buffer every clearEvery packets and parse
// it again every reparseEvery (0 = never).
struct Run
{
    const QByteArray& stream;
    const int clearEvery = 0;
    const int reparseEvery = 0;
    QByteArray buffer = {};
    qsizetype fed = 0;
    QByteArray accounted = {}; // delivered packets and the bytes handlers threw away, in order
    int packets = 0, depth = 0;
    int deliveredAt[5] = {};
    // Feeds pieces of 1 to largest bytes (0: all), sized by xorshift32 from the seed.
    void feed(quint16 seed = 0, qsizetype largest = 0)
    {
        quint32 state = seed | 0x10000u;
        while (fed < stream.size()) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const qsizetype piece =
                largest ? 1 + qsizetype(state % quint32(largest)) : stream.size();
            const qsizetype size = qMin(piece, stream.size() - fed);
            buffer.append(stream.constData() + fed, size);
            fed += size;
            parse();
        }
        check(accounted + buffer == stream);
        check(buffer.size() < 3 || 3 + quint8(buffer.at(2)) > buffer.size());
    }
    void parse()
    {
        const int at = depth;
        deliveredAt[at] = 0;
        const int delivered = cuTakePackets(
            buffer, [this](quint8 a, quint8 c, quint8 n, quint8* d) { deliver(a, c, n, d); });
        check(delivered == deliveredAt[at]);
    }
    void deliver(quint8 address, quint8 command, quint8 dataLength, quint8* data)
    {
        check(dataLength == 0 || data != nullptr);
        ++deliveredAt[depth];
        ++packets;
        // Reads every data byte, so the sanitizer sees a pointer that overruns its block.
        const QByteArray packet = cuEncodePacket(address, command, dataLength, data);
        // The packet has left the buffer already; it sat right after everything accounted.
        const qsizetype at = fed - buffer.size() - packet.size();
        check(at == accounted.size() && stream.mid(at, packet.size()) == packet);
        accounted += packet;
        if (clearEvery > 0 && packets % clearEvery == 0) {
            accounted += buffer;
            buffer.clear();
        }
        if (reparseEvery > 0 && packets % reparseEvery == 0 && depth < 4) {
            ++depth;
            parse();
            --depth;
        }
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 4)
        return 0;
    const QByteArray stream = fuzzBytes(bytes, size, 4);
    // Pieces from one byte up to beyond the longest packet (258 bytes), or the whole stream.
    constexpr qsizetype limits[] = {1, 2, 3, 4, 7, 16, 64, 259, 1024, 0};
    const qsizetype largest = limits[bytes[0] % std::size(limits)];
    const auto seed = quint16(bytes[1] | bytes[2] << 8);
    // Handlers that only look: the stream splits the same way whatever the pieces.
    Run whole{stream};
    whole.feed();
    Run pieces{stream};
    pieces.feed(seed, largest);
    check(pieces.packets == whole.packets && pieces.accounted == whole.accounted);
    // Handlers that send (and so clear the buffer) or parse again from a nested loop.
    Run busy{stream, bytes[3] & 0x0F, bytes[3] >> 4};
    busy.feed(seed, largest);
    if (busy.clearEvery == 0)
        check(busy.accounted == whole.accounted);
    return 0;
}
