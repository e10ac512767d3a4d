#pragma once

#include <string>

namespace corvane {

// What the first command-line argument asks for. Only argv[1] counts, matched exactly and
// case-sensitively; anything else (or nothing) starts the recorder.
enum class CommandLineAction { Start, Help, Version, ConfigPath };

CommandLineAction commandLineAction(int argc, const char* const argv[]);

// The complete output of an information form, ending with a line feed; empty for Start.
// Reads no file: "--config" only computes the path.
std::string commandLineOutput(CommandLineAction action);

}  // namespace corvane
