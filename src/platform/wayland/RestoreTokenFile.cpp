#include "platform/wayland/RestoreTokenFile.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/config/ConfigFile.h"
#include "core/log/Log.h"

namespace corvane {
namespace {

constexpr std::string_view kKey = "restore_token";

// Portals issue UUIDs; anything printable without quotes or backslashes is accepted, so the
// value never needs escaping and a hand-edited file cannot smuggle in more than one token.
bool isPlausibleToken(std::string_view token) {
    if (token.empty() || token.size() > 256) return false;
    for (char c : token) {
        if (c <= ' ' || c > '~' || c == '"' || c == '\\') return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string RestoreTokenFile::defaultPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::filesystem::path base = (state && state[0] == '/')
                                     ? std::filesystem::path(state)
                                     : std::filesystem::path(homeDirectory()) / ".local" / "state";
    return (base / "corvane" / "portal.toml").string();
}

std::optional<std::string> RestoreTokenFile::load() const {
    FileReadResult file = readUtf8File(path_);
    if (!file.ok()) return std::nullopt;
    std::istringstream lines(file.text);
    std::string line;
    while (std::getline(lines, line)) {
        std::string_view rest = trim(line);
        if (rest.substr(0, kKey.size()) != kKey) continue;
        rest = trim(rest.substr(kKey.size()));
        if (rest.empty() || rest.front() != '=') continue;
        rest = trim(rest.substr(1));
        if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') return std::nullopt;
        std::string_view token = rest.substr(1, rest.size() - 2);
        if (!isPlausibleToken(token)) return std::nullopt;
        return std::string(token);
    }
    return std::nullopt;
}

bool RestoreTokenFile::save(const std::string& token) const {
    if (!isPlausibleToken(token)) {
        logLine("Screen sharing: the portal's restore token is not usable; not kept.");
        return false;
    }
    std::string text =
        "# Kept by Corvane: the screen chosen in the system's screen-sharing dialog.\n"
        "restore_token = \"" + token + "\"\n";
    FileWriteResult written = writeFileAtomically(path_, text);
    if (!written.ok) {
        logLine("Screen sharing: cannot keep the chosen screen in " + path_ + " (" + written.error +
                "); the next start asks again.");
        return false;
    }
    return true;
}

void RestoreTokenFile::forget() const {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

}  // namespace corvane
