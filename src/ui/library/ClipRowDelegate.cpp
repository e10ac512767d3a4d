#include "ui/library/ClipRowDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

#include "ui/library/ClipListModel.h"

namespace corvane {

namespace {
constexpr int kThumbW = ClipListModel::kThumbnailSize.width();
constexpr int kThumbH = ClipListModel::kThumbnailSize.height();
}  // namespace

QSize ClipRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const QFontMetrics fm(option.font);
    return {240, std::max(kThumbH, fm.height() * 2 + 3) + 8 + 4};
}

void ClipRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();  // the name is drawn below, as plain text
    opt.icon = QIcon();
    QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, p, opt.widget);

    p->save();
    const QRect r = option.rect.adjusted(8, 4, -8, -4);
    const QRect thumbRect(r.left(), r.top() + (r.height() - kThumbH) / 2, kThumbW, kThumbH);
    const QPixmap thumb = index.data(ClipListModel::ThumbnailRole).value<QPixmap>();
    const QColor accent = option.palette.color(QPalette::Highlight);
    if (!thumb.isNull()) {
        // Centred at its own size: a picture of another shape than 16:9 keeps its proportions.
        QRect fitted(QPoint(), thumb.deviceIndependentSize().toSize());
        fitted.moveCenter(thumbRect.center());
        p->drawPixmap(fitted, thumb);
    } else {
        p->setPen(Qt::NoPen);
        p->setBrush(accent);
        p->drawRoundedRect(thumbRect, 4, 4);
        p->setBrush(Qt::white);
        const QPoint c = thumbRect.center();
        p->drawPolygon(QPolygon({c + QPoint(-5, -7), c + QPoint(-5, 7), c + QPoint(7, 0)}));
    }

    const bool selected = option.state & QStyle::State_Selected;
    const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    QColor secondary = text;
    secondary.setAlphaF(0.65);
    const int x = thumbRect.right() + 10;
    const QFontMetrics fm(option.font);
    p->setFont(option.font);
    p->setPen(text);
    const QString name = index.data(Qt::DisplayRole).toString();
    const QRect nameRect(x, r.top(), r.right() - x, fm.height());
    p->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                fm.elidedText(name, Qt::ElideMiddle, nameRect.width()));

    QFont small = option.font;
    small.setPointSizeF(small.pointSizeF() * 0.8);
    const QFontMetrics sfm(small);
    p->setFont(small);
    int cx = x;
    const int y = nameRect.bottom() + 3;
    const QString duration = index.data(ClipListModel::DurationTextRole).toString();
    const QRect badge(cx, y, sfm.horizontalAdvance(duration) + 8, sfm.height() + 2);
    QColor badgeBg = secondary;
    badgeBg.setAlphaF(0.15);
    p->setPen(Qt::NoPen);
    p->setBrush(badgeBg);
    p->drawRoundedRect(badge, 3, 3);
    p->setPen(text);
    p->drawText(badge, Qt::AlignCenter, duration);
    cx = badge.right() + 8;
    p->setPen(secondary);
    for (const int role : {int(ClipListModel::SizeTextRole), int(ClipListModel::DateTextRole)}) {
        const QString s = index.data(role).toString();
        p->drawText(QRect(cx, y, sfm.horizontalAdvance(s) + 1, badge.height()), Qt::AlignVCenter, s);
        cx += sfm.horizontalAdvance(s) + 8;
    }
    p->restore();
}

}  // namespace corvane
