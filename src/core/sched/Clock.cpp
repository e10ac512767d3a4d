#include "core/sched/Clock.h"

namespace corvane {

SystemClock& SystemClock::instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace corvane
