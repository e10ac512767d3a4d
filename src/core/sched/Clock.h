#pragma once

#include <chrono>

namespace corvane {

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;
using Duration = std::chrono::nanoseconds;

// Injectable time source. `now()` is monotonic (delays, watchdogs, media stamps);
// `wallNow()` is calendar time (file names, "saved at").
class Clock {
public:
    virtual ~Clock() = default;
    virtual SteadyTime now() const = 0;
    virtual WallTime wallNow() const = 0;
};

// The real clocks of the machine. Thread-safe; one shared instance.
class SystemClock final : public Clock {
public:
    static SystemClock& instance();
    SteadyTime now() const override { return std::chrono::steady_clock::now(); }
    WallTime wallNow() const override { return std::chrono::system_clock::now(); }
};

// Seconds as a double, for logs and status texts.
inline double toSeconds(Duration d) { return std::chrono::duration<double>(d).count(); }
inline Duration fromSeconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

}  // namespace corvane
