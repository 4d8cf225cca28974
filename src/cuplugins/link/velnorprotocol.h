#pragma once
// Our codec of the module bus on the RS-485 line. A frame starts with 0xF9 and ends with
// 0xFA; neither byte occurs inside it. Between them, escaped: address, command, dataLength,
// the data bytes and a frame check (CRC-16/CCITT-FALSE of address to data, low byte first).
// The encoded frame is at the start of the 256-byte buffer.
#include <QByteArray>
#include <QtGlobal>
#include <functional>

class cAbstractVelnorProtocol
{
public:
    static constexpr int BufferSize = 256;
    static constexpr uchar FrameStart = 0xF9;
    static constexpr uchar FrameEnd = 0xFA;
    // Inside a frame, 0xF9, 0xFA and 0xFB travel as 0xFB followed by the byte XOR 0x20.
    static constexpr uchar Escape = 0xFB;
    static constexpr uchar EscapeXor = 0x20;
    // Longest frame on the bus: one that fills the buffer. Longer input is no frame.
    static constexpr int MaxFrameSize = BufferSize;

    // Results of encodeBuffer(); every value but DecodeOk means the frame is dropped.
    enum DecodeResult {
        DecodeOk = 0,
        DecodeNotAFrame, // does not start with 0xF9 and end with 0xFA, or one occurs inside
        DecodeTooLong,   // grew beyond MaxFrameSize
        DecodeBadEscape, // 0xFB not followed by an escaped 0xF9, 0xFA or 0xFB
        DecodeBadLength, // body size disagrees with dataLength
        DecodeBadCheck,  // frame check mismatch
    };

    cAbstractVelnorProtocol();
    virtual ~cAbstractVelnorProtocol() = default;

    // Forgets any partially collected frame.
    void clearBuffer();
    // Encodes one packet into buffer(). A packet whose frame would not fit in the buffer is
    // refused: the buffer is then zero-filled (it holds no 0xFA) and false is returned.
    bool codeData(uchar address, uchar command, uchar dataLength, const uchar* data);
    // After codeData: the frame; after a successful decode: the packet's data bytes.
    uchar* buffer() { return m_buffer; }
    // Appends received bytes to the frame being collected.
    void addData(uchar* bytes, char count);
    // Decodes and checks the collected frame: 0 when it is a valid packet.
    int encodeBuffer();
    // After a successful decode: byte 0 address, byte 1 command, byte 2 dataLength.
    quint32 headPacket() const { return m_head; }

private:
    uchar m_buffer[BufferSize];
    QByteArray m_collected;
    quint32 m_head = 0;
};

class cVelnorProtocolPC : public cAbstractVelnorProtocol
{
public:
    // The one codec of the process, shared by sending and receiving.
    static cAbstractVelnorProtocol* instance();
    // The CRC an STM32 CRC unit computes (CRC-32, polynomial 0x04C11DB7, fed 32-bit
    // little-endian words). reset starts from 0xFFFFFFFF; otherwise the running value of
    // the previous call continues. A tail shorter than a word is padded with zero bytes.
    static quint32 crc32stm32(uchar* data, uchar length, bool reset);
};

// Feeds received line bytes to the codec the way the RS-485 receiver does: a 0xF9 starts a
// new frame, a 0xFA ends one; each valid frame goes to sink with a copy of its data.
void cuFeedBusBytes(cAbstractVelnorProtocol& codec, const QByteArray& bytes,
                    const std::function<void(quint8 address, quint8 command, quint8 dataLength,
                                             quint8* data)>& sink);
