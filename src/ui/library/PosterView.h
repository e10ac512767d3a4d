#pragma once

#include <functional>

#include <QImage>
#include <QWidget>

namespace corvane {

// The preview's still picture before anything plays: a clip's first frame drawn as large as
// fits, centred on black (black alone without a picture), as the video is shown. A plain widget,
// unlike the video output, which brings up the graphics stack when first shown. Main thread.
class PosterView final : public QWidget {
public:
    explicit PosterView(QWidget* parent = nullptr);

    // An image over the library's own bytes (sharedImage): the poster is not held twice.
    void setPicture(QImage picture);
    const QImage& picture() const { return picture_; }
    // Called with the widget's size in the screen's pixels whenever it changes.
    std::function<void(QSize pixels)> onResized;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage picture_;
};

}  // namespace corvane
