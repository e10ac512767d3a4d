#include "ui/library/SeekSlider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

namespace corvane {

SeekSlider::SeekSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setStyleSheet(QStringLiteral(
        "QSlider::groove:horizontal { height: 4px; background: rgba(255,255,255,110); border-radius: 2px; }"
        "QSlider::sub-page:horizontal { background: #4a9df0; border-radius: 2px; }"
        "QSlider::handle:horizontal { background: white; width: 12px; margin: -4px 0; border-radius: 6px; }"));
    connect(this, &QSlider::sliderMoved, this, &SeekSlider::seekRequested);
}

void SeekSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && maximum() > minimum()) {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        if (!handle.contains(event->position().toPoint())) {
            // Centre the handle on the click: the span it travels is the groove less its width.
            const int span = groove.width() - handle.width();
            const int x = event->position().toPoint().x() - groove.x() - handle.width() / 2;
            const int value = QStyle::sliderValueFromPosition(minimum(), maximum(), x, std::max(1, span), option.upsideDown);
            setValue(value);
            emit seekRequested(value);
        }
    }
    // The handle is now under the pointer, so the base class starts a drag from here.
    QSlider::mousePressEvent(event);
}

}  // namespace corvane
