#pragma once
// Bus packets as the link tests compare them, and frames encoded and decoded with a codec of
// their own, so the shared one of the transport under test is not disturbed.
#include "link/velnorprotocol.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

struct Packet
{
    quint8 address = 0;
    quint8 command = 0;
    QByteArray data;
    bool operator==(const Packet&) const = default;
};

inline char* toString(const Packet& p)
{
    return qstrdup((QByteArray::number(p.address) + "/" + QByteArray::number(p.command) + ": " +
                    p.data.toHex(' '))
                       .constData());
}

// The frame at the start of the codec buffer: up to and including the first 0xFA.
inline QByteArray frameIn(cAbstractVelnorProtocol& codec)
{
    const QByteArray all(reinterpret_cast<const char*>(codec.buffer()), 256);
    return all.left(all.indexOf(char(0xFA)) + 1);
}

inline QList<Packet> feed(cAbstractVelnorProtocol& codec, const QByteArray& bytes)
{
    QList<Packet> out;
    cuFeedBusBytes(codec, bytes, [&](quint8 a, quint8 c, quint8 n, quint8* d) {
        out.append({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
    });
    return out;
}

inline QList<Packet> decode(const QByteArray& bytes)
{
    cAbstractVelnorProtocol codec;
    return feed(codec, bytes);
}

// Empty when the packet does not fit a frame.
inline QByteArray encode(const Packet& p)
{
    cAbstractVelnorProtocol codec;
    if (!codec.codeData(p.address, p.command, quint8(p.data.size()),
                        reinterpret_cast<const uchar*>(p.data.constData())))
        return {};
    return frameIn(codec);
}
