#pragma once

#include <algorithm>

#include "core/sched/Clock.h"

namespace corvane {

// The delays between the attempts of a retry: `first`, then each one twice the one before, up to
// `max`. A plain value; its owner's thread.
class Backoff {
public:
    constexpr Backoff(Duration first, Duration max) : first_(first), max_(max), next_(first) {}

    // The delay before the next attempt.
    Duration next() {
        const Duration delay = next_;
        next_ = std::min<Duration>(next_ * 2, max_);
        return delay;
    }
    void reset() { next_ = first_; }

private:
    Duration first_;
    Duration max_;
    Duration next_;
};

}  // namespace corvane
