#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/AppConfig.h"

namespace corvane {

// Who reads the file decides which keys count (the rest are skipped as unknown):
//   LoadOrCreate:  every key; show_menubar true exactly for "true".
//   SettingsModel: no codec; show_menubar present means true whatever its value.
//   EngineReload:  no max_buffer_seconds, show_menubar or legacy clip_* keys.
// All three read [[records]] profiles the same way.
enum class ConfigReadMode { LoadOrCreate, SettingsModel, EngineReload };

// What one pass over the file text found. A field is set when its key appeared (last one wins)
// with a value that converted; an absent field means "keep what you had".
struct ConfigReadResult {
    std::optional<int64_t> fps;
    std::optional<int64_t> bitrateKbps;
    std::optional<VideoCodec> codec;
    std::optional<std::string> resolution;
    std::optional<double> maxBufferSeconds;  // always finite
    std::optional<std::string> outputDir;
    std::optional<bool> recordAudio;
    std::optional<bool> playSound;
    std::optional<bool> showMenubar;
    std::optional<uint32_t> displayId;
    std::optional<uint32_t> windowId;
    std::optional<std::string> clip30s;
    std::optional<std::string> clip60s;
    std::optional<std::string> clip120s;
    // Profiles in file order, each with a fresh identifier, duration clamped to 5...600 and
    // shortcut stripped. Only tables with both a converted duration and a hotkey line count.
    std::vector<RecordItem> records;

    bool sawLegacyKey() const { return clip30s || clip60s || clip120s; }
};

// The one line reader of the configuration file. Pure and total: any text, including binary
// junk, huge lines and a missing final line feed, gives a result. Thread-safe.
class ConfigReader {
public:
    static ConfigReadResult read(std::string_view text, ConfigReadMode mode);
};

// Profiles for a file that yielded none: 30 s, 60 s and 120 s with the legacy clip_* texts where
// present (stripped) and Super+Shift+1/2/3 otherwise.
std::vector<RecordItem> legacyOrDefaultRecords(const ConfigReadResult& result);

// Value rules of the file, independent of the process locale.
// Plain decimal with an optional sign; nothing else; within range.
std::optional<int64_t> parseConfigInt64(std::string_view value);
// Plain decimal within 0...4294967295; with a minus only zero passes.
std::optional<uint32_t> parseConfigUInt32(std::string_view value);
// A whole decimal (or hexadecimal) floating-point text; non-finite results ("nan", "inf",
// "1e400") do not convert.
std::optional<double> parseConfigDouble(std::string_view value);
// True exactly for "true".
bool parseConfigBool(std::string_view value);

// `value` with `decimals` digits after the point, rounded to nearest (ties to even, as the
// C library's "%.*f"), with a "." whatever the locale.
std::string formatFixed(double value, int decimals);

}  // namespace corvane
