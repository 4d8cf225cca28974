// Fuzzes the module bus receiver with arbitrary line bytes, and the encoder with packets
// taken from the input: decoded packets must be consistent, frames must round-trip.
#include "link/velnorprotocol.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Packet
{
    quint8 address;
    quint8 command;
    QByteArray data;
    bool operator==(const Packet&) const = default;
};

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

std::vector<Packet> decode(cAbstractVelnorProtocol& codec, const QByteArray& bytes)
{
    std::vector<Packet> out;
    cuFeedBusBytes(codec, bytes, [&](quint8 a, quint8 c, quint8 n, quint8* d) {
        check(d != nullptr || n == 0);
        out.push_back({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
    });
    return out;
}

// The frame at the start of the buffer, or empty when codeData refused the packet.
QByteArray encode(cAbstractVelnorProtocol& codec, const Packet& p)
{
    const bool ok = codec.codeData(p.address, p.command, quint8(p.data.size()),
                                   reinterpret_cast<const uchar*>(p.data.constData()));
    const QByteArray all(reinterpret_cast<const char*>(codec.buffer()),
                         cAbstractVelnorProtocol::BufferSize);
    const qsizetype end = all.indexOf(char(cAbstractVelnorProtocol::FrameEnd));
    if (!ok) {
        check(end < 0);
        return {};
    }
    check(end > 0);
    const QByteArray frame = all.left(end + 1);
    check(uchar(frame.front()) == cAbstractVelnorProtocol::FrameStart);
    check(!frame.mid(1).contains(char(cAbstractVelnorProtocol::FrameStart)));
    return frame;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(bytes), qsizetype(size));

    // Arbitrary line bytes, all at once.
    cAbstractVelnorProtocol receiver;
    const std::vector<Packet> packets = decode(receiver, input);
    for (const Packet& p : packets) {
        check(p.data.size() <= 255);
        // Each packet has exactly one encoding, and it must be on the line.
        cAbstractVelnorProtocol encoder;
        const QByteArray frame = encode(encoder, p);
        check(!frame.isEmpty());
        check(input.contains(frame));
        cAbstractVelnorProtocol again;
        check(decode(again, frame) == std::vector<Packet>{p});
    }

    // The same bytes one by one, through the shared codec, give the same packets.
    cAbstractVelnorProtocol* shared = cVelnorProtocolPC::instance();
    shared->clearBuffer();
    std::vector<Packet> piecewise;
    for (char c : input) {
        const std::vector<Packet> got = decode(*shared, QByteArray(1, c));
        piecewise.insert(piecewise.end(), got.begin(), got.end());
    }
    check(piecewise == packets);

    // The input's first bytes as a packet: it round-trips or is refused cleanly.
    if (size >= 2) {
        const Packet p{bytes[0], bytes[1], input.mid(2, qMin<qsizetype>(qsizetype(size) - 2, 255))};
        cAbstractVelnorProtocol codec;
        const QByteArray frame = encode(codec, p);
        if (!frame.isEmpty()) {
            check(frame.size() <= cAbstractVelnorProtocol::BufferSize);
            cAbstractVelnorProtocol decoder;
            check(decode(decoder, frame) == std::vector<Packet>{p});
            // Behind line noise, the frame still arrives intact.
            cAbstractVelnorProtocol noisy;
            const std::vector<Packet> got = decode(noisy, input + frame);
            check(!got.empty() && got.back() == p);
        } else {
            // Only packets that cannot fit even without escapes beyond the data's are refused.
            check(p.data.size() > 122);
        }
    }
    return 0;
}
