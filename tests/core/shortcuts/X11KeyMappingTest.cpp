#include "core/shortcuts/X11KeyMapping.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/shortcuts/RecorderKeyRules.h"

namespace corvane {
namespace {

// Registration and recording meet in the middle: every readable key maps to a keysym that maps
// back to the same code, so a shortcut recorded by pressing it is the one that gets grabbed.
TEST(X11KeyMappingTest, EveryReadableKeyRoundTripsThroughItsKeysym) {
    int readable = 0;
    for (uint16_t code = 0; code < 256; ++code) {
        const std::optional<std::string> name = keyName(code);
        if (!name || (code >= 82 && code <= 92)) continue;
        ++readable;
        const std::optional<uint32_t> keysym = x11KeysymForKeyCode(code);
        ASSERT_TRUE(keysym) << *name;
        EXPECT_EQ(keyCodeForX11Keysym(*keysym), code) << *name;
    }
    EXPECT_EQ(readable, 65);
    EXPECT_EQ(keyCodeForX11Keysym(x11KeysymForKeyCode(kKeyCodeEscape).value()), kKeyCodeEscape);
}

// A physical key is named by the first level the notation knows.
TEST(X11KeyMappingTest, PhysicalKeyUsesFirstKnownLevel) {
    using Syms = std::vector<uint32_t>;
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{'1', '!'}), 18);       // US digit row
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{'&', '1'}), 18);       // digit on the shifted level
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{0xff9d, 0xffb5}), 87);  // KP_Begin, then KP_5
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{0, 'Q'}), 12);
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{0xffeb}), std::nullopt);  // Super_L
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{}), std::nullopt);
}

TEST(RecorderKeyRulesTest, DecisionTable) {
    using A = RecorderKeyAction;
    constexpr uint32_t cmd = kCmdKeyMask, shift = kShiftKeyMask, opt = kOptionKeyMask,
                       ctrl = kControlKeyMask;
    struct Case { const char* what; std::optional<uint16_t> keyCode; uint32_t mask; RecorderKeyOutcome expected; };
    for (const Case& c : std::vector<Case>{
             {"shift+A alone", 0, shift, {A::keepRecording, ""}},
             {"A alone", 0, 0, {A::keepRecording, ""}},
             {"order of modifiers", 18, shift | opt | ctrl | cmd, {A::capture, "Cmd+Ctrl+Opt+Shift+1"}},
             {"F5 alone", 96, 0, {A::capture, "F5"}},
             {"shift+F5", 96, shift, {A::capture, "Shift+F5"}},
             {"keypad 5 with cmd", 87, cmd, {A::capture, "Cmd+5"}},
             {"backspace alone clears", 51, 0, {A::clear, ""}},
             {"delete alone clears", 117, 0, {A::clear, ""}},
             {"shift+backspace is ignored", 51, shift, {A::keepRecording, ""}},
             {"cmd+delete has no name", 117, cmd, {A::keepRecording, ""}},
             {"escape with modifiers cancels", 53, cmd | ctrl | shift, {A::cancel, ""}},
             {"unknown physical key", std::nullopt, cmd, {A::keepRecording, ""}},
             {"known code without name", 115, cmd, {A::keepRecording, ""}}}) {
        EXPECT_EQ(classifyRecorderKey(c.keyCode, c.mask), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace corvane
