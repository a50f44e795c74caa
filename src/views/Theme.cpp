#include "views/Theme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

#include <algorithm>

namespace {

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
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
    return QApplication::palette().color(QPalette::Accent);
#else
    return QApplication::palette().color(QPalette::Highlight);
#endif
}

QColor Theme::primary()
{
    return QApplication::palette().color(QPalette::WindowText);
}
QColor Theme::secondary()
{
    return withAlpha(primary(), 0.55);
}
QColor Theme::tertiary()
{
    return withAlpha(primary(), 0.30);
}
QColor Theme::green()
{
    return QColor(0x34, 0xC7, 0x59);
}
QColor Theme::red()
{
    return QColor(0xFF, 0x3B, 0x30);
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
