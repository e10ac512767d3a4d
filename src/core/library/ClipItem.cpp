#include "core/library/ClipItem.h"

namespace corvane {

namespace {
// Position of the extension's dot in a file name, or npos. A leading dot (".mp4") is part of the
// name, not an extension separator.
size_t extensionDot(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return std::string::npos;
    return dot;
}
}  // namespace

std::string ClipItem::baseName() const {
    const size_t dot = extensionDot(name);
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ClipItem::extension() const {
    const size_t dot = extensionDot(name);
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string ClipItem::folder() const {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace corvane
