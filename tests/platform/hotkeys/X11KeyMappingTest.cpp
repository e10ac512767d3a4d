#include "platform/hotkeys/X11KeyMapping.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(X11KeyMappingTest, PhysicalKeyUsesFirstKnownLevel) {
    using Syms = std::vector<uint32_t>;
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{'1', '!'}), 18);       // US digit row
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{'&', '1'}), 18);       // digit on the shifted level
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{0xff9d, 0xffb5}), 87);  // KP_Begin, then KP_5
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{0, 'Q'}), 12);
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{0xffeb}), std::nullopt);  // Super_L
    EXPECT_EQ(keyCodeForX11Keysyms(Syms{}), std::nullopt);
}

}  // namespace
}  // namespace corvane
