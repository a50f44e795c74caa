#pragma once

#include <QPointer>
#include <QWidget>

class QFileDialog;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace trimora {

class VideoEditorViewModel;

// "Output:", the output path field, "Browse…" (a save dialog whose choice
// becomes the output path) and the Export button, which shows a small busy
// indicator while an export runs.
class OutputRow : public QWidget
{
    Q_OBJECT
public:
    explicit OutputRow(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

    QLineEdit *pathField() const { return m_pathField; }
    QPushButton *browseButton() const { return m_browseButton; }
    QPushButton *exportButton() const { return m_exportButton; }
    QProgressBar *busyIndicator() const { return m_busyIndicator; }
    // The open save dialog, if any.
    QFileDialog *saveDialog() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void browse();
    void syncPath();
    void syncExportButton();

    VideoEditorViewModel *m_viewModel;
    QLineEdit *m_pathField;
    QPushButton *m_browseButton;
    QPushButton *m_exportButton;
    QProgressBar *m_busyIndicator;
    QPointer<QFileDialog> m_saveDialog;
};

} // namespace trimora
