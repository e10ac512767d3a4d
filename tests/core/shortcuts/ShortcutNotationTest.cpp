#include "core/shortcuts/ShortcutNotation.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

TEST(ShortcutNotationTest, ReadsTrimmedCaseInsensitivePartsInAnyOrder) {
    EXPECT_EQ(parseShortcut("  cmd + SHIFT + 1 \n"), (ParsedShortcut{18, 768}));
    EXPECT_EQ(parseShortcut("Command+Option+Control+Shift+Z"), (ParsedShortcut{6, 6912}));
    EXPECT_EQ(parseShortcut("1+Shift+Cmd"), parseShortcut("Cmd+Shift+1"));
    EXPECT_EQ(parseShortcut("Alt+Esc"), (ParsedShortcut{53, 2048}));
    EXPECT_EQ(parseShortcut("opt+escape"), (ParsedShortcut{53, 2048}));
    EXPECT_EQ(parseShortcut("ctrl+control+Ctrl+up"), (ParsedShortcut{126, kControlKeyMask}));
    EXPECT_EQ(parseShortcut("F5"), (ParsedShortcut{96, 0}));
}

TEST(ShortcutNotationTest, LastKeyPartWinsAndEmptyPartsNeedAKeyAfterThem) {
    EXPECT_EQ(parseShortcut("Cmd+A+B"), (ParsedShortcut{11, 256}));
    EXPECT_EQ(parseShortcut("Cmd++1"), (ParsedShortcut{18, 256}));
    EXPECT_EQ(parseShortcut("Cmd+1+"), std::nullopt);
}

TEST(ShortcutNotationTest, RejectsTextsWithoutAReadableKey) {
    for (const char* text : {"Cmd+Shift", "Cmd+Shift+", "Cmd+Foo", "", "   ", "+", "Ctrl+Keypad1",
                             "Cmd+Home", "Cmd+F13", "Cmd+`", "Cmd+Delete"}) {
        EXPECT_EQ(parseShortcut(text), std::nullopt) << text;
    }
}

TEST(ShortcutNotationTest, KeyNamesWriteEveryCodeOnceAndNothingElse) {
    EXPECT_EQ(keyName(53), std::nullopt);   // Escape reads but is never written
    EXPECT_EQ(keyName(51), std::nullopt);   // Delete
    EXPECT_EQ(keyName(127), std::nullopt);
    EXPECT_EQ(keyName(0xffff), std::nullopt);
    EXPECT_EQ(keyName(82), "0");
    EXPECT_EQ(keyName(92), "9");
    EXPECT_EQ(keyName(111), "F12");
    EXPECT_EQ(keyName(124), "Right");
    EXPECT_EQ(keyName(42), "\\");
}

// Every code with a written name reads back to itself, with every modifier set; keypad digits
// come back as the main-row digit.
TEST(ShortcutNotationTest, WrittenFormRoundTripsForEveryNameableKey) {
    int named = 0;
    for (uint32_t code = 0; code <= 0xffff; ++code) {
        const auto keyCode = static_cast<uint16_t>(code);
        for (uint32_t mask : {0u, 256u, 512u | 4096u, 256u | 512u | 2048u | 4096u}) {
            const std::optional<std::string> text = shortcutText(keyCode, mask);
            if (!text) continue;
            ++named;
            const std::optional<ParsedShortcut> back = parseShortcut(*text);
            ASSERT_TRUE(back) << *text;
            EXPECT_EQ(back->modifiers, mask) << *text;
            if (code >= 82 && code <= 92) {
                EXPECT_EQ(keyName(back->keyCode), keyName(keyCode)) << *text;
                EXPECT_NE(back->keyCode, keyCode);
            } else {
                EXPECT_EQ(back->keyCode, keyCode) << *text;
            }
        }
    }
    EXPECT_EQ(named, 75 * 4);  // 26 letters, 10 + 10 digits, 12 F-keys, 7 named keys, 10 marks
}

TEST(ShortcutNotationTest, WritesModifiersInFixedOrder) {
    EXPECT_EQ(shortcutText(18, kShiftKeyMask | kCmdKeyMask), "Cmd+Shift+1");
    EXPECT_EQ(shortcutText(0, kShiftKeyMask | kOptionKeyMask | kControlKeyMask | kCmdKeyMask),
              "Cmd+Ctrl+Opt+Shift+A");
    EXPECT_EQ(shortcutText(53, kCmdKeyMask), std::nullopt);
}

TEST(ShortcutNotationTest, FunctionKeysAreExactlyF1ToF12) {
    int count = 0;
    for (uint32_t code = 0; code <= 0xffff; ++code) {
        if (isFunctionKey(static_cast<uint16_t>(code))) {
            ++count;
            EXPECT_EQ(keyName(static_cast<uint16_t>(code)).value_or("?")[0], 'F');
        }
    }
    EXPECT_EQ(count, 12);
}

TEST(ShortcutNotationTest, DisplayFormUsesSymbolsInFixedOrder) {
    EXPECT_EQ(displayString(""), "Record shortcut");
    EXPECT_EQ(displayString(" \t\n"), "Record shortcut");
    EXPECT_EQ(displayString("Cmd+Shift+1"), "\u21E7 \u2318 1");
    EXPECT_EQ(displayString("Shift+Cmd+return"), "\u21E7 \u2318 \u21B5");
    EXPECT_EQ(displayString("Up+Alt+Control"), "\u2303 \u2325 \u2191");
    EXPECT_EQ(displayString("Cmd+Shift"), "\u21E7 \u2318");
    EXPECT_EQ(displayString("opt+esc"), "\u2325 ESC");
    EXPECT_EQ(displayString("f5"), "F5");
    EXPECT_EQ(displayString("Ctrl+foo"), "\u2303 FOO");  // shown even though it does not read
    EXPECT_EQ(displayString("Ctrl+Tab+space"), "\u2303 Space");
}

}  // namespace
}  // namespace corvane
