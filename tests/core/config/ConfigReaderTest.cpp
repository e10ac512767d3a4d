#include "core/config/ConfigReader.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>

namespace corvane {
namespace {

ConfigReadResult readLoad(std::string_view text) {
    return ConfigReader::read(text, ConfigReadMode::LoadOrCreate);
}

TEST(ConfigValueRules, NumbersArePlainFiniteDecimalsWithinRange) {
    EXPECT_EQ(parseConfigInt64("+007"), 7);
    EXPECT_EQ(parseConfigInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    for (const char* bad : {"", "+", "9223372036854775808", "60 #x", " 60", "1,000", "1_000",
                            "60.0", "1e3", "0x10", "--1", "60s", "٣"}) {
        EXPECT_FALSE(parseConfigInt64(bad)) << bad;
    }
    EXPECT_EQ(parseConfigUInt32("4294967295"), 4294967295u);
    EXPECT_EQ(parseConfigUInt32("-0"), 0u);  // the only signed form an id accepts
    for (const char* bad : {"4294967296", "-1", "1.0", "99999999999999999999"}) {
        EXPECT_FALSE(parseConfigUInt32(bad)) << bad;
    }
    EXPECT_EQ(parseConfigDouble("+2.5e1"), 25.0);
    EXPECT_EQ(parseConfigDouble(".5"), 0.5);
    EXPECT_EQ(parseConfigDouble("0x1p3"), 8.0);
    // Non-finite values would make the buffer length NaN or infinite: nothing would ever be pruned.
    for (const char* bad : {"nan", "inf", "-inf", "infinity", "1e400", "-1e400", "130,5", "1e",
                            "130.5 s", "+-1", "0x", "1.2.3"}) {
        EXPECT_FALSE(parseConfigDouble(bad)) << bad;
    }
    EXPECT_TRUE(parseConfigBool("true"));
    for (const char* other : {"True", "1", "yes", "true "}) EXPECT_FALSE(parseConfigBool(other));
    // Written numbers round half to even and never switch to exponent notation.
    EXPECT_EQ(formatFixed(0.25, 1), "0.2");
    EXPECT_EQ(formatFixed(1e20, 1), "100000000000000000000.0");
}

// Keys are matched exactly, values lose one layer of quotes, a trailing remark breaks a number
// (the earlier value stays) but joins a text, and the first "=" between non-empty pieces splits.
TEST(ConfigLineSyntax, LinesStripQuotesSkipCommentsAndSplitAtTheFirstEquals) {
    auto r = readLoad(
        "  # comment\n\t fps = 60 \t\nbitrate_kbps=8000\nresolution = \"\"1080p\"\"\n"
        "codec = \"HEVC\"\nFPS = 30\nnovalue\nfps =\nfps = 30 # thirty\n");
    EXPECT_EQ(r.fps, 60);
    EXPECT_EQ(r.bitrateKbps, 8000);
    EXPECT_EQ(r.resolution, "1080p");
    EXPECT_EQ(r.codec, VideoCodec::HEVC);
    const std::pair<const char*, std::optional<std::string>> outputDirs[] = {
        {"output_dir = \"~/Clips \"x\" here\"", "~/Clips \"x\" here"}, {"output_dir = \"/a\" # note", "/a\" # note"},
        {"output_dir = a=b", "a=b"}, {"output_dir==b", "=b"}, {"=output_dir=b", "b"},
        {"= output_dir", std::nullopt}, {"output_dir =", std::nullopt}};
    for (const auto& [line, expected] : outputDirs) EXPECT_EQ(readLoad(line).outputDir, expected) << line;
    for (const char* lineBreak : {"\n", "\r", "\r\n", "\x0b", "\x0c", "\xC2\x85", "\xE2\x80\xA8",
                                  "\xE2\x80\xA9"}) {
        r = readLoad(std::string("output_dir = b") + lineBreak + "record_audio = true");
        EXPECT_EQ(r.outputDir, "b") << testing::PrintToString(lineBreak);
        EXPECT_EQ(r.recordAudio, true);  // last line without a line feed
    }
}

TEST(ConfigRecords, ProfilesNeedDurationAndHotkey) {
    auto r = readLoad(
        "[[records]]\nduration = 2\nhotkey = \"Cmd+1\"\n"           // clamped up to 5
        "[[records]]\nduration = 900\nhotkey = \" Cmd+2 \t\"\n"     // clamped down, stripped
        "[[records]]\nduration = 10s\nhotkey = \"Cmd+3\"\n"         // no converted duration: dropped
        "[[records]]\nduration = 10s\nduration = 45\nhotkey = \"Cmd+4\"\n"
        "[[records]]\nduration = 50\n"                              // no hotkey: dropped
        "[[records]]\nduration = 70\nhotkey = \"\"\n");             // empty shortcut kept
    ASSERT_EQ(r.records.size(), 4u);
    EXPECT_EQ(r.records[0].durationSeconds, 5);
    EXPECT_EQ(r.records[1].durationSeconds, 600);
    EXPECT_EQ(r.records[1].hotkey, "Cmd+2");
    EXPECT_EQ(r.records[2].durationSeconds, 45);
    EXPECT_EQ(r.records[3].hotkey, "");
}

TEST(ConfigRecords, SectionHidesTopLevelKeysUntilAnotherHeader) {
    auto r = readLoad(
        "fps = 10\n[[records]]\nduration = 30\nhotkey = \"A\"\nfps = 20\n"
        "[other]\nfps = 40\n[[records]]\nhotkey = \"B\"\nduration = 60\n");
    EXPECT_EQ(r.fps, 40);
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[1].hotkey, "B");
    EXPECT_EQ(readLoad("[general]\nfps = 24\n").fps, 24);
}

TEST(ConfigReadModes, EachReaderSeesItsOwnKeys) {
    const std::string text = "codec = HEVC\nmax_buffer_seconds = 200\nshow_menubar = no\n"
                             "clip_30s = X\nfps = 5\n[[records]]\nduration = 30\nhotkey = \"K\"\n";
    auto load = ConfigReader::read(text, ConfigReadMode::LoadOrCreate);
    auto settings = ConfigReader::read(text, ConfigReadMode::SettingsModel);
    auto engine = ConfigReader::read(text, ConfigReadMode::EngineReload);
    EXPECT_EQ(load.codec, VideoCodec::HEVC);
    EXPECT_EQ(load.showMenubar, false);
    EXPECT_EQ(load.clip30s, "X");
    EXPECT_FALSE(settings.codec);
    EXPECT_EQ(settings.maxBufferSeconds, 200.0);
    EXPECT_EQ(settings.showMenubar, true);  // presence is enough
    EXPECT_EQ(engine.codec, VideoCodec::HEVC);
    EXPECT_FALSE(engine.maxBufferSeconds || engine.showMenubar || engine.clip30s);
    for (const auto* result : {&load, &settings, &engine}) {
        EXPECT_EQ(result->fps, 5);
        EXPECT_EQ(result->records.size(), 1u);
    }
}

// Any file content must give a result within the rules: random bytes, and a valid file
// mutated with the syntax's own pieces, cut off, or with a huge line.
TEST(ConfigReaderRobustness, RandomAndMutatedTextsNeverBreakTheReader) {
    std::mt19937 rng(20261206);
    const std::string valid =
        "fps = 60\ncodec = \"hevc\"\nmax_buffer_seconds = 140.5\ndisplay_id = 4\n"
        "[[records]]\nduration = 30\nhotkey = \"Cmd+Shift+1\"\n\n[[records]]\nduration = 60\n";
    const std::vector<std::string> pieces = {
        "[[records]]", "[", "=", "\"", "#", "\r", "\xE2\x80\xA8", "duration", "hotkey",
        "max_buffer_seconds", "-0", "1e400", "nan", "99999999999999999999", "\xFF",
        std::string(1, '\0'), "clip_60s"};
    for (int i = 0; i < 3000; ++i) {
        std::string text = valid;
        if (i % 2 == 0) {
            text.resize(rng() % 600);
            for (char& c : text) c = static_cast<char>(rng() & 0xFF);
        }
        for (int e = 1 + static_cast<int>(rng() % 6); e > 0 && !text.empty(); --e) {
            size_t at = rng() % text.size();
            switch (rng() % 3) {
            case 0: text.erase(at, 1 + rng() % 8); break;
            case 1: text.insert(at, pieces[rng() % pieces.size()]); break;
            default: text.resize(at); break;
            }
        }
        if (i % 97 == 0) text.insert(text.size() / 2, std::string(1 << 20, 'x'));
        for (ConfigReadMode mode : {ConfigReadMode::LoadOrCreate, ConfigReadMode::SettingsModel,
                                    ConfigReadMode::EngineReload}) {
            ConfigReadResult r = ConfigReader::read(text, mode);
            ASSERT_TRUE(!r.maxBufferSeconds || std::isfinite(*r.maxBufferSeconds));
            for (const RecordItem& item : r.records) {
                ASSERT_TRUE(item.durationSeconds >= 5 && item.durationSeconds <= 600);
            }
        }
    }
}

}  // namespace
}  // namespace corvane
