#pragma once

#include "views/TimelineAxis.h"

#include <QPointer>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <memory>
#include <optional>

class QScrollBar;

namespace trimora {

class ThumbnailStrip;
struct VideoIndex;

// The scrub bar, a zoomable window onto the movie: a ruler, a strip of
// pictures, and the bar with the segments (the selected one emphasised, its
// In and Out as green and red handles), keyframe ticks, markers as orange
// diamonds and the playhead as a white bar; a scroll bar beneath. Ctrl+wheel
// or a pinch zooms from the whole movie down to single frames, where each
// frame is as wide as its own display time; the wheel scrolls. A press or
// drag anywhere grabs the nearest of the playhead and the selected segment's
// marks in view, and moves it for the whole drag.
//
// The view keeps no editor state: it shows what it is given and asks for
// moves, which the model clamps.
class TimelineView : public QWidget
{
    Q_OBJECT
public:
    enum class Handle { Playhead, InMark, OutMark };
    struct Range
    {
        double in = 0.0;
        double out = 0.0;
    };

    static constexpr int rulerHeight = 16;
    static constexpr int barHeight = 28;
    static constexpr int scrollBarHeight = 10;
    static constexpr double trackHeight = 6;
    static constexpr double centreY = 14; // of the bar
    static constexpr double handleHeight = 22;
    static constexpr double markWidth = 4;
    static constexpr double playheadWidth = 2;
    static constexpr double markerSize = 5;
    static constexpr double tickHeight = 12;
    // Closer keyframe ticks are thinned out: a solid band would say nothing.
    static constexpr double minTickSpacing = 3;
    // At the closest zoom a frame is this many pictures wide.
    static constexpr double framePicturesAtMost = 1.5;

    explicit TimelineView(QWidget *parent = nullptr);

    void setDuration(double seconds);
    double duration() const { return m_axis.duration; }
    // While it moves out of view, the view follows it.
    void setPlayhead(double seconds);
    void setRanges(const QVector<Range> &ranges, int selected);
    void setMarkers(const QVector<double> &markers);
    // The frames and keyframes, once read: ticks, frame zoom and its snapping.
    void setVideoIndex(std::shared_ptr<const VideoIndex> index);
    void setThumbnails(ThumbnailStrip *strip);

    const TimelineAxis &axis() const { return m_axis; }
    // Around the playhead while it is in view, otherwise around the middle.
    void zoomBy(double factor);
    void zoomAt(double factor, double x);
    void zoomToFit();
    void scrollTo(double start);
    // The closest zoom: a frame of the movie's frame duration as wide as
    // framePicturesAtMost pictures.
    double mostPixelsPerSecond() const;

    // The handle held by the drag in progress.
    std::optional<Handle> dragging() const { return m_dragging; }

    // Where the rows are, in the view's pixels.
    QRectF pictureRect() const;
    QRectF barRect() const;
    // Pictures in view, and of them those still missing.
    struct PictureCount
    {
        int slots = 0;
        int missing = 0;
    };
    PictureCount picturesInView() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void seekRequested(double seconds);
    void markMoveRequested(trimora::TimelineView::Handle handle, double seconds);
    // A drag of a mark begins and ends: its moves make one change.
    void markDragStarted(trimora::TimelineView::Handle handle);
    void markDragFinished(trimora::TimelineView::Handle handle);
    // The part of the movie in view has changed.
    void viewChanged();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void setAxis(const TimelineAxis &axis);
    void syncScrollBar();
    void requestPictures();
    int rulerShown() const;
    double tileWidth() const;
    PictureSlots slotsBetween(double from, double to) const;
    double snapped(Handle handle, double t) const;
    void dragTo(double pointerX);
    Handle nearestHandle(double px) const;
    void paintRuler(QPainter &painter) const;
    void paintPictures(QPainter &painter) const;
    void paintBar(QPainter &painter) const;

    TimelineAxis m_axis;
    double m_playhead = 0.0;
    QVector<Range> m_ranges;
    int m_selected = -1;
    QVector<double> m_markers;
    std::shared_ptr<const VideoIndex> m_index;
    double m_keyframeGap = 0.0;
    QPointer<ThumbnailStrip> m_strip;
    std::optional<Handle> m_dragging;
    QScrollBar *m_scrollBar;
    double m_scrollUnit = 1.0; // pixels of the movie per step of the scroll bar
    QTimer m_requestTimer;     // gathers the reasons to ask for pictures into one
    QTimer m_pictureTimer;     // gathers arriving pictures into one redraw
};

} // namespace trimora
