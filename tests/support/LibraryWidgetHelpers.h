#pragma once

#include <QPushButton>
#include <QString>
#include <QTextDocument>

// Helpers for the clip library's widget tests. Main (GUI) thread only.
namespace corvane::test {

// What a rich-text label or alert actually shows.
inline QString shownText(const QString& markup) {
    QTextDocument doc;
    doc.setHtml(markup);
    return doc.toPlainText();
}

// The push button inside `in` that reads `text`, or null.
inline QPushButton* buttonWithText(const QWidget* in, const QString& text) {
    for (auto* b : in->findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

}  // namespace corvane::test
