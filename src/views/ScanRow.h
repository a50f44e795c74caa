#pragma once

#include <QWidget>

class VideoEditorViewModel;

// Placeholder: filled in by the feature that owns this row.
class ScanRow : public QWidget
{
    Q_OBJECT
public:
    explicit ScanRow(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

private:
    VideoEditorViewModel *m_viewModel;
};
