#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace trimora {

class Analysis;
class Exports;
class Movie;
class ProjectKeeper;
class Segments;
class Transport;
struct MediaTiming;

// A window's editor: the parts the window binds to, composed. The movie
// (file, timing, frames), the transport (player and playhead), the segments
// (with their undo history), the analysis aids and the export; each owns its
// state and its workers, and this object only wires them together and offers
// the operations that need more than one of them. Main thread only.
class VideoEditorViewModel : public QObject
{
    Q_OBJECT

public:
    explicit VideoEditorViewModel(QObject *parent = nullptr);
    ~VideoEditorViewModel() override;

    Movie *movie() const { return m_movie; }
    Transport *transport() const { return m_transport; }
    Segments *segments() const { return m_segments; }
    Analysis *analysis() const { return m_analysis; }
    Exports *exports() const { return m_exports; }
    ProjectKeeper *project() const { return m_project; }

    // Nothing changes until the file is known to be a movie: a file that is
    // not one leaves the window wholly on the movie it shows.
    void loadVideo(const QUrl &url);

    // The selected segment's In or Out at the frame on show, once the steps
    // under way have landed.
    void setInPoint();
    void setOutPoint();
    // Segment edits at the playhead.
    void splitSegment();
    void addSegment();
    void goToPreviousMarker();
    void goToNextMarker();

Q_SIGNALS:
    // Something asked for could not be done, or a file could not be opened;
    // nothing else changed. For a transient notice.
    void notice(const QString &message);

private:
    void finishLoading(const QUrl &url, const MediaTiming &timing);

    Movie *m_movie;
    Transport *m_transport;
    Segments *m_segments;
    Analysis *m_analysis;
    Exports *m_exports;
    ProjectKeeper *m_project;
};

} // namespace trimora
