#pragma once

#include <array>

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
// unavailable. Each state's icon is drawn once and the same icon handed out after that: Qt keeps
// the pictures it scales for an icon in its pixmap cache under that icon's identity, so a fresh
// icon per state change (two per save) would leave a picture behind every time, up to the
// cache's 10 MB. GUI thread only.
class TrayIconArt {
public:
    static constexpr int kSize = 18;

    TrayIconArt();

    const QIcon& icon(TrayIconState state) const;
    // Where the base image came from: a file path, the resource path, or empty when drawn.
    const QString& source() const { return source_; }

    static QStringList searchPaths();

private:
    QIcon draw(TrayIconState state) const;

    QPixmap base_;
    mutable std::array<QIcon, 4> icons_;  // by state, drawn on first use
    QString source_;
};

}  // namespace corvane
