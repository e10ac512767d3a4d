#pragma once

#include <cstdint>
#include <string>

#include "core/sched/Clock.h"

namespace corvane {

// One clip file as listed. A value; `id` is fresh at every listing, so identity across reloads is
// the path, never the id.
struct ClipItem {
    uint64_t id = 0;
    std::string path;           // absolute path of the clip file
    std::string name;           // last path component, extension included
    WallTime creationDate{};    // the file's content modification time
    int64_t fileSize = 0;       // bytes; 0 when unavailable
    double durationSeconds = 0; // 0 while unknown or when the file has no readable duration
    bool damaged = false;       // the probe found no playable video in it (see ClipMediaInfo)

    std::string baseName() const;   // name without its extension
    std::string extension() const;  // text after the last dot, as written; empty when none
    std::string folder() const;     // directory holding the file

    friend bool operator==(const ClipItem&, const ClipItem&) = default;
};

}  // namespace corvane
