#pragma once

#include <string>

namespace corvane {

// Shows a desktop notification. Callable from any thread; returns at once and never blocks on
// the notification server. Delivery failures are not reported back.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void showNotification(const std::string& title, const std::string& body) = 0;
    // The notification about a newly saved clip, which may offer to open the clip and to show it
    // in the file manager. A notifier without such actions shows a plain notification.
    virtual void showClipSaved(const std::string& title, const std::string& body,
                               const std::string& clipPath) {
        (void)clipPath;
        showNotification(title, body);
    }
};

}  // namespace corvane
