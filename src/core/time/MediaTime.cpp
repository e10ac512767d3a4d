#include "core/time/MediaTime.h"

#include <cmath>
#include <limits>
#include <numeric>

namespace corvane {
namespace {

using i128 = __int128;

constexpr i128 kInt64Min = std::numeric_limits<int64_t>::min();
constexpr i128 kInt64Max = std::numeric_limits<int64_t>::max();

bool fitsInt64(i128 v) { return v >= kInt64Min && v <= kInt64Max; }

// Rounds numerator/denominator to the nearest integer, halves away from zero.
i128 roundDiv(i128 numerator, i128 denominator) {
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    i128 half = denominator / 2;
    return numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator);
}

MediaTime combine(MediaTime a, MediaTime b, int sign) {
    if (!a.isValid() || !b.isValid()) return MediaTime::invalid();
    if (a.timescale() == b.timescale()) {
        i128 v = static_cast<i128>(a.value()) + sign * static_cast<i128>(b.value());
        return fitsInt64(v) ? MediaTime(static_cast<int64_t>(v), a.timescale()) : MediaTime::invalid();
    }
    // Exact result in the least common multiple of the timescales when that fits 32 bits.
    const int64_t lcm = std::lcm<int64_t>(a.timescale(), b.timescale());
    if (lcm <= std::numeric_limits<int32_t>::max()) {
        i128 v = static_cast<i128>(a.value()) * (lcm / a.timescale()) +
                 sign * static_cast<i128>(b.value()) * (lcm / b.timescale());
        return fitsInt64(v) ? MediaTime(static_cast<int64_t>(v), static_cast<int32_t>(lcm))
                            : MediaTime::invalid();
    }
    const int32_t ts = std::max(a.timescale(), b.timescale());
    MediaTime ca = a.convertedTo(ts);
    MediaTime cb = b.convertedTo(ts);
    return combine(ca, cb, sign);
}

}  // namespace

MediaTime MediaTime::fromSeconds(double seconds, int32_t timescale) {
    if (timescale <= 0 || !std::isfinite(seconds)) return invalid();
    const double ticks = std::round(seconds * static_cast<double>(timescale));
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!(ticks > -9223372036854775808.0 && ticks < 9223372036854775808.0)) return invalid();
    return MediaTime(static_cast<int64_t>(ticks), timescale);
}

double MediaTime::seconds() const {
    if (!valid_) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(value_) / static_cast<double>(timescale_);
}

MediaTime MediaTime::convertedTo(int32_t timescale) const {
    if (!valid_ || timescale <= 0) return invalid();
    if (timescale == timescale_) return *this;
    i128 v = roundDiv(static_cast<i128>(value_) * timescale, timescale_);
    return fitsInt64(v) ? MediaTime(static_cast<int64_t>(v), timescale) : invalid();
}

MediaTime operator+(MediaTime a, MediaTime b) { return combine(a, b, +1); }
MediaTime operator-(MediaTime a, MediaTime b) { return combine(a, b, -1); }

std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) {
    if (!a.valid_ || !b.valid_) return static_cast<int>(a.valid_) <=> static_cast<int>(b.valid_);
    // a.v / a.t <=> b.v / b.t  ⇔  a.v * b.t <=> b.v * a.t (timescales are positive).
    const i128 lhs = static_cast<i128>(a.value_) * b.timescale_;
    const i128 rhs = static_cast<i128>(b.value_) * a.timescale_;
    if (lhs < rhs) return std::strong_ordering::less;
    if (lhs > rhs) return std::strong_ordering::greater;
    return std::strong_ordering::equal;
}

}  // namespace corvane
