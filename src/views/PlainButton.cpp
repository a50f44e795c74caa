#include "views/PlainButton.h"

#include "views/Symbols.h"
#include "views/Theme.h"

#include <QPainter>

namespace trimora {

PlainButton::PlainButton(QWidget *parent) : QAbstractButton(parent), m_color(Theme::primary())
{
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PlainButton::setSymbol(const QString &name, int size)
{
    if (name == m_symbol && size == m_symbolSize)
        return;
    m_symbol = name;
    m_symbolSize = size;
    updateGeometry();
    update();
}

void PlainButton::setColor(const QColor &color)
{
    m_color = color;
    update();
}

QSize PlainButton::sizeHint() const
{
    if (!m_symbol.isEmpty())
        return {m_symbolSize + 4, m_symbolSize + 4};
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 4, metrics.height() + 4};
}

void PlainButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor color = m_color;
    if (isDown())
        color.setAlphaF(color.alphaF() * 0.5f);
    if (!m_symbol.isEmpty()) {
        const QPixmap image = Symbols::pixmap(m_symbol, m_symbolSize, color, devicePixelRatioF());
        const QPoint origin((width() - m_symbolSize) / 2, (height() - m_symbolSize) / 2);
        painter.drawPixmap(origin, image);
    } else {
        painter.setPen(color);
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
    if (hasFocus()) {
        // Keyboard focus still needs a visible cue on a borderless button.
        QColor ring = Theme::accent();
        ring.setAlphaF(0.6f);
        painter.setPen(QPen(ring, 1));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    }
}

} // namespace trimora
