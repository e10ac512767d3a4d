#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace corvane {

// Diagnostics: one line per event on standard output, beginning with "[Corvane] ".
// Thread-safe; each line is written and flushed whole.
void logLine(std::string_view message);

// Writes text to standard output exactly as given (banner, help), flushed, thread-safe.
void writeStdout(std::string_view text);
// Writes text to standard error exactly as given, thread-safe.
void writeStderr(std::string_view text);

// Tests may capture the "[Corvane] " lines (full line, without the final line feed).
// Pass nullptr to restore standard output.
using LogSink = std::function<void(const std::string& line)>;
void setLogSinkForTesting(LogSink sink);

}  // namespace corvane
