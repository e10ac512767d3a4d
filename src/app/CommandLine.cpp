#include "app/CommandLine.h"

#include <string_view>

#include "core/config/AppConfig.h"

namespace corvane {

CommandLineAction commandLineAction(int argc, const char* const argv[]) {
    if (argc < 2 || argv[1] == nullptr) return CommandLineAction::Start;
    const std::string_view first = argv[1];
    if (first == "-h" || first == "--help") return CommandLineAction::Help;
    if (first == "-v" || first == "--version") return CommandLineAction::Version;
    if (first == "--config") return CommandLineAction::ConfigPath;
    return CommandLineAction::Start;
}

std::string commandLineOutput(CommandLineAction action) {
    switch (action) {
    case CommandLineAction::Help:
        return "Corvane - Lightweight instant replay screen recorder for Linux\n"
               "\n"
               "USAGE:\n"
               "    corvane                Start Corvane (runs in the system tray with global hotkeys)\n"
               "    corvane --config       Print configuration file path\n"
               "    corvane -v, --version  Print version\n"
               "    corvane -h, --help     Print help\n";
    case CommandLineAction::Version:
        return "corvane 1.0.0\n";
    case CommandLineAction::ConfigPath:
        return AppConfig::configFilePath() + "\n";
    case CommandLineAction::Start:
        break;
    }
    return {};
}

}  // namespace corvane
