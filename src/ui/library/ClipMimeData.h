#pragma once

#include <QMimeData>

#include <memory>
#include <string>
#include <vector>

namespace corvane {

// The clip files themselves as drag or clipboard data: `text/uri-list` for browsers, chats and
// file managers, and the GNOME file managers' own copy format so a paste there copies the files.
// No plain text: pasting into a text field should not insert a path the user did not ask for.
std::unique_ptr<QMimeData> clipFilesMimeData(const std::vector<std::string>& paths);

}  // namespace corvane
