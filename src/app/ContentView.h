#pragma once

#include <QWidget>

#include <memory>

class QFileDialog;
class QLabel;
class QStackedLayout;
class QTimer;

namespace trimora {

class DropZoneView;
class EditorView;
class VideoEditorViewModel;

// A window's root: owns the window's model and shows the drop zone until a
// movie has loaded, the editor from then on. The only place that opens the
// open dialog and accepts dropped files.
class ContentView : public QWidget
{
    Q_OBJECT
public:
    explicit ContentView(QWidget *parent = nullptr);
    ~ContentView() override;

    VideoEditorViewModel *viewModel() const { return m_viewModel.get(); }
    DropZoneView *dropZone() const { return m_dropZone; }
    EditorView *editor() const { return m_editor; }

    bool showFileImporter() const { return m_showFileImporter; }
    // True presents the open dialog; it returns to false when the dialog closes.
    void setShowFileImporter(bool show);
    QFileDialog *fileDialog() const { return m_fileDialog; }

    // Movie types offered by the open dialog: every MIME type under video/.
    static QStringList movieNameFilters();

    // A file chosen in the open dialog, or named on the command line.
    void openChosenFile(const QUrl &url);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showEditorIfLoaded();
    void showNotice(const QString &text);
    void placeNotice();

    std::unique_ptr<VideoEditorViewModel> m_viewModel;
    bool m_showFileImporter = false;
    QStackedLayout *m_stack;
    DropZoneView *m_dropZone;
    EditorView *m_editor = nullptr;
    QFileDialog *m_fileDialog = nullptr;
    // Where the open dialog starts: the folder of the last file this window
    // was asked to open, in this run only.
    QString m_lastFolder;
    QLabel *m_notice;
    QTimer *m_noticeTimer;
};

} // namespace trimora
