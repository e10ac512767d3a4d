#include "core/export/ClipFileName.h"

#include <cmath>
#include <ctime>

namespace corvane {

long long clipWholeSeconds(double seconds) {
    if (!(seconds >= 1.0)) return 1;
    if (seconds > 1e15) return 1000000000000000LL;
    return std::llround(seconds);
}

std::string clipFileName(WallTime when, double seconds, int copyIndex, int part) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
    std::string name = "Clip_" + std::string(stamp) + "_" + std::to_string(clipWholeSeconds(seconds)) + "s";
    if (part > 0) name += "_part" + std::to_string(part);
    if (copyIndex > 1) name += "_" + std::to_string(copyIndex);
    return name + ".mp4";
}

}  // namespace corvane
