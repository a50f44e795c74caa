#include "views/TimelineView.h"

#include "views/Theme.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

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

} // namespace

TimelineView::TimelineView(Binding currentTime, Binding inPoint, Binding outPoint, QWidget *parent)
    : QWidget(parent), m_currentTime(std::move(currentTime)), m_inPoint(std::move(inPoint)),
      m_outPoint(std::move(outPoint))
{
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TimelineView::setDuration(double seconds)
{
    if (seconds == m_duration)
        return;
    m_duration = seconds;
    update();
}

void TimelineView::setMarkers(const QVector<double> &markers)
{
    m_markers = markers;
    update();
}

void TimelineView::setKeyframes(const QVector<double> &keyframes)
{
    m_keyframes = keyframes;
    update();
}

QSize TimelineView::sizeHint() const
{
    return {400, barHeight};
}
QSize TimelineView::minimumSizeHint() const
{
    return {0, barHeight};
}

double TimelineView::xFor(double seconds, double width) const
{
    if (!(m_duration > 0))
        return 0.0;
    // Written so that NaN lands on 0 rather than poisoning the geometry.
    const double fraction = seconds / m_duration;
    const double clamped = fraction > 1 ? 1.0 : (fraction > 0 ? fraction : 0.0);
    return width * clamped;
}

void TimelineView::paintEvent(QPaintEvent *)
{
    const double w = width();
    const double inX = xFor(m_inPoint.get(), w);
    const double outX = xFor(m_outPoint.get(), w);
    const double playX = xFor(m_currentTime.get(), w);
    const double handleTop = centreY - handleHeight / 2;
    const double trackTop = centreY - trackHeight / 2;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    fillRounded(painter, {0, trackTop, w, trackHeight}, 3, withOpacity(Theme::secondary(), 0.2));
    fillRounded(painter, {inX, trackTop, std::max(outX - inX, 0.0), trackHeight}, 2,
                withOpacity(Theme::accent(), 0.35));
    if (!m_keyframes.isEmpty()) {
        // Whole pixels: an antialiased hairline would smear into two grey ones.
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(withOpacity(Theme::secondary(), 0.6), 1));
        const double tickTop = centreY - tickHeight / 2;
        double lastX = -minTickSpacing;
        for (double keyframe : m_keyframes) {
            const double x = std::min(std::floor(xFor(keyframe, w)), w - 1);
            if (x - lastX < minTickSpacing)
                continue;
            painter.drawLine(QPointF(x + 0.5, tickTop), QPointF(x + 0.5, tickTop + tickHeight - 1));
            lastX = x;
        }
        painter.restore();
    }

    fillRounded(painter, {inX, handleTop, markWidth, handleHeight}, 2, Theme::green());
    fillRounded(painter, {std::max(outX - markWidth, 0.0), handleTop, markWidth, handleHeight}, 2,
                Theme::red());

    const QColor markerColour = withOpacity(Theme::orange(), 0.85);
    const double half = markerSize / 2;
    for (double marker : m_markers) {
        const double mx = xFor(marker, w);
        QPainterPath diamond;
        diamond.moveTo(mx, centreY - markerSize);
        diamond.lineTo(mx + half, centreY);
        diamond.lineTo(mx, centreY + markerSize);
        diamond.lineTo(mx - half, centreY);
        diamond.closeSubpath();
        painter.fillPath(diamond, markerColour);
    }

    const double playLeft = m_duration > 0 ? std::max(playX - playheadWidth / 2, 0.0) : 0.0;
    const QRectF playhead(playLeft, handleTop, playheadWidth, handleHeight);
    // A one-point soft shadow keeps the white bar visible over light themes.
    painter.fillRect(playhead.adjusted(-1, -1, 1, 1), QColor(0, 0, 0, 64));
    painter.fillRect(playhead.adjusted(-0.5, -0.5, 0.5, 0.5), QColor(0, 0, 0, 64));
    painter.fillRect(playhead, Qt::white);
}

TimelineView::Handle TimelineView::nearestHandle(double px, double width) const
{
    const double dPlay = std::abs(px - xFor(m_currentTime.get(), width));
    const double dIn = std::abs(px - xFor(m_inPoint.get(), width));
    const double dOut = std::abs(px - xFor(m_outPoint.get(), width));
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
    const double px = std::max(std::min(w, pointerX), 0.0);
    const double t = m_duration * (px / w);
    if (!m_dragging)
        m_dragging = nearestHandle(px, w);
    switch (*m_dragging) {
    case Handle::Playhead:
        m_currentTime.set(t);
        if (m_onSeek)
            m_onSeek(t);
        break;
    case Handle::InMark:
        m_inPoint.set(std::max(std::min(m_outPoint.get(), t), 0.0));
        break;
    case Handle::OutMark:
        m_outPoint.set(std::max(m_inPoint.get(), std::min(m_duration, t)));
        break;
    }
    update();
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
    if (event->button() == Qt::LeftButton)
        m_dragging.reset();
}

} // namespace trimora
