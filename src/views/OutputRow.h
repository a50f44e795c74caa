#pragma once

#include <QWidget>

class VideoEditorViewModel;

// Placeholder: filled in by the feature that owns this row.
class OutputRow : public QWidget
{
    Q_OBJECT
public:
    explicit OutputRow(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

private:
    VideoEditorViewModel *m_viewModel;
};
