// Fuzzes the module bus receiver with arbitrary line bytes, and the encoder with packets
// taken from the input: decoded packets must be consistent, frames must round-trip.
#include "fuzzcheck.h"
#include "link/velnorprotocol.h"
#include <vector>

using Codec = cAbstractVelnorProtocol;

struct Packet
{
    quint8 address;
    quint8 command;
    QByteArray data;
    bool operator==(const Packet&) const = default;
};

// The packets of the bytes, through the codec given or a fresh one.
static std::vector<Packet> decode(const QByteArray& bytes, Codec* given = nullptr)
{
    Codec fresh;
    std::vector<Packet> out;
    cuFeedBusBytes(given ? *given : fresh, bytes, [&](quint8 a, quint8 c, quint8 n, quint8* d) {
        check(d != nullptr || n == 0);
        out.push_back({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
    });
    return out;
}

// The frame at the start of the buffer, or empty when codeData refused the packet.
static QByteArray encode(const Packet& p)
{
    Codec codec;
    const bool ok = codec.codeData(p.address, p.command, quint8(p.data.size()),
                                   reinterpret_cast<const uchar*>(p.data.constData()));
    const QByteArray all(reinterpret_cast<const char*>(codec.buffer()), Codec::BufferSize);
    const qsizetype end = all.indexOf(char(Codec::FrameEnd));
    check(ok ? end > 0 : end < 0);
    const QByteArray frame = all.left(ok ? end + 1 : 0);
    check(!ok || uchar(frame.front()) == Codec::FrameStart);
    check(!frame.mid(1).contains(char(Codec::FrameStart)));
    return frame;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const QByteArray input = fuzzBytes(bytes, size);

    // Arbitrary line bytes, all at once. Each packet has exactly one encoding, and it must
    // be on the line.
    const std::vector<Packet> packets = decode(input);
    for (const Packet& p : packets) {
        check(p.data.size() <= 255);
        const QByteArray frame = encode(p);
        check(!frame.isEmpty() && input.contains(frame));
        check(decode(frame) == std::vector<Packet>{p});
    }

    // The same bytes one by one, through the shared codec, give the same packets.
    Codec* shared = cVelnorProtocolPC::instance();
    shared->clearBuffer();
    std::vector<Packet> piecewise;
    for (char c : input) {
        const std::vector<Packet> got = decode(QByteArray(1, c), shared);
        piecewise.insert(piecewise.end(), got.begin(), got.end());
    }
    check(piecewise == packets);

    // The input's first bytes as a packet: it round-trips, also behind line noise, or is
    // refused, and only when it cannot fit even without escapes beyond the data's.
    if (size >= 2) {
        const Packet p{bytes[0], bytes[1], input.mid(2, 255)};
        const QByteArray frame = encode(p);
        if (frame.isEmpty()) {
            check(p.data.size() > 122);
        } else {
            check(frame.size() <= Codec::BufferSize);
            check(decode(frame) == std::vector<Packet>{p});
            const std::vector<Packet> got = decode(input + frame);
            check(!got.empty() && got.back() == p);
        }
    }
    return 0;
}
