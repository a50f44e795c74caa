#include "views/TimeField.h"

#include "views/Theme.h"
#include "views/TimeFormat.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolTip>

namespace trimora {

namespace {

QString frameStyle(const QColor &color)
{
    return QStringLiteral("QLineEdit { border: 1px solid %1; padding: 0; }").arg(color.name());
}

} // namespace

TimeField::TimeField(const QString &prefix, const QFont &font, const QColor &color, QWidget *parent)
    : QWidget(parent), m_prefix(prefix), m_label(new QLabel(this)), m_editor(new QLineEdit(this))
{
    // When the typing ends the focus comes here, not to the next text field,
    // where the editor's keys would type.
    setFocusPolicy(Qt::ClickFocus);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_label->setFont(font);
    Theme::setForeground(m_label, color);
    m_label->setCursor(Qt::IBeamCursor);
    m_label->setToolTip(tr("Click to type a time: HH:MM:SS.mmm, MM:SS, seconds or a frame "
                           "number such as 1234f"));
    m_label->installEventFilter(this);
    m_editor->setFont(font);
    m_editor->setAlignment(Qt::AlignCenter);
    m_editor->setMinimumWidth(
        QFontMetrics(font).horizontalAdvance(QStringLiteral("000:00:00.000")) + 16);
    m_editor->setMaximumWidth(m_editor->minimumWidth());
    m_editor->hide();
    m_editor->installEventFilter(this);
    connect(m_editor, &QLineEdit::returnPressed, this, &TimeField::commit);
    layout->addWidget(m_label);
    layout->addWidget(m_editor);
    // No higher typed than shown, so that nothing around it moves: a thin
    // frame instead of the line edit's own, which would need more room.
    m_editor->setFrame(false);
    setTime(0);
    setFixedHeight(m_label->sizeHint().height());
    m_editor->setFixedHeight(height());
    m_editor->setStyleSheet(frameStyle(Theme::accent()));
}

void TimeField::setTime(double seconds)
{
    m_timeText = formatTime(seconds);
    m_label->setText(m_prefix + m_timeText);
}

void TimeField::setCommit(std::function<QString(const QString &)> commit)
{
    m_commit = std::move(commit);
}

bool TimeField::isEditing() const
{
    return !m_editor->isHidden();
}

void TimeField::startEditing()
{
    m_hint.clear();
    m_editor->setStyleSheet(frameStyle(Theme::accent()));
    m_editor->setToolTip(QString());
    m_editor->setText(m_timeText);
    m_editor->selectAll();
    m_label->hide();
    m_editor->show();
    m_editor->setFocus(Qt::MouseFocusReason);
}

void TimeField::stopEditing()
{
    if (!isEditing())
        return;
    m_editor->hide();
    m_label->show();
    QToolTip::hideText();
}

void TimeField::finishEditing()
{
    // The focus comes here before the field goes: hidden with the focus, it
    // would pass it on to the next text field.
    setFocus(Qt::OtherFocusReason);
    stopEditing();
}

void TimeField::commit()
{
    const QString hint = m_commit ? m_commit(m_editor->text()) : QString();
    if (hint.isEmpty()) {
        m_hint.clear();
        finishEditing();
        return;
    }
    showHint(hint);
}

void TimeField::showHint(const QString &hint)
{
    m_hint = hint;
    m_editor->setStyleSheet(frameStyle(Theme::red()));
    m_editor->setToolTip(hint);
    m_editor->setAccessibleDescription(hint);
    QToolTip::showText(m_editor->mapToGlobal(QPoint(0, m_editor->height())), hint, m_editor);
}

bool TimeField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_label && event->type() == QEvent::MouseButtonPress) {
        startEditing();
        return true;
    }
    if (watched == m_editor) {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            finishEditing();
            return true;
        }
        // Clicked away: the focus stays where the click put it.
        if (event->type() == QEvent::FocusOut)
            stopEditing();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace trimora
