#include "app/AppWindow.h"

#include "app/ContentView.h"
#include "app/TrimoraApp.h"
#include "model/Segments.h"
#include "model/VideoEditorViewModel.h"
#include "views/KeyboardShortcuts.h"

#include <QAction>
#include <QKeySequence>
#include <QMenuBar>
#include <QUndoStack>

namespace trimora {

AppWindow::AppWindow(TrimoraApp &app) : m_content(new ContentView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setCentralWidget(m_content);
    resize(960, 720);

    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *open = file->addAction(tr("Open…"));
    open->setShortcuts(KeyboardShortcuts::binding(KeyboardShortcuts::Command::Open).keys);
    connect(open, &QAction::triggered, m_content, [this] { m_content->setShowFileImporter(true); });
    QAction *newWindow = file->addAction(tr("New Window"));
    newWindow->setShortcut(QKeySequence::New);
    connect(newWindow, &QAction::triggered, &app, [&app] { app.openWindow(); });
    QAction *close = file->addAction(tr("Close Window"));
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);
    file->addSeparator();
    QAction *quit = file->addAction(tr("Quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, &app, &TrimoraApp::closeAllWindows);

    // Undo and redo of marks and segments; a text field with the focus keeps
    // its own (the editor hands it these keys).
    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    QUndoStack *history = m_content->viewModel()->segments()->undoStack();
    QAction *undo = history->createUndoAction(this, tr("Undo"));
    undo->setShortcuts(KeyboardShortcuts::binding(KeyboardShortcuts::Command::Undo).keys);
    edit->addAction(undo);
    QAction *redo = history->createRedoAction(this, tr("Redo"));
    redo->setShortcuts(KeyboardShortcuts::binding(KeyboardShortcuts::Command::Redo).keys);
    edit->addAction(redo);

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    QAction *keys = help->addAction(tr("Keyboard Shortcuts"));
    connect(keys, &QAction::triggered, this, [this] {
        if (!m_shortcutsWindow)
            m_shortcutsWindow = new KeyboardShortcutsWindow(this);
        m_shortcutsWindow->show();
        m_shortcutsWindow->raise();
        m_shortcutsWindow->activateWindow();
    });
}

} // namespace trimora
