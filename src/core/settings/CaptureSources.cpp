#include "core/settings/CaptureSources.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>

#include "core/config/AppConfig.h"
#include "core/time/WholeSeconds.h"

namespace corvane {

namespace {

constexpr char kTimes[] = "\xC3\x97";     // ×
constexpr char kMiddot[] = "\xC2\xB7";    // ·
constexpr char kEllipsis[] = "\xE2\x80\xA6";  // …
constexpr size_t kMaxTitleChars = 42;

std::string sizeText(int32_t w, int32_t h) {
    return std::to_string(w) + kTimes + std::to_string(h);
}

// Counts and cuts by code point so a title never ends in half a character.
size_t codePoints(std::string_view s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string firstCodePoints(std::string_view s, size_t n) {
    size_t seen = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (seen == n) return std::string(s.substr(0, i));
            ++seen;
        }
    }
    return std::string(s);
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int32_t evenPixels(double value) {
    const int64_t whole = truncatedClamped(value, 0, INT32_MAX);
    return static_cast<int32_t>(whole - whole % 2);
}

}  // namespace

std::string DisplayItem::displayName() const {
    std::string text = name + " " + kMiddot + " " + sizeText(pixelWidth, pixelHeight);
    if (isMain) text += " (Main)";
    return text;
}

std::string WindowItem::displayName() const {
    const std::string t = trimWhitespaceAndNewlines(title);
    const std::string size = std::string(" ") + kMiddot + " " + sizeText(pixelWidth, pixelHeight);
    if (t.empty() || t == appName) return appName + size;
    const std::string shown = codePoints(t) > kMaxTitleChars ? firstCodePoints(t, kMaxTitleChars - 1) + kEllipsis : t;
    return appName + " - " + shown + size;
}

std::vector<DisplayItem> displayItemsFrom(const ShareableContent& content) {
    std::vector<DisplayItem> items;
    for (const DisplayInfo& d : content.displays) {
        if (d.id == 0) continue;
        items.push_back({d.id, d.name.empty() ? "Display " + std::to_string(d.id) : d.name, d.width,
                         d.height, d.isMain});
    }
    std::stable_sort(items.begin(), items.end(), [](const DisplayItem& a, const DisplayItem& b) {
        if (a.isMain != b.isMain) return a.isMain;
        return a.id < b.id;
    });
    return items;
}

std::vector<WindowItem> windowItemsFrom(const ShareableContent& content) {
    std::vector<WindowItem> items;
    for (const WindowInfo& w : content.windows) {
        if (w.width < 100 || w.height < 100) continue;
        if (w.appName.empty() || lowered(w.appName) == "corvane") continue;
        const double scale = std::isfinite(w.scale) && w.scale > 0 ? w.scale : 1.0;
        items.push_back({w.id, w.appName, w.title, evenPixels(w.width * scale), evenPixels(w.height * scale)});
    }
    std::stable_sort(items.begin(), items.end(), [](const WindowItem& a, const WindowItem& b) {
        const std::string appA = lowered(a.appName), appB = lowered(b.appName);
        if (appA != appB) return appA < appB;
        return lowered(a.title) < lowered(b.title);
    });
    return items;
}

int32_t scaledWindowSide(int32_t pixels, double scale) {
    const double product = static_cast<double>(pixels) * scale;
    if (!std::isfinite(product)) return 64;
    const int64_t whole = truncatedClamped(product, INT32_MIN, INT32_MAX);
    if (whole < 64) return 64;
    return static_cast<int32_t>(whole - whole % 2);
}

}  // namespace corvane
