#pragma once

#include <QWidget>

#include <functional>

#include "core/library/TrimRange.h"

namespace corvane {

// The trim editor's timeline: the track, the kept range between two handles and the playhead.
// A press or drag on the track moves the playhead; dragging a handle moves that end of the range
// (never closer than TrimRange::kMinLength to the other). Every change calls `onSeek` with the
// time the preview must show. Reads and edits the dialog's TrimRange; main thread.
class TrimTimelineBar final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHandleWidth = 14;

    TrimTimelineBar(TrimRange& range, std::function<void(double)> onSeek, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {400, 36}; }
    // Time under horizontal position x (pixels), and back.
    double timeAt(double x) const;
    double xOf(double seconds) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, Track, Start, End };
    void dragTo(double x);

    TrimRange& range_;
    std::function<void(double)> onSeek_;
    Drag drag_ = Drag::None;
};

}  // namespace corvane
