#pragma once

#include <compare>
#include <cstdint>
#include <optional>

namespace corvane {

// A rational media time: value / timescale seconds, with a validity flag.
// Arithmetic across different timescales is exact (128-bit intermediates), so comparing
// microsecond wall-clock stamps with 48 kHz audio time never overflows.
class MediaTime {
public:
    constexpr MediaTime() = default;  // invalid
    constexpr MediaTime(int64_t value, int32_t timescale)
        : value_(value), timescale_(timescale), valid_(timescale > 0) {}

    static constexpr MediaTime invalid() { return MediaTime(); }
    static constexpr MediaTime zero() { return MediaTime(0, 1); }
    // value frames/samples at the given rate; invalid when the timescale is not positive.
    static constexpr MediaTime fromCount(int64_t count, int32_t timescale) {
        return MediaTime(count, timescale);
    }
    // Rounded to the nearest tick of the timescale. Non-finite or out-of-range seconds give an
    // invalid time instead of an undefined conversion.
    static MediaTime fromSeconds(double seconds, int32_t timescale);

    constexpr bool isValid() const { return valid_; }
    constexpr int64_t value() const { return value_; }
    constexpr int32_t timescale() const { return timescale_; }

    // NaN for an invalid time.
    double seconds() const;

    // Re-expresses the time in another timescale, rounding to nearest. Invalid if it does not fit.
    MediaTime convertedTo(int32_t timescale) const;

    // Results are invalid if either side is invalid or the exact result does not fit.
    // When timescales differ the result uses the larger one when exact, else their product
    // (reduced) when that fits, else the larger one, rounded.
    friend MediaTime operator+(MediaTime a, MediaTime b);
    friend MediaTime operator-(MediaTime a, MediaTime b);

    // Total order: invalid times sort before every valid one and equal each other.
    friend std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b);
    friend bool operator==(const MediaTime& a, const MediaTime& b) {
        return (a <=> b) == std::strong_ordering::equal;
    }

private:
    int64_t value_ = 0;
    int32_t timescale_ = 0;
    bool valid_ = false;
};

inline MediaTime max(MediaTime a, MediaTime b) { return a < b ? b : a; }
inline MediaTime min(MediaTime a, MediaTime b) { return b < a ? b : a; }

}  // namespace corvane
