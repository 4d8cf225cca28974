#pragma once
// What every fuzz target shares: a broken property stops the run as a crash, which libFuzzer
// reports with the input that caused it; and the input's bytes as Qt bytes.
#include <QByteArray>

#include <cstddef>
#include <cstdint>

inline void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// The input without its first skip bytes (the targets' control bytes).
inline QByteArray fuzzBytes(const uint8_t* data, size_t size, size_t skip = 0)
{
    return QByteArray(reinterpret_cast<const char*>(data) + skip, qsizetype(size - skip));
}
