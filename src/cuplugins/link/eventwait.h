#pragma once
// Waiting on a device without blocking the thread's event handling: the thread sleeps
// in its event dispatcher and wakes for each event, or at the deadline.
#include <functional>

// Runs the calling thread's event loop until done() holds or timeoutMs have passed.
// done() is checked before the first wait and after every event. Returns done()'s last value.
bool cuWaitForEvents(const std::function<bool()>& done, int timeoutMs);
