#include "app/DropZoneView.h"

#include "views/Symbols.h"
#include "views/Theme.h"

#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace trimora {

namespace {

constexpr int kIconSize = 64;
constexpr double kBorderInset = 20.0;
constexpr double kBorderWidth = 2.0;
constexpr double kCornerRadius = 12.0;

bool offersFileUrl(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return false;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            return true;
    }
    return false;
}

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t),
                            static_cast<float>(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

} // namespace

DropZoneView::DropZoneView(QWidget *parent)
    : QWidget(parent), m_icon(new QLabel(this)), m_animation(new QVariantAnimation(this))
{
    setAcceptDrops(true);

    auto *title = new QLabel(tr("Drop a video file here"), this);
    title->setFont(Theme::font(Theme::TextStyle::Title2));
    auto *orLabel = new QLabel(tr("or"), this);
    Theme::setForeground(orLabel, Theme::tertiary());
    auto *open = new QPushButton(tr("Open Video…"), this);
    open->setObjectName(QStringLiteral("openVideoButton"));
    open->setDefault(true);
    open->setMinimumHeight(32);
    open->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                                       " border-radius: 6px; padding: 6px 18px; }"
                                       "QPushButton:pressed { background: %2; }")
                            .arg(Theme::accent().name(), Theme::accent().darker(115).name()));
    connect(open, &QPushButton::clicked, this, &DropZoneView::openRequested);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(20);
    layout->addStretch(1);
    for (QWidget *item : {static_cast<QWidget *>(m_icon), static_cast<QWidget *>(title),
                          static_cast<QWidget *>(orLabel), static_cast<QWidget *>(open)})
        layout->addWidget(item, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    m_animation->setDuration(150);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_highlight = value.toDouble();
        updateIcon();
    });
    updateIcon();
}

void DropZoneView::setDragTarget(bool target)
{
    if (m_isDragTarget == target)
        return;
    m_isDragTarget = target;
    m_animation->stop();
    m_animation->setStartValue(m_highlight);
    m_animation->setEndValue(target ? 1.0 : 0.0);
    m_animation->start();
    updateIcon();
    update(); // the border's colour changes at once
}

void DropZoneView::updateIcon()
{
    const QString name =
        m_isDragTarget ? QStringLiteral("video.fill") : QStringLiteral("video.badge.plus");
    const QColor color = mix(Theme::secondary(), Theme::accent(), m_highlight);
    m_icon->setPixmap(Symbols::pixmap(name, kIconSize, color, devicePixelRatioF()));
}

void DropZoneView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor color = Theme::secondary();
    color.setAlphaF(0.30f);
    if (m_isDragTarget)
        color = Theme::accent();
    // An inside stroke: the outline is inset by half the line width.
    const double half = kBorderWidth / 2;
    const QRectF border = QRectF(rect()).adjusted(kBorderInset + half, kBorderInset + half,
                                                  -kBorderInset - half, -kBorderInset - half);
    QPen pen(color, kBorderWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    pen.setDashPattern({8.0 / kBorderWidth, 8.0 / kBorderWidth}); // in units of the width
    pen.setDashOffset(0);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(border, kCornerRadius - half, kCornerRadius - half);
}

void DropZoneView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!offersFileUrl(event->mimeData()))
        return;
    event->acceptProposedAction();
    setDragTarget(true);
}

void DropZoneView::dragLeaveEvent(QDragLeaveEvent *)
{
    setDragTarget(false);
}

void DropZoneView::dropEvent(QDropEvent *event)
{
    setDragTarget(false);
    const QList<QUrl> urls = event->mimeData() ? event->mimeData()->urls() : QList<QUrl>();
    if (urls.isEmpty())
        return; // refused
    event->acceptProposedAction();
    Q_EMIT urlDropped(urls.first());
}

void DropZoneView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        updateIcon();
    QWidget::changeEvent(event);
}

} // namespace trimora
