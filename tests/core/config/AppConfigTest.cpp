#include "core/config/AppConfig.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <clocale>

#include "core/config/ConfigFile.h"
#include "core/config/ConfigReader.h"
#include "support/CaptureLogLines.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"

namespace corvane {
namespace {

using test::LogCapture;
using test::TempDir;
using test::entriesIn;
using test::readTextFile;
using test::writeTextFile;

TEST(RecordItemTexts, DurationsAreClampedAndReadAsSecondsMinutesOrBoth) {
    struct Case { int64_t d; const char* formatted; const char* title; };
    for (const Case& c : {Case{3, "5s", "5 seconds"}, Case{60, "1m", "1 minute"},
                          Case{599, "9m 59s", "9m 59s"}, Case{601, "10m", "10 minutes"}}) {
        RecordItem item(c.d, "");
        EXPECT_EQ(item.formattedDuration(), c.formatted) << c.d;
        EXPECT_EQ(item.readableTitle(), c.title) << c.d;
    }
    RecordItem item(3, "\u00A0 Cmd+1\n\t");
    EXPECT_EQ(item.hotkey, "Cmd+1");
    EXPECT_NE(item.id, RecordItem(3, "Cmd+1").id);
}

TEST(ConfigLoad, MissingFileGivesDefaultsAndCreatesTheFileWithoutLeftovers) {
    TempDir dir;
    auto path = dir / "nested/deeper/config.toml";
    AppConfig c = AppConfig::loadOrCreate(path.string());
    EXPECT_EQ(c.configPath, path.string());
    ASSERT_EQ(c.records.size(), 3u);
    EXPECT_EQ(c.records[0].hotkey, "Super+Shift+1");
    EXPECT_EQ(readTextFile(path), applicationFormText(c));
    EXPECT_EQ(entriesIn(path.parent_path()), 1u) << "a temporary file was left behind";
}

// Files that cannot be used give the defaults and one log line, and are never replaced: a
// user's broken file is theirs to mend.
TEST(ConfigLoad, UnreadableOversizedOrSpecialFilesAreLeftUntouched) {
    TempDir dir;
    const std::string invalidUtf8 = "fps = 60\noutput_dir = \"/clips/\xC3\x28\"\n";
    writeTextFile(dir / "utf8.toml", invalidUtf8);
    // A folder stands in for an unreadable file: mode 000 does not stop root.
    std::filesystem::create_directories(dir / "folder.toml/keep");
    writeTextFile(dir / "big.toml", "fps = 60\n");
    std::filesystem::resize_file(dir / "big.toml", kMaxTextFileBytes + 1);  // sparse: cheap
    ASSERT_EQ(::mkfifo((dir / "fifo.toml").c_str(), 0600), 0);
    for (const auto& [name, reason] : {std::pair{"utf8.toml", "UTF-8"},
                                       {"folder.toml", "Is a directory"}, {"big.toml", ""},
                                       {"fifo.toml", ""}}) {
        const std::string path = (dir / name).string();
        LogCapture log;
        EXPECT_EQ(AppConfig::loadOrCreate(path).fps, 48) << name;  // must not block on the FIFO
        ASSERT_EQ(log.lines().size(), 1u) << name;
        EXPECT_NE(log.lines()[0].find(path), std::string::npos) << log.lines()[0];
        EXPECT_NE(log.lines()[0].find(reason), std::string::npos) << log.lines()[0];
    }
    EXPECT_EQ(readTextFile(dir / "utf8.toml"), invalidUtf8);
    EXPECT_TRUE(std::filesystem::exists(dir / "folder.toml/keep"));
    EXPECT_EQ(std::filesystem::file_size(dir / "big.toml"), uintmax_t(kMaxTextFileBytes + 1));
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.toml"));
}

TEST(ConfigLoad, ReadsValuesAppliesFloorAndKeepsTheFileAsWritten) {
    TempDir dir;
    auto path = dir / "config.toml";
    const std::string text =
        "# mine\r\nfps = 60\r\ncodec = \"HEVC\"\r\nresolution = \"4K\"\r\nrecord_audio = yes\r\n"
        "max_buffer_seconds = 20\r\n[[records]]\r\nduration = 120\r\nhotkey = \"Opt+F1\"";
    writeTextFile(path, text);
    AppConfig c = AppConfig::loadOrCreate(path.string());
    EXPECT_EQ(std::tuple(c.fps, c.codec, c.targetDimensions(), c.recordAudio, c.maxBufferSeconds),
              std::tuple(60, VideoCodec::HEVC, PixelSize{3840, 2160}, false, 130.0));
    ASSERT_EQ(c.records.size(), 1u);
    EXPECT_EQ(c.records[0].hotkey, "Opt+F1");
    EXPECT_EQ(readTextFile(path), text);
}

TEST(ConfigLoad, NoProfilesFallsBackToLegacyKeysThenDefaults) {
    TempDir dir;
    writeTextFile(dir / "config.toml", "clip_60s = \"  Ctrl+9 \"\n[[records]]\nduration = 40\n");
    AppConfig c = AppConfig::loadOrCreate((dir / "config.toml").string());
    ASSERT_EQ(c.records.size(), 3u);
    EXPECT_EQ(c.records[0].hotkey, "Super+Shift+1");
    EXPECT_EQ(c.records[1].hotkey, "Ctrl+9");
    EXPECT_EQ(c.records[2].hotkey, "Super+Shift+3");
}

TEST(ConfigSave, WritesFloorAndClampedDurations) {
    AppConfig c;
    c.maxBufferSeconds = 20;
    c.records = {RecordItem(120, "Cmd+1"), RecordItem(30, "Cmd+2")};
    c.records[1].durationSeconds = 3;
    std::string text = applicationFormText(c);
    EXPECT_NE(text.find("\nmax_buffer_seconds = 130.0\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("[[records]]\nduration = 5\nhotkey = \"Cmd+2\""));
    // The floor uses the stored, unclamped duration.
    c.records[1].durationSeconds = 1000;
    EXPECT_NE(applicationFormText(c).find("max_buffer_seconds = 1010.0\n"), std::string::npos);
    c.records.clear();
    c.maxBufferSeconds = 12.25;
    EXPECT_NE(applicationFormText(c).find("max_buffer_seconds = 40.0\n"), std::string::npos);
}

TEST(ConfigSave, ApplicationFormRoundTripsThroughTheReader) {
    TempDir dir;
    AppConfig c;
    c.fps = 60;
    c.bitrateKbps = 8000;
    c.codec = VideoCodec::HEVC;
    c.resolution = "1080p";
    c.outputDir = "/data/clips";
    c.recordAudio = false;
    c.showMenubar = false;
    c.displayId = 2;
    c.windowId = 77;
    c.records = {RecordItem(45, "Cmd+F1"), RecordItem(90, "")};
    c.configPath = (dir / "config.toml").string();
    c.maxBufferSeconds = 333.36;
    c.save();
    AppConfig back = AppConfig::loadOrCreate(c.configPath);
    EXPECT_EQ(back.maxBufferSeconds, 333.4);
    back.maxBufferSeconds = c.maxBufferSeconds;
    ASSERT_EQ(back.records.size(), c.records.size());
    for (size_t i = 0; i < back.records.size(); ++i) back.records[i].id = c.records[i].id;
    EXPECT_EQ(back, c);
}

// Numbers are read and written in the C form whatever the process locale says.
TEST(ConfigSave, SameBytesUnderACommaDecimalLocale) {
    TempDir dir;
    auto path = dir / "config.toml";
    writeTextFile(path, "max_buffer_seconds = 150.5\nfps = 30\n");
    std::string expected = applicationFormText(AppConfig::loadOrCreate(path.string()));
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
    EXPECT_EQ(readTextFile(path), "two");
    EXPECT_EQ(entriesIn(path.parent_path()), 1u);
    // A folder cannot be created below a plain file.
    FileWriteResult blocked = writeFileAtomically((path / "inside.txt").string(), "x");
    EXPECT_FALSE(blocked.ok);
    EXPECT_FALSE(blocked.error.empty());
    // Renaming over a non-empty folder fails and leaves no temporary file behind.
    std::filesystem::create_directories(dir / "c/target/x");
    EXPECT_FALSE(writeFileAtomically((dir / "c/target").string(), "x").ok);
    EXPECT_EQ(entriesIn(dir / "c"), 1u);
}

TEST(ConfigFileWrites, AFolderThatIsALinkToNothingIsNamedAsSuch) {
    TempDir dir;
    std::filesystem::create_symlink(dir / "unmounted/clips", dir / "Clips");
    const FileWriteResult made = createFolders((dir / "Clips/sub").string());
    EXPECT_FALSE(made.ok);
    EXPECT_EQ(made.error, (dir / "Clips").string() + " is a symbolic link to " +
                              (dir / "unmounted/clips").string() + ", which does not exist");
    std::filesystem::create_directories(dir / "unmounted/clips");
    EXPECT_TRUE(createFolders((dir / "Clips/sub").string()).ok) << "a link to a folder is followed";
    EXPECT_TRUE(std::filesystem::is_directory(dir / "unmounted/clips/sub"));
}

}  // namespace
}  // namespace corvane
