#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace corvane {

// The main window's tabs, in sidebar order.
enum class CorvaneTab { clips, settings };

inline constexpr std::array<CorvaneTab, 2> kAllTabs{CorvaneTab::clips, CorvaneTab::settings};

// The sidebar label ("Clips", "Settings").
constexpr std::string_view tabLabel(CorvaneTab tab) {
    return tab == CorvaneTab::clips ? "Clips" : "Settings";
}

// The lower-case name used by the command interface ("clips", "settings").
constexpr std::string_view tabName(CorvaneTab tab) {
    return tab == CorvaneTab::clips ? "clips" : "settings";
}

// Accepts the lower-case name or the label; anything else gives no tab.
constexpr std::optional<CorvaneTab> tabFromName(std::string_view name) {
    if (name == "clips" || name == "Clips") return CorvaneTab::clips;
    if (name == "settings" || name == "Settings") return CorvaneTab::settings;
    return std::nullopt;
}

}  // namespace corvane
