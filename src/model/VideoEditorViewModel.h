#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace trimora {

class Analysis;
class Movie;
class ProjectKeeper;
class Segments;
class Transport;
struct CutPlan;
struct MediaTiming;

// A window's editor: the parts the window binds to, composed. The movie
// (file, timing, frames), the transport (player and playhead), the segments
// (with their undo history), the analysis aids and the export; each owns its
// state and its workers, and this object only wires them together and offers
// the operations that need more than one of them. Main thread only.
class VideoEditorViewModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isProcessing READ isProcessing WRITE setIsProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(QString logOutput READ logOutput WRITE setLogOutput NOTIFY logOutputChanged)
    Q_PROPERTY(QString outputPath READ outputPath WRITE setOutputPath NOTIFY outputPathChanged)
    Q_PROPERTY(QString commandPreview READ commandPreview NOTIFY commandPreviewChanged)

public:
    explicit VideoEditorViewModel(QObject *parent = nullptr);
    ~VideoEditorViewModel() override;

    Movie *movie() const { return m_movie; }
    Transport *transport() const { return m_transport; }
    Segments *segments() const { return m_segments; }
    Analysis *analysis() const { return m_analysis; }
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

    // --- export -------------------------------------------------------------
    bool isProcessing() const { return m_isProcessing; }
    QString logOutput() const { return m_logOutput; }
    QString outputPath() const { return m_outputPath; }
    void setIsProcessing(bool value);
    void setLogOutput(const QString &value);
    void setOutputPath(const QString &value);
    // In-place append: always notifies, and costs the size of the chunk.
    void appendLog(const QString &chunk);
    QString commandPreview() const;
    // What a copy cut of segment index will really hold, in the log's words
    // ("Starts at the keyframe at …, … s before In"), or "exact".
    QString copyNote(int index) const;
    void exportCut();
    void finishExport(const QUrl &outputURL, const QString &result);
    void updateDefaultOutputPath(const QUrl &sourceURL);
    // Test seam: the places to look for the tool instead of the search path's
    // (never configuration).
    std::optional<QStringList> ffmpegLocationsForTesting;

Q_SIGNALS:
    void isProcessingChanged();
    void logOutputChanged();
    // Finer-grained companions of logOutputChanged: a view can follow the log
    // by appending chunks instead of re-reading the whole text.
    void logOutputReset();
    void logOutputAppended(const QString &chunk);
    void outputPathChanged();
    void commandPreviewChanged();
    // Something asked for could not be done, or a file could not be opened;
    // nothing else changed. For a transient notice.
    void notice(const QString &message);

private:
    void finishLoading(const QUrl &url, const MediaTiming &timing);
    // On a new load: the new movie's default, unless the user chose the path.
    void adoptDefaultOutputPath(const QUrl &sourceURL);
    CutPlan planCutFor(double in, double out, const QString &outputPath) const;

    Movie *m_movie;
    Transport *m_transport;
    Segments *m_segments;
    Analysis *m_analysis;
    ProjectKeeper *m_project;

    bool m_isProcessing = false;
    QString m_logOutput;
    QString m_outputPath;
    // The last default output path set, to tell it from a path the user chose.
    QString m_defaultOutputPath;
};

} // namespace trimora
