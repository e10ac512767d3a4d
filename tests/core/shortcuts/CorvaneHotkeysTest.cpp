#include "core/shortcuts/CorvaneHotkeys.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/shortcuts/X11KeyMapping.h"
#include "support/CaptureLogLines.h"

namespace corvane {
namespace {

// Grants or refuses by script; remembers live grabs so a test can press them. The counters
// outlive the backend, which CorvaneHotkeys owns.
class FakeHotkeyBackend final : public HotkeyBackend {
public:
    explicit FakeHotkeyBackend(std::shared_ptr<int> ungrabs) : ungrabs_(std::move(ungrabs)) {}
    HotkeyGrabStatus grab(uint32_t grabId, uint32_t keysym, uint32_t modifiers) override {
        ++grabCalls;
        if (nextStatus != kHotkeyGrabGranted) return nextStatus;
        EXPECT_EQ(live.count(grabId), 0u) << "grab id reused while live";
        live[grabId] = X11KeyCombination{keysym, modifiers};
        return kHotkeyGrabGranted;
    }
    void ungrab(uint32_t grabId) override {
        ++*ungrabs_;
        live.erase(grabId);
    }
    void setPressHandler(PressHandler handler) override { onPress_ = std::move(handler); }

    // The user pressing a combination: delivered only if grabbed.
    void press(const char* shortcut) {
        const X11KeyCombination combination = *x11CombinationForShortcut(shortcut);
        for (const auto& [grabId, held] : live) {
            if (held == combination && onPress_) return onPress_(grabId);
        }
    }

    HotkeyGrabStatus nextStatus = kHotkeyGrabGranted;
    std::map<uint32_t, X11KeyCombination> live;
    int grabCalls = 0;

private:
    std::shared_ptr<int> ungrabs_;
    PressHandler onPress_;
};

class CorvaneHotkeysTest : public ::testing::Test {
protected:
    CorvaneHotkeysTest() {
        auto owned = std::make_unique<FakeHotkeyBackend>(ungrabs);
        backend = owned.get();
        hotkeys = std::make_unique<CorvaneHotkeys>(std::move(owned));
        hotkeys->onHotKeyTriggered = [this](int32_t id) { triggered.push_back(id); };
    }

    test::LogCapture log;
    std::shared_ptr<int> ungrabs = std::make_shared<int>(0);
    FakeHotkeyBackend* backend = nullptr;
    std::unique_ptr<CorvaneHotkeys> hotkeys;
    std::vector<int32_t> triggered;
};

TEST_F(CorvaneHotkeysTest, RegisteredShortcutsReportTheirIdsAndFailuresRegisterNothing) {
    EXPECT_TRUE(hotkeys->registerHotKey(1, "Cmd+Shift+1"));
    EXPECT_TRUE(hotkeys->registerHotKey(2, " ctrl + alt + F5 "));
    EXPECT_FALSE(hotkeys->registerHotKey(3, "Cmd+Foo "));
    EXPECT_EQ(backend->grabCalls, 2);
    backend->nextStatus = kHotkeyStatusTaken;
    EXPECT_FALSE(hotkeys->registerHotKey(4, "Cmd+Shift+4"));
    EXPECT_EQ(hotkeys->registeredCount(), 2u);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "[Corvane] Hotkey registered: [Cmd+Shift+1] -> Action ID 1",
                             "[Corvane] Hotkey registered: [ ctrl + alt + F5 ] -> Action ID 2",
                             "[Corvane] Failed to parse shortcut: 'Cmd+Foo '",
                             "[Corvane] Error RegisterEventHotKey (10) for 'Cmd+Shift+4'"}));

    backend->press("Ctrl+Opt+F5");
    backend->press("Cmd+Shift+1");
    backend->press("Cmd+Shift+4");  // refused
    EXPECT_EQ(triggered, (std::vector<int32_t>{2, 1}));
}

TEST_F(CorvaneHotkeysTest, PressWithoutCallbackIsConsumedAndCallbackMayReRegister) {
    ASSERT_TRUE(hotkeys->registerHotKey(1, "Cmd+Shift+1"));
    hotkeys->onHotKeyTriggered = nullptr;
    backend->press("Cmd+Shift+1");  // nothing happens, nothing crashes

    // The engine's reload may run from inside a press: the registry changes under the call.
    int calls = 0;
    hotkeys->onHotKeyTriggered = [&](int32_t) {
        ++calls;
        hotkeys->unregisterAll();
        hotkeys->onHotKeyTriggered = nullptr;
        EXPECT_TRUE(hotkeys->registerHotKey(7, "Cmd+Shift+1"));
    };
    backend->press("Cmd+Shift+1");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hotkeys->registeredCount(), 1u);
}

TEST_F(CorvaneHotkeysTest, UnregisteringOrDestructionReleasesEveryGrab) {
    ASSERT_TRUE(hotkeys->registerHotKey(1, "F1"));
    ASSERT_TRUE(hotkeys->registerHotKey(2, "F2"));
    hotkeys->unregisterAll();
    hotkeys->unregisterAll();
    EXPECT_EQ(*ungrabs, 2);
    backend->press("F1");
    EXPECT_TRUE(triggered.empty());
    ASSERT_TRUE(hotkeys->registerHotKey(1, "F3"));
    hotkeys.reset();
    EXPECT_EQ(*ungrabs, 3);

    CorvaneHotkeys withoutDisplay(nullptr);
    EXPECT_FALSE(withoutDisplay.registerHotKey(1, "Cmd+Shift+1"));
    EXPECT_EQ(log.lines().back(), "[Corvane] Error RegisterEventHotKey (-2) for 'Cmd+Shift+1'");
}

}  // namespace
}  // namespace corvane
