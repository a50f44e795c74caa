#pragma once

#include "model/ProjectFile.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <optional>

namespace trimora {

class Exports;
class Movie;
class Segments;

// Keeps the work on a movie: its segments, labels and export choice are
// saved on their own (in the user's data folder, keyed by the movie's
// absolute path, size and length) and put back when the same movie is opened
// again; a project file the user keeps beside the movie does the same by
// hand, as does a CSV cut list. Files are small and written whole or not at
// all. Main thread only.
class ProjectKeeper : public QObject
{
    Q_OBJECT
public:
    ProjectKeeper(Movie &movie, Segments &segments, Exports &exports, QObject *parent = nullptr);

    // Where the work on a movie is kept between runs.
    static QString autosavePath(const QString &moviePath, qint64 size, double duration);

    // The movie has loaded: its kept work comes back, or a project that asked
    // for it (openProject) is applied.
    void movieLoaded();
    // Writes the work now rather than after the usual short delay.
    void saveNow();
    // Writes changes still waiting for the delay.
    void flush();

    // Save Project / Open Project. Opening loads the project's movie through
    // openMovie and applies the project once it has loaded. False, with a
    // notice, when it cannot be done.
    bool saveProject(const QString &path);
    bool openProject(const QString &path, const std::function<void(const QUrl &)> &openMovie);
    bool exportCutList(const QString &path);
    // One undo step.
    bool importCutList(const QString &path);

Q_SIGNALS:
    void notice(const QString &message);

private:
    Project current() const;
    // Why the project cannot be the loaded movie's, or empty.
    QString whyNotFor(const Project &project) const;
    void apply(const Project &project);
    void scheduleSave();

    Movie &m_movie;
    Segments &m_segments;
    Exports &m_exports;
    QTimer m_saveTimer;
    bool m_restoring = false;
    // A project waiting for its movie to load.
    std::optional<Project> m_pending;
    QUrl m_pendingMovie;
};

} // namespace trimora
