#include "core/settings/CaptureSources.h"

#include <gtest/gtest.h>

#include "core/settings/SettingsRules.h"

namespace corvane {
namespace {

TEST(CaptureSourcesTest, ListsAreFilteredSortedAndNamed) {
    ShareableContent content;
    content.displays = {{12, "DP-1", 0, 0, 2560, 1440, false}, {3, "", 0, 0, 1280, 720, false},
                        {20, "eDP-1", 0, 0, 1920, 1080, true}, {0, "bogus", 0, 0, 1, 1, false}};
    content.windows = {
        {1, "Zed", "zed", 0, 0, 801, 601, 1.0},          {2, "", "Browser", 0, 0, 1280, 720, 1.0},
        {3, "A very long document title that goes on and on forever", "browser", 0, 0, 1280, 720, 1.0},
        {4, "tiny", "Tool", 0, 0, 99, 500, 1.0},         {5, "Settings", "Corvane", 0, 0, 960, 620, 1.0},
        {6, "no owner", "", 0, 0, 500, 500, 1.0},        {7, "Terminal", "Terminal", 0, 0, 640, 480, 1.0},
        {8, "  \n", "Editor", 0, 0, 640, 480, 2.0},
    };
    const auto displays = displayItemsFrom(content);
    ASSERT_EQ(displays.size(), 3u);
    EXPECT_EQ(displays[0].displayName(), "eDP-1 \u00b7 1920\u00d71080 (Main)");
    EXPECT_EQ(displays[1].displayName(), "Display 3 \u00b7 1280\u00d7720");
    EXPECT_EQ(displays[2].id, 12u);

    const auto windows = windowItemsFrom(content);
    ASSERT_EQ(windows.size(), 5u);
    EXPECT_EQ(windows[0].displayName(), "Browser \u00b7 1280\u00d7720");
    EXPECT_EQ(windows[1].displayName(),
              "browser - A very long document title that goes on a\u2026 \u00b7 1280\u00d7720");
    EXPECT_EQ(windows[2].displayName(), "Editor \u00b7 1280\u00d7960");  // blank title; scale 2
    EXPECT_EQ(windows[3].displayName(), "Terminal \u00b7 640\u00d7480");  // title repeats the app
    EXPECT_EQ(windows[4].displayName(), "zed - Zed \u00b7 800\u00d7600");
    // A cut never splits a UTF-8 character.
    WindowItem accented{1, "App", std::string(40, 'a') + "\u00e9\u00e9\u00e9", 100, 100};
    EXPECT_EQ(accented.displayName(), "App - " + std::string(40, 'a') + "\u00e9\u2026 \u00b7 100\u00d7100");
}

TEST(SettingsRulesTest, ByteCountsInFileStyle) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0 bytes"}, {1, "1 byte"}, {999, "999 bytes"}, {218500, "219 KB"}, {6555000, "6.6 MB"},
        {5000000, "5 MB"}, {-5, "0 bytes"}, {999960000, "1 GB"}, {1234567890, "1.23 GB"}};
    for (const auto& [bytes, text] : cases) EXPECT_EQ(formatFileByteCount(bytes), text) << bytes;
}

TEST(SettingsRulesTest, CaptureTargetTextsRejectOverflowAndSigns) {
    using K = ParsedCaptureTarget::Kind;
    const std::tuple<std::string, K, uint32_t> cases[] = {
        {"display:0", K::display, 0}, {"display:4294967295", K::display, 4294967295u},
        {"display:4294967296", K::display, 0}, {"window:none", K::window, 0}, {"window:-3", K::window, 0},
        {"window:", K::window, 0}, {"window:+7", K::window, 0}, {"screen:1", K::other, 0},
    };
    for (const auto& [text, kind, id] : cases)
        EXPECT_EQ(std::pair(parseCaptureTargetText(text).kind, parseCaptureTargetText(text).id), std::pair(kind, id))
            << text;
}

}  // namespace
}  // namespace corvane
