#pragma once

#include <QWidget>

#include <functional>

class PlayerView;
class QVBoxLayout;
class VideoEditorViewModel;

// The window's content once a movie is loaded: the video on top, then one
// column of controls that read the model and call its operations.
class EditorView : public QWidget
{
    Q_OBJECT
public:
    // setShowFileImporter is the root view's open-dialog flag.
    EditorView(VideoEditorViewModel *viewModel, std::function<void(bool)> setShowFileImporter,
               QWidget *parent = nullptr);

    PlayerView *playerView() const { return m_playerView; }

private:
    void syncPlayer();

    VideoEditorViewModel *m_viewModel;
    std::function<void(bool)> m_setShowFileImporter;
    QVBoxLayout *m_layout;
    QWidget *m_videoArea = nullptr;
    PlayerView *m_playerView = nullptr;
};
