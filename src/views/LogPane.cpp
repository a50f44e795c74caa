#include "views/LogPane.h"

#include "model/VideoEditorViewModel.h"
#include "views/Theme.h"

#include <QScrollBar>
#include <QTextCursor>

namespace {

constexpr int paneHeight = 120;
constexpr int padding = 6;
constexpr qsizetype maxLineLength = 1000;

} // namespace

LogPane::LogPane(VideoEditorViewModel *viewModel, QWidget *parent)
    : QPlainTextEdit(parent), m_viewModel(viewModel)
{
    setObjectName(QStringLiteral("logPane"));
    setAccessibleName(tr("Export log"));
    setFixedHeight(paneHeight);
    setReadOnly(true);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setUndoRedoEnabled(false); // the log only grows; history would double its memory
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setFont(Theme::font(Theme::TextStyle::Caption, true));
    document()->setDocumentMargin(padding);
    setPlaceholderText(QStringLiteral("Export log will appear here."));

    QPalette colours = palette();
    colours.setColor(QPalette::PlaceholderText, Theme::tertiary());
    colours.setColor(QPalette::Text, Theme::primary());
    setPalette(colours);
    QColor border = Theme::secondary();
    border.setAlphaF(border.alphaF() * 0.2f);
    setStyleSheet(
        QStringLiteral("QPlainTextEdit#logPane { background-color: %1; border: 1px solid %2;"
                       " border-radius: 6px; }")
            .arg(Theme::textBackground().name(QColor::HexArgb), border.name(QColor::HexArgb)));

    connect(m_viewModel, &VideoEditorViewModel::logOutputAppended, this, &LogPane::append);
    connect(m_viewModel, &VideoEditorViewModel::logOutputReset, this, &LogPane::reset);
    // The first showing keeps the top in view; only changes scroll.
    setPlainText(displayText(m_viewModel->logOutput()));
}

void LogPane::append(const QString &chunk)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(displayText(chunk));
    scrollToEnd();
}

void LogPane::reset()
{
    m_lineLength = 0;
    m_afterCarriageReturn = false;
    setPlainText(displayText(m_viewModel->logOutput()));
    scrollToEnd();
}

QString LogPane::displayText(const QString &chunk)
{
    const auto isLineEnd = [](QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); };
    QString text;
    text.reserve(chunk.size() + chunk.size() / maxLineLength + 1);
    const qsizetype n = chunk.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = chunk.at(i);
        if (isLineEnd(c)) {
            // The line feed of a "\r\n" pair ends a line already ended.
            if (c == QLatin1Char('\r') || !m_afterCarriageReturn)
                text += QLatin1Char('\n');
            m_afterCarriageReturn = c == QLatin1Char('\r');
            m_lineLength = 0;
            ++i;
            continue;
        }
        m_afterCarriageReturn = false;
        qsizetype end = i;
        while (end < n && !isLineEnd(chunk.at(end)))
            ++end;
        while (i < end) {
            if (m_lineLength >= maxLineLength) {
                text += QLatin1Char('\n');
                m_lineLength = 0;
            }
            qsizetype take = qMin(end - i, maxLineLength - m_lineLength);
            if (i + take < end && chunk.at(i + take).isLowSurrogate())
                ++take; // a surrogate pair stays whole
            text.append(chunk.constData() + i, take);
            i += take;
            m_lineLength += take;
        }
    }
    return text;
}

void LogPane::scrollToEnd()
{
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}
