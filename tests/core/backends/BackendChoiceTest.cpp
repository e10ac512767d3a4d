#include "core/backends/BackendChoice.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvane {
namespace {

// Without a display (each value forced, the hint, an unknown value) the program itself is started
// in tests/app (CommandLineStart); here the choices a session with a display makes.
TEST(BackendChoiceTest, OverrideWinsOverTheSessionAndUnknownValuesAreWarnedAbout) {
    const std::string unknown = "Unknown CORVANE_BACKEND value '%' (x11, wayland or none); choosing by the session.";
    auto warning = [&](const std::string& value) {
        std::string text = unknown;
        return text.replace(text.find('%'), 1, value);
    };
    struct Case { std::optional<std::string> forced; bool display; bool wayland; BackendChoice expected; };
    for (const Case& c : std::vector<Case>{
             {std::nullopt, true, false, {DesktopBackend::x11, "", "", ""}},
             {"", true, false, {DesktopBackend::x11, "", "", ""}},
             {std::nullopt, true, true, {DesktopBackend::wayland, "", "", ""}},  // XWayland answers too
             {std::nullopt, false, true, {DesktopBackend::wayland, "", "", ""}},
             {"x11", true, true, {DesktopBackend::x11, "", "", ""}},
             {"X11", true, false, {DesktopBackend::x11, "", "", warning("X11")}},
             {"Wayland", true, true, {DesktopBackend::wayland, "", "", warning("Wayland")}}}) {
        EXPECT_EQ(chooseDesktopBackend({c.forced, c.display, c.wayland}), c.expected)
            << c.forced.value_or("<unset>") << " display " << c.display << " wayland " << c.wayland;
    }
}

}  // namespace
}  // namespace corvane
