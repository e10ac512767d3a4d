#include "ui/library/PosterView.h"

#include <QPainter>

#include <utility>

namespace corvane {

PosterView::PosterView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PosterView::setPicture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void PosterView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (picture_.isNull()) return;
    const QSize fitted = picture_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, picture_);
}

void PosterView::resizeEvent(QResizeEvent*) {
    if (onResized) onResized(size() * devicePixelRatio());
}

}  // namespace corvane
