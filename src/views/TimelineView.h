#pragma once

#include <QVector>
#include <QWidget>

#include <functional>
#include <optional>

namespace trimora {

// The scrub bar: the whole movie as a track, the In..Out range shaded, the
// keyframes as thin ticks beneath everything else, the marks as green and red
// bars, markers as orange diamonds and the playhead as a white bar. A press or drag anywhere grabs
// the nearest of playhead, In and Out and moves it for the whole drag.
//
// The view keeps no editor state: the three times are read and written
// through bindings, so it works on a model or on plain variables alike.
class TimelineView : public QWidget
{
    Q_OBJECT
public:
    enum class Handle { Playhead, InMark, OutMark };

    struct Binding
    {
        std::function<double()> get;
        std::function<void(double)> set;
    };

    static constexpr int barHeight = 28;
    static constexpr double trackHeight = 6;
    static constexpr double centreY = 14;
    static constexpr double handleHeight = 22;
    static constexpr double markWidth = 4;
    static constexpr double playheadWidth = 2;
    static constexpr double markerSize = 5;
    static constexpr double tickHeight = 12;
    // Closer ticks are thinned out: a solid band would say nothing.
    static constexpr double minTickSpacing = 3;

    TimelineView(Binding currentTime, Binding inPoint, Binding outPoint, QWidget *parent = nullptr);

    void setDuration(double seconds);
    double duration() const { return m_duration; }
    void setMarkers(const QVector<double> &markers);
    // Ascending keyframe times.
    void setKeyframes(const QVector<double> &keyframes);
    // Called with the new playhead time while the playhead is dragged.
    void setOnSeek(std::function<void(double)> onSeek) { m_onSeek = std::move(onSeek); }

    // The handle held by the drag in progress.
    std::optional<Handle> dragging() const { return m_dragging; }

    // x of a time on a bar of the given width.
    double xFor(double seconds, double width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void dragTo(double pointerX);
    Handle nearestHandle(double px, double width) const;

    Binding m_currentTime;
    Binding m_inPoint;
    Binding m_outPoint;
    double m_duration = 0.0;
    QVector<double> m_markers;
    QVector<double> m_keyframes;
    std::function<void(double)> m_onSeek;
    std::optional<Handle> m_dragging;
};

} // namespace trimora
