#pragma once

#include <string>

namespace corvane {

// Shows a desktop notification. Callable from any thread; returns at once and never blocks on
// the notification server. Delivery failures are not reported back.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void showNotification(const std::string& title, const std::string& body) = 0;
};

}  // namespace corvane
