#include "core/shortcuts/CorvaneHotkeys.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/shortcuts/NullHotkeyBackend.h"
#include "support/CaptureLogLines.h"
#include "support/FakeHotkeyBackend.h"

namespace corvane {
namespace {

using test::FakeHotkeyBackend;

class CorvaneHotkeysTest : public ::testing::Test {
protected:
    CorvaneHotkeysTest() {
        auto owned = std::make_unique<FakeHotkeyBackend>();
        backend = owned.get();
        hotkeys = std::make_unique<CorvaneHotkeys>(std::move(owned));
        hotkeys->onHotKeyTriggered = [this](int32_t id) { triggered.push_back(id); };
    }

    test::LogCapture log;
    FakeHotkeyBackend* backend = nullptr;
    std::unique_ptr<CorvaneHotkeys> hotkeys;
    std::vector<int32_t> triggered;
};

// Against the X server (tests/platform/hotkeys): the Linux spelling in the log, statusOf in any
// spelling, refusals and the ids of presses. Here a text that does not read.
TEST_F(CorvaneHotkeysTest, AShortcutThatDoesNotReadIsLoggedAsWrittenAndNotBound) {
    hotkeys->registerHotKeys({{1, "Super+Shift+1", ""}, {2, "Cmd+Foo ", ""}});
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[Corvane] Hotkey registered: [Super+Shift+1] -> Action ID 1",
                                                     "[Corvane] Failed to parse shortcut: 'Cmd+Foo '"}));
    EXPECT_EQ(backend->lastBindings.size(), 1u);
    EXPECT_EQ(hotkeys->statusOf("Cmd+Foo"), std::nullopt);
}

// A desktop portal answers later, may assign another trigger, and a newer set supersedes an
// answer still on its way.
TEST_F(CorvaneHotkeysTest, AnswersThatComeLaterAreLoggedThenAndOnlyForTheNewestSet) {
    backend->answerLater = true;
    backend->assignedTrigger = "Super+F9";
    hotkeys->registerHotKeys({{1, "Cmd+Shift+1", "Save last 30 seconds"}});
    const std::function<void()> stale = backend->pendingAnswer;
    hotkeys->registerHotKeys({{1, "Cmd+Shift+2", "Save last 30 seconds"}});
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(hotkeys->statusOf("Cmd+Shift+2"), std::nullopt) << "pending";
    stale();
    EXPECT_TRUE(log.lines().empty()) << "the superseded answer is dropped";
    backend->pendingAnswer();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "[Corvane] Hotkey registered: [Super+Shift+2] -> Action ID 1",
                             "[Corvane] The desktop assigned \"Super+F9\" to \"Save last 30 seconds\""}));
    EXPECT_EQ(hotkeys->statusOf("Cmd+Shift+2"), HotkeyBindStatus::bound);
}

TEST_F(CorvaneHotkeysTest, SuspensionIsCountedAndANewSetWaitsForTheResume) {
    hotkeys->registerHotKeys({{1, "Cmd+Shift+1", ""}});
    hotkeys->suspend();
    hotkeys->suspend();
    backend->press("Cmd+Shift+1");
    hotkeys->registerHotKeys({{2, "Cmd+Shift+2", ""}});
    EXPECT_EQ(backend->bindCalls, 1) << "bound only once resumed";
    hotkeys->resume();
    EXPECT_TRUE(backend->isSuspended());
    hotkeys->resume();
    hotkeys->resume();  // unmatched: ignored
    EXPECT_EQ(backend->suspendedStates, (std::vector<bool>{true, false}));
    EXPECT_EQ(backend->bindCalls, 2);
    backend->press("Cmd+Shift+1");
    backend->press("Cmd+Shift+2");
    EXPECT_EQ(triggered, (std::vector<int32_t>{2}));

    // Unregistering while suspended (the engine stopping) leaves nothing to bind on resume.
    hotkeys->suspend();
    hotkeys->registerHotKeys({{3, "F3", ""}});
    hotkeys->unregisterAll();
    hotkeys->resume();
    EXPECT_EQ(backend->bindCalls, 2);
    EXPECT_TRUE(backend->live.empty());
}

TEST_F(CorvaneHotkeysTest, CallbackMayReRegisterFromInsideAPress) {
    hotkeys->registerHotKeys({{1, "Cmd+Shift+1", ""}});
    hotkeys->onHotKeyTriggered = nullptr;
    backend->press("Cmd+Shift+1");  // nothing happens, nothing crashes

    // The engine's reload may run from inside a press: the registry changes under the call.
    int calls = 0;
    hotkeys->onHotKeyTriggered = [&](int32_t) {
        ++calls;
        hotkeys->unregisterAll();
        hotkeys->onHotKeyTriggered = nullptr;
        hotkeys->registerHotKeys({{7, "Cmd+Shift+1", ""}});
    };
    backend->press("Cmd+Shift+1");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hotkeys->registeredCount(), 1u);
    EXPECT_EQ(backend->live.size(), 1u);
}

TEST(NullHotkeyBackendTest, RefusesEveryShortcutWithItsReason) {
    test::LogCapture log;
    CorvaneHotkeys hotkeys(std::make_unique<NullHotkeyBackend>("cannot open the X display"));
    hotkeys.registerHotKeys({{1, "Cmd+Shift+1", ""}});
    EXPECT_EQ(hotkeys.statusOf("Cmd+Shift+1"), HotkeyBindStatus::unavailable);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "[Corvane] Error binding global shortcut (-2) for 'Super+Shift+1': "
                             "global shortcuts are not available"}));
}

}  // namespace
}  // namespace corvane
