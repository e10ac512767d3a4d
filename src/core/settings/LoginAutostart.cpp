#include "core/settings/LoginAutostart.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/config/ConfigFile.h"

namespace corvane {
namespace {

// The Exec value for one program path without arguments. Characters reserved by the desktop
// entry rules make the path a quoted argument, in which " ` $ \ take a backslash; then the
// value's own escaping doubles every backslash, and "%" (a field code) is written "%%".
std::string execValue(std::string_view executable) {
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string argument;
    if (executable.find_first_of(kReserved) == std::string_view::npos) {
        argument = executable;
    } else {
        argument = "\"";
        for (char c : executable) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
            argument += c;
        }
        argument += '"';
    }
    std::string value;
    for (char c : argument) {
        if (c == '\\') value += '\\';
        if (c == '%') value += '%';
        value += c;
    }
    return value;
}

}  // namespace

LoginAutostart::LoginAutostart(std::string configHome, std::string launcherEntry, std::string executable)
    : entryPath_(configHome + "/autostart/corvane.desktop"),
      launcherEntry_(std::move(launcherEntry)),
      executable_(std::move(executable)) {}

std::string LoginAutostart::configHomeFromEnvironment() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/') return configHome;
    return homeDirectory() + "/.config";
}

bool LoginAutostart::isEnabled() const {
    std::error_code error;
    return std::filesystem::exists(entryPath_, error);
}

std::string LoginAutostart::setEnabled(bool enabled) {
    if (enabled) {
        const FileWriteResult written = writeFileAtomically(entryPath_, entryText(launcherEntry_, executable_));
        return written.ok ? std::string() : written.error;
    }
    std::error_code error;
    std::filesystem::remove(entryPath_, error);
    return error ? error.message() : std::string();
}

std::string LoginAutostart::entryText(std::string_view launcherEntry, std::string_view executable) {
    std::string text;
    bool replaced = false;
    size_t start = 0;
    while (start < launcherEntry.size()) {
        size_t end = launcherEntry.find('\n', start);
        if (end == std::string_view::npos) end = launcherEntry.size();
        std::string_view line = launcherEntry.substr(start, end - start);
        if (line.starts_with("Exec=") && !replaced) {
            text += "Exec=" + execValue(executable);
            replaced = true;
        } else {
            text += line;
        }
        text += '\n';
        start = end + 1;
    }
    if (!replaced) text += "Exec=" + execValue(executable) + "\n";
    return text;
}

}  // namespace corvane
