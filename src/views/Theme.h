#pragma once

#include <QColor>
#include <QFont>

class QPainter;
class QRectF;
class QWidget;

namespace trimora {

// The named colours and text styles of the editor, mapped onto the palette and
// the application font so that the look follows the desktop's theme. Every
// colour that text is written in (secondary, tertiary, green, red, and white
// on accent) reads at 4.5:1 or more on the theme's backgrounds.
namespace Theme {

QColor accent();
QColor primary();
QColor secondary();
QColor tertiary();
QColor green();
QColor red();
QColor orange();
QColor textBackground();

enum class TextStyle { Title2, Title3, Body, Caption, Caption2 };
QFont font(TextStyle style, bool monospaced = false);

// Sets the foreground colour of a label or plain button.
void setForeground(QWidget *widget, const QColor &color);

// The dark rounded ground the sound is drawn on; the painter is left clipped
// to it.
void fillSoundGround(QPainter &painter, const QRectF &bounds);

} // namespace Theme

} // namespace trimora
