#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/capture/VideoCodec.h"

namespace corvane {

// Clip lengths a recording profile may ask for, in seconds.
inline constexpr int64_t kMinRecordSeconds = 5;
inline constexpr int64_t kMaxRecordSeconds = 600;
// Seconds the replay buffer keeps beyond the longest profile (the buffer floor).
inline constexpr double kBufferHeadroomSeconds = 10.0;
// Assumed longest profile when there is none.
inline constexpr int64_t kFloorDurationWithoutRecords = 30;

int64_t clampRecordDuration(int64_t seconds);

// Strips white space and line breaks (ASCII and the Unicode ones) from both ends.
std::string trimWhitespaceAndNewlines(std::string_view text);

// A fresh random (version 4) UUID as upper-case text, "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX".
// Thread-safe.
std::string makeUuid();

// One recording profile: a clip length and the global shortcut that saves it. Plain value.
struct RecordItem {
    std::string id;               // identity; new for every profile created, never stored in the file
    int64_t durationSeconds = 30;  // clip length, 5...600 when built through a constructor
    std::string hotkey;            // shortcut notation ("Super+Shift+1"); may be empty

    // New identifier; duration clamped to 5...600; shortcut stripped of white space and line breaks.
    // Assigning the fields afterwards neither clamps nor strips.
    RecordItem(int64_t durationSeconds, std::string_view hotkey);
    RecordItem(std::string id, int64_t durationSeconds, std::string_view hotkey);

    // "45s", "1m", "2m", "1m 30s": labels a profile row in settings.
    std::string formattedDuration() const;
    // "45 seconds", "1 minute", "2 minutes", "1m 30s": names a profile in the menu.
    std::string readableTitle() const;

    bool operator==(const RecordItem&) const = default;
};

// The three profiles of a fresh configuration (30 s, 60 s, 120 s on Super+Shift+1/2/3).
std::vector<RecordItem> defaultRecords();

struct PixelSize {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const PixelSize&) const = default;
};

// Preset size of a capture resolution text ("4k", "1440p", "1080p", "720p", any letter case);
// (0, 0) for "native" and anything unknown.
PixelSize targetDimensionsFor(std::string_view resolution);

// The configuration record: a snapshot of the settings file. Plain value, copied and compared
// field by field. Not tied to a thread; loadOrCreate() and save() block on file I/O.
struct AppConfig {
    int64_t fps = 48;
    int64_t bitrateKbps = 12000;
    VideoCodec codec = VideoCodec::H264;
    std::string resolution = "native";  // "native", "4k", "1440p", "1080p", "720p" (as written)
    double maxBufferSeconds = 130.0;
    std::string outputDir = "~/Videos/Corvane";  // may begin with "~"; expanded by its users
    bool recordAudio = true;
    bool playSound = true;
    bool showMenubar = true;
    uint32_t displayId = 0;  // 0: the main display
    uint32_t windowId = 0;   // 0: display mode; otherwise capture that window
    std::vector<RecordItem> records = defaultRecords();
    std::string configPath;  // where save() writes; not stored in the file

    // Defaults, configPath = configFilePath().
    AppConfig();

    // "<home>/.config/corvane/config.toml". The home folder is $HOME, or the password
    // database's entry when HOME is unset or empty.
    static std::string configFilePath();

    // Reads the configuration file, or creates it with the defaults when it does not exist.
    // Never fails: an existing file that cannot be read (permission, not UTF-8) gives the
    // defaults in memory, is left untouched, and one "[Corvane] " line says why.
    static AppConfig loadOrCreate();
    // The same for a given file (tests, other homes). "~" is expanded.
    static AppConfig loadOrCreate(const std::string& path);

    // Writes the application form to configPath atomically, creating its folder. Errors are
    // ignored, as nothing at start-up could do better than carry on with the values in memory.
    void save() const;

    // Preset size of `resolution`; (0, 0) when there is none.
    PixelSize targetDimensions() const { return targetDimensionsFor(resolution); }

    bool operator==(const AppConfig&) const = default;
};

// The two written forms of the file. Both put the buffer length at no less than the longest
// stored profile (unclamped) plus 10 s, with one decimal.
//
// Application form, as AppConfig::save() writes it (no final line feed after the last profile).
std::string applicationFormText(const AppConfig& config);
// Settings form, as the settings model writes it: no codec lines, show_menubar always true,
// a four-line profile banner, one final line feed after the last profile. Uses fps, bitrateKbps,
// resolution, maxBufferSeconds, outputDir, recordAudio, playSound, displayId, windowId and
// records of `values`; codec, showMenubar and configPath are not used.
std::string settingsFormText(const AppConfig& values);

// The buffer length both forms write: max(maxBufferSeconds, longest stored duration + 10),
// 30 + 10 without profiles. A non-finite length is replaced by the floor.
double writtenBufferSeconds(double maxBufferSeconds, const std::vector<RecordItem>& records);

}  // namespace corvane

template <>
struct std::hash<corvane::RecordItem> {
    size_t operator()(const corvane::RecordItem& item) const noexcept;
};
