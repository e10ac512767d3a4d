#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

namespace corvane {

// What the tray icon shows, since a tray item has no title text beside it.
enum class TrayIconState { Recording, Idle, Saving, Unavailable };

// The tray icon's images.
//
// The base image is searched in order: the embedded resource, the "assets" folder beside the
// executable (installed there by the build), then "assets/menubar_icon.png",
// "../assets/menubar_icon.png" and "../../assets/menubar_icon.png" relative to the working
// folder. When none loads, a drawn record symbol takes its place. Each state's variant is drawn
// from the base: dimmed when idle, with a filled dot while saving, struck through when capture is
// unavailable. GUI thread only.
class TrayIconArt {
public:
    static constexpr int kSize = 18;

    TrayIconArt();

    QIcon icon(TrayIconState state) const;
    // Where the base image came from: a file path, the resource path, or empty when drawn.
    const QString& source() const { return source_; }

    static QStringList searchPaths();

private:
    QPixmap base_;
    QString source_;
};

}  // namespace corvane
