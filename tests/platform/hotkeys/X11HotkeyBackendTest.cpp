// Global shortcuts against the session's real X server, pressed through XTest.
#include "platform/hotkeys/X11HotkeyBackend.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/shortcuts/CorvaneHotkeys.h"
#include "platform/hotkeys/X11KeyboardLayout.h"
#include "support/CaptureLogLines.h"
#include "support/XKeyboardTestSupport.h"  // last: Xlib's macros

#include <X11/XKBlib.h>

namespace corvane {
namespace {

using test::waitUntil;
using test::XKeyboard;

int gLastXError = 0;
int recordXError(Display*, XErrorEvent* error) {
    gLastXError = error->error_code;
    return 0;
}

// Whether the server refuses `display` a grab of keycode+modifiers (someone else holds it).
bool grabIsRefused(Display* display, KeyCode keycode, unsigned modifiers) {
    XErrorHandler previous = XSetErrorHandler(recordXError);
    gLastXError = 0;
    const Window root = DefaultRootWindow(display);
    XGrabKey(display, keycode, modifiers, root, False, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    const bool refused = gLastXError == BadAccess;
    if (!refused) XUngrabKey(display, keycode, modifiers, root);
    XSync(display, False);
    XSetErrorHandler(previous);
    return refused;
}

class X11HotkeyBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(client.get()) << "no X display: run inside scripts/with-test-session.sh";
        int event = 0, error = 0, major = 0, minor = 0;
        ASSERT_TRUE(XTestQueryExtension(client.get(), &event, &error, &major, &minor));
        auto owned = X11HotkeyBackend::open();
        ASSERT_TRUE(owned);
        backend = owned.get();
        hotkeys = std::make_unique<CorvaneHotkeys>(std::move(owned));
        hotkeys->onHotKeyTriggered = [this](int32_t id) { triggered.push_back(id); };
    }
    // Registers the set and tells whether each registration was bound, in order.
    std::vector<bool> registerSet(const std::vector<const char*>& shortcuts) {
        std::vector<HotkeyRequest> requests;
        int32_t id = 1;
        for (const char* shortcut : shortcuts) requests.push_back({id++, shortcut, ""});
        hotkeys->registerHotKeys(requests);
        std::vector<bool> bound;
        for (const char* shortcut : shortcuts) {
            bound.push_back(hotkeys->statusOf(shortcut) == HotkeyBindStatus::bound);
        }
        return bound;
    }
    bool waitForPresses(size_t count) {
        return waitUntil([&] { return triggered.size() >= count; });
    }

    test::LogCapture log;
    XKeyboard client;
    X11HotkeyBackend* backend = nullptr;
    std::unique_ptr<CorvaneHotkeys> hotkeys;
    std::vector<int32_t> triggered;
};

// A press reaches the callback whatever the lock state; holding the combination down (the server's
// auto-repeat) is one press.
TEST_F(X11HotkeyBackendTest, APressReachesTheCallbackOnceWhateverTheLockStateOrHowLongItIsHeld) {
    ASSERT_EQ(registerSet({"Cmd+Shift+1", "Ctrl+Opt+Z", "Cmd+Shift+2"}), (std::vector<bool>{true, true, true}));
    // Without Shift, and with Shift alone, the combination is not ours.
    client.chord({XK_Super_L, XK_Shift_L}, XK_1);
    client.chord({XK_Super_L}, XK_1);
    client.chord({XK_Shift_L}, XK_1);
    client.chord({XK_Control_L, XK_Alt_L}, XK_z);
    ASSERT_TRUE(waitForPresses(2));
    EXPECT_EQ(triggered, (std::vector<int32_t>{1, 2}));

    client.tap(XK_Num_Lock);
    client.chord({XK_Super_L, XK_Shift_L}, XK_1);
    client.tap(XK_Caps_Lock);  // NumLock and CapsLock both on
    client.chord({XK_Control_L, XK_Alt_L}, XK_z);
    client.tap(XK_Num_Lock);
    client.tap(XK_Caps_Lock);
    ASSERT_TRUE(waitForPresses(4));
    EXPECT_EQ(triggered, (std::vector<int32_t>{1, 2, 1, 2}));

    // Fast auto-repeat, so that holding the key produces repeats at once.
    unsigned delayMs = 0, intervalMs = 0;
    ASSERT_TRUE(XkbGetAutoRepeatRate(client.get(), XkbUseCoreKbd, &delayMs, &intervalMs));
    XkbSetAutoRepeatRate(client.get(), XkbUseCoreKbd, 5, 5);
    client.key(XK_Super_L, true);
    client.key(XK_Shift_L, true);
    client.key(XK_1, true);
    XSync(client.get(), False);
    const bool repeated = waitUntil([&] { return backend->autoRepeatsIgnored() >= 3; });
    client.key(XK_1, false);
    XkbSetAutoRepeatRate(client.get(), XkbUseCoreKbd, delayMs, intervalMs);
    client.chord({}, XK_2);
    client.chord({}, XK_1);  // a new press after the release counts again
    client.key(XK_Shift_L, false);
    client.key(XK_Super_L, false);
    XSync(client.get(), False);
    EXPECT_TRUE(repeated);
    ASSERT_TRUE(waitForPresses(7));
    EXPECT_EQ(triggered, (std::vector<int32_t>{1, 2, 1, 2, 1, 3, 1}));
}

TEST_F(X11HotkeyBackendTest, CombinationHeldElsewhereIsRefusedAndLeavesNothingBehind) {
    // Another program holds Super+Shift+2 (only the plain variant).
    XKeyboard other;
    const unsigned mods = Mod4Mask | ShiftMask;
    const Window root = DefaultRootWindow(other.get());
    XGrabKey(other.get(), other.keycode(XK_2), mods, root, False, GrabModeAsync, GrabModeAsync);
    XSync(other.get(), False);
    // The same combination twice in this program: the second is refused, the first still works.
    hotkeys->registerHotKeys({{1, "Super+Shift+2", ""}, {2, "Cmd+Shift+3", ""}, {3, "Shift+Super+3", ""}});
    EXPECT_EQ(hotkeys->statusOf("Cmd+Shift+2"), HotkeyBindStatus::inUseByAnotherProgram);
    EXPECT_EQ(hotkeys->statusOf("Super+Shift+3"), HotkeyBindStatus::bound);
    EXPECT_EQ(log.count("an earlier profile has the same shortcut"), 1);

    // No lock variant of the refused combination stayed grabbed: once the other program lets
    // go, a press with CapsLock on is not ours, and registering it now works.
    XUngrabKey(other.get(), other.keycode(XK_2), mods, root);
    XSync(other.get(), False);
    client.tap(XK_Caps_Lock);
    client.chord({XK_Super_L, XK_Shift_L}, XK_2);
    client.tap(XK_Caps_Lock);
    client.chord({XK_Super_L, XK_Shift_L}, XK_3);
    ASSERT_TRUE(waitForPresses(1));
    EXPECT_EQ(triggered, (std::vector<int32_t>{2}));
    EXPECT_EQ(registerSet({"Cmd+Shift+2"}), std::vector<bool>{true});
}

// While the shortcut recorder listens the grabs are let go, so the keys reach the focused
// window; resuming takes them back, except one another program took meanwhile. Unregistering
// lets them go for good.
TEST_F(X11HotkeyBackendTest, SuspendedOrUnregisteredHotkeysAreReleasedAndResumeTakesThemBack) {
    ASSERT_EQ(registerSet({"Cmd+Shift+1", "Cmd+Shift+2"}), (std::vector<bool>{true, true}));
    XKeyboard other;
    const Window root = DefaultRootWindow(other.get());
    hotkeys->suspend();
    EXPECT_FALSE(grabIsRefused(other.get(), other.keycode(XK_1), Mod4Mask | ShiftMask));
    XGrabKey(other.get(), other.keycode(XK_2), Mod4Mask | ShiftMask, root, False, GrabModeAsync,
             GrabModeAsync);
    XSync(other.get(), False);
    client.chord({XK_Super_L, XK_Shift_L}, XK_1);  // not ours while suspended
    hotkeys->resume();
    EXPECT_TRUE(grabIsRefused(other.get(), other.keycode(XK_1), Mod4Mask | ShiftMask));
    EXPECT_EQ(log.count("lost while global shortcuts were suspended"), 1);
    client.chord({XK_Super_L, XK_Shift_L}, XK_1);
    ASSERT_TRUE(waitForPresses(1));
    EXPECT_EQ(triggered, (std::vector<int32_t>{1}));

    hotkeys->unregisterAll();
    EXPECT_FALSE(grabIsRefused(other.get(), other.keycode(XK_1), Mod4Mask | ShiftMask));
    // Presses no longer reach the callback (the F6 marker proves the loop ran past it).
    hotkeys->registerHotKeys({{3, "F6", ""}});
    client.chord({XK_Super_L, XK_Shift_L}, XK_1);
    client.tap(XK_F6);
    ASSERT_TRUE(waitForPresses(2));
    EXPECT_EQ(triggered, (std::vector<int32_t>{1, 3}));
}

TEST_F(X11HotkeyBackendTest, KeyboardMappingChangeMovesTheGrab) {
    // Put "1" on a spare key code, as a layout switch would, and take it off the old key.
    Display* d = client.get();
    int minKeycode = 0, maxKeycode = 0, perKey = 0;
    XDisplayKeycodes(d, &minKeycode, &maxKeycode);
    const KeyCode oldKey = client.keycode(XK_1);
    KeySym* oldSyms = XGetKeyboardMapping(d, oldKey, 1, &perKey);
    ASSERT_TRUE(oldSyms);
    std::vector<KeySym> saved(oldSyms, oldSyms + perKey);
    XFree(oldSyms);
    KeyCode spare = 0;
    for (int code = maxKeycode; code >= minKeycode && spare == 0; --code) {
        int n = 0;
        KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(code), 1, &n);
        bool empty = true;
        for (int i = 0; i < n; ++i) empty = empty && syms[i] == NoSymbol;
        XFree(syms);
        if (empty) spare = static_cast<KeyCode>(code);
    }
    ASSERT_NE(spare, 0);

    ASSERT_EQ(registerSet({"Cmd+Shift+1"}), std::vector<bool>{true});
    KeySym one = XK_1, none = NoSymbol;
    XChangeKeyboardMapping(d, spare, 1, &one, 1);
    XChangeKeyboardMapping(d, oldKey, 1, &none, 1);
    XSync(d, False);
    const std::unique_ptr<X11KeyboardLayout> layout = X11KeyboardLayout::open();
    EXPECT_EQ(layout->keyCodeForX11Keycode(spare), 18);  // the recorder follows too
    EXPECT_EQ(layout->keyCodeForX11Keycode(9999), std::nullopt);  // out of range: no X error

    // The change reaches the backend through its event queue; once it has made the grab again,
    // another program is refused the new key.
    XKeyboard other;
    const bool moved = waitUntil([&] { return grabIsRefused(other.get(), spare, Mod4Mask | ShiftMask); });
    if (moved) {
        client.chordOn({XK_Super_L, XK_Shift_L}, spare);
        waitForPresses(1);
    }
    XChangeKeyboardMapping(d, oldKey, perKey, saved.data(), 1);
    XChangeKeyboardMapping(d, spare, 1, &none, 1);
    XSync(d, False);
    ASSERT_TRUE(moved);
    EXPECT_EQ(triggered, (std::vector<int32_t>{1}));
}

}  // namespace
}  // namespace corvane
