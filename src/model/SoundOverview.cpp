#include "model/SoundOverview.h"

#include "analysis/SoundLevels.h"
#include "core/MainThread.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace trimora {

namespace {

// From this length on, the two halves are read at once: decoding is most of
// the work, and one decoder keeps one core busy.
constexpr double kSplitFrom = 600.0;

} // namespace

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
    const TaskHandle task = makeTask();
    m_task = task;
    m_levels.clear();
    m_secondsPerValue = 0.0;
    m_running = 0;
    if (!(duration > 0) || !std::isfinite(duration)) {
        Q_EMIT levelsChanged();
        return;
    }
    const int bucket = soundlevels::samplesPerValue(duration);
    m_secondsPerValue = static_cast<double>(bucket) / soundlevels::readRate;
    const auto count = static_cast<qsizetype>(std::ceil(duration / m_secondsPerValue));
    m_levels.fill(-1.0f, count);

    const std::string path = QFile::encodeName(url.toLocalFile()).toStdString();
    const qsizetype middle = duration >= kSplitFrom ? count / 2 : count;
    for (const auto &[first, end] : {std::pair{qsizetype(0), middle}, std::pair{middle, count}}) {
        if (first >= end)
            continue;
        ++m_running;
        const double from = static_cast<double>(first) * m_secondsPerValue;
        const double to = static_cast<double>(end) * m_secondsPerValue;
        runInBackground([self = MainThreadRef<SoundOverview>(this), task, path, from, to, bucket,
                         offset = static_cast<std::size_t>(first),
                         limit = static_cast<std::size_t>(end)] {
            const bool read = readSoundLevels(
                path, from, to, bucket,
                [&](std::size_t at, std::vector<float> values) {
                    postToMainThread(
                        [self, task, first = offset + at, limit, values = std::move(values)] {
                            if (SoundOverview *overview = self.get())
                                overview->receive(task, first, limit, values);
                        });
                },
                [&task] { return task->isCancelled(); });
            postToMainThread([self, task, read] {
                if (SoundOverview *overview = self.get())
                    overview->partEnded(task, read);
            });
        });
    }
    Q_EMIT levelsChanged();
}

void SoundOverview::receive(const TaskHandle &task, std::size_t first, std::size_t limit,
                            const std::vector<float> &values)
{
    if (task != m_task)
        return; // a read of the movie before
    // A half's last value may spill over into the next half by a sample.
    const std::size_t end = std::min(limit, static_cast<std::size_t>(m_levels.size()));
    for (std::size_t i = 0; i < values.size() && first + i < end; ++i)
        m_levels[static_cast<qsizetype>(first + i)] = values[i];
    Q_EMIT levelsChanged();
}

void SoundOverview::partEnded(const TaskHandle &task, bool read)
{
    if (task != m_task)
        return;
    --m_running;
    // Without any sound read, the movie has none to show.
    if (!read && std::none_of(m_levels.begin(), m_levels.end(), [](float v) { return v >= 0; })) {
        m_task->cancel();
        m_task.reset();
        m_levels.clear();
        m_running = 0;
    }
    Q_EMIT levelsChanged();
}

} // namespace trimora
