#include "core/config/AppConfig.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unordered_set>

#include "core/config/ConfigFile.h"
#include "core/log/Log.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

using test::TempDir;

const std::string kBanner =
    "# ==============================================================================\n";

// The application form of the defaults, written out by hand.
const std::string kDefaultApplicationForm =
    kBanner +
    "# Corvane Configuration (Linux)\n" + kBanner +
    "\n"
    "# Target frame rate for screen capture (typically 48 or 60 fps).\n"
    "fps = 48\n"
    "\n"
    "# Video bitrate in kilobits per second (kbps).\n"
    "bitrate_kbps = 12000\n"
    "\n"
    "# Capture resolution: \"native\", \"4k\", \"1440p\", \"1080p\", \"720p\".\n"
    "resolution = \"native\"\n"
    "\n"
    "# Video codec: \"h264\" or \"hevc\".\n"
    "codec = \"h264\"\n"
    "\n"
    "# Maximum duration (in seconds) to keep in the circular RAM ring buffer.\n"
    "max_buffer_seconds = 130.0\n"
    "\n"
    "# Destination folder where exported MP4 clips will be saved.\n"
    "output_dir = \"~/Videos/Corvane\"\n"
    "\n"
    "# Whether to capture system audio alongside video.\n"
    "record_audio = true\n"
    "\n"
    "# Whether to play a subtle sound when a clip is saved.\n"
    "play_sound = true\n"
    "\n"
    "# Whether to display the icon and menu in the system tray.\n"
    "show_menubar = true\n"
    "\n"
    "# Screen / display ID to record (0 = Main Display).\n"
    "display_id = 0\n"
    "\n"
    "# Target window ID (0 = display mode, >0 = capture specific window).\n"
    "window_id = 0\n"
    "\n" +
    kBanner + "# Recording Profiles & Shortcuts\n" + kBanner +
    "[[records]]\n"
    "duration = 30\n"
    "hotkey = \"Cmd+Shift+1\"\n"
    "\n"
    "[[records]]\n"
    "duration = 60\n"
    "hotkey = \"Cmd+Shift+2\"\n"
    "\n"
    "[[records]]\n"
    "duration = 120\n"
    "hotkey = \"Cmd+Shift+3\"";

std::string settingsFormHead(const std::string& fps, const std::string& buffer) {
    return kBanner + "# Corvane Configuration (Linux)\n" + kBanner +
           "\n"
           "# Target frame rate for screen capture (typically 48 or 60 fps).\n"
           "fps = " + fps + "\n"
           "\n"
           "# Video bitrate in kilobits per second (kbps).\n"
           "bitrate_kbps = 8000\n"
           "\n"
           "# Capture resolution.\n"
           "resolution = \"1080p\"\n"
           "\n"
           "# Maximum duration (in seconds) to keep in the in-memory circular ring buffer.\n"
           "max_buffer_seconds = " + buffer + "\n"
           "\n"
           "# Destination folder where exported MP4 clips will be saved.\n"
           "output_dir = \"/data/clips\"\n"
           "\n"
           "# Whether to capture system audio alongside video.\n"
           "record_audio = false\n"
           "\n"
           "# Whether to play a subtle confirmation sound when a clip is successfully saved.\n"
           "play_sound = true\n"
           "\n"
           "# Whether to display the icon and menu in the system tray.\n"
           "show_menubar = true\n"
           "\n"
           "# Screen / display ID to record (0 = Primary / Main Display).\n"
           "display_id = 2\n"
           "\n"
           "# Target window ID (0 = none / capture display, >0 = capture specific window).\n"
           "window_id = 77\n"
           "\n" +
           kBanner + "# Recording Profiles & Shortcuts\n" +
           "# Customizable recording durations (between 5s and 600s / 10min) and global hotkeys.\n" +
           "# ==============================================================================";
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Captures "[Corvane] " lines for the lifetime of the object.
struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        setLogSinkForTesting([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { setLogSinkForTesting(nullptr); }
};

AppConfig settingsValues() {
    AppConfig v;
    v.fps = 60;
    v.bitrateKbps = 8000;
    v.codec = "hevc";
    v.resolution = "1080p";
    v.maxBufferSeconds = 20;
    v.outputDir = "/data/clips";
    v.recordAudio = false;
    v.playSound = true;
    v.showMenubar = false;
    v.displayId = 2;
    v.windowId = 77;
    v.records = {RecordItem(45, "Cmd+F1"), RecordItem(90, "")};
    return v;
}

TEST(RecordItemTexts, DurationsReadAsSecondsMinutesOrBoth) {
    struct Case { int64_t d; const char* formatted; const char* title; };
    for (const Case& c : {Case{45, "45s", "45 seconds"}, Case{5, "5s", "5 seconds"},
                          Case{60, "1m", "1 minute"}, Case{120, "2m", "2 minutes"},
                          Case{90, "1m 30s", "1m 30s"}, Case{599, "9m 59s", "9m 59s"}}) {
        RecordItem item(c.d, "");
        EXPECT_EQ(item.formattedDuration(), c.formatted);
        EXPECT_EQ(item.readableTitle(), c.title);
    }
}

TEST(RecordItemTexts, ConstructorClampsAndStripsAssignmentDoesNot) {
    RecordItem item(3, "\u00A0 Cmd+1\n\t");
    EXPECT_EQ(item.durationSeconds, 5);
    EXPECT_EQ(item.hotkey, "Cmd+1");
    EXPECT_EQ(RecordItem(601, "").durationSeconds, 600);
    item.durationSeconds = 3;
    EXPECT_EQ(item.durationSeconds, 3);

    std::unordered_set<std::string> ids;
    for (int i = 0; i < 1000; ++i) ids.insert(RecordItem(30, "").id);
    EXPECT_EQ(ids.size(), 1000u);
    EXPECT_EQ(item.id.size(), 36u);
    EXPECT_EQ(item.id[14], '4');
}

TEST(AppConfigValues, TargetDimensionsIgnoreLetterCase) {
    AppConfig c;
    c.resolution = "4K";
    EXPECT_EQ(c.targetDimensions(), (PixelSize{3840, 2160}));
    c.resolution = "720p";
    EXPECT_EQ(c.targetDimensions(), (PixelSize{1280, 720}));
    c.resolution = "native";
    EXPECT_EQ(c.targetDimensions(), (PixelSize{0, 0}));
    c.resolution = "75%";
    EXPECT_EQ(c.targetDimensions(), (PixelSize{0, 0}));
}

TEST(ConfigLocation, HomeComesFromEnvironmentOrPasswordDatabase) {
    const char* saved = std::getenv("HOME");
    std::string savedHome = saved ? saved : "";
    ::setenv("HOME", "/home/tester", 1);
    EXPECT_EQ(AppConfig::configFilePath(), "/home/tester/.config/corvane/config.toml");
    EXPECT_EQ(expandTilde("~/Videos/Corvane"), "/home/tester/Videos/Corvane");
    EXPECT_EQ(expandTilde("~"), "/home/tester");
    EXPECT_EQ(expandTilde("/abs/~x"), "/abs/~x");
    EXPECT_EQ(expandTilde("~other/x"), "~other/x");
    ::setenv("HOME", "", 1);
    std::string fromDatabase = homeDirectory();
    ::unsetenv("HOME");
    std::string unset = homeDirectory();
    if (saved) ::setenv("HOME", savedHome.c_str(), 1);
    EXPECT_FALSE(fromDatabase.empty());
    EXPECT_NE(fromDatabase, "/");
    EXPECT_EQ(fromDatabase, unset);
}

TEST(ConfigLoad, MissingFileGivesDefaultsAndCreatesApplicationForm) {
    TempDir dir;
    auto path = dir / "nested/deeper/config.toml";
    AppConfig c = AppConfig::loadOrCreate(path.string());
    EXPECT_EQ(c.fps, 48);
    EXPECT_EQ(c.bitrateKbps, 12000);
    EXPECT_EQ(c.codec, "h264");
    EXPECT_EQ(c.resolution, "native");
    EXPECT_EQ(c.maxBufferSeconds, 130.0);
    EXPECT_EQ(c.outputDir, "~/Videos/Corvane");
    EXPECT_TRUE(c.recordAudio && c.playSound && c.showMenubar);
    EXPECT_EQ(c.displayId, 0u);
    EXPECT_EQ(c.windowId, 0u);
    ASSERT_EQ(c.records.size(), 3u);
    EXPECT_EQ(c.configPath, path.string());
    EXPECT_EQ(readFile(path), kDefaultApplicationForm);
    // Only the file itself is left behind: no temporary files.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1);
}

TEST(ConfigLoad, UnreadableExistingFileIsLeftUntouched) {
    TempDir dir;
    auto path = dir / "config.toml";
    const std::string invalidUtf8 = "fps = 60\noutput_dir = \"/clips/\xC3\x28\"\n";
    writeFile(path, invalidUtf8);
    {
        LogCapture log;
        AppConfig c = AppConfig::loadOrCreate(path.string());
        EXPECT_EQ(c.fps, 48);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].rfind("[Corvane] ", 0), 0u);
        EXPECT_NE(log.lines[0].find(path.string()), std::string::npos);
        EXPECT_NE(log.lines[0].find("UTF-8"), std::string::npos);
    }
    EXPECT_EQ(readFile(path), invalidUtf8);

    // A path that exists but is not a readable file (a folder here; a mode-000 file cannot be
    // used when the tests run as root).
    auto folderPath = dir / "folder.toml";
    std::filesystem::create_directories(folderPath / "keep");
    LogCapture log;
    AppConfig c = AppConfig::loadOrCreate(folderPath.string());
    EXPECT_EQ(c.records.size(), 3u);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("Is a directory"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(folderPath / "keep"));
}

TEST(ConfigLoad, OversizedFileOrFifoIsNeitherReadNorReplaced) {
    TempDir dir;
    auto big = dir / "big.toml";
    writeFile(big, "fps = 60\n");
    std::filesystem::resize_file(big, kMaxTextFileBytes + 1);  // sparse: cheap to make
    auto fifo = dir / "fifo.toml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& path : {big, fifo}) {
        LogCapture log;
        AppConfig c = AppConfig::loadOrCreate(path.string());  // must not block on the FIFO
        EXPECT_EQ(c.fps, 48);
        EXPECT_EQ(log.lines.size(), 1u);
    }
    EXPECT_EQ(std::filesystem::file_size(big), static_cast<uintmax_t>(kMaxTextFileBytes + 1));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST(ConfigLoad, ReadsValuesAppliesFloorAndKeepsTheFileAsWritten) {
    TempDir dir;
    auto path = dir / "config.toml";
    const std::string text =
        "# mine\r\nfps = 60\r\ncodec = \"HEVC\"\r\nresolution = \"4K\"\r\nrecord_audio = yes\r\n"
        "play_sound = True\r\nshow_menubar = false\r\nmax_buffer_seconds = 20\r\n"
        "display_id = -0\r\nwindow_id = 4294967295\r\n"
        "[[records]]\r\nduration = 120\r\nhotkey = \"Opt+F1\"";
    writeFile(path, text);
    AppConfig c = AppConfig::loadOrCreate(path.string());
    EXPECT_EQ(c.fps, 60);
    EXPECT_EQ(c.codec, "hevc");
    EXPECT_EQ(c.resolution, "4K");
    EXPECT_FALSE(c.recordAudio);
    EXPECT_FALSE(c.playSound);
    EXPECT_FALSE(c.showMenubar);
    EXPECT_EQ(c.maxBufferSeconds, 130.0);
    EXPECT_EQ(c.windowId, 4294967295u);
    ASSERT_EQ(c.records.size(), 1u);
    EXPECT_EQ(c.records[0].hotkey, "Opt+F1");
    EXPECT_EQ(readFile(path), text);
}

TEST(ConfigLoad, NonFiniteBufferLengthKeepsTheDefault) {
    TempDir dir;
    auto path = dir / "config.toml";
    for (const char* value : {"nan", "inf", "1e400", "-inf"}) {
        writeFile(path, std::string("max_buffer_seconds = ") + value + "\n");
        EXPECT_EQ(AppConfig::loadOrCreate(path.string()).maxBufferSeconds, 130.0) << value;
    }
    writeFile(path, "max_buffer_seconds = 500.25\n");
    EXPECT_EQ(AppConfig::loadOrCreate(path.string()).maxBufferSeconds, 500.25);
}

TEST(ConfigLoad, NoProfilesFallsBackToLegacyOrDefaults) {
    TempDir dir;
    auto path = dir / "config.toml";
    writeFile(path, "clip_60s = \"Ctrl+9\"\n[[records]]\nduration = 40\n");
    AppConfig c = AppConfig::loadOrCreate(path.string());
    ASSERT_EQ(c.records.size(), 3u);
    EXPECT_EQ(c.records[0].hotkey, "Cmd+Shift+1");
    EXPECT_EQ(c.records[1].hotkey, "Ctrl+9");
    EXPECT_EQ(c.records[2].hotkey, "Cmd+Shift+3");

    writeFile(path, "fps = 30\n");
    c = AppConfig::loadOrCreate(path.string());
    ASSERT_EQ(c.records.size(), 3u);
    EXPECT_EQ(c.records[2].durationSeconds, 120);
}

TEST(ConfigSave, WritesFloorAndClampedDurations) {
    AppConfig c;
    c.maxBufferSeconds = 20;
    c.records = {RecordItem(120, "Cmd+1"), RecordItem(30, "Cmd+2")};
    c.records[1].durationSeconds = 3;
    std::string text = applicationFormText(c);
    EXPECT_NE(text.find("\nmax_buffer_seconds = 130.0\n"), std::string::npos);
    EXPECT_NE(text.find("[[records]]\nduration = 5\nhotkey = \"Cmd+2\""), std::string::npos);
    EXPECT_TRUE(text.ends_with("duration = 5\nhotkey = \"Cmd+2\""));

    // The floor uses the stored, unclamped duration.
    c.records[1].durationSeconds = 1000;
    EXPECT_NE(applicationFormText(c).find("max_buffer_seconds = 1010.0\n"), std::string::npos);

    c.records.clear();
    c.maxBufferSeconds = 12.25;
    text = applicationFormText(c);
    EXPECT_NE(text.find("max_buffer_seconds = 40.0\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("# Recording Profiles & Shortcuts\n" + kBanner));
}

TEST(ConfigSave, ApplicationFormRoundTripsThroughTheReader) {
    TempDir dir;
    AppConfig c = settingsValues();
    c.configPath = (dir / "config.toml").string();
    c.maxBufferSeconds = 333.36;
    c.showMenubar = false;
    c.save();
    AppConfig back = AppConfig::loadOrCreate(c.configPath);
    EXPECT_EQ(back.maxBufferSeconds, 333.4);
    back.maxBufferSeconds = c.maxBufferSeconds;
    ASSERT_EQ(back.records.size(), c.records.size());
    for (size_t i = 0; i < back.records.size(); ++i) back.records[i].id = c.records[i].id;
    EXPECT_EQ(back, c);
}

TEST(ConfigSave, SettingsFormIsExactAndReadsBackWithDefaultCodecAndTray) {
    AppConfig v = settingsValues();
    const std::string expected = settingsFormHead("60", "100.0") +
                                 "\n[[records]]\nduration = 45\nhotkey = \"Cmd+F1\"\n\n"
                                 "[[records]]\nduration = 90\nhotkey = \"\"\n";
    EXPECT_EQ(settingsFormText(v), expected);
    v.records.clear();
    EXPECT_EQ(settingsFormText(v), settingsFormHead("60", "40.0"));

    TempDir dir;
    auto path = dir / "config.toml";
    writeFile(path, expected);
    AppConfig back = AppConfig::loadOrCreate(path.string());
    EXPECT_EQ(back.codec, "h264");
    EXPECT_TRUE(back.showMenubar);
    EXPECT_EQ(back.maxBufferSeconds, 100.0);
    ASSERT_EQ(back.records.size(), 2u);
    EXPECT_EQ(back.records[1].hotkey, "");
}

TEST(ConfigSave, SameBytesUnderACommaDecimalLocale) {
    TempDir dir;
    auto path = dir / "config.toml";
    writeFile(path, "max_buffer_seconds = 150.5\nfps = 30\n");
    AppConfig c = AppConfig::loadOrCreate(path.string());
    std::string expected = applicationFormText(c);

    std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "de_DE.UTF-8 locale missing";
    AppConfig underComma = AppConfig::loadOrCreate(path.string());
    std::string written = applicationFormText(underComma);
    std::setlocale(LC_ALL, saved.c_str());

    EXPECT_EQ(underComma.maxBufferSeconds, 150.5);
    EXPECT_EQ(written, expected);
    EXPECT_NE(written.find("max_buffer_seconds = 150.5\n"), std::string::npos);
}

TEST(ConfigFileWrites, AtomicWriteReplacesAndReportsFailures) {
    TempDir dir;
    auto path = dir / "a/b/file.txt";
    ASSERT_TRUE(writeFileAtomically(path.string(), "one").ok);
    ASSERT_TRUE(writeFileAtomically(path.string(), "two").ok);
    EXPECT_EQ(readFile(path), "two");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1);

    // A folder cannot be created below a plain file.
    FileWriteResult blocked = writeFileAtomically((path / "inside.txt").string(), "x");
    EXPECT_FALSE(blocked.ok);
    EXPECT_FALSE(blocked.error.empty());
    // Renaming over a non-empty folder fails and leaves no temporary file behind.
    std::filesystem::create_directories(dir / "c/target/x");
    FileWriteResult overFolder = writeFileAtomically((dir / "c/target").string(), "x");
    EXPECT_FALSE(overFolder.ok);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "c"), {}), 1);
}

}  // namespace
}  // namespace corvane
