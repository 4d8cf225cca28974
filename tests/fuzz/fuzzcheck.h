#pragma once
// What the fuzz targets share: a broken property is a crash, which libFuzzer reports with its
// input; and the input, without its first skip bytes (control bytes), as Qt bytes.
#include <QByteArray>

inline void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

inline QByteArray fuzzBytes(const uint8_t* data, size_t size, size_t skip = 0)
{
    return QByteArray(reinterpret_cast<const char*>(data) + skip, qsizetype(size - skip));
}
