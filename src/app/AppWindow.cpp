#include "app/AppWindow.h"

#include "app/ContentView.h"
#include "app/TrimoraApp.h"
#include "model/Movie.h"
#include "model/ProjectKeeper.h"
#include "model/Segments.h"
#include "model/VideoEditorViewModel.h"
#include "views/KeyboardShortcuts.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenuBar>
#include <QUndoStack>

namespace trimora {

namespace {

QString projectFilter()
{
    return QCoreApplication::translate("AppWindow", "Trimora projects (*.trimora)");
}

QString cutListFilter()
{
    return QCoreApplication::translate("AppWindow", "Cut lists (*.csv)");
}

// The movie's own name with another extension, in its folder.
QString besideMovie(const VideoEditorViewModel &model, const QString &extension)
{
    const QFileInfo movie(model.movie()->sourceURL().toLocalFile());
    return movie.absoluteDir().filePath(movie.completeBaseName() + extension);
}

} // namespace

AppWindow::AppWindow(TrimoraApp &app) : m_content(new ContentView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setCentralWidget(m_content);
    resize(960, 720);

    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *open = file->addAction(tr("Open…"));
    open->setShortcuts(KeyboardShortcuts::binding(KeyboardShortcuts::Command::Open).keys);
    connect(open, &QAction::triggered, m_content, [this] { m_content->setShowFileImporter(true); });
    file->addSeparator();
    VideoEditorViewModel *model = m_content->viewModel();
    ProjectKeeper *project = model->project();
    QAction *openProject = file->addAction(tr("Open Project…"));
    connect(openProject, &QAction::triggered, this, [this, project] {
        askForFile(tr("Open Project"), projectFilter(), QFileDialog::AcceptOpen, {},
                   [this, project](const QString &path) {
                       project->openProject(
                           path, [this](const QUrl &url) { m_content->openChosenFile(url); });
                   });
    });
    QAction *saveProject = file->addAction(tr("Save Project…"));
    connect(saveProject, &QAction::triggered, this, [this, model, project] {
        askForFile(tr("Save Project"), projectFilter(), QFileDialog::AcceptSave,
                   besideMovie(*model, QStringLiteral(".trimora")),
                   [project](const QString &path) { project->saveProject(path); });
    });
    QAction *importList = file->addAction(tr("Import Cut List…"));
    connect(importList, &QAction::triggered, this, [this, project] {
        askForFile(tr("Import Cut List"), cutListFilter(), QFileDialog::AcceptOpen, {},
                   [project](const QString &path) { project->importCutList(path); });
    });
    QAction *exportList = file->addAction(tr("Export Cut List…"));
    connect(exportList, &QAction::triggered, this, [this, model, project] {
        askForFile(tr("Export Cut List"), cutListFilter(), QFileDialog::AcceptSave,
                   besideMovie(*model, QStringLiteral(".csv")),
                   [project](const QString &path) { project->exportCutList(path); });
    });
    // What needs a movie waits for one.
    const auto needMovie = [=] {
        const bool loaded = model->movie()->isLoaded();
        for (QAction *action : {saveProject, importList, exportList})
            action->setEnabled(loaded);
    };
    connect(model->movie(), &Movie::isLoadedChanged, this, needMovie);
    needMovie();
    file->addSeparator();
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

void AppWindow::askForFile(const QString &title, const QString &filter,
                           QFileDialog::AcceptMode mode, const QString &proposed,
                           std::function<void(const QString &)> chosen)
{
    auto *dialog = new QFileDialog(this, title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                        : QFileDialog::AnyFile);
    dialog->setNameFilter(filter);
    if (!proposed.isEmpty()) {
        dialog->setDirectory(QFileInfo(proposed).absolutePath());
        dialog->selectFile(QFileInfo(proposed).fileName());
    }
    connect(dialog, &QFileDialog::fileSelected, this, std::move(chosen));
    dialog->open();
}

} // namespace trimora
