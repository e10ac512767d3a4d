#pragma once

#include <functional>
#include <string>

class QWidget;

namespace corvane {

// The shortcut field of a profile row, seen through two hooks so the row does not depend on the
// field's class.
struct ShortcutField {
    QWidget* widget = nullptr;
    // Shows a shortcut text and whether another profile uses it; sends nothing back.
    std::function<void(const std::string& hotkey, bool isDuplicate)> set;
};

// Builds the field; `onRecorded` gets each shortcut the user records (empty text: cleared).
ShortcutField createShortcutField(QWidget* parent, std::function<void(const std::string&)> onRecorded);

}  // namespace corvane
