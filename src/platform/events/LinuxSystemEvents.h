#pragma once

#include "core/services/SystemEvents.h"
#include "platform/events/LogindSleepWatcher.h"
#include "platform/events/RandrDisplayWatcher.h"
#include "platform/events/ScreenSaverWatcher.h"

namespace corvane {

// The machine's events on a Linux desktop: suspend and resume from logind (system bus), screen
// blanking from the session's screen saver service (session bus), display layout changes from
// XRandR. Main thread; each source that this machine lacks is skipped without an error.
class LinuxSystemEvents final : public SystemEvents {
public:
    LinuxSystemEvents() = default;
    // Sources on the given buses and X display (tests: private ones). displayName nullptr: $DISPLAY.
    LinuxSystemEvents(QDBusConnection systemBus, QDBusConnection sessionBus, const char* displayName)
        : sleep_(std::move(systemBus)), screenSaver_(std::move(sessionBus)), displayName_(displayName) {}
    ~LinuxSystemEvents() override { stop(); }

    void start(SystemEventHandlers handlers) override;
    void stop() override;
    void sleepPreparationDone() override { sleep_.releaseDelay(); }

    // Which sources are being watched (for tests and the start-up log).
    bool watchesSleep() const { return watchingSleep_; }
    bool watchesScreenSaver() const { return watchingScreenSaver_; }
    bool watchesDisplays() const { return watchingDisplays_; }
    bool holdsSleepDelay() const { return sleep_.holdsDelay(); }

private:
    LogindSleepWatcher sleep_;
    ScreenSaverWatcher screenSaver_;
    RandrDisplayWatcher displays_;
    const char* displayName_ = nullptr;
    bool watchingSleep_ = false;
    bool watchingScreenSaver_ = false;
    bool watchingDisplays_ = false;
};

}  // namespace corvane
