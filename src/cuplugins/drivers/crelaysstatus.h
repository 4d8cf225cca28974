#pragma once
// The relay byte of a model-1 temperature module. Read from the module, bit 0 is relay 0
// and bit 1 relay 1 (set: on). Written to it, the high nibble masks the relays to change
// and the low nibble gives their new states.
#include <QMetaType>

class cRelaysStatus
{
public:
    static constexpr int RelayCount = 2;

    cRelaysStatus() = default;
    // Implicit: a relay byte travels and is assigned as the plain byte.
    cRelaysStatus(quint8 raw) : m_raw(raw) {}
    // The byte that changes the relays of mask to the bits of state.
    cRelaysStatus(quint8 mask, quint8 state);

    quint8 raw() const { return m_raw; }
    // State of relay index (0 or 1). Any other index is a programming error and stops the
    // program.
    bool operator[](int index) const;
    // Drops the mask nibble, leaving the relay states.
    cRelaysStatus& clearMask();

    friend bool operator==(const cRelaysStatus&, const cRelaysStatus&) = default;

private:
    quint8 m_raw = 0;
};
static_assert(sizeof(cRelaysStatus) == 1);

Q_DECLARE_METATYPE(cRelaysStatus)
