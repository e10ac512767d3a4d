#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/export/ClipExporter.h"
#include "core/sched/Scheduler.h"

namespace corvane {

// Gives up on a save that stops moving, while it still hangs: no step for 3 s while it prepares or
// writes, or the finishing (index, flush, rename) of one of its files not done within 10 s. A
// blocked write cannot report its own time-out, so the watch runs on the scheduler and reads the
// export's progress. Main thread.
class SaveWatchdog {
public:
    static constexpr Duration kStallLimit = std::chrono::seconds(3);
    static constexpr Duration kFinishLimit = std::chrono::seconds(10);
    static constexpr Duration kCheckInterval = std::chrono::milliseconds(250);

    enum class Overrun { Stalled, FinishTooLong };

    explicit SaveWatchdog(Scheduler& scheduler) : scheduler_(scheduler) {}

    // Watches one export, replacing any earlier watch. `onOverrun` runs at most once, on the main
    // thread, and ends the watch.
    void watch(std::shared_ptr<const ExportProgress> progress, std::function<void(Overrun)> onOverrun);
    // Ends the watch; with `only` set, only when that is the export being watched.
    void stop(const ExportProgress* only = nullptr);

private:
    void check();

    Scheduler& scheduler_;
    ScheduledTask timer_;
    std::shared_ptr<const ExportProgress> progress_;
    std::function<void(Overrun)> onOverrun_;
    uint64_t lastSteps_ = 0;
    SteadyTime lastStepAt_{};
    std::optional<SteadyTime> finishingSince_;
};

}  // namespace corvane
