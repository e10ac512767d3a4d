#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Temporary files Corvane itself writes in the clips folder and renames when they are complete:
// ".tmp_clip_XXXXXX.mp4" (a clip being saved; six letters or digits from mkstemps) and
// ".tmp_trim_<UUID>.mp4" (a cut being stored; an upper-case RFC 4122 text). A crash or kill
// in the middle leaves one behind, hidden from the listing and never removed otherwise.
bool isLeftoverTemporaryClip(std::string_view fileName);

// Removes such files from `folder` (not its subfolders). Only regular files whose whole name
// matches are touched: symbolic links, folders and every other name stay. Call it only while
// no other Corvane can be writing there (after the single-instance claim). Returns the names
// removed; a missing or unreadable folder gives none.
std::vector<std::string> removeLeftoverTemporaryClips(const std::string& folder);

}  // namespace corvane
