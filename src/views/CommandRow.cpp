#include "views/CommandRow.h"

#include "model/Exports.h"
#include "views/Symbols.h"
#include "views/Theme.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextEdit>
#include <QToolButton>
#include <QtMath>

namespace trimora {

namespace {

constexpr int maxCommandLines = 3;

QString roundedBoxStyle(const QString &selector)
{
    QColor border = Theme::secondary();
    border.setAlphaF(border.alphaF() * 0.2f);
    return QStringLiteral("%1 { background-color: %2; border: 1px solid %3; border-radius: 6px; }")
        .arg(selector, Theme::textBackground().name(QColor::HexArgb), border.name(QColor::HexArgb));
}

} // namespace

CommandRow::CommandRow(Exports *exports, QWidget *parent)
    : QFrame(parent), m_exports(exports), m_commandView(new QTextEdit(this)),
      m_copyButton(new QToolButton(this))
{
    setObjectName(QStringLiteral("commandRow"));
    setStyleSheet(roundedBoxStyle(QStringLiteral("QFrame#commandRow")));
    setFont(Theme::font(Theme::TextStyle::Caption2, true));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 5, 8, 5);
    layout->setSpacing(6);

    auto *prompt = new QLabel(QStringLiteral("$"), this);
    Theme::setForeground(prompt, Theme::secondary());
    layout->addWidget(prompt, 0, Qt::AlignVCenter);

    // A read-only text view rather than a label: long paths have no spaces to
    // wrap at, and a label would widen the window instead of breaking them.
    m_commandView->setReadOnly(true);
    m_commandView->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                           Qt::TextSelectableByKeyboard);
    m_commandView->setFrameShape(QFrame::NoFrame);
    m_commandView->setAttribute(Qt::WA_TranslucentBackground);
    m_commandView->viewport()->setAutoFillBackground(false);
    m_commandView->setStyleSheet(QStringLiteral("QTextEdit { background: transparent; }"));
    m_commandView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_commandView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_commandView->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_commandView->document()->setDocumentMargin(0);
    m_commandView->setFont(font());
    m_commandView->document()->setDefaultFont(font());
    m_commandView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_commandView->setMinimumWidth(40);
    layout->addWidget(m_commandView, 1, Qt::AlignVCenter);

    const QColor secondary = Theme::secondary();
    m_copyButton->setAccessibleName(QStringLiteral("Copy command"));
    m_commandView->setAccessibleName(tr("Shell command"));
    m_copyButton->setIcon(Symbols::icon(QStringLiteral("doc.on.doc"), 14, secondary));
    if (!QFile::exists(QStringLiteral(":/symbols/doc.on.doc.svg"))) {
        // Without its symbol the button would be an invisible empty icon.
        m_copyButton->setText(QStringLiteral("Copy"));
        m_copyButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
    m_copyButton->setAutoRaise(true);
    m_copyButton->setToolTip(QStringLiteral("Copy command"));
    m_copyButton->setCursor(Qt::PointingHandCursor);
    Theme::setForeground(m_copyButton, secondary);
    layout->addWidget(m_copyButton, 0, Qt::AlignVCenter);

    connect(m_copyButton, &QToolButton::clicked, this, &CommandRow::copyCommand);
    connect(m_exports, &Exports::commandPreviewChanged, this, &CommandRow::sync);
    sync();
}

QString CommandRow::commandText() const
{
    return m_commandView->toPlainText();
}

void CommandRow::copyCommand()
{
    QGuiApplication::clipboard()->setText(m_exports->commandPreview(), QClipboard::Clipboard);
}

void CommandRow::sync()
{
    const QString command = m_exports->commandPreview();
    if (m_commandView->toPlainText() != command)
        m_commandView->setPlainText(command);
    setVisible(!command.isEmpty());
    fitHeight();
}

void CommandRow::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    fitHeight();
}

// As many lines as the command needs, up to three; beyond that the view
// scrolls with the selection.
void CommandRow::fitHeight()
{
    const int width = m_commandView->viewport()->width();
    if (width > 0)
        m_commandView->document()->setTextWidth(width);
    const int lineHeight = m_commandView->fontMetrics().lineSpacing();
    const int contentHeight = qCeil(m_commandView->document()->size().height());
    const int height = qBound(lineHeight, contentHeight, lineHeight * maxCommandLines);
    if (m_commandView->height() != height)
        m_commandView->setFixedHeight(height);
}

} // namespace trimora
