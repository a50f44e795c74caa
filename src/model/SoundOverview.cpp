#include "model/SoundOverview.h"

#include "analysis/SoundLevels.h"
#include "core/MainThread.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace trimora {

SoundOverview::SoundOverview(QObject *parent) : QObject(parent)
{}

SoundOverview::~SoundOverview()
{
    if (m_task)
        m_task->cancel();
}

void SoundOverview::start(const QUrl &url, double duration)
{
    if (m_task)
        m_task->cancel();
    m_task.reset();
    m_levels.clear();
    m_secondsPerValue = 0.0;
    if (!(duration > 0) || !std::isfinite(duration) || url.isEmpty()) {
        Q_EMIT levelsChanged();
        return;
    }
    const int bucket = soundlevels::samplesPerValue(duration);
    m_secondsPerValue = static_cast<double>(bucket) / soundlevels::readRate;
    m_levels.fill(-1.0f, static_cast<qsizetype>(std::ceil(duration / m_secondsPerValue)));

    // One read: a two-hour movie's sound decodes in seconds, and a second
    // reader would hold a second copy of a long MP4's index.
    const TaskHandle task = makeTask();
    m_task = task;
    const std::string path = QFile::encodeName(url.toLocalFile()).toStdString();
    runInBackgroundQuietly(
        [self = MainThreadRef<SoundOverview>(this), task, path, duration, bucket] {
            const bool read = readSoundLevels(
                path, 0.0, duration, bucket,
                [&](std::size_t first, std::vector<float> values) {
                    postToMainThread([self, task, first, values = std::move(values)] {
                        if (SoundOverview *overview = self.get())
                            overview->receive(task, first, values);
                    });
                },
                [&task] { return task->isCancelled(); });
            postToMainThread([self, task, read] {
                if (SoundOverview *overview = self.get())
                    overview->finish(task, read);
            });
        });
    Q_EMIT levelsChanged();
}

void SoundOverview::receive(const TaskHandle &task, std::size_t first,
                            const std::vector<float> &values)
{
    if (task != m_task)
        return; // a read of the movie before
    const auto size = static_cast<std::size_t>(m_levels.size());
    for (std::size_t i = 0; i < values.size() && first + i < size; ++i)
        m_levels[static_cast<qsizetype>(first + i)] = values[i];
    Q_EMIT levelsChanged();
}

void SoundOverview::finish(const TaskHandle &task, bool read)
{
    if (task != m_task)
        return;
    m_task.reset();
    // Without any sound read, the movie has none to show.
    if (!read && std::none_of(m_levels.begin(), m_levels.end(), [](float v) { return v >= 0; }))
        m_levels.clear();
    Q_EMIT levelsChanged();
}

} // namespace trimora
