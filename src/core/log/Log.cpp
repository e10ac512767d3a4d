#include "core/log/Log.h"

#include <cstdio>
#include <mutex>

namespace corvane {
namespace {

std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
LogSink& logSink() {
    static LogSink sink;
    return sink;
}

void writeLocked(FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

void logLine(std::string_view message) {
    std::string line = "[Corvane] ";
    line.append(message);
    std::lock_guard lock(logMutex());
    if (logSink()) {
        logSink()(line);
        return;
    }
    line.push_back('\n');
    writeLocked(stdout, line);
}

void writeStdout(std::string_view text) {
    std::lock_guard lock(logMutex());
    writeLocked(stdout, text);
}

void writeStderr(std::string_view text) {
    std::lock_guard lock(logMutex());
    writeLocked(stderr, text);
}

void setLogSinkForTesting(LogSink sink) {
    std::lock_guard lock(logMutex());
    logSink() = std::move(sink);
}

}  // namespace corvane
