#include "core/export/LeftoverClipFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace corvane {
namespace {

constexpr std::string_view kClipPrefix = ".tmp_clip_";
constexpr std::string_view kTrimPrefix = ".tmp_trim_";
constexpr std::string_view kSuffix = ".mp4";

bool isAsciiAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// 8-4-4-4-12 upper-case hex digits.
bool isUuidText(std::string_view text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !isUpperHex(text[i])) return false;
    }
    return true;
}

// The text between `prefix` and ".mp4", when the name has both.
bool middleOf(std::string_view name, std::string_view prefix, std::string_view& middle) {
    if (name.size() < prefix.size() + kSuffix.size()) return false;
    if (name.substr(0, prefix.size()) != prefix) return false;
    if (name.substr(name.size() - kSuffix.size()) != kSuffix) return false;
    middle = name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
    return true;
}

}  // namespace

bool isLeftoverTemporaryClip(std::string_view fileName) {
    std::string_view middle;
    if (middleOf(fileName, kClipPrefix, middle)) {
        return middle.size() == 6 && std::all_of(middle.begin(), middle.end(), isAsciiAlnum);
    }
    if (middleOf(fileName, kTrimPrefix, middle)) return isUuidText(middle);
    return false;
}

std::vector<std::string> removeLeftoverTemporaryClips(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> removed;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return removed;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (!isLeftoverTemporaryClip(name)) continue;
        // symlink_status: a link named like a temporary file is not ours, and neither is its target.
        std::error_code statError;
        if (!fs::is_regular_file(it->symlink_status(statError)) || statError) continue;
        std::error_code removeError;
        if (fs::remove(it->path(), removeError) && !removeError) removed.push_back(name);
    }
    std::sort(removed.begin(), removed.end());
    return removed;
}

}  // namespace corvane
