#pragma once

#include <QFrame>

class QTextEdit;
class QToolButton;

namespace trimora {

class Exports;

// The shell command equivalent to the export, selectable, with a button that
// copies it. Hidden while there is no command to show.
class CommandRow : public QFrame
{
    Q_OBJECT
public:
    explicit CommandRow(Exports *exports, QWidget *parent = nullptr);

    QString commandText() const;
    QTextEdit *commandView() const { return m_commandView; }
    QToolButton *copyButton() const { return m_copyButton; }

    // Replaces the whole clipboard with the command as plain text.
    void copyCommand();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void sync();
    void fitHeight();

    Exports *m_exports;
    QTextEdit *m_commandView;
    QToolButton *m_copyButton;
};

} // namespace trimora
