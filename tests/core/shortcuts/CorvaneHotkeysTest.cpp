#include "core/shortcuts/CorvaneHotkeys.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/log/Log.h"
#include "core/shortcuts/X11KeyMapping.h"

namespace corvane {
namespace {

// Grants or refuses by script; remembers live grabs so a test can press them.
class FakeHotkeyBackend final : public HotkeyBackend {
public:
    HotkeyGrabStatus grab(uint32_t grabId, uint32_t keysym, uint32_t modifiers) override {
        ++grabCalls;
        if (nextStatus != kHotkeyGrabGranted) return nextStatus;
        EXPECT_EQ(live.count(grabId), 0u) << "grab id reused while live";
        live[grabId] = X11KeyCombination{keysym, modifiers};
        return kHotkeyGrabGranted;
    }
    void ungrab(uint32_t grabId) override {
        ++ungrabCalls;
        live.erase(grabId);
    }
    void setPressHandler(PressHandler handler) override { onPress = std::move(handler); }

    // Simulates the user pressing a combination: delivered only if grabbed.
    void press(const X11KeyCombination& combination) {
        for (const auto& [grabId, held] : live) {
            if (held == combination && onPress) {
                onPress(grabId);
                return;
            }
        }
    }

    HotkeyGrabStatus nextStatus = kHotkeyGrabGranted;
    std::map<uint32_t, X11KeyCombination> live;
    PressHandler onPress;
    int grabCalls = 0;
    int ungrabCalls = 0;
};

class CorvaneHotkeysTest : public ::testing::Test {
protected:
    CorvaneHotkeysTest() {
        auto owned = std::make_unique<FakeHotkeyBackend>();
        backend = owned.get();
        hotkeys = std::make_unique<CorvaneHotkeys>(std::move(owned));
        hotkeys->onHotKeyTriggered = [this](int32_t id) { triggered.push_back(id); };
        setLogSinkForTesting([this](const std::string& line) { lines.push_back(line); });
    }
    ~CorvaneHotkeysTest() override { setLogSinkForTesting(nullptr); }

    static X11KeyCombination combo(const char* text) { return *x11CombinationForShortcut(text); }

    FakeHotkeyBackend* backend = nullptr;
    std::unique_ptr<CorvaneHotkeys> hotkeys;
    std::vector<int32_t> triggered;
    std::vector<std::string> lines;
};

TEST_F(CorvaneHotkeysTest, RegisteredShortcutsReportTheirIdsOnPress) {
    EXPECT_TRUE(hotkeys->registerHotKey(1, "Cmd+Shift+1"));
    EXPECT_TRUE(hotkeys->registerHotKey(2, " ctrl + alt + F5 "));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[Corvane] Hotkey registered: [Cmd+Shift+1] -> Action ID 1");
    EXPECT_EQ(lines[1], "[Corvane] Hotkey registered: [ ctrl + alt + F5 ] -> Action ID 2");

    backend->press(combo("Ctrl+Opt+F5"));
    backend->press(combo("Cmd+Shift+1"));
    backend->press(combo("Cmd+Shift+2"));  // never registered
    EXPECT_EQ(triggered, (std::vector<int32_t>{2, 1}));
}

TEST_F(CorvaneHotkeysTest, FailuresPrintTheirLineAndRegisterNothing) {
    EXPECT_FALSE(hotkeys->registerHotKey(2, "Cmd+Foo "));
    EXPECT_EQ(backend->grabCalls, 0);

    backend->nextStatus = kHotkeyStatusTaken;
    EXPECT_FALSE(hotkeys->registerHotKey(3, "Cmd+Shift+3"));

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[Corvane] Failed to parse shortcut: 'Cmd+Foo '");
    EXPECT_EQ(lines[1], "[Corvane] Error RegisterEventHotKey (10) for 'Cmd+Shift+3'");
    EXPECT_EQ(hotkeys->registeredCount(), 0u);

    // A refusal for one profile does not affect the next.
    backend->nextStatus = kHotkeyGrabGranted;
    EXPECT_TRUE(hotkeys->registerHotKey(4, "Cmd+Shift+4"));
}

TEST_F(CorvaneHotkeysTest, UnregisterAllSilencesPressesAndAllowsRegisteringAgain) {
    hotkeys->unregisterAll();  // empty: nothing happens
    ASSERT_TRUE(hotkeys->registerHotKey(1, "Cmd+Shift+1"));
    ASSERT_TRUE(hotkeys->registerHotKey(2, "Cmd+Shift+2"));
    hotkeys->unregisterAll();
    hotkeys->unregisterAll();
    EXPECT_EQ(backend->ungrabCalls, 2);
    EXPECT_TRUE(backend->live.empty());

    backend->press(combo("Cmd+Shift+1"));
    EXPECT_TRUE(triggered.empty());

    // Reload with the profiles reordered: the ids follow the new positions.
    ASSERT_TRUE(hotkeys->registerHotKey(1, "Cmd+Shift+2"));
    ASSERT_TRUE(hotkeys->registerHotKey(2, "Cmd+Shift+1"));
    backend->press(combo("Cmd+Shift+1"));
    EXPECT_EQ(triggered, (std::vector<int32_t>{2}));
}

TEST_F(CorvaneHotkeysTest, PressWithoutCallbackIsConsumedAndCallbackMayReRegister) {
    ASSERT_TRUE(hotkeys->registerHotKey(1, "Cmd+Shift+1"));
    hotkeys->onHotKeyTriggered = nullptr;
    backend->press(combo("Cmd+Shift+1"));  // nothing happens, nothing crashes

    // The engine's reload may run from inside a press: the registry changes under the call.
    int calls = 0;
    hotkeys->onHotKeyTriggered = [&](int32_t id) {
        ++calls;
        EXPECT_EQ(id, 1);
        hotkeys->unregisterAll();
        hotkeys->onHotKeyTriggered = nullptr;
        EXPECT_TRUE(hotkeys->registerHotKey(7, "Cmd+Shift+1"));
    };
    backend->press(combo("Cmd+Shift+1"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hotkeys->registeredCount(), 1u);
}

TEST_F(CorvaneHotkeysTest, DestructionReleasesEveryGrab) {
    int ungrabs = 0;
    struct Counting final : HotkeyBackend {
        int* count;
        explicit Counting(int* c) : count(c) {}
        HotkeyGrabStatus grab(uint32_t, uint32_t, uint32_t) override { return 0; }
        void ungrab(uint32_t) override { ++*count; }
        void setPressHandler(PressHandler) override {}
    };
    {
        CorvaneHotkeys other(std::make_unique<Counting>(&ungrabs));
        other.registerHotKey(1, "F1");
        other.registerHotKey(2, "F2");
    }
    EXPECT_EQ(ungrabs, 2);

    CorvaneHotkeys withoutDisplay(nullptr);
    EXPECT_FALSE(withoutDisplay.registerHotKey(1, "Cmd+Shift+1"));
    EXPECT_EQ(lines.back(), "[Corvane] Error RegisterEventHotKey (-2) for 'Cmd+Shift+1'");
}

}  // namespace
}  // namespace corvane
