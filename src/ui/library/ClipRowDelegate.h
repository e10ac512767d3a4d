#pragma once

#include <QStyledItemDelegate>

namespace corvane {

// Paints one clip row: its thumbnail (or a play symbol while none is known), the name as plain
// text, and below it the duration badge, size and date. Main thread.
class ClipRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace corvane
