// Fuzzes the packet parser of the unit's TCP stream with arbitrary bytes in pieces, as socket
// reads deliver them: every packet must be a stretch of the stream, in order, and packets,
// bytes a handler threw away and what is left must add up to the input exactly. Byte 0 picks
// the largest piece, bytes 1-2 seed the sizes; byte 3's low nibble makes every Nth handler
// clear the buffer (as one that sends does), its high nibble parse it again (as one that runs
// a nested event loop does; 0 = never). The rest is the stream.
#include "fuzzcheck.h"
#include "link/packet.h"
#include <iterator>

constexpr int MaxNesting = 4;

class Run
{
public:
    Run(const QByteArray& stream, int clearEvery = 0, int reparseEvery = 0)
        : m_stream(stream), m_clearEvery(clearEvery), m_reparseEvery(reparseEvery)
    {
    }

    // Feeds the stream in pieces of 1 to largest bytes (0: at once), sized by xorshift32 from
    // the seed; then all must be accounted for, and nothing complete left behind.
    void feed(quint16 seed = 0, qsizetype largest = 0)
    {
        quint32 state = seed | 0x10000u;
        while (m_fed < m_stream.size()) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const qsizetype piece =
                largest ? 1 + qsizetype(state % quint32(largest)) : m_stream.size();
            const qsizetype size = qMin(piece, m_stream.size() - m_fed);
            m_buffer.append(m_stream.constData() + m_fed, size);
            m_fed += size;
            parse();
        }
        check(m_accounted + m_buffer == m_stream);
        check(m_buffer.size() < 3 || 3 + quint8(m_buffer.at(2)) > m_buffer.size());
    }

    int packets = 0;
    // Delivered packets and the bytes handlers threw away, in stream order.
    QByteArray accounted() const { return m_accounted; }

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
        ++packets;
        // Reads every data byte, so the sanitizer sees a pointer that overruns its block.
        const QByteArray packet = cuEncodePacket(address, command, dataLength, data);
        // The packet has left the buffer already; it sat right after everything accounted.
        const qsizetype at = m_fed - m_buffer.size() - packet.size();
        check(at == m_accounted.size() && m_stream.mid(at, packet.size()) == packet);
        m_accounted += packet;

        if (m_clearEvery > 0 && packets % m_clearEvery == 0) {
            m_accounted += m_buffer;
            m_buffer.clear();
        }
        if (m_reparseEvery > 0 && packets % m_reparseEvery == 0 && m_depth < MaxNesting) {
            ++m_depth;
            parse();
            --m_depth;
        }
    }

    const QByteArray& m_stream;
    const int m_clearEvery;
    const int m_reparseEvery;
    QByteArray m_buffer;
    qsizetype m_fed = 0;
    QByteArray m_accounted;
    int m_depth = 0;
    int m_deliveredAt[MaxNesting + 1] = {};
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
    Run whole(stream);
    whole.feed();
    Run pieces(stream);
    pieces.feed(seed, largest);
    check(pieces.packets == whole.packets && pieces.accounted() == whole.accounted());

    // Handlers that send (and so clear the buffer) or parse again from a nested loop.
    Run busy(stream, bytes[3] & 0x0F, bytes[3] >> 4);
    busy.feed(seed, largest);
    if ((bytes[3] & 0x0F) == 0)
        check(busy.accounted() == whole.accounted());
    return 0;
}
