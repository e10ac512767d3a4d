#pragma once

#include <string>

#include "core/library/ClipFiles.h"

namespace corvane {

// Moves files to the user's trash as the freedesktop.org trash rules say, with the .trashinfo
// record that lets file managers restore them:
//  - a file on the same file system as the home trash goes to $XDG_DATA_HOME/Trash (default
//    ~/.local/share/Trash; missing folders are made with mode 0700);
//  - a file on another file system goes to that file system's top folder: $top/.Trash/$uid when
//    $top/.Trash is a sticky folder and not a symbolic link, else $top/.Trash-$uid;
//  - when neither can be used the file stays where it is and the result says so.
// The record is written first and removed again when the move fails, so a failure never loses
// the file or leaves a record of it behind. Stateless apart from `mover`: any thread; blocking.
class FreedesktopTrash final : public ClipTrash {
public:
    // `mover` puts the file into the trash without replacing anything there; must outlive this.
    explicit FreedesktopTrash(FileMover& mover) : mover_(mover) {}

    FileOpResult moveToTrash(const std::string& path) override;

    // The home trash folder from the environment, read at each call.
    static std::string homeTrashFolder();

private:
    FileMover& mover_;
};

}  // namespace corvane
