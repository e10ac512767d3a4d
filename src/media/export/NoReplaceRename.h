#pragma once

#include <string>

namespace corvane {

// Moves a finished file to `target` without ever replacing an existing file there. Returns 0, or
// the errno (EEXIST when the target exists; others are the system's reason).
int renameNoReplace(const std::string& from, const std::string& target);

}  // namespace corvane
