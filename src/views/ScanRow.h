#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace trimora {

class VideoEditorViewModel;

// Starts and reports the black/white frame scan and walks its markers: a
// progress bar with percentage and Cancel while scanning; otherwise the Scan
// button, then "Not Found" or the marker count with Prev/Next.
class ScanRow : public QWidget
{
    Q_OBJECT
public:
    explicit ScanRow(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

private:
    void refresh();

    VideoEditorViewModel *m_viewModel;
    QProgressBar *m_progress;
    QLabel *m_percent;
    QPushButton *m_cancel;
    QPushButton *m_scan;
    QLabel *m_notFound;
    QLabel *m_count;
    QPushButton *m_previous;
    QPushButton *m_next;
};

} // namespace trimora
