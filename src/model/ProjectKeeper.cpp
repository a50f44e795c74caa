#include "model/ProjectKeeper.h"

#include "model/Exports.h"
#include "model/Movie.h"
#include "model/Segments.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace trimora {

namespace {

// Edits come in bursts (a drag); one write after the burst is enough.
constexpr int saveDelayMs = 400;
// A project's movie is the same if its length agrees to the millisecond.
constexpr double sameDuration = 0.0015;
// Larger files are no project or cut list of ours.
constexpr qint64 maxFileSize = 16 * 1024 * 1024;

std::optional<QByteArray> readSmallFile(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    if (file.size() > maxFileSize) {
        *why = QCoreApplication::translate("ProjectKeeper", "the file is too large");
        return std::nullopt;
    }
    return file.read(maxFileSize + 1);
}

bool writeWhole(const QString &path, const QByteArray &bytes, QString *why)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *why = file.errorString();
        return false;
    }
    return true;
}

// Times within rounding of the movie's ends are put on them.
SegmentList clampedTo(SegmentList list, double duration)
{
    for (Segment &segment : list.segments) {
        segment.in = std::clamp(segment.in, 0.0, duration);
        segment.out = std::clamp(segment.out, 0.0, duration);
    }
    return list;
}

} // namespace

ProjectKeeper::ProjectKeeper(Movie &movie, Segments &segments, Exports &exports, QObject *parent)
    : QObject(parent), m_movie(movie), m_segments(segments), m_exports(exports)
{
    connect(&exports, &Exports::choiceChanged, this, &ProjectKeeper::scheduleSave);
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &ProjectKeeper::saveNow);
    connect(&segments, &Segments::segmentsChanged, this, &ProjectKeeper::scheduleSave);
    connect(&segments, &Segments::selectionChanged, this, &ProjectKeeper::scheduleSave);
}

QString ProjectKeeper::autosavePath(const QString &moviePath, qint64 size, double duration)
{
    const QString key = QStringLiteral("%1\n%2\n%3")
                            .arg(QFileInfo(moviePath).absoluteFilePath())
                            .arg(size)
                            .arg(std::llround(duration * 1000));
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/trimora/projects/") + QString::fromLatin1(hash.left(32)) +
           QStringLiteral(".json");
}

Project ProjectKeeper::current() const
{
    const QString path = m_movie.sourceURL().toLocalFile();
    Project project;
    project.movie = {QFileInfo(path).fileName(), QFileInfo(path).absoluteFilePath(),
                     QFileInfo(path).size(), m_movie.videoDuration()};
    project.segments = m_segments.list();
    project.choice = m_exports.choice();
    return project;
}

void ProjectKeeper::scheduleSave()
{
    if (m_movie.isLoaded() && !m_restoring)
        m_saveTimer.start();
}

void ProjectKeeper::saveNow()
{
    m_saveTimer.stop();
    if (!m_movie.isLoaded())
        return;
    const Project project = current();
    QString why;
    // The kept work is a convenience: a folder that cannot be written loses
    // it quietly rather than interrupting every edit.
    writeWhole(autosavePath(project.movie.absolutePath, project.movie.size, project.movie.duration),
               writeProject(project), &why);
}

void ProjectKeeper::flush()
{
    if (m_saveTimer.isActive())
        saveNow();
}

QString ProjectKeeper::whyNotFor(const Project &project) const
{
    const QString path = m_movie.sourceURL().toLocalFile();
    if (project.movie.size != QFileInfo(path).size() ||
        std::abs(project.movie.duration - m_movie.videoDuration()) > sameDuration)
        return tr("it belongs to another movie (%1)")
            .arg(QFileInfo(project.movie.absolutePath.isEmpty() ? project.movie.relativePath
                                                                : project.movie.absolutePath)
                     .fileName());
    return segmentRules::whyInvalid(project.segments, m_movie.videoDuration());
}

void ProjectKeeper::apply(const Project &project)
{
    m_restoring = true;
    m_segments.reset(m_movie.videoDuration(), clampedTo(project.segments, m_movie.videoDuration()));
    m_exports.setChoice(project.choice);
    m_restoring = false;
}

void ProjectKeeper::movieLoaded()
{
    m_saveTimer.stop();
    const QUrl url = m_movie.sourceURL();
    if (m_pending && m_pendingMovie == url) {
        const Project project = *std::exchange(m_pending, std::nullopt);
        if (const QString why = whyNotFor(project); !why.isEmpty())
            Q_EMIT notice(tr("The project was not applied: %1").arg(why));
        else
            apply(project);
        saveNow();
        return;
    }
    m_pending.reset();
    const QString path = url.toLocalFile();
    const QString kept = autosavePath(path, QFileInfo(path).size(), m_movie.videoDuration());
    if (!QFileInfo::exists(kept))
        return;
    QString why;
    const std::optional<QByteArray> text = readSmallFile(kept, &why);
    std::variant<Project, QString> read = text ? readProject(*text) : why;
    if (const Project *project = std::get_if<Project>(&read)) {
        why = whyNotFor(*project);
        if (why.isEmpty()) {
            apply(*project);
            return;
        }
    } else {
        why = std::get<QString>(read);
    }
    Q_EMIT notice(tr("The segments kept for %1 could not be read: %2").arg(url.fileName(), why));
}

bool ProjectKeeper::saveProject(const QString &path)
{
    if (!m_movie.isLoaded())
        return false;
    Project project = current();
    project.movie.relativePath =
        QDir(QFileInfo(path).absolutePath()).relativeFilePath(project.movie.absolutePath);
    QString why;
    if (!writeWhole(path, writeProject(project), &why)) {
        Q_EMIT notice(tr("Could not save the project: %1").arg(why));
        return false;
    }
    return true;
}

bool ProjectKeeper::openProject(const QString &path,
                                const std::function<void(const QUrl &)> &openMovie)
{
    const QString name = QFileInfo(path).fileName();
    QString why;
    const std::optional<QByteArray> text = readSmallFile(path, &why);
    std::variant<Project, QString> read = text ? readProject(*text) : why;
    const Project *project = std::get_if<Project>(&read);
    if (!project) {
        Q_EMIT notice(tr("Could not open the project %1: %2").arg(name, std::get<QString>(read)));
        return false;
    }
    // Beside the project first, where a moved folder keeps both; then where
    // the movie was when the project was written.
    QString moviePath;
    const QString beside =
        QDir(QFileInfo(path).absolutePath()).absoluteFilePath(project->movie.relativePath);
    if (!project->movie.relativePath.isEmpty() && QFileInfo(beside).isFile())
        moviePath = beside;
    else if (QFileInfo(project->movie.absolutePath).isFile())
        moviePath = project->movie.absolutePath;
    if (moviePath.isEmpty()) {
        Q_EMIT notice(tr("Could not open the project %1: its movie %2 is not found")
                          .arg(name, QFileInfo(project->movie.absolutePath).fileName()));
        return false;
    }
    const QUrl url = QUrl::fromLocalFile(QFileInfo(moviePath).absoluteFilePath());
    m_pending = *project;
    m_pendingMovie = url;
    if (m_movie.isLoaded() && m_movie.sourceURL() == url)
        movieLoaded();
    else
        openMovie(url);
    return true;
}

bool ProjectKeeper::exportCutList(const QString &path)
{
    QString why;
    if (!writeWhole(path, writeCutList(m_segments.list()), &why)) {
        Q_EMIT notice(tr("Could not export the cut list: %1").arg(why));
        return false;
    }
    return true;
}

bool ProjectKeeper::importCutList(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    QString why;
    const std::optional<QByteArray> text = readSmallFile(path, &why);
    std::variant<SegmentList, QString> read = text ? readCutList(*text) : why;
    if (const SegmentList *list = std::get_if<SegmentList>(&read)) {
        const SegmentList clamped = clampedTo(*list, m_movie.videoDuration());
        why = segmentRules::whyInvalid(*list, m_movie.videoDuration());
        if (why.isEmpty() && m_segments.replace(clamped, tr("Import Cut List")))
            return true;
        if (why.isEmpty())
            return true; // the same list as now
    } else {
        why = std::get<QString>(read);
    }
    Q_EMIT notice(tr("Could not import the cut list %1: %2").arg(name, why));
    return false;
}

} // namespace trimora
