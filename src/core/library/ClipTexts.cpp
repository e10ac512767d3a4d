#include "core/library/ClipTexts.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/time/WholeSeconds.h"

namespace corvane {

std::string clipLengthText(double durationSeconds, bool damaged) {
    return damaged ? kDamagedClipText : formatClipDuration(durationSeconds);
}

std::string formatClipDuration(double seconds) {
    int64_t d = truncatedClamped(std::round(seconds), 0, int64_t{1} << 40);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(d / 60),
                  static_cast<long long>(d % 60));
    return buf;
}

std::string formatByteCount(int64_t bytes) {
    if (bytes <= 0) return "Zero KB";
    if (bytes == 1) return "1 byte";
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    // Rounding may carry into the next unit (999,999 bytes is 1 MB, not 1000 KB).
    const int decimalsFor[] = {0, 1, 2, 2, 2, 2};
    while (unit < 5) {
        const double scale = std::pow(10.0, decimalsFor[unit]);
        if (std::round(value * scale) / scale < 1000.0) break;
        value /= 1000.0;
        ++unit;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimalsFor[unit], value);
    std::string text = buf;
    // Trailing zeros of the fraction carry no information ("1 MB", "1.5 GB").
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return text + " " + kUnits[unit];
}

std::string formatTrimTime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    const int64_t whole = truncatedClamped(seconds, 0, int64_t{1} << 40);
    const int64_t tenth = truncatedClamped((seconds - std::floor(seconds)) * 10.0, 0, 9);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld:%02lld.%lld", static_cast<long long>(whole / 60),
                  static_cast<long long>(whole % 60), static_cast<long long>(tenth));
    return buf;
}

namespace {
std::tm localTm(WallTime t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    return tm;
}
bool sameDay(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_yday == b.tm_yday;
}
}  // namespace

std::string formatClipDate(WallTime date, WallTime now, const ShortTimeFormatter& shortTime) {
    const std::tm d = localTm(date);
    const std::tm today = localTm(now);
    // "Yesterday" is the calendar day before today, found through mktime so month, year and
    // daylight-saving boundaries come out right.
    std::tm y = today;
    y.tm_mday -= 1;
    y.tm_hour = 12;
    y.tm_isdst = -1;
    const std::time_t yt = std::mktime(&y);
    std::tm yesterday{};
    localtime_r(&yt, &yesterday);

    std::string time;
    if (shortTime) {
        time = shortTime(d.tm_hour, d.tm_min);
    } else {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%02d:%02d", d.tm_hour, d.tm_min);
        time = buf;
    }
    if (sameDay(d, today)) return "Today, " + time;
    if (sameDay(d, yesterday)) return "Yesterday, " + time;
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return std::to_string(d.tm_mday) + " " + kMonths[d.tm_mon % 12] + ", " + time;
}

}  // namespace corvane
