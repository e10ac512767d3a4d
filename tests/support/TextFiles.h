#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace corvane::test {

// Whole-file bytes, for checking what a program wrote (empty if the file cannot be read).
inline std::string readTextFile(const std::filesystem::path& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// Writes `text` as is, creating the folders above it.
inline void writeTextFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// How many entries a folder holds: catches temporary files left behind.
inline size_t entriesIn(const std::filesystem::path& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

}  // namespace corvane::test
