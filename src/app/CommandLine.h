#pragma once

#include <optional>
#include <string>

namespace corvane {

// What the first command-line argument asks for. Only argv[1] counts, matched exactly and
// case-sensitively; anything else (or nothing) starts the recorder. "--save" takes argv[2].
enum class CommandLineAction { Start, Help, Version, ConfigPath, Save };

CommandLineAction commandLineAction(int argc, const char* const argv[]);

// The clip length of "--save SECONDS": a finite number greater than 0 written in full ("8",
// "12.5"; read the same under any locale); nullopt when argv[2] is missing or anything else.
std::optional<double> saveSeconds(int argc, const char* const argv[]);

// What "--save" prints on standard error when its argument is not a length.
inline constexpr char kSaveUsageText[] =
    "corvane --save needs the clip length in seconds, a number greater than 0 (corvane --save 30)\n";

// The complete output of an information form, ending with a line feed; empty for Start and Save.
// Reads no file: "--config" only computes the path.
std::string commandLineOutput(CommandLineAction action);

}  // namespace corvane
