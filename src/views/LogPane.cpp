#include "views/LogPane.h"

#include "model/VideoEditorViewModel.h"
#include "views/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

namespace trimora {

namespace {

constexpr int paneHeight = 120;
constexpr int padding = 6;
constexpr qsizetype maxLineLength = 1000;

constexpr char16_t checkMark = u'\u2705';
constexpr char16_t crossMark = u'\u274C';

// A white tick on a green rounded square, or a red cross, in box.
void drawMark(QPainter &painter, char16_t mark, const QRectF &box)
{
    const qreal s = box.width();
    const QPointF o = box.topLeft();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (mark == checkMark) {
        QPainterPath square;
        square.addRoundedRect(box, s * 0.2, s * 0.2);
        painter.fillPath(square, Theme::green());
        painter.setPen(QPen(Qt::white, s * 0.14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(QPolygonF{o + QPointF(s * 0.24, s * 0.52),
                                       o + QPointF(s * 0.42, s * 0.7),
                                       o + QPointF(s * 0.76, s * 0.3)});
    } else {
        painter.setPen(QPen(Theme::red(), s * 0.18, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(o + QPointF(s * 0.2, s * 0.2), o + QPointF(s * 0.8, s * 0.8));
        painter.drawLine(o + QPointF(s * 0.8, s * 0.2), o + QPointF(s * 0.2, s * 0.8));
    }
    painter.restore();
}

} // namespace

LogPane::LogPane(VideoEditorViewModel *viewModel, QWidget *parent)
    : QPlainTextEdit(parent), m_viewModel(viewModel)
{
    setObjectName(QStringLiteral("logPane"));
    setAccessibleName(tr("Export log"));
    setFixedHeight(paneHeight);
    setReadOnly(true);
    // Selectable with the mouse and copied with the keyboard's copy key; the
    // arrows stay the editor's.
    setTextInteractionFlags(Qt::TextSelectableByMouse);
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

void LogPane::paintEvent(QPaintEvent *event)
{
    QPlainTextEdit::paintEvent(event);
    QPainter painter(viewport());
    const QPointF offset = contentOffset();
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF bounds = blockBoundingGeometry(block).translated(offset);
        if (bounds.top() > viewport()->height())
            break;
        const QString text = block.text();
        const QTextLayout *layout = block.layout();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text.at(i).unicode();
            if (c != checkMark && c != crossMark)
                continue;
            const QTextLine line = layout->lineForTextPosition(int(i));
            if (!line.isValid())
                continue;
            const qreal left = line.cursorToX(int(i));
            const qreal right = line.cursorToX(int(i) + 1);
            const QRectF glyph(bounds.left() + left, bounds.top() + line.y(), right - left,
                               line.height());
            // Over whatever the font made of it, an empty box or an emoji.
            painter.fillRect(glyph, Theme::textBackground());
            const qreal size = std::min(line.ascent(), line.height());
            drawMark(
                painter, c,
                QRectF(glyph.center().x() - size / 2, glyph.center().y() - size / 2, size, size));
        }
    }
}

void LogPane::scrollToEnd()
{
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

} // namespace trimora
