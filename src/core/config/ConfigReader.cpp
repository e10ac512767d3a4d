#include "core/config/ConfigReader.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace corvane {
namespace {

// Length of the line break starting at `pos`, or 0. Every Unicode newline counts: LF, VT, FF, CR,
// NEL (U+0085), LINE SEPARATOR (U+2028) and PARAGRAPH SEPARATOR (U+2029). CR LF is two breaks.
size_t lineBreakLength(std::string_view text, size_t pos) {
    unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c >= 0x0A && c <= 0x0D) return 1;
    if (c == 0xC2 && pos + 1 < text.size() && static_cast<unsigned char>(text[pos + 1]) == 0x85) {
        return 2;
    }
    if (c == 0xE2 && pos + 2 < text.size() && static_cast<unsigned char>(text[pos + 1]) == 0x80) {
        unsigned char last = static_cast<unsigned char>(text[pos + 2]);
        if (last == 0xA8 || last == 0xA9) return 3;
    }
    return 0;
}

std::string_view stripSpacesAndTabs(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string_view stripQuotes(std::string_view s) {
    while (!s.empty() && s.front() == '"') s.remove_prefix(1);
    while (!s.empty() && s.back() == '"') s.remove_suffix(1);
    return s;
}

// Splits at the first "=" that follows a non-empty key. Leading "=" characters produce empty
// pieces, which are dropped, so "=a=b" reads as key "a", value "b". Fails unless both a key and
// a non-empty value remain.
bool splitAssignment(std::string_view line, std::string_view& key, std::string_view& value) {
    size_t start = 0;
    while (start < line.size() && line[start] == '=') ++start;
    size_t eq = line.find('=', start);
    if (start >= line.size() || eq == std::string_view::npos) return false;
    if (eq + 1 >= line.size()) return false;
    key = stripSpacesAndTabs(line.substr(start, eq - start));
    value = stripQuotes(stripSpacesAndTabs(line.substr(eq + 1)));
    return true;
}

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

class LineReader {
public:
    explicit LineReader(ConfigReadMode mode) : mode_(mode) {}

    void readLine(std::string_view rawLine) {
        std::string_view line = stripSpacesAndTabs(rawLine);
        if (line.empty() || line.front() == '#') return;
        if (line == "[[records]]") {
            finishPending();
            inRecords_ = true;
            return;
        }
        if (inRecords_ && line.front() == '[') {
            finishPending();
            inRecords_ = false;
            // The header line itself then falls through as an (ignored) assignment.
        }
        std::string_view key, value;
        if (!splitAssignment(line, key, value)) return;
        if (inRecords_) {
            readRecordKey(key, value);
        } else {
            readTopLevelKey(key, value);
        }
    }

    ConfigReadResult finish() {
        finishPending();
        return std::move(result_);
    }

private:
    void readRecordKey(std::string_view key, std::string_view value) {
        if (key == "duration") {
            if (auto d = parseConfigInt64(value)) pendingDuration_ = clampRecordDuration(*d);
        } else if (key == "hotkey") {
            pendingHotkey_ = std::string(value);
        }
    }

    void readTopLevelKey(std::string_view key, std::string_view value) {
        const bool load = mode_ == ConfigReadMode::LoadOrCreate;
        const bool settings = mode_ == ConfigReadMode::SettingsModel;
        const bool engine = mode_ == ConfigReadMode::EngineReload;
        if (key == "fps") {
            if (auto v = parseConfigInt64(value)) result_.fps = v;
        } else if (key == "bitrate_kbps") {
            if (auto v = parseConfigInt64(value)) result_.bitrateKbps = v;
        } else if (key == "codec") {
            if (load || engine) result_.codec = videoCodecFromConfigText(value);
        } else if (key == "resolution") {
            result_.resolution = std::string(value);
        } else if (key == "max_buffer_seconds") {
            if (load || settings) {
                if (auto v = parseConfigDouble(value)) result_.maxBufferSeconds = v;
            }
        } else if (key == "output_dir") {
            result_.outputDir = std::string(value);
        } else if (key == "record_audio") {
            result_.recordAudio = parseConfigBool(value);
        } else if (key == "play_sound") {
            result_.playSound = parseConfigBool(value);
        } else if (key == "show_menubar") {
            if (load) result_.showMenubar = parseConfigBool(value);
            if (settings) result_.showMenubar = true;
        } else if (key == "display_id") {
            if (auto v = parseConfigUInt32(value)) result_.displayId = v;
        } else if (key == "window_id") {
            if (auto v = parseConfigUInt32(value)) result_.windowId = v;
        } else if (!engine) {
            if (key == "clip_30s") result_.clip30s = std::string(value);
            if (key == "clip_60s") result_.clip60s = std::string(value);
            if (key == "clip_120s") result_.clip120s = std::string(value);
        }
    }

    void finishPending() {
        if (inRecords_ && pendingDuration_ && pendingHotkey_) {
            result_.records.emplace_back(*pendingDuration_, *pendingHotkey_);
        }
        pendingDuration_.reset();
        pendingHotkey_.reset();
    }

    ConfigReadMode mode_;
    ConfigReadResult result_;
    bool inRecords_ = false;
    std::optional<int64_t> pendingDuration_;
    std::optional<std::string> pendingHotkey_;
};

}  // namespace

ConfigReadResult ConfigReader::read(std::string_view text, ConfigReadMode mode) {
    LineReader reader(mode);
    size_t lineStart = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t breakLength = lineBreakLength(text, pos);
        if (breakLength == 0) {
            ++pos;
            continue;
        }
        reader.readLine(text.substr(lineStart, pos - lineStart));
        pos += breakLength;
        lineStart = pos;
    }
    reader.readLine(text.substr(lineStart));
    return reader.finish();
}

std::vector<RecordItem> legacyOrDefaultRecords(const ConfigReadResult& result) {
    if (!result.sawLegacyKey()) return defaultRecords();
    return {
        RecordItem(30, result.clip30s.value_or("Super+Shift+1")),
        RecordItem(60, result.clip60s.value_or("Super+Shift+2")),
        RecordItem(120, result.clip120s.value_or("Super+Shift+3")),
    };
}

std::optional<int64_t> parseConfigInt64(std::string_view value) {
    bool negative = false;
    if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    if (!allDigits(value)) return std::nullopt;
    // Parse the magnitude as unsigned so that the most negative value is reachable.
    uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), magnitude);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (!negative) {
        if (magnitude > kMaxPositive) return std::nullopt;
        return static_cast<int64_t>(magnitude);
    }
    if (magnitude > kMaxPositive + 1) return std::nullopt;
    if (magnitude == kMaxPositive + 1) return std::numeric_limits<int64_t>::min();
    return -static_cast<int64_t>(magnitude);
}

std::optional<uint32_t> parseConfigUInt32(std::string_view value) {
    bool negative = false;
    if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    if (!allDigits(value)) return std::nullopt;
    uint32_t number = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    if (negative && number != 0) return std::nullopt;
    return number;
}

std::optional<double> parseConfigDouble(std::string_view value) {
    std::string_view body = value;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    // from_chars takes no sign of its own beyond "-", so the sign was taken above; a second one
    // ("+-1") must not slip through.
    if (body.empty() || body.front() == '+' || body.front() == '-') return std::nullopt;
    auto format = std::chars_format::general;
    if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
        body.remove_prefix(2);
        format = std::chars_format::hex;
        if (body.empty() || body.front() == '+' || body.front() == '-') return std::nullopt;
    }
    double number = 0;
    auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), number, format);
    if (error != std::errc() || end != body.data() + body.size()) return std::nullopt;
    if (!std::isfinite(number)) return std::nullopt;
    return negative ? -number : number;
}

bool parseConfigBool(std::string_view value) { return value == "true"; }

std::string formatFixed(double value, int decimals) {
    // Enough for the longest finite double in fixed notation plus the requested decimals.
    char buffer[400 + 64];
    if (decimals < 0) decimals = 0;
    if (decimals > 64) decimals = 64;
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed,
                                      decimals);
    if (error != std::errc()) return {};
    return std::string(buffer, end);
}

}  // namespace corvane
