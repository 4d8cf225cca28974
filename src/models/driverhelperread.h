#pragma once
// Reading a structure for DriverHelper: a value counts only when the module's answer to that
// very property was accepted, not when some other packet of the address ended the wait.
#include "drivers/driverproperty.h"

namespace driverhelper {

// The property's read with the given tries; *ok holds only if an answer of the property's
// own code and length was stored during the read. Any packet of the module's address ends
// a wait (a late acknowledgement, an answer of the wrong length), and the property would
// then hand back its previous value as if it were new.
template <typename Property>
typename Property::Value readAnswered(Property* property, int tries, bool* ok)
{
    bool stored = false;
    const int id = property->answerCallbacks()->add([&stored] { stored = true; });
    bool answered = false;
    const typename Property::Value value = property->read(&answered, tries);
    property->answerCallbacks()->remove(id);
    *ok = answered && stored;
    return value;
}

} // namespace driverhelper
