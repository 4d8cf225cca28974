#include "cuiointerface.h"

bool cuIOInterfaceImpl::open()
{
    return openImpl();
}

bool cuIOInterfaceImpl::sendMsg(quint8 address, quint8 command, quint8 dataLength, quint8* data)
{
    return sendMsgImpl(address, command, dataLength, data);
}

void cuIOInterfaceImpl::setMode(int mode)
{
    m_mode = mode;
}

QByteArray cuIOInterfaceImpl::readAll()
{
    return {};
}

bool cuIOInterfaceImpl::write(const QByteArray&)
{
    return true;
}
