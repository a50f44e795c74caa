#include "core/MainThread.h"
#include "media/CutSource.h"
#include "model/ThumbnailStrip.h"
#include "model/VideoEditorViewModel.h"

#include <QFile>

namespace trimora {

void VideoEditorViewModel::startCutSourceRead(const QUrl &url)
{
    if (m_cutSourceTask)
        m_cutSourceTask->cancel();
    const TaskHandle task = makeTask();
    m_cutSourceTask = task;
    m_cutSourceURL = url;
    m_cutSourceReady = false;
    m_sourceLayout.reset();
    m_videoIndex.reset();
    setKeyframes({});
    Q_EMIT videoIndexChanged();
    Q_EMIT commandPreviewChanged();

    const std::string path = QFile::encodeName(url.toLocalFile()).toStdString();
    runInBackground([model = MainThreadRef<VideoEditorViewModel>(this), task, path] {
        const auto deliver = [model, task](auto publish) {
            postToMainThread([model, task, publish = std::move(publish)] {
                if (VideoEditorViewModel *self = model.get())
                    publish(self);
            });
        };
        const bool opened = readCutSource(
            path, [task] { return task->isCancelled(); },
            [&](SourceLayout layout) {
                deliver([task, layout = std::make_shared<const SourceLayout>(std::move(layout))](
                            VideoEditorViewModel *self) { self->publishCutLayout(task, layout); });
            },
            [&](VideoIndex index) {
                deliver([task, index = std::make_shared<const VideoIndex>(std::move(index))](
                            VideoEditorViewModel *self) { self->publishVideoIndex(task, index); });
            });
        // Nothing can be learnt of the file; a cut goes by the marks alone.
        if (!opened)
            deliver([task](VideoEditorViewModel *self) { self->publishVideoIndex(task, nullptr); });
    });
}

bool VideoEditorViewModel::isCutSourceReady() const
{
    return m_cutSourceReady && m_cutSourceURL == m_sourceURL;
}

std::shared_ptr<const VideoIndex> VideoEditorViewModel::videoIndex() const
{
    return m_cutSourceURL == m_sourceURL ? m_videoIndex : nullptr;
}

void VideoEditorViewModel::publishCutLayout(const TaskHandle &task,
                                            std::shared_ptr<const SourceLayout> layout)
{
    if (task != m_cutSourceTask)
        return; // a newer read has replaced this one
    m_sourceLayout = std::move(layout);
    Q_EMIT commandPreviewChanged();
}

void VideoEditorViewModel::publishVideoIndex(const TaskHandle &task,
                                             std::shared_ptr<const VideoIndex> index)
{
    if (task != m_cutSourceTask)
        return;
    m_videoIndex = std::move(index);
    m_cutSourceReady = true;
    if (m_videoIndex && m_videoIndex->endsEarlyAt)
        Q_EMIT notice(tr("%1 ends early: its picture stops at %2 s of %3 s")
                          .arg(m_cutSourceURL.fileName(),
                               QString::number(*m_videoIndex->endsEarlyAt, 'f', 2),
                               QString::number(m_videoDuration, 'f', 2)));
    setKeyframes(m_videoIndex ? QVector<double>(m_videoIndex->keyframes.begin(),
                                                m_videoIndex->keyframes.end())
                              : QVector<double>());
    m_thumbnails->setIndex(m_videoIndex);
    Q_EMIT videoIndexChanged();
    Q_EMIT commandPreviewChanged();
}

void VideoEditorViewModel::setKeyframes(const QVector<double> &value)
{
    if (m_keyframes == value)
        return;
    m_keyframes = value;
    Q_EMIT keyframesChanged();
}

} // namespace trimora
