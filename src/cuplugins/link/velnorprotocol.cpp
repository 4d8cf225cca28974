#include "velnorprotocol.h"

#include "linklog.h"

#include <cstring>

namespace {

// address, command, dataLength
constexpr int HeaderSize = 3;
constexpr int CheckSize = 2;
constexpr int MaxDataLength = 255;

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial value 0xFFFF, no reflection, no final XOR.
quint16 frameCheck(const uchar* bytes, int count)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < count; ++i) {
        crc ^= quint16(bytes[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

bool needsEscape(uchar b)
{
    return b == cAbstractVelnorProtocol::FrameStart || b == cAbstractVelnorProtocol::FrameEnd ||
           b == cAbstractVelnorProtocol::Escape;
}

} // namespace

cAbstractVelnorProtocol::cAbstractVelnorProtocol()
{
    std::memset(m_buffer, 0, sizeof m_buffer);
    // One more than the limit, so the overlong marker never reallocates.
    m_collected.reserve(MaxFrameSize + 1);
}

void cAbstractVelnorProtocol::clearBuffer()
{
    // truncate keeps the reserved capacity: receiving allocates nothing per frame.
    m_collected.truncate(0);
}

bool cAbstractVelnorProtocol::codeData(uchar address, uchar command, uchar dataLength,
                                       const uchar* data)
{
    if (dataLength > 0 && !data) {
        std::memset(m_buffer, 0, sizeof m_buffer);
        return false;
    }

    uchar body[HeaderSize + MaxDataLength + CheckSize];
    body[0] = address;
    body[1] = command;
    body[2] = dataLength;
    if (dataLength > 0)
        std::memcpy(body + HeaderSize, data, dataLength);
    const int checked = HeaderSize + dataLength;
    const quint16 check = frameCheck(body, checked);
    body[checked] = uchar(check & 0xFF);
    body[checked + 1] = uchar(check >> 8);
    const int bodySize = checked + CheckSize;

    // Encoded into a scratch frame first: a packet that does not fit must leave no partial
    // frame (and so no 0xFA) behind in the buffer, which callers search for the frame end.
    uchar frame[BufferSize];
    int n = 0;
    frame[n++] = FrameStart;
    for (int i = 0; i < bodySize; ++i) {
        const uchar b = body[i];
        const int needed = needsEscape(b) ? 2 : 1;
        // Room must remain for the closing 0xFA.
        if (n + needed + 1 > BufferSize) {
            qCDebug(lcLink) << "bus frame too long for packet, address" << address << "command"
                            << command << "length" << dataLength;
            std::memset(m_buffer, 0, sizeof m_buffer);
            return false;
        }
        if (needed == 2) {
            frame[n++] = Escape;
            frame[n++] = uchar(b ^ EscapeXor);
        } else {
            frame[n++] = b;
        }
    }
    frame[n++] = FrameEnd;

    std::memcpy(m_buffer, frame, n);
    std::memset(m_buffer + n, 0, sizeof m_buffer - n);
    return true;
}

void cAbstractVelnorProtocol::addData(uchar* bytes, char count)
{
    if (!bytes || count <= 0)
        return;
    // Input that never ends a frame (noise on the line, a lost 0xFA) would otherwise grow
    // without bound; one byte beyond the limit marks the frame as overlong until cleared.
    const qsizetype room = MaxFrameSize + 1 - m_collected.size();
    if (room <= 0)
        return;
    m_collected.append(reinterpret_cast<const char*>(bytes), qMin<qsizetype>(room, count));
}

int cAbstractVelnorProtocol::encodeBuffer()
{
    const qsizetype size = m_collected.size();
    if (size > MaxFrameSize)
        return DecodeTooLong;
    const auto* frame = reinterpret_cast<const uchar*>(m_collected.constData());
    if (size < 2 || frame[0] != FrameStart || frame[size - 1] != FrameEnd)
        return DecodeNotAFrame;

    uchar body[MaxFrameSize];
    int bodySize = 0;
    for (qsizetype i = 1; i < size - 1; ++i) {
        uchar b = frame[i];
        if (b == FrameStart || b == FrameEnd)
            return DecodeNotAFrame;
        if (b == Escape) {
            if (i + 1 >= size - 1)
                return DecodeBadEscape;
            b = uchar(frame[++i] ^ EscapeXor);
            // Only the three reserved values are ever escaped; anything else is a corrupted
            // frame, and refusing it keeps each packet to exactly one encoding.
            if (!needsEscape(b))
                return DecodeBadEscape;
        }
        body[bodySize++] = b;
    }

    if (bodySize < HeaderSize + CheckSize || body[2] != bodySize - HeaderSize - CheckSize)
        return DecodeBadLength;
    const int checked = bodySize - CheckSize;
    const quint16 received = quint16(body[checked] | (body[checked + 1] << 8));
    if (frameCheck(body, checked) != received)
        return DecodeBadCheck;

    const uchar dataLength = body[2];
    std::memcpy(m_buffer, body + HeaderSize, dataLength);
    m_head = quint32(body[0]) | quint32(body[1]) << 8 | quint32(dataLength) << 16;
    return DecodeOk;
}

cAbstractVelnorProtocol* cVelnorProtocolPC::instance()
{
    static cVelnorProtocolPC codec;
    return &codec;
}

quint32 cVelnorProtocolPC::crc32stm32(uchar* data, uchar length, bool reset)
{
    // The running value lets a caller check a block in pieces, as the STM32 unit does
    // when its data register is written again without a reset.
    static quint32 crc = 0xFFFFFFFF;
    if (reset)
        crc = 0xFFFFFFFF;
    if (!data)
        return crc;
    for (int i = 0; i < length; i += 4) {
        quint32 word = 0;
        for (int k = 0; k < 4 && i + k < length; ++k)
            word |= quint32(data[i + k]) << (8 * k);
        crc ^= word;
        for (int bit = 0; bit < 32; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

void cuFeedBusBytes(cAbstractVelnorProtocol& codec, const QByteArray& bytes,
                    const std::function<void(quint8 address, quint8 command, quint8 dataLength,
                                             quint8* data)>& sink)
{
    for (const char c : bytes) {
        uchar b = uchar(c);
        if (b == cAbstractVelnorProtocol::FrameStart)
            codec.clearBuffer();
        codec.addData(&b, 1);
        if (b != cAbstractVelnorProtocol::FrameEnd)
            continue;
        const int result = codec.encodeBuffer();
        if (result != cAbstractVelnorProtocol::DecodeOk) {
            qCDebug(lcLink) << "bus frame dropped, decode result" << result;
            continue;
        }
        const quint32 head = codec.headPacket();
        const quint8 address = quint8(head & 0xFF);
        const quint8 command = quint8((head >> 8) & 0xFF);
        const quint8 dataLength = quint8((head >> 16) & 0xFF);
        // The codec buffer is shared with sending: a sink that answers re-encodes into it.
        quint8 data[cAbstractVelnorProtocol::BufferSize];
        std::memcpy(data, codec.buffer(), dataLength);
        sink(address, command, dataLength, data);
    }
}
