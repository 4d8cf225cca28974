#pragma once
// Two values back to back, no gap: a calibration pair (slope, intercept) or a point of a
// temperature table (sensor voltage, temperature).
#include <QMetaType>
#include <cstddef>

template <typename T> struct pair_t
{
    T first;
    T second;

    friend bool operator==(const pair_t&, const pair_t&) = default;
};
static_assert(sizeof(pair_t<float>) == 8);
static_assert(offsetof(pair_t<float>, first) == 0);
static_assert(offsetof(pair_t<float>, second) == 4);

Q_DECLARE_METATYPE(pair_t<float>)
