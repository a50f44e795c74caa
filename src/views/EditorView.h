#pragma once

#include <QLabel>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QVBoxLayout;

namespace trimora {

class CommandRow;
class OutputRow;
class PlainButton;
class PlayerView;
class SegmentListView;
class SoundOverviewView;
class TimeField;
class TimelineView;
class VideoEditorViewModel;
class WaveformView;

// The window's content once a movie is loaded: the video on top, then one
// column of controls that read the model and call its operations. Texts are
// refreshed from the model's change signals; every control makes one call.
// The keys of KeyboardShortcuts act while this window is the active one, and
// not while a text field has the focus: there they are the field's.
class EditorView : public QWidget
{
    Q_OBJECT
public:
    // setShowFileImporter is the root view's open-dialog flag.
    EditorView(VideoEditorViewModel *viewModel, std::function<void(bool)> setShowFileImporter,
               QWidget *parent = nullptr);

    PlayerView *playerView() const { return m_playerView; }
    SegmentListView *segmentList() const { return m_segmentList; }
    TimelineView *timeline() const { return m_timeline; }
    SoundOverviewView *soundOverview() const { return m_soundOverview; }
    WaveformView *waveform() const { return m_waveform; }
    PlainButton *playPauseButton() const { return m_playPause; }
    // Click the current time, In or Out to type a time there.
    TimeField *currentTimeField() const { return m_currentTime; }
    TimeField *inField() const { return m_in; }
    TimeField *outField() const { return m_out; }
    QLabel *currentTimeLabel() const;
    QLabel *lengthLabel() const { return m_lengthLabel; }
    QLabel *inLabel() const;
    QLabel *selectionLabel() const { return m_selectionLabel; }
    QLabel *outLabel() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void syncPlayer();
    QWidget *buildVideoArea(QWidget *parent);
    void bindKeys();
    QWidget *buildTimeRow();
    QWidget *buildMarksInfoRow();
    QWidget *buildTransportRow();
    QWidget *buildMarksRow();
    void updateTimes();
    void updateMarks();
    void updatePlayPause();
    // Applies a typed time to the movie; the hint when it is not one.
    QString typedTime(const QString &text, const std::function<void(double)> &apply) const;

    VideoEditorViewModel *m_viewModel;
    std::function<void(bool)> m_setShowFileImporter;
    QVBoxLayout *m_layout;
    QWidget *m_videoArea = nullptr;
    PlayerView *m_playerView = nullptr;
    QWidget *m_controlsSide = nullptr;
    SegmentListView *m_segmentList = nullptr;

    TimeField *m_currentTime = nullptr;
    QLabel *m_lengthLabel = nullptr;
    TimelineView *m_timeline = nullptr;
    SoundOverviewView *m_soundOverview = nullptr;
    TimeField *m_in = nullptr;
    QLabel *m_selectionLabel = nullptr;
    TimeField *m_out = nullptr;
    WaveformView *m_waveform = nullptr;
    PlainButton *m_playPause = nullptr;
    OutputRow *m_outputRow = nullptr;
    CommandRow *m_commandRow = nullptr;
};

} // namespace trimora
