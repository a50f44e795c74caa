#include "app/ContentView.h"

#include "app/DropZoneView.h"
#include "model/VideoEditorViewModel.h"
#include "views/EditorView.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeDatabase>
#include <QOpenGLWidget>
#include <QPointer>
#include <QStackedLayout>
#include <QTimer>

namespace trimora {

namespace {

constexpr int noticeMilliseconds = 5000;

} // namespace

ContentView::ContentView(QWidget *parent)
    : QWidget(parent), m_viewModel(std::make_unique<VideoEditorViewModel>()),
      m_stack(new QStackedLayout(this)), m_dropZone(new DropZoneView(this)),
      m_notice(new QLabel(this)), m_noticeTimer(new QTimer(this))
{
    setMinimumSize(640, 480);
    // The video surface draws through OpenGL, and Qt settles how a window
    // draws when it makes the native window: a surface appearing on the first
    // load would make it destroy and re-create the window (a new window, moved
    // to the corner). An idle OpenGL widget from the start settles it at once.
    (new QOpenGLWidget(this))->hide();

    m_stack->addWidget(m_dropZone);
    connect(m_dropZone, &DropZoneView::openRequested, this, [this] { setShowFileImporter(true); });
    connect(m_dropZone, &DropZoneView::urlDropped, this, [this](const QUrl &url) {
        // The drop is accepted at once; the load follows from the event loop.
        QMetaObject::invokeMethod(
            this,
            [self = QPointer<ContentView>(this), url] {
                if (self)
                    self->openChosenFile(url);
            },
            Qt::QueuedConnection);
    });
    connect(m_viewModel.get(), &VideoEditorViewModel::isLoadedChanged, this,
            &ContentView::showEditorIfLoaded);

    // One transient line over the bottom of the window, whichever view shows.
    m_notice->setObjectName(QStringLiteral("notice"));
    m_notice->setStyleSheet(
        QStringLiteral("QLabel#notice { background-color: rgba(0, 0, 0, 210);"
                       " color: white; border-radius: 6px; padding: 6px 12px; }"));
    m_notice->hide();
    m_noticeTimer->setSingleShot(true);
    m_noticeTimer->setInterval(noticeMilliseconds);
    connect(m_noticeTimer, &QTimer::timeout, m_notice, &QWidget::hide);
    connect(m_viewModel.get(), &VideoEditorViewModel::loadFailed, this, &ContentView::showNotice);
    connect(m_viewModel.get(), &VideoEditorViewModel::notice, this, &ContentView::showNotice);
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
    if (!m_lastFolder.isEmpty())
        m_fileDialog->setDirectory(m_lastFolder);
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
    if (!url.isLocalFile())
        return;
    m_lastFolder = QFileInfo(url.toLocalFile()).absolutePath();
    m_viewModel->loadVideo(url);
}

void ContentView::showNotice(const QString &text)
{
    m_notice->setText(text);
    m_notice->adjustSize();
    placeNotice();
    m_notice->show();
    m_notice->raise();
    m_noticeTimer->start();
}

void ContentView::placeNotice()
{
    const int width = std::min(m_notice->sizeHint().width(), this->width() - 24);
    m_notice->resize(width, m_notice->sizeHint().height());
    m_notice->move((this->width() - width) / 2, height() - m_notice->height() - 24);
}

void ContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeNotice();
}

} // namespace trimora
