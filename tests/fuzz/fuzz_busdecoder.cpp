// Fuzzes the module bus receiver with arbitrary line bytes, and the encoder with packets
// taken from the input: decoded packets must be consistent, frames must round-trip.
#include "fuzzcheck.h"
#include "link/velnorprotocol.h"
#include <tuple>
#include <vector>

using Codec = cAbstractVelnorProtocol;

using Packet = std::tuple<quint8, quint8, QByteArray>; // address, command, data

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
    const auto& [address, command, data] = p;
    const bool ok = codec.codeData(address, command, quint8(data.size()),
                                   reinterpret_cast<const uchar*>(data.constData()));
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
    // Line bytes at once: each packet has exactly one encoding, and it is on the line.
    const std::vector<Packet> packets = decode(input);
    for (const Packet& p : packets) {
        check(std::get<2>(p).size() <= 255);
        const QByteArray frame = encode(p);
        check(!frame.isEmpty() && input.contains(frame) && decode(frame) == std::vector<Packet>{p});
    }
    // The same bytes one by one, through the shared codec, give the same packets.
    Codec* shared = cVelnorProtocolPC::instance();
    shared->clearBuffer();
    std::vector<Packet> piecewise;
    for (char c : input)
        for (const Packet& p : decode(QByteArray(1, c), shared))
            piecewise.push_back(p);
    check(piecewise == packets);
    // The first bytes as a packet round-trip, behind line noise too, or cannot fit at all.
    if (size >= 2) {
        const Packet p{bytes[0], bytes[1], input.mid(2, 255)};
        const QByteArray frame = encode(p);
        if (frame.isEmpty()) {
            check(std::get<2>(p).size() > 122);
        } else {
            check(frame.size() <= Codec::BufferSize && decode(frame) == std::vector<Packet>{p});
            const std::vector<Packet> got = decode(input + frame);
            check(!got.empty() && got.back() == p);
        }
    }
    return 0;
}
