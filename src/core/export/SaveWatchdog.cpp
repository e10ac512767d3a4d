#include "core/export/SaveWatchdog.h"

namespace corvane {

void SaveWatchdog::watch(std::shared_ptr<const ExportProgress> progress, std::function<void(Overrun)> onOverrun) {
    progress_ = std::move(progress);
    onOverrun_ = std::move(onOverrun);
    lastSteps_ = progress_->steps.load();
    lastStepAt_ = scheduler_.now();
    finishingSince_.reset();
    timer_.startRepeating(scheduler_, kCheckInterval, [this] { check(); });
}

void SaveWatchdog::stop(const ExportProgress* only) {
    if (only && only != progress_.get()) return;
    timer_.cancel();
    progress_.reset();
    onOverrun_ = nullptr;
}

void SaveWatchdog::check() {
    if (!progress_) return;
    const SteadyTime now = scheduler_.now();
    const ExportProgress::Phase phase = progress_->phase.load();
    if (phase == ExportProgress::Phase::Done) return;
    const uint64_t steps = progress_->steps.load();
    if (steps != lastSteps_) {
        lastSteps_ = steps;
        lastStepAt_ = now;
    }
    std::optional<Overrun> overrun;
    if (phase == ExportProgress::Phase::Finishing) {
        if (!finishingSince_) finishingSince_ = now;
        if (now - *finishingSince_ >= kFinishLimit) overrun = Overrun::FinishTooLong;
    } else {
        finishingSince_.reset();  // a save of several files finishes each in turn
        if (now - lastStepAt_ >= kStallLimit) overrun = Overrun::Stalled;
    }
    if (!overrun) return;
    auto report = std::move(onOverrun_);
    stop();
    if (report) report(*overrun);
}

}  // namespace corvane
