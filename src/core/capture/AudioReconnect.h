#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "core/sched/Backoff.h"
#include "core/sched/Scheduler.h"

namespace corvane {

// Brings system audio back after its stream ended by itself (the audio server restarted or
// crashed): reopen attempts 1 s, 2 s, 4 s ... apart, capped at 30 s, until one succeeds or the
// capture stops. The user hears about it once when audio has been gone for kLostNotice and once
// when it is back (only if the loss was announced).
//
// Scheduler-only: every method and callback runs on the scheduler's thread. `reopen` answers
// through its completion, inside the call or later on the same thread.
class AudioReconnect {
public:
    static constexpr Duration kFirstDelay = std::chrono::seconds(1);
    static constexpr Duration kMaxDelay = std::chrono::seconds(30);
    static constexpr Duration kLostNotice = std::chrono::seconds(5);

    struct Callbacks {
        std::function<void(std::function<void(bool opened)> done)> reopen;
        // true: audio has been lost for kLostNotice; false: it is back after such a loss.
        std::function<void(bool lost)> onNotice;
    };

    AudioReconnect(Scheduler& scheduler, Callbacks callbacks);
    AudioReconnect(const AudioReconnect&) = delete;
    AudioReconnect& operator=(const AudioReconnect&) = delete;

    // The audio stream ended by itself: starts the attempts (a second call while they run does
    // nothing).
    void audioLost();
    // Capture stopped or restarted (it opens audio itself): no more attempts; a loss that was
    // announced is announced as over when `audioBack` says the new stream has audio.
    void reset(bool audioBack);
    bool isLost() const { return lost_; }
    bool lossAnnounced() const { return announced_; }

private:
    void scheduleAttempt();
    void attempt();

    Scheduler& scheduler_;
    Callbacks callbacks_;
    bool lost_ = false;
    bool announced_ = false;
    bool attemptInFlight_ = false;
    Backoff backoff_{kFirstDelay, kMaxDelay};
    uint64_t epoch_ = 0;  // bumped by reset: completions of an older loss are ignored
    ScheduledTask attemptTask_;
    ScheduledTask noticeTask_;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace corvane
