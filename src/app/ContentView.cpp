#include "app/ContentView.h"

#include "app/DropZoneView.h"
#include "model/VideoEditorViewModel.h"
#include "views/EditorView.h"

#include <QFileDialog>
#include <QMimeDatabase>
#include <QPointer>
#include <QStackedLayout>

ContentView::ContentView(QWidget *parent)
    : QWidget(parent), m_viewModel(std::make_unique<VideoEditorViewModel>()),
      m_stack(new QStackedLayout(this)), m_dropZone(new DropZoneView(this))
{
    setMinimumSize(640, 480);
    m_stack->addWidget(m_dropZone);
    connect(m_dropZone, &DropZoneView::openRequested, this, [this] { setShowFileImporter(true); });
    connect(m_dropZone, &DropZoneView::urlDropped, this, [this](const QUrl &url) {
        // The drop is accepted at once; the load follows from the event loop.
        QMetaObject::invokeMethod(
            this,
            [model = QPointer<VideoEditorViewModel>(m_viewModel.get()), url] {
                if (model)
                    model->loadVideo(url);
            },
            Qt::QueuedConnection);
    });
    connect(m_viewModel.get(), &VideoEditorViewModel::isLoadedChanged, this,
            &ContentView::showEditorIfLoaded);
}

ContentView::~ContentView()
{
    // The editor's video surface must let go of the player before the model,
    // which owns the player, is torn down.
    delete m_editor;
    m_editor = nullptr;
    m_viewModel.reset();
}

void ContentView::showEditorIfLoaded()
{
    if (!m_viewModel->isLoaded() || m_editor)
        return;
    m_editor = new EditorView(
        m_viewModel.get(), [this](bool show) { setShowFileImporter(show); }, this);
    m_stack->addWidget(m_editor);
    m_stack->setCurrentWidget(m_editor);
}

QStringList ContentView::movieNameFilters()
{
    QStringList patterns;
    const QList<QMimeType> types = QMimeDatabase().allMimeTypes();
    for (const QMimeType &type : types) {
        if (type.name().startsWith(QLatin1String("video/")))
            patterns += type.globPatterns();
    }
    patterns.removeDuplicates();
    patterns.sort();
    return {tr("Movies (%1)").arg(patterns.join(QLatin1Char(' ')))};
}

void ContentView::setShowFileImporter(bool show)
{
    if (show == m_showFileImporter)
        return;
    m_showFileImporter = show;
    if (!show) {
        if (m_fileDialog)
            m_fileDialog->close();
        return;
    }
    m_fileDialog = new QFileDialog(this);
    m_fileDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_fileDialog->setFileMode(QFileDialog::ExistingFile);
    m_fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
    m_fileDialog->setNameFilters(movieNameFilters());
    connect(m_fileDialog, &QFileDialog::fileSelected, this,
            [this](const QString &path) { openChosenFile(QUrl::fromLocalFile(path)); });
    connect(m_fileDialog, &QObject::destroyed, this, [this] {
        m_fileDialog = nullptr;
        m_showFileImporter = false;
    });
    connect(m_fileDialog, &QDialog::finished, this, [this] { m_showFileImporter = false; });
    m_fileDialog->open();
}

void ContentView::openChosenFile(const QUrl &url)
{
    if (url.isLocalFile())
        m_viewModel->loadVideo(url);
}
