#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;

namespace trimora {

// A time that shows as text and, clicked, can be typed over. Enter hands the
// text to the commit function: an empty answer ends the typing, any other is
// a hint, shown at the field, that keeps it open with the text as typed.
// Escape, or leaving the field, ends the typing without a change.
class TimeField : public QWidget
{
    Q_OBJECT
public:
    // prefix stands before the time while it is not being typed ("In: ").
    TimeField(const QString &prefix, const QFont &font, const QColor &color,
              QWidget *parent = nullptr);

    void setTime(double seconds);
    void setCommit(std::function<QString(const QString &text)> commit);

    QLabel *label() const { return m_label; }
    QLineEdit *editor() const { return m_editor; }
    bool isEditing() const;
    void startEditing();
    // The hint last shown; empty when the text was taken.
    QString hint() const { return m_hint; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void commit();
    void stopEditing();
    void finishEditing();
    void showHint(const QString &hint);

    QString m_prefix;
    QString m_timeText;
    QLabel *m_label;
    QLineEdit *m_editor;
    std::function<QString(const QString &)> m_commit;
    QString m_hint;
};

} // namespace trimora
