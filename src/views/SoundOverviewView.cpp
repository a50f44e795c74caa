#include "views/SoundOverviewView.h"

#include "model/SoundOverview.h"
#include "views/Theme.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace trimora {

namespace {

// The quietest sound that still shows, in decibels below full scale.
constexpr double kFloorDb = -60.0;

} // namespace

SoundOverviewView::SoundOverviewView(QWidget *parent) : QWidget(parent)
{
    // At the smallest window it gives way to the controls, down to a sliver.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMinimumHeight(12);
    setMaximumHeight(sizeHint().height());
    setAttribute(Qt::WA_TranslucentBackground);
}

QSize SoundOverviewView::sizeHint() const
{
    return {400, 30};
}

void SoundOverviewView::setOverview(SoundOverview *overview)
{
    if (m_overview)
        disconnect(m_overview, nullptr, this, nullptr);
    m_overview = overview;
    if (overview) {
        connect(overview, &SoundOverview::levelsChanged, this, [this] {
            m_barsStale = true;
            update();
        });
    }
    m_barsStale = true;
    update();
}

void SoundOverviewView::setDuration(double seconds)
{
    m_duration = seconds;
    m_barsStale = true;
    update();
}

void SoundOverviewView::setPlayhead(double seconds)
{
    if (seconds == m_playhead)
        return;
    m_playhead = seconds;
    update();
}

void SoundOverviewView::setShown(double start, double end)
{
    m_shownStart = start;
    m_shownEnd = end;
    update();
}

double SoundOverviewView::barHeight(float level, double height)
{
    if (!(level > 0))
        return 0.0;
    const double db = 20.0 * std::log10(std::min(level, 1.0f));
    return height * std::clamp(1.0 - db / kFloorDb, 0.0, 1.0);
}

double SoundOverviewView::xAt(double t) const
{
    return m_duration > 0 ? width() * std::clamp(t / m_duration, 0.0, 1.0) : 0.0;
}

void SoundOverviewView::renderBars()
{
    m_barsStale = false;
    const qreal ratio = devicePixelRatioF();
    m_bars = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    m_bars.setDevicePixelRatio(ratio);
    m_bars.fill(Qt::transparent);
    if (!m_overview || !(m_duration > 0) || m_overview->levels().isEmpty())
        return;
    const QVector<float> &levels = m_overview->levels();
    const double perValue = m_overview->secondsPerValue();
    const int columns = width();
    const double h = height();
    const double mid = h / 2;
    QPainter painter(&m_bars);
    QColor known = Theme::accent();
    known.setAlphaF(0.8f);
    QColor unread = Theme::secondary();
    unread.setAlphaF(0.35f);
    for (int i = 0; i < columns; ++i) {
        const double t0 = m_duration * i / columns;
        const double t1 = m_duration * (i + 1) / columns;
        const auto first = static_cast<qsizetype>(std::floor(t0 / perValue));
        const auto last = std::max(first + 1, static_cast<qsizetype>(std::ceil(t1 / perValue)));
        float peak = -1.0f;
        for (qsizetype k = std::max<qsizetype>(first, 0); k < std::min(last, levels.size()); ++k)
            peak = std::max(peak, levels[k]);
        if (peak < 0) {
            // Not read yet: a dotted line says so.
            if (i % 3 == 0)
                painter.fillRect(QRectF(i, mid - 0.5, 1, 1), unread);
            continue;
        }
        const double bar = barHeight(peak, h - 2);
        if (bar > 0)
            painter.fillRect(QRectF(i, mid - bar / 2, 1, bar), known);
    }
}

void SoundOverviewView::paintEvent(QPaintEvent *)
{
    if (m_barsStale || m_bars.size() != size() * devicePixelRatioF())
        renderBars();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    Theme::fillSoundGround(painter, rect());
    painter.drawImage(QPointF(0, 0), m_bars);
    if (!(m_duration > 0))
        return;
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Framed only while the timeline shows a part.
    if (m_shownEnd - m_shownStart < m_duration * (1 - 1e-9)) {
        const double left = std::floor(xAt(m_shownStart));
        const double right = std::max(std::ceil(xAt(m_shownEnd)), left + 2);
        QColor frame = Theme::primary();
        frame.setAlphaF(0.8f);
        painter.setPen(QPen(frame, 1));
        painter.drawRect(QRectF(left + 0.5, 0.5, right - left - 1, height() - 1));
    }
    const double x = std::min(std::floor(xAt(m_playhead)), width() - 1.0);
    painter.fillRect(QRectF(x, 0, 1, height()), Qt::white);
}

void SoundOverviewView::resizeEvent(QResizeEvent *)
{
    m_barsStale = true;
}

void SoundOverviewView::seekTo(double x)
{
    if (width() > 0 && m_duration > 0)
        Q_EMIT seekRequested(m_duration * std::clamp(x / width(), 0.0, 1.0));
}

void SoundOverviewView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        seekTo(event->position().x());
}

void SoundOverviewView::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        seekTo(event->position().x());
}

} // namespace trimora
