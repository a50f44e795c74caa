#pragma once

#include <QWidget>

class VideoEditorViewModel;

// Placeholder: filled in by the feature that owns this row.
class CommandRow : public QWidget
{
    Q_OBJECT
public:
    explicit CommandRow(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

private:
    VideoEditorViewModel *m_viewModel;
};
