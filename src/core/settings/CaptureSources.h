#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/capture/CaptureBackend.h"

namespace corvane {

// One display the settings tab offers. Plain value.
struct DisplayItem {
    uint32_t id = 0;
    std::string name;  // the output's name, or "Display <id>" when it has none
    int32_t pixelWidth = 0;
    int32_t pixelHeight = 0;
    bool isMain = false;

    // "HDMI-1 · 1920×1080 (Main)"
    std::string displayName() const;
    bool operator==(const DisplayItem&) const = default;
};

// One window of another application the settings tab offers. Plain value; sizes even.
struct WindowItem {
    uint32_t id = 0;
    std::string appName;
    std::string title;  // empty when the window has none
    int32_t pixelWidth = 0;
    int32_t pixelHeight = 0;

    // "Firefox - Some page · 1280×720"; the application and size alone when the title is empty or
    // just repeats the application; titles past 42 characters are cut to 41 and "…".
    std::string displayName() const;
    bool operator==(const WindowItem&) const = default;
};

// The displays of `content`, the main one first, then by ascending id. Id 0 is skipped (it
// means "the main display" in a capture target).
std::vector<DisplayItem> displayItemsFrom(const ShareableContent& content);

// The windows worth offering: at least 100 x 100, owned by a named application other than
// Corvane itself; sorted by application, then title, ignoring letter case.
std::vector<WindowItem> windowItemsFrom(const ShareableContent& content);

// A window side scaled by `scale` for capture: truncated, 64 when below 64, else rounded down to
// even. Non-finite products give 64.
int32_t scaledWindowSide(int32_t pixels, double scale);

}  // namespace corvane
