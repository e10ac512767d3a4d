#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace corvane {

// Converts a seconds value (or any double) to a whole number safely: the fraction is dropped
// (toward zero), NaN and infinities give 0, and the result is clamped to [lo, hi]. Casting a
// non-finite or out-of-range double to an integer is undefined behaviour, so every such
// conversion of a duration or a user-typed number goes through here.
inline int64_t truncatedClamped(double value, int64_t lo = std::numeric_limits<int64_t>::min(),
                                int64_t hi = std::numeric_limits<int64_t>::max()) {
    if (!std::isfinite(value)) return lo > 0 ? lo : (hi < 0 ? hi : 0);
    const double t = std::trunc(value);
    // 2^63 is exactly representable; anything at or past it is out of int64 range.
    if (t <= static_cast<double>(lo)) return lo;
    if (t >= static_cast<double>(hi)) return hi;
    return static_cast<int64_t>(t);
}

}  // namespace corvane
