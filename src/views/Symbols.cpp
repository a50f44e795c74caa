#include "views/Symbols.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library: register them before first use.
// Qt's registration function is global, so this stays outside the namespace.
static void registerSymbolResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)registered;
}

namespace trimora {

QPixmap Symbols::pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio)
{
    registerSymbolResources();
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QPixmap result(pixels, pixels);
    result.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/symbols/%1.svg").arg(name));
    if (!renderer.isValid())
        return result;
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    // The SVGs are drawn in black; tint keeps their alpha and swaps the colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(result.rect(), color);
    painter.end();
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

QIcon Symbols::icon(const QString &name, int size, const QColor &color)
{
    QIcon icon;
    icon.addPixmap(pixmap(name, size, color, 1.0));
    icon.addPixmap(pixmap(name, size, color, 2.0));
    return icon;
}

} // namespace trimora
