#include "views/WaveformView.h"

#include "analysis/Waveform.h"
#include "views/Theme.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace trimora {

WaveformView::WaveformView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void WaveformView::setSamples(const QVector<float> &samples)
{
    m_samples = samples;
    update();
}

void WaveformView::setStartTime(double seconds)
{
    m_startTime = seconds;
    update();
}

void WaveformView::setCurrentTime(double seconds)
{
    m_currentTime = seconds;
    update();
}

void WaveformView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    Theme::fillSoundGround(painter, bounds);

    const double width = bounds.width();
    const double height = bounds.height();
    const int columns = static_cast<int>(width);
    if (columns < 1)
        return;
    const double midY = height * 0.5;
    const double span = 2.0 * waveform::shownHalfWindow;
    const double windowStart = m_currentTime - waveform::shownHalfWindow;

    QColor played(Qt::white);
    played.setAlphaF(0.5f);
    QColor ahead = Theme::accent();
    ahead.setAlphaF(0.7f);
    const QPen playedPen(played, 1.0, Qt::SolidLine, Qt::FlatCap);
    const QPen aheadPen(ahead, 1.0, Qt::SolidLine, Qt::FlatCap);

    for (int i = 0; i < columns; ++i) {
        const double t = windowStart + span * i / columns;
        // Truncation toward zero: a column just before the first value shows it.
        const double position = std::trunc((t - m_startTime) * waveform::valuesPerSecond);
        float a = 0.0f;
        if (position >= 0 && position < m_samples.size())
            a = m_samples[static_cast<qsizetype>(position)];
        const double barHeight = std::max(height * a * 0.85, 1.0);
        const double x = i + 0.5;
        painter.setPen(t < m_currentTime ? playedPen : aheadPen);
        painter.drawLine(QPointF(x, midY - barHeight / 2), QPointF(x, midY + barHeight / 2));
    }
    painter.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(width * 0.5, 0), QPointF(width * 0.5, height));
}

} // namespace trimora
