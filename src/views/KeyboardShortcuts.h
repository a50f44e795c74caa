#pragma once

#include <QDialog>
#include <QKeySequence>
#include <QList>
#include <QString>

namespace trimora {

// The editor's keys, in one table that the editor binds, the buttons' tooltips
// name and the Keyboard Shortcuts window lists, so the three cannot disagree.
namespace KeyboardShortcuts {

enum class Command {
    PlayPause,
    PlayForward,
    PreviousFrame,
    NextFrame,
    BackOneSecond,
    ForwardOneSecond,
    PreviousKeyframe,
    NextKeyframe,
    GoToStart,
    GoToEnd,
    SetIn,
    SetOut,
    GoToIn,
    GoToOut,
    ZoomIn,
    ZoomOut,
    ZoomToFit,
    Open,
    Export,
    CopyCommand,
};

struct Binding
{
    Command command;
    QList<QKeySequence> keys;
    QString keyText; // as a person reads it: "Shift+←"
    QString description;
};

const QList<Binding> &bindings();
const Binding &binding(Command command);

// "Help text (key)": a tooltip that names the key.
QString tooltip(const QString &help, Command command);

} // namespace KeyboardShortcuts

// Help ▸ Keyboard Shortcuts: every key and what it does.
class KeyboardShortcutsWindow : public QDialog
{
    Q_OBJECT
public:
    explicit KeyboardShortcutsWindow(QWidget *parent = nullptr);
};

} // namespace trimora
