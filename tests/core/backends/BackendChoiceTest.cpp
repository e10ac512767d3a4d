#include "core/backends/BackendChoice.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/capture/NullScreenCapture.h"
#include "core/sched/ManualScheduler.h"

namespace corvane {
namespace {

TEST(BackendChoiceTest, OverrideWinsOverTheSessionAndUnknownValuesAreWarnedAbout) {
    const std::string noDisplay = "cannot open the X display";
    const std::string hint = "Set DISPLAY or start Corvane inside a desktop session.";
    struct Case { std::optional<std::string> forced; bool display; BackendChoice expected; };
    for (const Case& c : std::vector<Case>{
             {std::nullopt, true, {DesktopBackend::x11, "", "", ""}},
             {"", true, {DesktopBackend::x11, "", "", ""}},
             {std::nullopt, false, {DesktopBackend::none, noDisplay, hint, ""}},
             {"x11", false, {DesktopBackend::x11, "", "", ""}},
             {"none", true, {DesktopBackend::none, "CORVANE_BACKEND=none", "", ""}},
             {"X11", true, {DesktopBackend::x11, "", "",
                            "Unknown CORVANE_BACKEND value 'X11' (x11 or none); choosing by the session."}},
             {"wayland", false, {DesktopBackend::none, noDisplay, hint,
                                 "Unknown CORVANE_BACKEND value 'wayland' (x11 or none); choosing by the session."}}}) {
        EXPECT_EQ(chooseDesktopBackend({c.forced, c.display}), c.expected)
            << c.forced.value_or("<unset>") << " display " << c.display;
    }
}

TEST(BackendChoiceTest, NullScreenCaptureRefusesEverythingWithItsReason) {
    NullScreenCapture screen("cannot open the X display");
    EXPECT_FALSE(screen.isAvailable());
    const std::string reason = "Screen capture is not available (cannot open the X display)";
    EXPECT_EQ(screen.shareableContent().error().message, reason);
    ManualScheduler queue;
    bool called = false;
    auto stream = screen.openVideo({}, queue, {[&](const RawVideoFrame&, const auto&) { called = true; },
                                               [&](const std::string&) { called = true; }});
    ASSERT_FALSE(stream.ok());
    EXPECT_EQ(stream.error().message, reason);
    queue.runDue();
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace corvane
