#include "media/MediaLogging.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

namespace corvane {

void quietMediaLibraryLogs() {
    const char* wanted = std::getenv("CORVANE_FFMPEG_LOG");
    if (wanted != nullptr && std::strcmp(wanted, "verbose") == 0) {
        av_log_set_level(AV_LOG_VERBOSE);
        return;
    }
    av_log_set_level(AV_LOG_ERROR);
}

}  // namespace corvane
