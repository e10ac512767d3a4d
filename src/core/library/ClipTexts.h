#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/sched/Clock.h"

namespace corvane {

// Texts shown for clips. Pure functions, any thread.

// What a clip's row and preview show in place of the length of a file that cannot be played.
inline constexpr const char* kDamagedClipText = "Damaged";

// The length text of a listed clip: kDamagedClipText for a damaged one, else formatClipDuration.
std::string clipLengthText(double durationSeconds, bool damaged);

// "m:ss" of the duration rounded to whole seconds (halves away from zero); minutes are not
// capped. Non-finite or negative durations read 0:00.
std::string formatClipDuration(double seconds);

// Byte count in file style with decimal multiples: "Zero KB", "1 byte", "999 bytes", "12 KB",
// "1.5 MB", "2.31 GB". Negative counts read as zero.
std::string formatByteCount(int64_t bytes);

// Trim editor time: "m:ss.f" with f the first decimal digit, truncated; negative or non-finite
// values read 0:00.0.
std::string formatTrimTime(double seconds);

// The list's date text: "Today, T", "Yesterday, T" or "d MMM, T", judged in the local time zone,
// T being the time in the user's short style. `shortTime` formats the time of day (hours and
// minutes of the given local time); the default is 24-hour "HH:MM".
using ShortTimeFormatter = std::function<std::string(int hour, int minute)>;
std::string formatClipDate(WallTime date, WallTime now, const ShortTimeFormatter& shortTime = {});

}  // namespace corvane
