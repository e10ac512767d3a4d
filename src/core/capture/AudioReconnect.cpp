#include "core/capture/AudioReconnect.h"

#include <utility>

#include "core/log/Log.h"

namespace corvane {

AudioReconnect::AudioReconnect(Scheduler& scheduler, Callbacks callbacks)
    : scheduler_(scheduler), callbacks_(std::move(callbacks)) {}

void AudioReconnect::audioLost() {
    if (lost_) return;
    lost_ = true;
    backoff_.reset();
    if (!announced_) {
        noticeTask_.startOnce(scheduler_, kLostNotice, [this] {
            if (!lost_ || announced_) return;
            announced_ = true;
            if (callbacks_.onNotice) callbacks_.onNotice(true);
        });
    }
    scheduleAttempt();
}

void AudioReconnect::reset(bool audioBack) {
    ++epoch_;
    lost_ = false;
    attemptInFlight_ = false;
    attemptTask_.cancel();
    noticeTask_.cancel();
    if (announced_ && audioBack) {
        announced_ = false;
        if (callbacks_.onNotice) callbacks_.onNotice(false);
    }
}

void AudioReconnect::scheduleAttempt() {
    attemptTask_.startOnce(scheduler_, backoff_.next(), [this] { attempt(); });
}

void AudioReconnect::attempt() {
    if (!lost_ || attemptInFlight_ || !callbacks_.reopen) return;
    attemptInFlight_ = true;
    std::weak_ptr<char> alive = alive_;
    const uint64_t epoch = epoch_;
    callbacks_.reopen([this, alive, epoch](bool opened) {
        if (alive.expired() || epoch != epoch_) return;
        attemptInFlight_ = false;
        if (!opened) {
            scheduleAttempt();
            return;
        }
        logLine("System audio is back.");
        reset(true);
    });
}

}  // namespace corvane
