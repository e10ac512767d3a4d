#include "core/shortcuts/X11KeyMapping.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/shortcuts/RecorderKeyRules.h"

namespace corvane {
namespace {

TEST(X11KeyMappingTest, MapsShortcutsToKeysymsAndModifierMasks) {
    EXPECT_EQ(x11CombinationForShortcut("Cmd+Shift+1"),
              (X11KeyCombination{'1', kX11Mod4Mask | kX11ShiftMask}));
    EXPECT_EQ(x11CombinationForShortcut("Ctrl+Opt+z"),
              (X11KeyCombination{'z', kX11ControlMask | kX11Mod1Mask}));
    EXPECT_EQ(x11CombinationForShortcut("F12"), (X11KeyCombination{0xffc9, 0}));
    EXPECT_EQ(x11CombinationForShortcut("Cmd+esc"), (X11KeyCombination{0xff1b, kX11Mod4Mask}));
    EXPECT_EQ(x11CombinationForShortcut("Cmd+\\"), (X11KeyCombination{'\\', kX11Mod4Mask}));
    EXPECT_EQ(x11CombinationForShortcut("Cmd+Foo"), std::nullopt);
}

// Registration and recording meet in the middle: every readable key maps to a keysym that maps
// back to the same code, so a shortcut recorded by pressing it is the one that gets grabbed.
TEST(X11KeyMappingTest, EveryReadableKeyRoundTripsThroughItsKeysym) {
    int readable = 0;
    for (uint32_t code = 0; code < 256; ++code) {
        const std::optional<std::string> name = keyName(static_cast<uint16_t>(code));
        if (!name || (code >= 82 && code <= 92)) continue;
        ++readable;
        const std::optional<uint32_t> keysym = x11KeysymForKeyCode(static_cast<uint16_t>(code));
        ASSERT_TRUE(keysym) << *name;
        EXPECT_EQ(keyCodeForX11Keysym(*keysym), code) << *name;
    }
    EXPECT_EQ(readable, 65);
    const uint32_t escape = x11KeysymForKeyCode(kKeyCodeEscape).value();
    EXPECT_EQ(keyCodeForX11Keysym(escape), kKeyCodeEscape);
}

TEST(X11KeyMappingTest, PhysicalKeyUsesFirstKnownLevel) {
    // US digit row: "1" then "!" -- the unshifted symbol names the key.
    EXPECT_EQ(keyCodeForX11Keysyms(std::vector<uint32_t>{'1', '!'}), 18);
    // Keypad 5 with NumLock off: KP_Begin, then KP_5.
    EXPECT_EQ(keyCodeForX11Keysyms(std::vector<uint32_t>{0xff9d, 0xffb5}), 87);
    // A layout with the digit on the shifted level ("&" then "1").
    EXPECT_EQ(keyCodeForX11Keysyms(std::vector<uint32_t>{'&', '1'}), 18);
    EXPECT_EQ(keyCodeForX11Keysyms(std::vector<uint32_t>{0, 'Q'}), 12);
    // Super_L, Home: nothing the notation knows.
    EXPECT_EQ(keyCodeForX11Keysyms(std::vector<uint32_t>{0xffeb}), std::nullopt);
    EXPECT_EQ(keyCodeForX11Keysyms(std::vector<uint32_t>{0xff50}), std::nullopt);
    EXPECT_EQ(keyCodeForX11Keysyms(std::vector<uint32_t>{}), std::nullopt);
}

TEST(X11KeyMappingTest, EventStateIgnoresLockNumLockAndOtherModifiers) {
    EXPECT_EQ(modifierMaskForX11State(0x41), kCmdKeyMask | kShiftKeyMask);
    EXPECT_EQ(modifierMaskForX11State(0x41 | kX11LockMask | kX11Mod2Mask | 0x80),
              kCmdKeyMask | kShiftKeyMask);
    EXPECT_EQ(modifierMaskForX11State(kX11ControlMask | kX11Mod1Mask),
              kControlKeyMask | kOptionKeyMask);
    EXPECT_EQ(x11ModifiersForMask(modifierMaskForX11State(0x4d)), 0x4du);
}

// The recorder's decision table.
struct RecorderCase {
    const char* what;
    std::optional<uint16_t> keyCode;
    uint32_t mask;
    RecorderKeyOutcome expected;
};

TEST(RecorderKeyRulesTest, DecisionTable) {
    using A = RecorderKeyAction;
    constexpr uint32_t cmd = kCmdKeyMask, shift = kShiftKeyMask, opt = kOptionKeyMask,
                       ctrl = kControlKeyMask;
    const std::vector<RecorderCase> cases = {
        {"shift+A alone", 0, shift, {A::keepRecording, ""}},
        {"A alone", 0, 0, {A::keepRecording, ""}},
        {"cmd+shift+A", 0, cmd | shift, {A::capture, "Cmd+Shift+A"}},
        {"order of modifiers", 18, shift | opt | ctrl | cmd, {A::capture, "Cmd+Ctrl+Opt+Shift+1"}},
        {"ctrl+opt+1", 18, ctrl | opt, {A::capture, "Ctrl+Opt+1"}},
        {"F5 alone", 96, 0, {A::capture, "F5"}},
        {"shift+F5", 96, shift, {A::capture, "Shift+F5"}},
        {"keypad 5 with cmd", 87, cmd, {A::capture, "Cmd+5"}},
        {"backspace alone clears", 51, 0, {A::clear, ""}},
        {"delete alone clears", 117, 0, {A::clear, ""}},
        {"shift+backspace is ignored", 51, shift, {A::keepRecording, ""}},
        {"cmd+delete has no name", 117, cmd, {A::keepRecording, ""}},
        {"escape cancels", 53, 0, {A::cancel, ""}},
        {"escape with modifiers cancels", 53, cmd | ctrl | shift, {A::cancel, ""}},
        {"unknown physical key", std::nullopt, cmd, {A::keepRecording, ""}},
        {"known code without name", 115, cmd, {A::keepRecording, ""}},
    };
    for (const RecorderCase& c : cases) {
        EXPECT_EQ(classifyRecorderKey(c.keyCode, c.mask), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace corvane
