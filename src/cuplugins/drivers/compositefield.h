#pragma once
// Keeps a composite property (live data, parameters, EEPROM constants) in step with the
// single properties of its fields, for the drivers whose modules answer both.
#include "driverproperty.h"

// When single is answered, its field of the cached composite takes the answered value and
// the composite is published whole, so the composite always holds the latest value of
// every field.
template <typename Single, typename CompositeProperty, typename Composite, typename Publish>
void followField(Single* single, CompositeProperty* composite,
                 typename Single::Value Composite::*field, Publish publish)
{
    single->answerCallbacks()->add([=] {
        Composite value = composite->cached();
        value.*field = single->cached();
        publish(value);
    });
}

// True when the last packet sent through p carried a value. After a read request through
// the same property the written value is no longer known (lastWritten() reads zero), so a
// late or stray acknowledgement must not be taken for one of that value.
template <typename T> bool valueWritten(DriverProperty<T>* p)
{
    return p->lastSentData().size() == DriverValue<T>::size;
}
