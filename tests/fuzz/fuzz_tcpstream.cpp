// Fuzzes the packet parser of the unit's TCP stream with arbitrary bytes arriving in
// arbitrary pieces, the way socket reads deliver them. Whatever the pieces, every packet
// must be a stretch of what was fed, in stream order, and the packets, the bytes a handler
// threw away and what is left in the buffer must add up to the input exactly.
//
// Input layout: byte 0 picks the largest piece, bytes 1 and 2 seed the piece sizes, byte 3
// tells how handlers behave (low nibble: every how many packets one clears the buffer, as a
// handler that sends does; high nibble: every how many packets one parses the buffer again,
// as a handler that runs a nested event loop does; 0 = never). The rest is the stream.
#include "link/packet.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

constexpr int MaxNesting = 4;

// Sizes from one byte up to beyond the longest packet (258 bytes), and the whole stream.
qsizetype largestPiece(quint8 selector, qsizetype streamSize)
{
    constexpr qsizetype limits[] = {1, 2, 3, 4, 7, 16, 64, 259, 1024};
    const qsizetype count = qsizetype(std::size(limits));
    const qsizetype choice = selector % (count + 1);
    return choice == count ? qMax<qsizetype>(1, streamSize) : limits[choice];
}

class PieceSizes
{
public:
    PieceSizes(quint16 seed, qsizetype largest) : m_state(seed | 0x10000u), m_largest(largest) {}
    // Everything in one read.
    static PieceSizes all() { return PieceSizes(0, 0); }

    qsizetype next()
    {
        if (m_largest == 0)
            return std::numeric_limits<qsizetype>::max();
        // xorshift32: cheap, and the same seed always gives the same pieces.
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return 1 + qsizetype(m_state % quint32(m_largest));
    }

private:
    quint32 m_state;
    qsizetype m_largest;
};

struct Handling
{
    int clearEvery = 0;
    int reparseEvery = 0;
};

class Run
{
public:
    Run(const QByteArray& stream, Handling handling) : m_stream(stream), m_handling(handling) {}

    void feed(PieceSizes pieces)
    {
        while (m_fed < m_stream.size()) {
            const qsizetype size = qMin(pieces.next(), m_stream.size() - m_fed);
            m_buffer.append(m_stream.constData() + m_fed, size);
            m_fed += size;
            parse();
        }
    }

    void finish() const
    {
        check(m_fed == m_stream.size());
        check(m_accounted.size() + m_buffer.size() == m_stream.size());
        check(m_accounted + m_buffer == m_stream);
        // Nothing complete may stay behind.
        check(m_buffer.size() < 3 || 3 + quint8(m_buffer.at(2)) > m_buffer.size());
    }

    int packets() const { return m_packets; }
    const QByteArray& accounted() const { return m_accounted; }

private:
    void parse()
    {
        const int depth = m_depth;
        m_deliveredAt[depth] = 0;
        const int delivered = cuTakePackets(
            m_buffer, [this](quint8 a, quint8 c, quint8 n, quint8* d) { deliver(a, c, n, d); });
        check(delivered == m_deliveredAt[depth]);
    }

    void deliver(quint8 address, quint8 command, quint8 dataLength, quint8* data)
    {
        check(dataLength == 0 || data != nullptr);
        ++m_deliveredAt[m_depth];
        ++m_packets;
        // Reads every data byte, so the sanitizer sees a pointer that overruns its block.
        const QByteArray packet = cuEncodePacket(address, command, dataLength, data);
        // The packet has left the buffer already; it sat right after everything accounted.
        const qsizetype at = m_fed - m_buffer.size() - packet.size();
        check(at == m_accounted.size());
        check(at >= 0 && at + packet.size() <= m_fed);
        check(m_stream.mid(at, packet.size()) == packet);
        m_accounted += packet;

        if (m_handling.clearEvery > 0 && m_packets % m_handling.clearEvery == 0) {
            m_accounted += m_buffer;
            m_buffer.clear();
        }
        if (m_handling.reparseEvery > 0 && m_packets % m_handling.reparseEvery == 0 &&
            m_depth < MaxNesting) {
            ++m_depth;
            parse();
            --m_depth;
        }
    }

    const QByteArray& m_stream;
    const Handling m_handling;
    QByteArray m_buffer;
    qsizetype m_fed = 0;
    // Delivered packets and the bytes handlers threw away, in stream order.
    QByteArray m_accounted;
    int m_packets = 0;
    int m_depth = 0;
    int m_deliveredAt[MaxNesting + 1] = {};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    constexpr size_t Control = 4;
    if (size < Control)
        return 0;
    const QByteArray stream(reinterpret_cast<const char*>(bytes) + Control,
                            qsizetype(size - Control));
    const qsizetype largest = largestPiece(bytes[0], stream.size());
    const auto seed = quint16(bytes[1] | bytes[2] << 8);
    const Handling handling{bytes[3] & 0x0F, bytes[3] >> 4};

    // Handlers that only look: the stream splits the same way whatever the pieces.
    Run whole(stream, {});
    whole.feed(PieceSizes::all());
    whole.finish();
    Run pieces(stream, {});
    pieces.feed(PieceSizes(seed, largest));
    pieces.finish();
    check(pieces.packets() == whole.packets());
    check(pieces.accounted() == whole.accounted());

    // Handlers that send (and so clear the buffer) or parse again from a nested loop.
    Run busy(stream, handling);
    busy.feed(PieceSizes(seed, largest));
    busy.finish();
    if (handling.clearEvery == 0)
        check(busy.accounted() == whole.accounted());
    return 0;
}
