#include "ui/library/TrimTimelineBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace corvane {

TrimTimelineBar::TrimTimelineBar(TrimRange& range, std::function<void(double)> onSeek, QWidget* parent)
    : QWidget(parent), range_(range), onSeek_(std::move(onSeek)) {
    setFixedHeight(36);
    setMinimumWidth(100);
    setCursor(Qt::PointingHandCursor);
}

double TrimTimelineBar::timeAt(double x) const {
    const double w = std::max(1, width());
    return x / w * range_.duration();
}

double TrimTimelineBar::xOf(double seconds) const {
    const double total = std::max(range_.duration(), 0.001);
    return seconds / total * std::max(1, width());
}

void TrimTimelineBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor accent = palette().color(QPalette::Highlight);
    const QRectF track(0, 4, width(), height() - 8);
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Mid));
    p.drawRoundedRect(track, 6, 6);

    const double xs = xOf(range_.start());
    const double xe = xOf(range_.end());
    QColor kept = accent;
    kept.setAlphaF(0.35);
    p.setBrush(kept);
    p.drawRect(QRectF(xs, track.top(), std::max(0.0, xe - xs), track.height()));

    // Handles sit inside the range at its two ends.
    QFont chevronFont = font();
    chevronFont.setBold(true);
    chevronFont.setPointSize(10);
    p.setFont(chevronFont);
    const QRectF startHandle(std::clamp(xs, 0.0, width() - double(kHandleWidth)), 0, kHandleWidth, height());
    const QRectF endHandle(std::clamp(xe - kHandleWidth, 0.0, width() - double(kHandleWidth)), 0, kHandleWidth, height());
    for (const auto& [rect, glyph] : {std::pair{startHandle, QStringLiteral("\u2039")}, std::pair{endHandle, QStringLiteral("\u203A")}}) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 40));
        p.drawRoundedRect(rect.translated(0, 1), 4, 4);  // faint shadow
        p.setBrush(accent);
        p.drawRoundedRect(rect, 4, 4);
        p.setPen(Qt::white);
        p.drawText(rect, Qt::AlignCenter, glyph);
    }

    const double xc = xOf(range_.current());
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QPointF(xc, 0), QPointF(xc, height()));
}

void TrimTimelineBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const double x = event->position().x();
    const double xs = xOf(range_.start());
    const double xe = xOf(range_.end());
    if (x >= xs - 2 && x <= xs + kHandleWidth) {
        drag_ = Drag::Start;
    } else if (x >= xe - kHandleWidth && x <= xe + 2) {
        drag_ = Drag::End;
    } else {
        drag_ = Drag::Track;
    }
    dragTo(x);
}

void TrimTimelineBar::mouseMoveEvent(QMouseEvent* event) {
    if (drag_ != Drag::None) dragTo(event->position().x());
}

void TrimTimelineBar::mouseReleaseEvent(QMouseEvent*) { drag_ = Drag::None; }

void TrimTimelineBar::dragTo(double x) {
    const double t = timeAt(x);
    double seekTo = -1;
    switch (drag_) {
    case Drag::Track: seekTo = range_.scrubTo(t); break;
    case Drag::Start: seekTo = range_.dragStartHandle(t); break;
    case Drag::End: seekTo = range_.dragEndHandle(t); break;
    case Drag::None: break;
    }
    update();
    if (seekTo >= 0 && onSeek_) onSeek_(seekTo);
}

}  // namespace corvane
