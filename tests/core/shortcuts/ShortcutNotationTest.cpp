#include "core/shortcuts/ShortcutNotation.h"

#include "core/shortcuts/RecorderKeyRules.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

TEST(ShortcutNotationTest, ReadsTrimmedCaseInsensitivePartsInAnyOrderLastKeyWinning) {
    struct Case { const char* text; std::optional<ParsedShortcut> parsed; };
    for (const Case& c : {Case{"  cmd + SHIFT + 1 \n", ParsedShortcut{18, 768}},
                          {"1+Shift+Cmd", ParsedShortcut{18, 768}},
                          {"Command+Option+Control+Shift+Z", ParsedShortcut{6, 6912}},
                          {"opt+escape", ParsedShortcut{53, 2048}}, {"F5", ParsedShortcut{96, 0}},
                          // The Linux names and the older ones are the same keys.
                          {"Super+Shift+1", ParsedShortcut{18, 768}}, {"meta+alt+z", ParsedShortcut{6, 2304}},
                          {"Ctrl+Alt+9", ParsedShortcut{25, 6144}},
                          {"ctrl+control+Ctrl+up", ParsedShortcut{126, kControlKeyMask}},
                          {"Cmd+A+B", ParsedShortcut{11, 256}}, {"Cmd++1", ParsedShortcut{18, 256}},
                          {"Cmd+1+", std::nullopt}, {"Cmd+Shift", std::nullopt},
                          {"Cmd+Foo", std::nullopt}, {"   ", std::nullopt}, {"+", std::nullopt},
                          {"Ctrl+Keypad1", std::nullopt}, {"Cmd+Home", std::nullopt},
                          {"Cmd+F13", std::nullopt}, {"Cmd+`", std::nullopt},
                          {"Cmd+Delete", std::nullopt}}) {
        EXPECT_EQ(parseShortcut(c.text), c.parsed) << c.text;
    }
}

// Every code with a written name reads back to itself, with every modifier set; keypad digits
// come back as the main-row digit; codes that read but have no name (Escape, Delete) are never
// written.
TEST(ShortcutNotationTest, WrittenFormRoundTripsForEveryNameableKey) {
    int named = 0, functionKeys = 0;
    for (uint32_t code = 0; code <= 0xffff; ++code) {
        const auto keyCode = static_cast<uint16_t>(code);
        functionKeys += isFunctionKey(keyCode) && keyName(keyCode).value_or("?")[0] == 'F';
        for (uint32_t mask : {0u, 256u, 512u | 4096u, 256u | 512u | 2048u | 4096u}) {
            const std::optional<std::string> text = shortcutText(keyCode, mask);
            if (!text) continue;
            ++named;
            const std::optional<ParsedShortcut> back = parseShortcut(*text);
            ASSERT_TRUE(back) << *text;
            EXPECT_EQ(back->modifiers, mask) << *text;
            EXPECT_EQ(keyName(back->keyCode), keyName(keyCode)) << *text;
            EXPECT_EQ(back->keyCode == keyCode, code < 82 || code > 92) << *text;
        }
    }
    EXPECT_EQ(named, 75 * 4);  // 26 letters, 10 + 10 digits, 12 F-keys, 7 named keys, 10 marks
    EXPECT_EQ(functionKeys, 12);
    EXPECT_EQ(keyName(53), std::nullopt);  // Escape
    EXPECT_EQ(keyName(51), std::nullopt);  // Delete
    EXPECT_EQ(keyName(42), "\\");
}

TEST(ShortcutNotationTest, DisplayFormUsesLinuxNamesInFixedOrder) {
    for (const auto& [text, shown] : std::initializer_list<std::pair<const char*, const char*>>{
             {" \t\n", "Record shortcut"}, {"Cmd+Shift+1", "Super+Shift+1"},
             {"Shift+Cmd+return", "Super+Shift+Return"}, {"Up+Opt+Control", "Ctrl+Alt+Up"},
             {"Cmd+Shift", "Super+Shift"}, {"opt+esc", "Alt+Esc"}, {"f5", "F5"},
             {"alt+ctrl+9", "Ctrl+Alt+9"}, {"Meta+Command+a", "Super+A"},
             {"Ctrl+foo", "Ctrl+FOO"},  // shown even though it does not read
             {"Ctrl+Tab+space", "Ctrl+Space"}}) {
        EXPECT_EQ(displayString(text), shown) << text;
    }
}

TEST(ShortcutNotationTest, WrittenShortcutRespellsOnlyWhatReads) {
    for (const auto& [text, written] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Cmd+Shift+1", "Super+Shift+1"}, {" shift+cmd+1 ", "Super+Shift+1"},
             {"Ctrl+Opt+F2", "Ctrl+Alt+F2"}, {"Super+Shift+1", "Super+Shift+1"},
             {"Cmd+Foo", "Cmd+Foo"}, {"Opt+Esc", "Opt+Esc"}, {"", ""}}) {
        EXPECT_EQ(writtenShortcut(text), written) << text;
    }
}

// The rest of the table (Shift+A, keypad digits, Backspace, Escape, keys without a name) is
// pressed for real in tests/ui/keybind.
TEST(RecorderKeyRulesTest, DecisionTable) {
    using A = RecorderKeyAction;
    constexpr uint32_t cmd = kCmdKeyMask, shift = kShiftKeyMask, opt = kOptionKeyMask,
                       ctrl = kControlKeyMask;
    struct Case { const char* what; std::optional<uint16_t> keyCode; uint32_t mask; RecorderKeyOutcome expected; };
    for (const Case& c : std::vector<Case>{
             {"A alone", 0, 0, {A::keepRecording, ""}},
             {"order of modifiers", 18, shift | opt | ctrl | cmd, {A::capture, "Super+Ctrl+Alt+Shift+1"}},
             {"F5 alone", 96, 0, {A::capture, "F5"}},
             {"shift+F5", 96, shift, {A::capture, "Shift+F5"}},
             {"delete alone clears", 117, 0, {A::clear, ""}},
             {"shift+backspace is ignored", 51, shift, {A::keepRecording, ""}},
             {"cmd+delete has no name", 117, cmd, {A::keepRecording, ""}},
             {"unknown physical key", std::nullopt, cmd, {A::keepRecording, ""}}}) {
        EXPECT_EQ(classifyRecorderKey(c.keyCode, c.mask), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace corvane
