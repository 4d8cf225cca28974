#include "crelaysstatus.h"

#include <QtGlobal>

cRelaysStatus::cRelaysStatus(quint8 mask, quint8 state)
    // A state wider than a nibble would spill into the mask and change other relays.
    : m_raw(quint8((mask & 0x0F) << 4 | (state & 0x0F)))
{
}

bool cRelaysStatus::operator[](int index) const
{
    if (index < 0 || index >= RelayCount)
        qFatal("relay index must be < 2");
    return (m_raw >> index) & 1;
}

cRelaysStatus& cRelaysStatus::clearMask()
{
    m_raw %= 16;
    return *this;
}
