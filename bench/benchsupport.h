#pragma once
// What every benchmark here needs before it measures: proof that it runs in a network
// namespace of its own, and one CPU for all its threads.
#include <cstring>
#include <net/if.h>
#include <sched.h>

// Only a namespace made for us has nothing but loopback; anywhere else a socket might
// reach the network.
inline bool onlyLoopbackPresent()
{
    struct if_nameindex* interfaces = ::if_nameindex();
    if (!interfaces)
        return false;
    bool onlyLoopback = true;
    for (const struct if_nameindex* i = interfaces; i->if_index != 0; ++i)
        onlyLoopback = onlyLoopback && std::strcmp(i->if_name, "lo") == 0;
    ::if_freenameindex(interfaces);
    return onlyLoopback;
}

// Cross-CPU wake-ups on a small virtual machine swing loopback round trips by a factor of
// three from run to run; on one CPU the figures are the stack's own cost. Threads started
// afterwards inherit the mask. Returns the CPU, or -1.
inline int pinToCurrentCpu()
{
    const int cpu = ::sched_getcpu();
    if (cpu < 0)
        return -1;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
}
