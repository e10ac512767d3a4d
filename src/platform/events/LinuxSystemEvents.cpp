#include "platform/events/LinuxSystemEvents.h"

namespace corvane {

void LinuxSystemEvents::start(SystemEventHandlers handlers) {
    watchingSleep_ = sleep_.start(handlers.onSleep, handlers.onWake);
    watchingScreenSaver_ = screenSaver_.start(handlers.onScreensSleep, handlers.onScreensWake);
    watchingDisplays_ = displays_.start(handlers.onDisplayConfigurationChanged, displayName_);
}

void LinuxSystemEvents::stop() {
    sleep_.stop();
    screenSaver_.stop();
    displays_.stop();
    watchingSleep_ = watchingScreenSaver_ = watchingDisplays_ = false;
}

}  // namespace corvane
