#include "views/TimelineView.h"

#include "media/CutSource.h"
#include "model/ThumbnailStrip.h"
#include "views/Theme.h"
#include "views/TimeFormat.h"

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace trimora {

namespace {

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

void fillRounded(QPainter &painter, const QRectF &rect, double radius, const QColor &color)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, color);
}

// Ticks for every frame once frames are this far apart.
constexpr double kFrameTicksFrom = 8;
// A movie whose frame duration is not known is zoomed as if it had 25 frames a second.
constexpr double kDefaultFrameDuration = 0.04;

} // namespace

TimelineView::TimelineView(QWidget *parent)
    : QWidget(parent), m_scrollBar(new QScrollBar(Qt::Horizontal, this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMaximumHeight(sizeHint().height());
    m_scrollBar->setFocusPolicy(Qt::NoFocus);
    // Slim: at the smallest window the rows below need the room.
    m_scrollBar->setFixedHeight(scrollBarHeight);
    m_scrollBar->setEnabled(false);
    m_scrollBar->setAccessibleName(tr("Scroll the timeline"));
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (m_axis.pixelsPerSecond > 0)
            setAxis(m_axis.scrolledTo(value * m_scrollUnit / m_axis.pixelsPerSecond));
    });
    m_requestTimer.setSingleShot(true);
    m_requestTimer.setInterval(0);
    connect(&m_requestTimer, &QTimer::timeout, this, &TimelineView::requestPictures);
    // Pictures arriving one by one are shown ten times a second at most: with
    // the video surface, every redraw composes the whole window.
    m_pictureTimer.setSingleShot(true);
    m_pictureTimer.setInterval(100);
    connect(&m_pictureTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

QSize TimelineView::sizeHint() const
{
    return {400, rulerHeight + ThumbnailStrip::pictureHeight + barHeight + scrollBarHeight};
}

QSize TimelineView::minimumSizeHint() const
{
    // The pictures give way first, then the ruler.
    return {0, barHeight + scrollBarHeight};
}

int TimelineView::rulerShown() const
{
    const int free = height() - barHeight - scrollBarHeight;
    return free >= rulerHeight ? rulerHeight : 0;
}

QRectF TimelineView::pictureRect() const
{
    const int free = height() - rulerShown() - barHeight - scrollBarHeight;
    return {0, double(rulerShown()), double(width()),
            double(std::clamp(free, 0, ThumbnailStrip::pictureHeight))};
}

QRectF TimelineView::barRect() const
{
    return {0, pictureRect().bottom(), double(width()), double(barHeight)};
}

void TimelineView::setDuration(double seconds)
{
    if (seconds == m_axis.duration)
        return;
    setAxis(TimelineAxis::fitted(seconds, width()));
    m_keyframeGap =
        typicalKeyframeGap(m_index ? m_index->keyframes : std::vector<double>(), m_axis.duration);
}

void TimelineView::setPlayhead(double seconds)
{
    if (seconds == m_playhead)
        return;
    m_playhead = seconds;
    // What moves the playhead out of view, playing or a jump, brings the view
    // along; the user's own drags stay inside it.
    if (!m_dragging && m_axis.duration > 0)
        setAxis(m_axis.showing(std::clamp(seconds, 0.0, m_axis.duration)));
    update();
}

void TimelineView::setRanges(const QVector<Range> &ranges, int selected)
{
    m_ranges = ranges;
    m_selected = selected;
    update();
}

void TimelineView::setMarkers(const QVector<double> &markers)
{
    m_markers = markers;
    update();
}

void TimelineView::setVideoIndex(std::shared_ptr<const VideoIndex> index)
{
    m_index = std::move(index);
    m_keyframeGap =
        typicalKeyframeGap(m_index ? m_index->keyframes : std::vector<double>(), m_axis.duration);
    // The closest zoom follows the frame duration now known.
    if (m_axis.pixelsPerSecond > mostPixelsPerSecond())
        setAxis(m_axis.zoomed(1, width() / 2.0, mostPixelsPerSecond()));
    m_requestTimer.start();
    update();
}

void TimelineView::setThumbnails(ThumbnailStrip *strip)
{
    if (m_strip)
        disconnect(m_strip, nullptr, this, nullptr);
    m_strip = strip;
    if (strip) {
        connect(strip, &ThumbnailStrip::picturesChanged, this, [this] {
            if (!m_pictureTimer.isActive())
                m_pictureTimer.start();
            m_requestTimer.start();
        });
    }
    m_requestTimer.start();
    update();
}

void TimelineView::setAxis(const TimelineAxis &axis)
{
    if (axis.start == m_axis.start && axis.pixelsPerSecond == m_axis.pixelsPerSecond &&
        axis.width == m_axis.width && axis.duration == m_axis.duration)
        return;
    m_axis = axis;
    syncScrollBar();
    m_requestTimer.start();
    update();
    Q_EMIT viewChanged();
}

void TimelineView::syncScrollBar()
{
    const double content = m_axis.duration * m_axis.pixelsPerSecond;
    const double hidden = content - m_axis.width;
    const QSignalBlocker block(m_scrollBar);
    if (!(hidden > 0.5)) {
        m_scrollBar->setRange(0, 0);
        m_scrollBar->setEnabled(false);
        return;
    }
    // A scroll bar counts in int: a long movie at frame zoom is wider.
    m_scrollUnit = std::max(1.0, content / 1e9);
    m_scrollBar->setEnabled(true);
    m_scrollBar->setRange(0, static_cast<int>(std::ceil(hidden / m_scrollUnit)));
    m_scrollBar->setPageStep(std::max(1, static_cast<int>(m_axis.width / m_scrollUnit)));
    m_scrollBar->setSingleStep(std::max(1, static_cast<int>(m_axis.width / 10 / m_scrollUnit)));
    m_scrollBar->setValue(
        static_cast<int>(std::lround(m_axis.start * m_axis.pixelsPerSecond / m_scrollUnit)));
}

double TimelineView::mostPixelsPerSecond() const
{
    const double frame =
        m_index && m_index->frameDuration > 0 ? m_index->frameDuration : kDefaultFrameDuration;
    const double aspect = m_strip ? m_strip->aspect() : 16.0 / 9.0;
    return framePicturesAtMost * ThumbnailStrip::pictureHeight * aspect / frame;
}

void TimelineView::zoomBy(double factor)
{
    const double x = m_axis.xAt(m_playhead);
    zoomAt(factor, x >= 0 && x <= width() ? x : width() / 2.0);
}

void TimelineView::zoomAt(double factor, double x)
{
    setAxis(m_axis.zoomed(factor, x, mostPixelsPerSecond()));
}

void TimelineView::zoomToFit()
{
    setAxis(TimelineAxis::fitted(m_axis.duration, width()));
}

void TimelineView::scrollTo(double start)
{
    setAxis(m_axis.scrolledTo(start));
}

double TimelineView::tileWidth() const
{
    const double aspect = m_strip ? m_strip->aspect() : 16.0 / 9.0;
    return std::max(pictureRect().height() * aspect, 8.0);
}

PictureSlots TimelineView::slotsBetween(double from, double to) const
{
    return pictureSlots(m_axis, from, to, tileWidth(), m_index.get(), m_keyframeGap);
}

void TimelineView::requestPictures()
{
    if (!m_strip || pictureRect().height() < 1 || !(m_axis.duration > 0))
        return;
    // Those in view first, then half a view either side, for the next scroll.
    const double span = m_axis.span();
    const PictureSlots shown = slotsBetween(m_axis.start, m_axis.end());
    const PictureSlots around = slotsBetween(m_axis.start - span / 2, m_axis.end() + span / 2);
    QVector<double> times;
    for (const PictureSlot &slot : shown.slots)
        times.append(slot.time);
    for (const PictureSlot &slot : around.slots) {
        if (slot.right <= 0 || slot.left >= width())
            times.append(slot.time);
    }
    m_strip->request(times, shown.pickFrames ? ThumbnailStrip::Pick::Frame
                                             : ThumbnailStrip::Pick::Keyframe);
}

TimelineView::PictureCount TimelineView::picturesInView() const
{
    PictureCount count;
    if (!m_strip || pictureRect().height() < 1)
        return count;
    const PictureSlots shown = slotsBetween(m_axis.start, m_axis.end());
    const auto pick =
        shown.pickFrames ? ThumbnailStrip::Pick::Frame : ThumbnailStrip::Pick::Keyframe;
    for (const PictureSlot &slot : shown.slots) {
        ++count.slots;
        if (m_strip->picture(slot.time, pick).isNull())
            ++count.missing;
    }
    return count;
}

void TimelineView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintRuler(painter);
    paintPictures(painter);
    paintBar(painter);

    if (!(m_axis.duration > 0))
        return;
    const double playX = m_axis.xAt(std::clamp(m_playhead, 0.0, m_axis.duration));
    if (playX < -playheadWidth || playX > width() + playheadWidth)
        return;
    // Across the ruler and the pictures, a line that shows on both dark and light.
    const double left = std::max(std::round(playX) - 1, m_axis.xAt(0));
    const QRectF bar = barRect();
    painter.fillRect(QRectF(left - 1, 0, playheadWidth + 2, bar.top()), QColor(0, 0, 0, 96));
    painter.fillRect(QRectF(left, 0, playheadWidth, bar.top()), Qt::white);
    const QRectF playhead(left, bar.top() + centreY - handleHeight / 2, playheadWidth,
                          handleHeight);
    // A one-point soft shadow keeps the white bar visible over light themes.
    painter.fillRect(playhead.adjusted(-1, -1, 1, 1), QColor(0, 0, 0, 64));
    painter.fillRect(playhead.adjusted(-0.5, -0.5, 0.5, 0.5), QColor(0, 0, 0, 64));
    painter.fillRect(playhead, Qt::white);
}

void TimelineView::paintRuler(QPainter &painter) const
{
    const double pps = m_axis.pixelsPerSecond;
    if (!(pps > 0) || rulerShown() == 0)
        return;
    painter.save();
    const QFont font = Theme::font(Theme::TextStyle::Caption2, true);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const double step =
        rulerStep(pps, metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + 12);
    const double minor = step / 5 * pps >= 6 ? step / 5 : step;
    const QColor colour = Theme::secondary();
    painter.setPen(QPen(withOpacity(colour, 0.6), 1));
    const double end = std::min(m_axis.end(), m_axis.duration);
    for (double k = std::ceil(std::max(m_axis.start, 0.0) / minor); k * minor <= end; ++k) {
        const double x = std::floor(m_axis.xAt(k * minor)) + 0.5;
        painter.drawLine(QPointF(x, rulerHeight - 3), QPointF(x, rulerHeight));
    }
    painter.setPen(colour);
    for (double k = std::ceil(std::max(m_axis.start, 0.0) / step); k * step <= end; ++k) {
        const double t = k * step;
        const double x = std::floor(m_axis.xAt(t)) + 0.5;
        painter.drawLine(QPointF(x, rulerHeight - 7), QPointF(x, rulerHeight));
        // Whole seconds need no milliseconds.
        const QString text = step >= 1 ? formatTime(t).chopped(4) : formatTime(t);
        painter.drawText(QPointF(x + 3, metrics.ascent()), text);
    }
    painter.restore();
}

void TimelineView::paintPictures(QPainter &painter) const
{
    const QRectF row = pictureRect();
    if (row.height() < 1)
        return;
    // Dark, so that a frame wider than its picture reads as one slot.
    painter.fillRect(row, QColor(0, 0, 0, 150));
    if (!m_strip || !(m_axis.duration > 0))
        return;
    const PictureSlots shown = slotsBetween(m_axis.start, m_axis.end());
    const auto pick =
        shown.pickFrames ? ThumbnailStrip::Pick::Frame : ThumbnailStrip::Pick::Keyframe;
    const double tile = tileWidth();
    painter.save();
    painter.setClipRect(row);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const PictureSlot &slot : shown.slots) {
        // A frame narrower than a picture shows the picture's left part.
        const double width = shown.perFrame ? std::min(slot.right - slot.left, tile) : tile;
        const QImage image = m_strip->picture(slot.time, pick);
        if (!image.isNull()) {
            const QRectF source(0, 0, image.width() * width / tile, image.height());
            painter.drawImage(QRectF(slot.left, row.top(), width, row.height()), image, source);
        }
        if (shown.perFrame) {
            painter.fillRect(QRectF(std::round(slot.left), row.top(), 1, row.height()),
                             QColor(0, 0, 0, 140));
            if (slot.keyframe)
                painter.fillRect(QRectF(slot.left, row.top(), slot.right - slot.left, 3),
                                 Theme::accent());
        }
    }
    painter.restore();
}

void TimelineView::paintBar(QPainter &painter) const
{
    const QRectF bar = barRect();
    const double w = width();
    const double top = bar.top();
    const double handleTop = top + centreY - handleHeight / 2;
    const double trackTop = top + centreY - trackHeight / 2;
    const double duration = m_axis.duration;
    // Times outside the movie are drawn at its nearest end.
    const auto xOf = [&](double t) {
        return duration > 0 ? m_axis.xAt(t > duration ? duration : (t > 0 ? t : 0.0)) : 0.0;
    };
    const double movieLeft = xOf(0);
    const double movieRight = duration > 0 ? xOf(duration) : w;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    fillRounded(painter, {movieLeft, trackTop, movieRight - movieLeft, trackHeight}, 3,
                withOpacity(Theme::secondary(), 0.2));
    for (int i = 0; i < m_ranges.size(); ++i) {
        const double inX = std::max(xOf(m_ranges[i].in), -4.0);
        const double outX = std::min(xOf(m_ranges[i].out), w + 4);
        if (outX < 0 || inX > w)
            continue;
        fillRounded(painter, {inX, trackTop, std::max(outX - inX, 0.0), trackHeight}, 2,
                    withOpacity(Theme::accent(), i == m_selected ? 0.35 : 0.15));
    }

    // Whole pixels: an antialiased hairline would smear into two grey ones.
    painter.setRenderHint(QPainter::Antialiasing, false);
    const double tickTop = top + centreY - tickHeight / 2;
    const bool everyFrame =
        m_index && m_index->frameDuration * m_axis.pixelsPerSecond >= kFrameTicksFrom;
    if (everyFrame) {
        const std::vector<double> &frames = m_index->framePts;
        painter.setPen(QPen(withOpacity(Theme::secondary(), 0.45), 1));
        for (auto it = std::lower_bound(frames.begin(), frames.end(), m_axis.start);
             it != frames.end() && *it <= m_axis.end(); ++it) {
            const double x = std::floor(m_axis.xAt(*it)) + 0.5;
            painter.drawLine(QPointF(x, trackTop - 2), QPointF(x, trackTop + trackHeight + 1));
        }
    }
    if (m_index) {
        const std::vector<double> &keys = m_index->keyframes;
        // At frame zoom keyframes stand out; coarser, they are quiet ticks.
        painter.setPen(everyFrame ? QPen(Theme::accent(), 2)
                                  : QPen(withOpacity(Theme::secondary(), 0.6), 1));
        double lastX = -minTickSpacing;
        for (auto it = std::lower_bound(keys.begin(), keys.end(), m_axis.start);
             it != keys.end() && *it <= m_axis.end(); ++it) {
            const double x = std::min(std::floor(xOf(*it)), w - 1);
            if (x - lastX < minTickSpacing)
                continue;
            painter.drawLine(QPointF(x + 0.5, tickTop), QPointF(x + 0.5, tickTop + tickHeight - 1));
            lastX = x;
        }
    }
    painter.setRenderHint(QPainter::Antialiasing);

    if (m_selected >= 0 && m_selected < m_ranges.size()) {
        const double inX = xOf(m_ranges[m_selected].in);
        const double outX = xOf(m_ranges[m_selected].out);
        if (inX > -markWidth && inX < w)
            fillRounded(painter, {inX, handleTop, markWidth, handleHeight}, 2, Theme::green());
        const double outLeft = std::max(outX - markWidth, movieLeft);
        if (outLeft > -markWidth && outLeft < w)
            fillRounded(painter, {outLeft, handleTop, markWidth, handleHeight}, 2, Theme::red());
    }

    const QColor markerColour = withOpacity(Theme::orange(), 0.85);
    const double half = markerSize / 2;
    const double centre = top + centreY;
    for (double marker : m_markers) {
        const double mx = xOf(marker);
        if (mx < -half || mx > w + half)
            continue;
        QPainterPath diamond;
        diamond.moveTo(mx, centre - markerSize);
        diamond.lineTo(mx + half, centre);
        diamond.lineTo(mx, centre + markerSize);
        diamond.lineTo(mx - half, centre);
        diamond.closeSubpath();
        painter.fillPath(diamond, markerColour);
    }
    painter.restore();
}

double TimelineView::snapped(Handle handle, double t) const
{
    if (!m_index || m_index->framePts.empty())
        return t;
    const std::vector<double> &frames = m_index->framePts;
    const auto after = std::upper_bound(frames.begin(), frames.end(), t + 1e-9);
    if (handle == Handle::Playhead)
        return after == frames.begin() ? t : *std::prev(after); // the frame under the pointer
    // Marks go to the nearer edge of the frame, the movie's end being the last.
    const double next = after == frames.end() ? m_axis.duration : *after;
    const double previous = after == frames.begin() ? 0.0 : *std::prev(after);
    return t - previous <= next - t ? previous : next;
}

TimelineView::Handle TimelineView::nearestHandle(double px) const
{
    const double duration = m_axis.duration;
    const auto xOf = [&](double t) {
        return duration > 0 ? m_axis.xAt(std::clamp(t, 0.0, duration)) : 0.0;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double dPlay = std::abs(px - xOf(m_playhead));
    double dIn = inf;
    double dOut = inf;
    // Only marks in view can be grabbed: one out of sight would jump to the pointer.
    if (m_selected >= 0 && m_selected < m_ranges.size()) {
        const double inX = xOf(m_ranges[m_selected].in);
        const double outX = xOf(m_ranges[m_selected].out);
        if (inX >= 0 && inX <= width())
            dIn = std::abs(px - inX);
        if (outX >= 0 && outX <= width())
            dOut = std::abs(px - outX);
    }
    if (dOut < std::min(dPlay, dIn))
        return Handle::OutMark;
    if (dIn < dPlay)
        return Handle::InMark;
    return Handle::Playhead;
}

void TimelineView::dragTo(double pointerX)
{
    const double w = width();
    if (!(w > 0))
        return; // a bar without width has no time under the pointer
    const double px = std::clamp(pointerX, 0.0, w);
    const double t = std::clamp(m_axis.timeAt(px), 0.0, std::max(m_axis.duration, 0.0));
    if (!m_dragging) {
        m_dragging = nearestHandle(px);
        if (*m_dragging != Handle::Playhead)
            Q_EMIT markDragStarted(*m_dragging);
    }
    const double at = snapped(*m_dragging, t);
    if (*m_dragging == Handle::Playhead)
        Q_EMIT seekRequested(at);
    else
        Q_EMIT markMoveRequested(*m_dragging, at);
}

void TimelineView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging.reset();
    dragTo(event->position().x());
}

void TimelineView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging)
        dragTo(event->position().x());
}

void TimelineView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    const Handle released = *m_dragging;
    m_dragging.reset();
    if (released != Handle::Playhead)
        Q_EMIT markDragFinished(released);
}

void TimelineView::wheelEvent(QWheelEvent *event)
{
    const QPoint angle = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        const double steps = (angle.y() != 0 ? angle.y() : angle.x()) / 120.0;
        zoomAt(std::pow(1.25, steps), event->position().x());
        event->accept();
        return;
    }
    if (m_axis.isFitted() || !(m_axis.pixelsPerSecond > 0)) {
        event->ignore();
        return;
    }
    const QPoint pixels = event->pixelDelta();
    const double moved = !pixels.isNull()
                             ? -(pixels.x() != 0 ? pixels.x() : pixels.y())
                             : -(angle.x() != 0 ? angle.x() : angle.y()) / 120.0 * width() / 8;
    scrollTo(m_axis.start + moved / m_axis.pixelsPerSecond);
    event->accept();
}

bool TimelineView::event(QEvent *event)
{
    if (event->type() == QEvent::NativeGesture) {
        auto *gesture = static_cast<QNativeGestureEvent *>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            zoomAt(1.0 + gesture->value(), gesture->position().x());
            return true;
        }
    }
    return QWidget::event(event);
}

void TimelineView::resizeEvent(QResizeEvent *)
{
    const int barHeightPx = scrollBarHeight;
    m_scrollBar->setGeometry(0, height() - barHeightPx, width(), barHeightPx);
    setAxis(m_axis.resized(width()));
    m_requestTimer.start();
}

} // namespace trimora
