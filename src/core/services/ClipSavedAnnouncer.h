#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace corvane {

// The "a clip was saved" announcement: the engine announces the new file's path on the main
// thread after a successful save; the clip library listens to reload and select it.
// Subscriptions are tokens; a subscriber unsubscribes before it goes away.
class ClipSavedAnnouncer {
public:
    using Listener = std::function<void(const std::string& path)>;
    using Token = uint64_t;

    Token subscribe(Listener listener) {
        std::lock_guard lock(mutex_);
        const Token token = next_++;
        listeners_.emplace(token, std::move(listener));
        return token;
    }
    void unsubscribe(Token token) {
        std::lock_guard lock(mutex_);
        listeners_.erase(token);
    }
    // Main thread. Listeners run outside the lock so they may subscribe or unsubscribe.
    void announce(const std::string& path) {
        std::map<Token, Listener> copy;
        {
            std::lock_guard lock(mutex_);
            copy = listeners_;
        }
        for (auto& [token, listener] : copy) listener(path);
    }

private:
    std::mutex mutex_;
    Token next_ = 1;
    std::map<Token, Listener> listeners_;  // guarded by mutex_
};

}  // namespace corvane
