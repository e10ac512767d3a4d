#pragma once

#include <QString>

namespace corvane {

// A tooltip that shows `text` exactly as written: Qt treats tooltips that look like markup as
// rich text, so a file named "<b>x</b>.mp4" would otherwise turn bold.
inline QString plainToolTip(const QString& text) {
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

// An alert's title and message as markup in which the message (it may hold a file name) shows
// exactly as written.
inline QString alertHtml(const QString& title, const QString& message) {
    return QStringLiteral("<p><b>") + title.toHtmlEscaped() + QStringLiteral("</b></p><p>") +
           message.toHtmlEscaped() + QStringLiteral("</p>");
}

}  // namespace corvane
