#pragma once

#include <functional>
#include <string>

class QWidget;

namespace corvane {

// How the main window hosts the clip library page without knowing its class. Every hook runs on
// the main thread; unset hooks are skipped, and without `create` a placeholder page is shown.
struct ClipsPage {
    // Builds the page once, when the window is first created.
    std::function<QWidget*(QWidget* parent)> create;
    // The clips folder to list ("~" allowed); the page restarts its folder watch and reloads.
    std::function<void(QWidget* page, const std::string& outputDir)> setOutputDir;
    // The tab became visible again: re-list the folder.
    std::function<void(QWidget* page)> reload;
    // The window closes or minimises, or another tab is chosen: stop any preview playback.
    std::function<void(QWidget* page)> pause;
};

}  // namespace corvane
