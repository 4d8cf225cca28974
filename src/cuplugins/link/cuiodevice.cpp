#include "cuiodevice.h"

#include "cuiointerface.h"

void cuIODeviceImpl::setInterface(cuIOInterface* iface)
{
    if (!iface)
        return;
    m_interface = iface;
    connect(iface, &cuIOInterface::msgReceived, this, &cuIODeviceImpl::msgReceived,
            Qt::UniqueConnection);
}

void cuIODeviceImpl::sendMsg(quint8 command, quint8 dataLength, quint8* data)
{
    if (m_interface)
        m_interface->sendMsg(m_address, command, dataLength, data);
}

void cuIODeviceImpl::msgReceived(quint8 address, quint8 command, quint8 dataLength, quint8* data)
{
    handleMsg(address, command, dataLength, data);
}
