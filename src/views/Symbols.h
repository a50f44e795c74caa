#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace trimora {

// The editor's symbols, shipped as SVG resources (":/symbols/<name>.svg") so
// the screen looks the same with or without an icon theme. Each is drawn as a
// single-colour shape in the given colour.
namespace Symbols {

QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio = 1.0);
QIcon icon(const QString &name, int size, const QColor &color);

} // namespace Symbols

} // namespace trimora
