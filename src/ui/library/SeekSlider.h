#pragma once

#include <QSlider>

namespace corvane {

// The preview's position bar: a click anywhere on the groove jumps there (a plain QSlider only
// steps a page towards the click), and the handle can be dragged on from that press. Its groove
// is drawn light so it shows on the black player background. Main thread.
class SeekSlider final : public QSlider {
    Q_OBJECT
public:
    explicit SeekSlider(QWidget* parent = nullptr);

signals:
    // The user asked for this value, by a click or a drag.
    void seekRequested(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace corvane
