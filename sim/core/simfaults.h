#pragma once
// Misbehaviour the simulated unit shows on demand, so that clients can be tested against a
// slow, lossy or broken unit. Everything off by default.
#include <QtGlobal>

struct SimFaults
{
    // Every answer (text or packet) leaves this many milliseconds after its request.
    int latencyMs = 0;
    // Module answers that are never sent: each with this probability (0..1), and every Nth.
    double dropProbability = 0.0;
    int dropEvery = 0;
    // Every Nth module answer carries one data byte less (one more when it has none); its
    // length byte matches, so the stream stays aligned and only the structure is wrong.
    int wrongLengthEvery = 0;
    // Every Nth module answer is preceded by garbageBytes random bytes.
    int garbageEvery = 0;
    int garbageBytes = 4;
    // A connection is closed by the unit once it has sent this many packets (0: never).
    int closeAfterPackets = 0;
    // The unit accepts connections and reads what comes, but never answers anything.
    bool mute = false;

    bool any() const
    {
        return latencyMs > 0 || dropProbability > 0 || dropEvery > 0 || wrongLengthEvery > 0 ||
               garbageEvery > 0 || closeAfterPackets > 0 || mute;
    }
};
