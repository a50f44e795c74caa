#pragma once

#include "core/MainThread.h"
#include "export/ExportPlan.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

namespace trimora {

class ExportJob;
class Movie;
class Segments;
struct Segment;
struct ExportResult;
struct FileResult;

// The export: where it goes, how the segments are written (one file each, or
// one joined file, or everything but them), the job under way with its
// progress and its live log, and the command that does the same in a
// terminal. Main thread only.
class Exports : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(QString logOutput READ logOutput WRITE setLogOutput NOTIFY logOutputChanged)
    Q_PROPERTY(QString outputPath READ outputPath WRITE setOutputPath NOTIFY outputPathChanged)
    Q_PROPERTY(QString commandPreview READ commandPreview NOTIFY commandPreviewChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)

public:
    Exports(Movie &movie, const Segments &segments, QObject *parent = nullptr);
    ~Exports() override;

    bool isProcessing() const { return m_isProcessing; }
    QString logOutput() const { return m_logOutput; }
    QString outputPath() const { return m_outputPath; }
    // Of the export under way: 0 to 1.
    double progress() const { return m_progress; }
    ExportChoice choice() const { return m_choice; }

    void setLogOutput(const QString &value);
    // In-place append: always notifies, and costs the size of the chunk.
    void appendLog(const QString &chunk);
    void setOutputPath(const QString &value);
    void setChoice(const ExportChoice &choice);

    // The command, or the script of commands, that a terminal would run for
    // the next export, with the names it would write now; empty when there is
    // nothing to export.
    QString commandPreview() const;
    // What a copy cut of segment index will really hold, in the log's words
    // ("Starts at the keyframe at …, … s before In"), or "exact"; for an
    // exact export, what is re-encoded or why it cannot be.
    QString copyNote(int index) const;

    void exportCut();
    // Stops the export under way; what it had finished and checked stays.
    void cancelExport();

    // On a new movie: its default name, unless the user chose the path.
    void adoptDefaultOutputPath(const QUrl &sourceURL);
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
    void progressChanged();
    void choiceChanged();

private:
    ExportRequest request() const;
    // Whether the export is written in-process, from the movie's packets.
    bool needsPackets() const;
    void askForPackets();
    QString cutAwayNote(const Segment &segment) const;
    QString exactNote(const Segment &segment) const;
    ExportPlan planFor(const ExportRequest &request) const;
    QStringList locations() const;
    // Runs to its end whether or not the window is still there.
    static void start(const MainThreadRef<Exports> &self, ExportPlan plan,
                      const QStringList &locations);
    void finish(const ExportResult &result);
    void setProcessing(bool value);
    void setProgress(double value);

    Movie &m_movie;
    const Segments &m_segments;
    ExportChoice m_choice;
    bool m_isProcessing = false;
    double m_progress = 0.0;
    QString m_logOutput;
    QString m_outputPath;
    // The last default output path set, to tell it from a path the user chose.
    QString m_defaultOutputPath;
    std::shared_ptr<ExportJob> m_job;
    // A refusal shown for marks that may yet change: gone once they do.
    QString m_refusalShown;
};

} // namespace trimora
