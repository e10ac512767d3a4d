#include "media/MediaLogging.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace corvane {
namespace {

bool verboseWanted() {
    const char* wanted = std::getenv("CORVANE_FFMPEG_LOG");
    return wanted != nullptr && std::strcmp(wanted, "verbose") == 0;
}

// Depth of ScopedQuietMediaLogs on this thread. FFmpeg calls its log callback on the thread
// that logs, so a thread-local flag silences one thread without touching the global level.
thread_local int quietDepth = 0;

void filteringLogCallback(void* context, int level, const char* format, va_list args) {
    if (quietDepth > 0) return;
    av_log_default_callback(context, level, format, args);
}

}  // namespace

void quietMediaLibraryLogs() {
    if (verboseWanted()) {
        av_log_set_level(AV_LOG_VERBOSE);
        return;
    }
    av_log_set_level(AV_LOG_ERROR);
}

ScopedQuietMediaLogs::ScopedQuietMediaLogs() {
    static const bool verbose = verboseWanted();
    if (verbose) return;
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(filteringLogCallback); });
    ++quietDepth;
}

ScopedQuietMediaLogs::~ScopedQuietMediaLogs() {
    if (quietDepth > 0) --quietDepth;
}

}  // namespace corvane
