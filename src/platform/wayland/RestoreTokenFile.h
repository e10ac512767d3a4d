#pragma once

#include <optional>
#include <string>

namespace corvane {

// Corvane's own small state file for Wayland screen capture: the desktop portal's restore token,
// which lets a later session reuse the screen the user picked without asking again. Kept apart
// from config.toml (the user's settings) because the portal hands out a new token on every start.
//
//   # Kept by Corvane: the screen chosen in the system's screen-sharing dialog.
//   restore_token = "4f0c9a52-..."
//
// Plain file access, no caching: every call reads or writes the file. Thread-safe for one path.
class RestoreTokenFile {
public:
    // $XDG_STATE_HOME/corvane/portal.toml, else ~/.local/state/corvane/portal.toml.
    static std::string defaultPath();

    explicit RestoreTokenFile(std::string path = defaultPath()) : path_(std::move(path)) {}

    // The stored token; nullopt when there is none or the file cannot be read or holds something
    // that is not a token (a broken file is treated as no token, never as an error).
    std::optional<std::string> load() const;
    // Stores the token (atomically). False, with the reason logged once, when it cannot be written.
    bool save(const std::string& token) const;
    // Removes the token; a missing file is fine.
    void forget() const;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace corvane
