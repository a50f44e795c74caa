#include "views/LogPane.h"

#include "model/VideoEditorViewModel.h"
#include "views/Theme.h"

#include <QScrollBar>
#include <QTextCursor>

namespace {

constexpr int paneHeight = 120;
constexpr int padding = 6;

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
    setPlainText(m_viewModel->logOutput());
}

void LogPane::append(const QString &chunk)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(chunk);
    scrollToEnd();
}

void LogPane::reset()
{
    setPlainText(m_viewModel->logOutput());
    scrollToEnd();
}

void LogPane::scrollToEnd()
{
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}
