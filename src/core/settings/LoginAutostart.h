#pragma once

// "Start Corvane when I log in": the program's entry in the desktop's autostart folder,
// autostart/corvane.desktop under $XDG_CONFIG_HOME (~/.config when unset or not absolute). The
// setting is the file's existence: it is not kept in config.toml. Main thread; blocking file I/O
// of one small file.

#include <string>
#include <string_view>

namespace corvane {

class LoginAutostart {
public:
    // `launcherEntry`: the text of the program's launcher entry (corvane.desktop); `executable`:
    // the absolute path of the running program, which the autostart entry starts.
    LoginAutostart(std::string configHome, std::string launcherEntry, std::string executable);

    // $XDG_CONFIG_HOME when it is an absolute path, else the home folder's ".config".
    static std::string configHomeFromEnvironment();

    const std::string& entryPath() const { return entryPath_; }
    bool isEnabled() const;
    // Writes the entry (creating the folder) or removes it. Empty on success, else why not.
    std::string setEnabled(bool enabled);

    // The launcher entry with its Exec line starting `executable` (quoted and escaped as desktop
    // entries require when the path has spaces or other reserved characters).
    static std::string entryText(std::string_view launcherEntry, std::string_view executable);

private:
    std::string entryPath_;
    std::string launcherEntry_;
    std::string executable_;
};

}  // namespace corvane
