#include "views/Theme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace trimora {

namespace {

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor &color)
{
    auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor over(const QColor &top, const QColor &bottom)
{
    const double a = top.alphaF();
    return QColor::fromRgbF(static_cast<float>(top.redF() * a + bottom.redF() * (1 - a)),
                            static_cast<float>(top.greenF() * a + bottom.greenF() * (1 - a)),
                            static_cast<float>(top.blueF() * a + bottom.blueF() * (1 - a)));
}

// Text sits on the window's background or on the text background of the
// fields and panes; it must read on both.
QList<QColor> textBackgrounds()
{
    const QPalette palette = QApplication::palette();
    return {palette.color(QPalette::Window), palette.color(QPalette::Base)};
}

// WCAG AA for normal text; secondary keeps a margin above tertiary so the two
// roles still differ.
constexpr double readableContrast = 4.5;
constexpr double secondaryContrast = 5.5;

// The primary text colour at the least opacity, from the role's own upwards,
// that reads at the ratio on every text background.
QColor faded(double alpha, double ratio)
{
    const QColor text = Theme::primary();
    for (; alpha < 1.0; alpha += 0.01) {
        const QColor candidate = withAlpha(text, alpha);
        bool readable = true;
        for (const QColor &background : textBackgrounds())
            readable = readable && contrast(over(candidate, background), background) >= ratio;
        if (readable)
            return candidate;
    }
    return text;
}

// The colour, darkened on light backgrounds or lightened on dark ones (its
// hue kept), until it reads at 4.5:1 on every text background.
QColor readableOnBackgrounds(QColor color)
{
    const bool dark = luminance(QApplication::palette().color(QPalette::Window)) < 0.18;
    for (int i = 0; i < 40; ++i) {
        bool readable = true;
        for (const QColor &background : textBackgrounds())
            readable = readable && contrast(color, background) >= readableContrast;
        if (readable)
            break;
        color = dark ? color.lighter(105) : color.darker(105);
    }
    return color;
}

// Sizes relative to a 13-point body text.
double relativeSize(Theme::TextStyle style)
{
    switch (style) {
    case Theme::TextStyle::Title2:
        return 17.0 / 13.0;
    case Theme::TextStyle::Title3:
        return 15.0 / 13.0;
    case Theme::TextStyle::Body:
        return 1.0;
    case Theme::TextStyle::Caption:
        return 10.0 / 13.0;
    case Theme::TextStyle::Caption2:
        return 10.0 / 13.0;
    }
    return 1.0;
}

} // namespace

QColor Theme::accent()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    QColor color = QApplication::palette().color(QPalette::Accent);
#else
    QColor color = QApplication::palette().color(QPalette::Highlight);
#endif
    // Prominent buttons write white on it.
    for (int i = 0; i < 40 && contrast(Qt::white, color) < readableContrast; ++i)
        color = color.darker(105);
    return color;
}

QColor Theme::primary()
{
    return QApplication::palette().color(QPalette::WindowText);
}
QColor Theme::secondary()
{
    return faded(0.55, secondaryContrast);
}
QColor Theme::tertiary()
{
    return faded(0.30, readableContrast);
}
QColor Theme::green()
{
    return readableOnBackgrounds(QColor(0x34, 0xC7, 0x59));
}
QColor Theme::red()
{
    return readableOnBackgrounds(QColor(0xFF, 0x3B, 0x30));
}
QColor Theme::orange()
{
    return QColor(0xFF, 0x95, 0x00);
}
QColor Theme::textBackground()
{
    return QApplication::palette().color(QPalette::Base);
}

QFont Theme::font(TextStyle style, bool monospaced)
{
    QFont font =
        monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QApplication::font();
    const QFont base = QApplication::font();
    const double points = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    // Desktop body text is often 9-10 pt, where the smallest styles would fall
    // below legibility; 8 pt is their floor.
    font.setPointSizeF(std::max(points * relativeSize(style), 8.0));
    return font;
}

void Theme::setForeground(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

void Theme::fillSoundGround(QPainter &painter, const QRectF &bounds)
{
    QPainterPath clip;
    clip.addRoundedRect(bounds, 4, 4);
    painter.setClipPath(clip);
    painter.fillRect(bounds, QColor(0, 0, 0, qRound(0.25 * 255)));
}

} // namespace trimora
