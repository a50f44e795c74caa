#pragma once

#include "core/Task.h"

#include <QObject>
#include <QUrl>
#include <QVector>

#include <vector>

namespace trimora {

// The loudness of the whole movie, read once per load on a worker and filled
// in as it is read, for an overview in which silences and loud parts of a
// long movie can be seen. Main thread only.
class SoundOverview : public QObject
{
    Q_OBJECT
public:
    explicit SoundOverview(QObject *parent = nullptr);
    ~SoundOverview() override;

    // Reads the sound of a newly loaded movie; what was read of the one
    // before is dropped at once.
    void start(const QUrl &url, double duration);

    // The loudest sample of each stretch of secondsPerValue(), 0 to 1, from
    // the movie's start; a value not read yet is negative. Empty for a movie
    // without sound.
    const QVector<float> &levels() const { return m_levels; }
    double secondsPerValue() const { return m_secondsPerValue; }
    bool isComplete() const { return !m_task; }

Q_SIGNALS:
    // New values, the whole being complete, or a movie without sound.
    void levelsChanged();

private:
    void receive(const TaskHandle &task, std::size_t first, const std::vector<float> &values);
    void finish(const TaskHandle &task, bool read);

    QVector<float> m_levels;
    double m_secondsPerValue = 0.0;
    TaskHandle m_task; // the read in progress
};

} // namespace trimora
