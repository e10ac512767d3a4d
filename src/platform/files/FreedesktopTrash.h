#pragma once

#include "core/library/ClipFiles.h"

namespace corvane {

// Moves files to the user's trash as the freedesktop.org trash specification says (the home
// trash under $XDG_DATA_HOME/Trash, or the volume's .Trash-<uid>), with the .trashinfo record
// that lets file managers restore them. Any thread; blocking for the move.
class FreedesktopTrash final : public ClipTrash {
public:
    FileOpResult moveToTrash(const std::string& path) override;
};

}  // namespace corvane
