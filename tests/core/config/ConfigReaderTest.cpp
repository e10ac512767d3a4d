#include "core/config/ConfigReader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace corvane {
namespace {

ConfigReadResult readLoad(std::string_view text) {
    return ConfigReader::read(text, ConfigReadMode::LoadOrCreate);
}

TEST(ConfigValueRules, IntegersArePlainDecimalWithinRange) {
    EXPECT_EQ(parseConfigInt64("60"), 60);
    EXPECT_EQ(parseConfigInt64("+60"), 60);
    EXPECT_EQ(parseConfigInt64("-7"), -7);
    EXPECT_EQ(parseConfigInt64("007"), 7);
    EXPECT_EQ(parseConfigInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(parseConfigInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    for (const char* bad : {"", "+", "-", "9223372036854775808", "-9223372036854775809", "60 #x",
                            " 60", "6 0", "1,000", "1_000", "60.0", "1e3", "0x10", "+-1", "--1",
                            "60s", "٣"}) {
        EXPECT_FALSE(parseConfigInt64(bad)) << bad;
    }
}

TEST(ConfigValueRules, UnsignedIdsAcceptOnlyMinusZero) {
    EXPECT_EQ(parseConfigUInt32("4294967295"), 4294967295u);
    EXPECT_EQ(parseConfigUInt32("+1"), 1u);
    EXPECT_EQ(parseConfigUInt32("-0"), 0u);
    for (const char* bad : {"4294967296", "-1", "", "-", "1.0", " 1", "99999999999999999999"}) {
        EXPECT_FALSE(parseConfigUInt32(bad)) << bad;
    }
}

TEST(ConfigValueRules, FloatsMustBeWholeAndFinite) {
    EXPECT_EQ(parseConfigDouble("130.5"), 130.5);
    EXPECT_EQ(parseConfigDouble("+2.5e1"), 25.0);
    EXPECT_EQ(parseConfigDouble("-1"), -1.0);
    EXPECT_EQ(parseConfigDouble(".5"), 0.5);
    EXPECT_EQ(parseConfigDouble("0x1p3"), 8.0);
    // Non-finite values would make the buffer length NaN or infinite: nothing would ever be pruned.
    for (const char* bad : {"nan", "NaN", "inf", "-inf", "infinity", "1e400", "-1e400", "",
                            "130,5", "1e", "130.5 s", " 1", "+-1", "--1", "0x", "1.2.3"}) {
        EXPECT_FALSE(parseConfigDouble(bad)) << bad;
    }
}

TEST(ConfigValueRules, BooleanIsTrueOnlyForExactTrue) {
    EXPECT_TRUE(parseConfigBool("true"));
    for (const char* other : {"True", "TRUE", "1", "yes", "true ", ""}) {
        EXPECT_FALSE(parseConfigBool(other)) << other;
    }
}

TEST(ConfigValueRules, FixedFormatRoundsHalfToEven) {
    EXPECT_EQ(formatFixed(59.5, 0), "60");
    EXPECT_EQ(formatFixed(60.5, 0), "60");
    EXPECT_EQ(formatFixed(130.4, 0), "130");
    EXPECT_EQ(formatFixed(130.0, 1), "130.0");
    EXPECT_EQ(formatFixed(0.25, 1), "0.2");
    EXPECT_EQ(formatFixed(1e20, 1), "100000000000000000000.0");
}

TEST(ConfigLineSyntax, LinesStripQuotesAndSkipComments) {
    auto r = readLoad(
        "  # comment\n"
        "\t fps = 60 \t\n"
        "bitrate_kbps=8000\n"
        "resolution = \"\"1080p\"\"\n"
        "output_dir = \"~/Clips \"x\" here\"\n"
        "codec = \"HEVC\"\n"
        "unknown = 5\n"
        "FPS = 30\n"
        "novalue\n"
        "fps =\n");
    EXPECT_EQ(r.fps, 60);
    EXPECT_EQ(r.bitrateKbps, 8000);
    EXPECT_EQ(r.resolution, "1080p");
    EXPECT_EQ(r.outputDir, "~/Clips \"x\" here");
    EXPECT_EQ(r.codec, "hevc");
}

TEST(ConfigLineSyntax, TrailingRemarkBreaksNumbersButJoinsTexts) {
    auto r = readLoad("fps = 30\nfps = 60 # sixty\noutput_dir = \"/a\" # note\n");
    EXPECT_EQ(r.fps, 30);  // the second value did not convert: the first stays
    EXPECT_EQ(r.outputDir, "/a\" # note");
}

TEST(ConfigLineSyntax, EveryKindOfLineBreakSplitsLines) {
    auto r = readLoad("fps = 1\rbitrate_kbps = 2\r\ndisplay_id = 3\x0bwindow_id = 4\x0c"
                      "resolution = a\xC2\x85output_dir = b\xE2\x80\xA8" "codec = c\xE2\x80\xA9"
                      "record_audio = true");
    EXPECT_EQ(r.fps, 1);
    EXPECT_EQ(r.bitrateKbps, 2);
    EXPECT_EQ(r.displayId, 3u);
    EXPECT_EQ(r.windowId, 4u);
    EXPECT_EQ(r.resolution, "a");
    EXPECT_EQ(r.outputDir, "b");
    EXPECT_EQ(r.codec, "c");
    EXPECT_EQ(r.recordAudio, true);  // last line without a line feed
}

TEST(ConfigLineSyntax, AssignmentSplitsAtFirstEqualsAfterDroppingEmptyPieces) {
    EXPECT_EQ(readLoad("output_dir = a=b").outputDir, "a=b");
    EXPECT_EQ(readLoad("output_dir==b").outputDir, "=b");
    EXPECT_EQ(readLoad("=output_dir=b").outputDir, "b");
    EXPECT_FALSE(readLoad("= output_dir").outputDir);
    EXPECT_FALSE(readLoad("output_dir =").outputDir);
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
    EXPECT_NE(r.records[0].id, r.records[2].id);
}

TEST(ConfigRecords, SectionHidesTopLevelKeysUntilAnotherHeader) {
    auto r = readLoad(
        "fps = 10\n[[records]]\nduration = 30\nhotkey = \"A\"\nfps = 20\n"
        "[other]\nfps = 40\n[[records]]\nhotkey = \"B\"\nduration = 60\n");
    EXPECT_EQ(r.fps, 40);
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[1].hotkey, "B");
    // Outside the section an unknown header changes nothing.
    EXPECT_EQ(readLoad("[general]\nfps = 24\n").fps, 24);
}

TEST(ConfigRecords, LegacyKeysFillMissingProfiles) {
    auto r = readLoad("clip_60s = \"  Ctrl+F9 \"\n");
    auto records = legacyOrDefaultRecords(r);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].hotkey, "Cmd+Shift+1");
    EXPECT_EQ(records[1].hotkey, "Ctrl+F9");
    EXPECT_EQ(records[2].durationSeconds, 120);
    EXPECT_EQ(records[2].hotkey, "Cmd+Shift+3");
}

TEST(ConfigReadModes, EachReaderSeesItsOwnKeys) {
    const std::string text =
        "codec = HEVC\nmax_buffer_seconds = 200\nshow_menubar = no\nclip_30s = X\nfps = 5\n"
        "[[records]]\nduration = 30\nhotkey = \"K\"\n";
    auto load = ConfigReader::read(text, ConfigReadMode::LoadOrCreate);
    EXPECT_EQ(load.codec, "hevc");
    EXPECT_EQ(load.maxBufferSeconds, 200.0);
    EXPECT_EQ(load.showMenubar, false);
    EXPECT_EQ(load.clip30s, "X");

    auto settings = ConfigReader::read(text, ConfigReadMode::SettingsModel);
    EXPECT_FALSE(settings.codec);
    EXPECT_EQ(settings.maxBufferSeconds, 200.0);
    EXPECT_EQ(settings.showMenubar, true);  // presence is enough
    EXPECT_EQ(settings.clip30s, "X");

    auto engine = ConfigReader::read(text, ConfigReadMode::EngineReload);
    EXPECT_EQ(engine.codec, "hevc");
    EXPECT_FALSE(engine.maxBufferSeconds);
    EXPECT_FALSE(engine.showMenubar);
    EXPECT_FALSE(engine.clip30s);
    for (const auto* result : {&load, &settings, &engine}) {
        EXPECT_EQ(result->fps, 5);
        EXPECT_EQ(result->records.size(), 1u);
    }
}

TEST(ConfigReadModes, NumbersIgnoreACommaDecimalLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    std::string saved = previous ? previous : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "de_DE.UTF-8 locale missing";
    auto r = readLoad("max_buffer_seconds = 130.5\n");
    std::string written = formatFixed(130.25, 1);
    auto commaValue = parseConfigDouble("130,5");
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(r.maxBufferSeconds, 130.5);
    EXPECT_EQ(written, "130.2");
    EXPECT_FALSE(commaValue);
}

// Any file content must give a result: random bytes, random lines built from the syntax's own
// pieces, and mutations of a valid file (huge lines, cut-off endings, stray quotes and brackets).
TEST(ConfigReaderRobustness, RandomAndMutatedTextsNeverBreakTheReader) {
    std::mt19937 rng(20261206);
    const std::string valid =
        "fps = 60\nbitrate_kbps = 9000\ncodec = \"hevc\"\nmax_buffer_seconds = 140.5\n"
        "output_dir = \"~/v\"\nrecord_audio = true\ndisplay_id = 4\n"
        "[[records]]\nduration = 30\nhotkey = \"Cmd+Shift+1\"\n\n"
        "[[records]]\nduration = 60\nhotkey = \"Opt+F5\"\n";
    const std::vector<std::string> pieces = {
        "[[records]]", "[", "]", "=", "\"", "#", " ", "\t", "\n", "\r", "\xE2\x80\xA8", "fps",
        "duration", "hotkey", "max_buffer_seconds", "display_id", "-0", "1e400", "nan", "-",
        "99999999999999999999", "0x1p3", "\xFF", std::string(1, '\0'), "true", "clip_60s"};
    const ConfigReadMode modes[] = {ConfigReadMode::LoadOrCreate, ConfigReadMode::SettingsModel,
                                    ConfigReadMode::EngineReload};
    auto check = [&](const std::string& text) {
        for (ConfigReadMode mode : modes) {
            ConfigReadResult r = ConfigReader::read(text, mode);
            if (r.maxBufferSeconds) {
                ASSERT_TRUE(std::isfinite(*r.maxBufferSeconds));
            }
            for (const RecordItem& item : r.records) {
                ASSERT_GE(item.durationSeconds, 5);
                ASSERT_LE(item.durationSeconds, 600);
            }
        }
    };
    for (int i = 0; i < 4000; ++i) {
        std::string text;
        switch (i % 3) {
        case 0: {  // raw bytes
            text.resize(rng() % 600);
            for (char& c : text) c = static_cast<char>(rng() & 0xFF);
            break;
        }
        case 1: {  // syntax soup
            int n = static_cast<int>(rng() % 80);
            for (int k = 0; k < n; ++k) text += pieces[rng() % pieces.size()];
            break;
        }
        default: {  // mutations of a valid file
            text = valid;
            int edits = 1 + static_cast<int>(rng() % 6);
            for (int e = 0; e < edits && !text.empty(); ++e) {
                size_t at = rng() % text.size();
                switch (rng() % 4) {
                case 0: text.erase(at, 1 + rng() % 8); break;
                case 1: text.insert(at, pieces[rng() % pieces.size()]); break;
                case 2: text[at] = static_cast<char>(rng() & 0xFF); break;
                default: text.resize(at); break;
                }
            }
            if (i % 97 == 0) text.insert(text.size() / 2, std::string(1 << 20, 'x'));
            break;
        }
        }
        check(text);
    }
}

}  // namespace
}  // namespace corvane
