#pragma once

// Collects the "[Corvane] ..." log lines while alive; lines may come from any thread.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "core/log/Log.h"

namespace corvane::test {

class LogCapture {
public:
    LogCapture() {
        setLogSinkForTesting([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { setLogSinkForTesting(nullptr); }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // How many lines contain `text`.
    int count(const std::string& text) const {
        std::lock_guard lock(mutex_);
        return int(std::count_if(lines_.begin(), lines_.end(),
                                 [&](const std::string& l) { return l.find(text) != std::string::npos; }));
    }
    bool contains(const std::string& text) const { return count(text) > 0; }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;  // guarded by mutex_
};

}  // namespace corvane::test
