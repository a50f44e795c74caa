#include "views/KeyboardShortcuts.h"

#include "views/Theme.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace trimora {

namespace KeyboardShortcuts {

const QList<Binding> &bindings()
{
    using K = QKeySequence;
    static const QList<Binding> table = {
        {Command::PlayPause,
         {K(Qt::Key_Space), K(Qt::Key_K)},
         QStringLiteral("Space, K"),
         QStringLiteral("Play or pause (at normal speed)")},
        {Command::PlayForward,
         {K(Qt::Key_L)},
         QStringLiteral("L"),
         QStringLiteral("Play; again while playing: 2×, 4×")},
        {Command::PreviousFrame,
         {K(Qt::Key_Left)},
         QStringLiteral("←"),
         QStringLiteral("One frame back")},
        {Command::NextFrame,
         {K(Qt::Key_Right)},
         QStringLiteral("→"),
         QStringLiteral("One frame forward")},
        {Command::BackOneSecond,
         {K(Qt::SHIFT | Qt::Key_Left)},
         QStringLiteral("Shift+←"),
         QStringLiteral("One second back")},
        {Command::ForwardOneSecond,
         {K(Qt::SHIFT | Qt::Key_Right)},
         QStringLiteral("Shift+→"),
         QStringLiteral("One second forward")},
        {Command::PreviousKeyframe,
         {K(Qt::Key_Up)},
         QStringLiteral("↑"),
         QStringLiteral("Previous keyframe")},
        {Command::NextKeyframe,
         {K(Qt::Key_Down)},
         QStringLiteral("↓"),
         QStringLiteral("Next keyframe")},
        {Command::GoToStart,
         {K(Qt::Key_Home)},
         QStringLiteral("Home"),
         QStringLiteral("Go to beginning")},
        {Command::GoToEnd, {K(Qt::Key_End)}, QStringLiteral("End"), QStringLiteral("Go to end")},
        {Command::SetIn,
         {K(Qt::Key_I)},
         QStringLiteral("I"),
         QStringLiteral("Mark current position as In point")},
        {Command::SetOut,
         {K(Qt::Key_O)},
         QStringLiteral("O"),
         QStringLiteral("Mark current position as Out point")},
        {Command::GoToIn,
         {K(Qt::SHIFT | Qt::Key_I)},
         QStringLiteral("Shift+I"),
         QStringLiteral("Go to In point")},
        {Command::GoToOut,
         {K(Qt::SHIFT | Qt::Key_O)},
         QStringLiteral("Shift+O"),
         QStringLiteral("Go to Out point")},
        {Command::ZoomIn,
         {K(Qt::Key_Plus), K(Qt::Key_Equal)},
         QStringLiteral("+"),
         QStringLiteral("Zoom the timeline in (also Ctrl+wheel)")},
        {Command::ZoomOut,
         {K(Qt::Key_Minus)},
         QStringLiteral("-"),
         QStringLiteral("Zoom the timeline out")},
        {Command::ZoomToFit,
         {K(Qt::Key_0)},
         QStringLiteral("0"),
         QStringLiteral("Show the whole movie on the timeline")},
        {Command::Open,
         {K(QKeySequence::Open)},
         QStringLiteral("Ctrl+O"),
         QStringLiteral("Open a movie")},
        {Command::Export,
         {K(Qt::CTRL | Qt::Key_E)},
         QStringLiteral("Ctrl+E"),
         QStringLiteral("Export the marked range")},
        {Command::CopyCommand,
         {K(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
         QStringLiteral("Ctrl+Shift+C"),
         QStringLiteral("Copy command")},
    };
    return table;
}

const Binding &binding(Command command)
{
    for (const Binding &b : bindings()) {
        if (b.command == command)
            return b;
    }
    Q_UNREACHABLE();
}

QString tooltip(const QString &help, Command command)
{
    return QStringLiteral("%1 (%2)").arg(help, binding(command).keyText);
}

} // namespace KeyboardShortcuts

KeyboardShortcutsWindow::KeyboardShortcutsWindow(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Keyboard Shortcuts"));
    const QList<KeyboardShortcuts::Binding> &table = KeyboardShortcuts::bindings();
    auto *list = new QTableWidget(static_cast<int>(table.size()), 2, this);
    list->setObjectName(QStringLiteral("shortcuts"));
    list->setAccessibleName(windowTitle());
    list->setHorizontalHeaderLabels({tr("Key"), tr("Action")});
    list->verticalHeader()->hide();
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setShowGrid(false);
    list->setAlternatingRowColors(true);
    for (int row = 0; row < table.size(); ++row) {
        auto *key = new QTableWidgetItem(table[row].keyText);
        key->setFont(Theme::font(Theme::TextStyle::Body, true));
        list->setItem(row, 0, key);
        list->setItem(row, 1, new QTableWidgetItem(table[row].description));
    }
    list->setFocusPolicy(Qt::NoFocus);
    list->resizeColumnsToContents();
    list->resizeRowsToContents();
    list->horizontalHeader()->setStretchLastSection(true);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Every key in view at once.
    int height = list->horizontalHeader()->sizeHint().height() + 2 * list->frameWidth();
    for (int row = 0; row < list->rowCount(); ++row)
        height += list->rowHeight(row);
    list->setMinimumSize(list->horizontalHeader()->length() + 2 * list->frameWidth() + 24, height);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(list);
    layout->addWidget(buttons);
}

} // namespace trimora
