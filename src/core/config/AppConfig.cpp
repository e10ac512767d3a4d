#include "core/config/AppConfig.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "core/config/ConfigFile.h"
#include "core/config/ConfigReader.h"
#include "core/log/Log.h"
#include "core/shortcuts/ShortcutNotation.h"

namespace corvane {
namespace {

// White space and line breaks as UTF-8: the ASCII controls TAB...CR, space, NEL and the Unicode
// space separators.
constexpr std::string_view kWhitespace[] = {
    "\t", "\n", "\v", "\f", "\r", " ",
    "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80",
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

constexpr std::string_view kBannerLine =
    "# ==============================================================================";

std::string quoted(std::string_view text) {
    std::string out = "\"";
    out.append(text);
    out.push_back('"');
    return out;
}

const char* boolText(bool value) { return value ? "true" : "false"; }

}  // namespace

int64_t clampRecordDuration(int64_t seconds) {
    return std::clamp(seconds, kMinRecordSeconds, kMaxRecordSeconds);
}

std::string trimWhitespaceAndNewlines(std::string_view text) {
    bool changed = true;
    while (changed && !text.empty()) {
        changed = false;
        for (std::string_view ws : kWhitespace) {
            if (text.starts_with(ws)) {
                text.remove_prefix(ws.size());
                changed = true;
            }
            if (text.ends_with(ws)) {
                text.remove_suffix(ws.size());
                changed = true;
            }
        }
    }
    return std::string(text);
}

std::string makeUuid() {
    static thread_local std::mt19937_64 generator{[] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }()};
    uint64_t high = generator();
    uint64_t low = generator();
    high = (high & ~0xF000ull) | 0x4000ull;                    // version 4
    low = (low & ~(0xC0ull << 56)) | (0x80ull << 56);          // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

RecordItem::RecordItem(int64_t durationSeconds, std::string_view hotkey)
    : RecordItem(makeUuid(), durationSeconds, hotkey) {}

RecordItem::RecordItem(std::string id, int64_t durationSeconds, std::string_view hotkey)
    : id(std::move(id)),
      durationSeconds(clampRecordDuration(durationSeconds)),
      hotkey(trimWhitespaceAndNewlines(hotkey)) {}

std::string RecordItem::formattedDuration() const {
    const int64_t d = durationSeconds;
    if (d <= 59) return std::to_string(d) + "s";
    if (d == 60) return "1m";
    if (d % 60 == 0) return std::to_string(d / 60) + "m";
    return std::to_string(d / 60) + "m " + std::to_string(d % 60) + "s";
}

std::string RecordItem::readableTitle() const {
    const int64_t d = durationSeconds;
    if (d <= 59) return std::to_string(d) + " seconds";
    if (d == 60) return "1 minute";
    if (d % 60 == 0) return std::to_string(d / 60) + " minutes";
    return formattedDuration();
}

std::vector<RecordItem> defaultRecords() {
    return {RecordItem(30, "Super+Shift+1"), RecordItem(60, "Super+Shift+2"),
            RecordItem(120, "Super+Shift+3")};
}

PixelSize targetDimensionsFor(std::string_view resolution) {
    std::string lower(resolution);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (lower == "4k") return {3840, 2160};
    if (lower == "1440p") return {2560, 1440};
    if (lower == "1080p") return {1920, 1080};
    if (lower == "720p") return {1280, 720};
    return {};
}

AppConfig::AppConfig() : configPath(configFilePath()) {}

std::string AppConfig::configFilePath() {
    std::string home = homeDirectory();
    if (!home.empty() && home.back() != '/') home.push_back('/');
    return home + ".config/corvane/config.toml";
}

AppConfig AppConfig::loadOrCreate() { return loadOrCreate(configFilePath()); }

AppConfig AppConfig::loadOrCreate(const std::string& path) {
    const std::string filePath = expandTilde(path);
    AppConfig config;
    config.configPath = path;

    FileReadResult file = readUtf8File(filePath);
    if (file.status == FileReadResult::Status::Missing) {
        config.save();
        return config;
    }
    if (file.status == FileReadResult::Status::Unreadable) {
        // Replacing the file would destroy settings the user may only need to fix permissions
        // or an encoding for; run on the defaults and leave it alone.
        logLine("Could not read the configuration file " + filePath + " (" + file.reason +
                "); using the default settings and leaving the file untouched.");
        return config;
    }

    ConfigReadResult read = ConfigReader::read(file.text, ConfigReadMode::LoadOrCreate);
    if (read.fps) config.fps = *read.fps;
    if (read.bitrateKbps) config.bitrateKbps = *read.bitrateKbps;
    if (read.codec) config.codec = *read.codec;
    if (read.resolution) config.resolution = *read.resolution;
    if (read.maxBufferSeconds) config.maxBufferSeconds = *read.maxBufferSeconds;
    if (read.outputDir) config.outputDir = *read.outputDir;
    if (read.recordAudio) config.recordAudio = *read.recordAudio;
    if (read.playSound) config.playSound = *read.playSound;
    if (read.showMenubar) config.showMenubar = *read.showMenubar;
    if (read.displayId) config.displayId = *read.displayId;
    if (read.windowId) config.windowId = *read.windowId;
    config.records = read.records.empty() ? legacyOrDefaultRecords(read) : std::move(read.records);

    int64_t longest = kFloorDurationWithoutRecords;
    for (size_t i = 0; i < config.records.size(); ++i) {
        RecordItem& record = config.records[i];
        record.durationSeconds = clampRecordDuration(record.durationSeconds);
        longest = i == 0 ? record.durationSeconds : std::max(longest, record.durationSeconds);
    }
    const double floor = static_cast<double>(longest) + kBufferHeadroomSeconds;
    if (config.maxBufferSeconds < floor) config.maxBufferSeconds = floor;
    return config;
}

void AppConfig::save() const {
    (void)writeFileAtomically(expandTilde(configPath), applicationFormText(*this));
}

double writtenBufferSeconds(double maxBufferSeconds, const std::vector<RecordItem>& records) {
    int64_t longest = kFloorDurationWithoutRecords;
    for (size_t i = 0; i < records.size(); ++i) {
        longest = i == 0 ? records[i].durationSeconds : std::max(longest, records[i].durationSeconds);
    }
    const double floor = static_cast<double>(longest) + kBufferHeadroomSeconds;
    if (!std::isfinite(maxBufferSeconds) || maxBufferSeconds < floor) return floor;
    return maxBufferSeconds;
}

std::string applicationFormText(const AppConfig& c) {
    std::string profiles;
    for (const RecordItem& record : c.records) {
        profiles += "[[records]]\n";
        profiles += "duration = " + std::to_string(clampRecordDuration(record.durationSeconds)) + "\n";
        profiles += "hotkey = " + quoted(record.hotkey) + "\n\n";
    }
    profiles = trimWhitespaceAndNewlines(profiles);

    const std::string banner(kBannerLine);
    std::string text;
    auto line = [&text](std::string_view s) {
        text.append(s);
        text.push_back('\n');
    };
    line(banner);
    line("# Corvane Configuration (Linux)");
    line(banner);
    line("");
    line("# Target frame rate for screen capture (typically 48 or 60 fps).");
    line("fps = " + std::to_string(c.fps));
    line("");
    line("# Video bitrate in kilobits per second (kbps).");
    line("bitrate_kbps = " + std::to_string(c.bitrateKbps));
    line("");
    line("# Capture resolution: \"native\", \"4k\", \"1440p\", \"1080p\", \"720p\".");
    line("resolution = " + quoted(c.resolution));
    line("");
    line("# Video codec: \"h264\" or \"hevc\".");
    line("codec = " + quoted(configTextOf(c.codec)));
    line("");
    line("# Maximum duration (in seconds) to keep in the circular RAM ring buffer.");
    line("max_buffer_seconds = " + formatFixed(writtenBufferSeconds(c.maxBufferSeconds, c.records), 1));
    line("");
    line("# Destination folder where exported MP4 clips will be saved.");
    line("output_dir = " + quoted(c.outputDir));
    line("");
    line("# Whether to capture system audio alongside video.");
    line(std::string("record_audio = ") + boolText(c.recordAudio));
    line("");
    line("# Whether to play a subtle sound when a clip is saved.");
    line(std::string("play_sound = ") + boolText(c.playSound));
    line("");
    line("# Whether to display the icon and menu in the system tray.");
    line(std::string("show_menubar = ") + boolText(c.showMenubar));
    line("");
    line("# Screen / display ID to record (0 = Main Display).");
    line("display_id = " + std::to_string(c.displayId));
    line("");
    line("# Target window ID (0 = display mode, >0 = capture specific window).");
    line("window_id = " + std::to_string(c.windowId));
    line("");
    line(banner);
    line("# Recording Profiles & Shortcuts");
    line(banner);
    text += profiles;
    return text;
}

std::string settingsFormText(const AppConfig& v) {
    const std::string banner(kBannerLine);
    std::vector<std::string> lines = {
        banner,
        "# Corvane Configuration (Linux)",
        banner,
        "",
        "# Target frame rate for screen capture (typically 48 or 60 fps).",
        "fps = " + std::to_string(v.fps),
        "",
        "# Video bitrate in kilobits per second (kbps).",
        "bitrate_kbps = " + std::to_string(v.bitrateKbps),
        "",
        "# Capture resolution.",
        "resolution = " + quoted(v.resolution),
        "",
        "# Maximum duration (in seconds) to keep in the in-memory circular ring buffer.",
        "max_buffer_seconds = " + formatFixed(writtenBufferSeconds(v.maxBufferSeconds, v.records), 1),
        "",
        "# Destination folder where exported MP4 clips will be saved.",
        "output_dir = " + quoted(v.outputDir),
        "",
        "# Whether to capture system audio alongside video.",
        std::string("record_audio = ") + boolText(v.recordAudio),
        "",
        "# Whether to play a subtle confirmation sound when a clip is successfully saved.",
        std::string("play_sound = ") + boolText(v.playSound),
        "",
        "# Whether to display the icon and menu in the system tray.",
        "show_menubar = true",
        "",
        "# Screen / display ID to record (0 = Primary / Main Display).",
        "display_id = " + std::to_string(v.displayId),
        "",
        "# Target window ID (0 = none / capture display, >0 = capture specific window).",
        "window_id = " + std::to_string(v.windowId),
        "",
        banner,
        "# Recording Profiles & Shortcuts",
        "# Customizable recording durations (between 5s and 600s / 10min) and global hotkeys.",
        banner,
    };
    for (const RecordItem& record : v.records) {
        lines.push_back("[[records]]");
        lines.push_back("duration = " + std::to_string(clampRecordDuration(record.durationSeconds)));
        // Respelled the program's way ("Cmd+Shift+1" of an older file becomes "Super+Shift+1").
        lines.push_back("hotkey = " + quoted(writtenShortcut(record.hotkey)));
        lines.push_back("");
    }
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text.push_back('\n');
        text += lines[i];
    }
    return text;
}

}  // namespace corvane

size_t std::hash<corvane::RecordItem>::operator()(const corvane::RecordItem& item) const noexcept {
    size_t h = std::hash<std::string>{}(item.id);
    h ^= std::hash<int64_t>{}(item.durationSeconds) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
    h ^= std::hash<std::string>{}(item.hotkey) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
    return h;
}
