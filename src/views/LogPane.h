#pragma once

#include <QPlainTextEdit>

class VideoEditorViewModel;

// The export's console output, following the model's log by appending each
// chunk (a long export prints thousands) and keeping its end in view.
class LogPane : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit LogPane(VideoEditorViewModel *viewModel, QWidget *parent = nullptr);

private:
    void append(const QString &chunk);
    void reset();
    void scrollToEnd();

    VideoEditorViewModel *m_viewModel;
};
