#include "app/CommandLine.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "core/config/AppConfig.h"

namespace corvane {

CommandLineAction commandLineAction(int argc, const char* const argv[]) {
    if (argc < 2 || argv[1] == nullptr) return CommandLineAction::Start;
    const std::string_view first = argv[1];
    if (first == "-h" || first == "--help") return CommandLineAction::Help;
    if (first == "-v" || first == "--version") return CommandLineAction::Version;
    if (first == "--config") return CommandLineAction::ConfigPath;
    if (first == "--save") return CommandLineAction::Save;
    return CommandLineAction::Start;
}

std::optional<double> saveSeconds(int argc, const char* const argv[]) {
    if (argc < 3 || argv[2] == nullptr) return std::nullopt;
    const char* text = argv[2];
    const char* end = text + std::strlen(text);
    double seconds = 0;
    auto [stop, error] = std::from_chars(text, end, seconds, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !std::isfinite(seconds) || seconds <= 0) return std::nullopt;
    return seconds;
}

std::string commandLineOutput(CommandLineAction action) {
    switch (action) {
    case CommandLineAction::Help:
        return "Corvane - Lightweight instant replay screen recorder for Linux\n"
               "\n"
               "USAGE:\n"
               "    corvane                Start Corvane (runs in the system tray with global hotkeys)\n"
               "    corvane --save SECONDS Save the last SECONDS to a clip and print its path\n"
               "    corvane --config       Print configuration file path\n"
               "    corvane -v, --version  Print version\n"
               "    corvane -h, --help     Print help\n";
    case CommandLineAction::Version:
        return "corvane 1.0.0\n";
    case CommandLineAction::ConfigPath:
        return AppConfig::configFilePath() + "\n";
    case CommandLineAction::Start:
    case CommandLineAction::Save:
        break;
    }
    return {};
}

}  // namespace corvane
