#include "packet.h"

#include <cstring>

QByteArray cuEncodePacket(quint8 address, quint8 command, quint8 dataLength, const quint8* data)
{
    const cuPacketHeader header{address, command, dataLength};
    QByteArray bytes(sizeof header + dataLength, Qt::Uninitialized);
    std::memcpy(bytes.data(), &header, sizeof header);
    if (dataLength > 0)
        std::memcpy(bytes.data() + sizeof header, data, dataLength);
    return bytes;
}

int cuTakePackets(QByteArray& buffer, const cuPacketSink& sink)
{
    int delivered = 0;
    while (buffer.size() >= qsizetype(sizeof(cuPacketHeader))) {
        cuPacketHeader header;
        std::memcpy(&header, buffer.constData(), sizeof header);
        const qsizetype length = qsizetype(sizeof header) + header.dataLength;
        if (length > buffer.size())
            break;
        QByteArray packet = buffer.left(length);
        buffer.remove(0, length);
        sink(header.address, header.command, header.dataLength,
             reinterpret_cast<quint8*>(packet.data()) + sizeof header);
        ++delivered;
    }
    return delivered;
}
