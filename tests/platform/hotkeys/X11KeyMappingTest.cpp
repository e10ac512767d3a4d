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
    // US digit row, a digit on the shifted level, KP_Begin then KP_5, Super_L, nothing.
    const std::pair<std::vector<uint32_t>, std::optional<uint16_t>> keys[] = {
        {{'1', '!'}, 18}, {{'&', '1'}, 18}, {{0xff9d, 0xffb5}, 87}, {{0, 'Q'}, 12}, {{0xffeb}, std::nullopt}, {{}, std::nullopt}};
    for (const auto& [syms, code] : keys) EXPECT_EQ(keyCodeForX11Keysyms(syms), code) << syms.size();
}

}  // namespace
}  // namespace corvane
