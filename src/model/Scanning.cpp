#include "analysis/BlackWhiteScan.h"
#include "analysis/ScanLogic.h"
#include "core/MainThread.h"
#include "model/VideoEditorViewModel.h"

#include <QFile>

#include <functional>

namespace trimora {

namespace {

using ModelStep = std::function<void(VideoEditorViewModel &)>;

// Hands a scan's reports to the model, through post, which applies a step
// only while its scan is still the model's current one: a scan replaced by a
// newer start, or dropped by loading another movie, never writes again.
class ModelScanSink : public ScanSink
{
public:
    explicit ModelScanSink(std::function<void(ModelStep)> post) : m_post(std::move(post)) {}

    void progress(double value) override
    {
        m_post([value](VideoEditorViewModel &m) { m.setScanProgress(value); });
    }

    void finished(const std::vector<double> &markers) override
    {
        m_post(
            [markers = QVector<double>(markers.begin(), markers.end())](VideoEditorViewModel &m) {
                m.setBlackWhiteFrames(markers);
                m.setIsScanning(false);
                m.setHasScanned(true);
                m.setScanProgress(1.0);
            });
    }

    void cancelledInCoarsePass() override
    {
        m_post([](VideoEditorViewModel &m) { m.setIsScanning(false); });
    }

    void cancelledInRefinement(const std::vector<double> &coarseHits) override
    {
        m_post([hits = QVector<double>(coarseHits.begin(), coarseHits.end())](
                   VideoEditorViewModel &m) {
            m.setBlackWhiteFrames(hits);
            m.setIsScanning(false);
        });
    }

private:
    std::function<void(ModelStep)> m_post;
};

} // namespace

void VideoEditorViewModel::startScan()
{
    if (m_sourceURL.isEmpty() || m_videoDuration <= 0)
        return;
    const QUrl url = m_sourceURL;
    const double duration = m_videoDuration;
    if (m_scanTask)
        m_scanTask->cancel();
    setBlackWhiteFrames({});
    setIsScanning(true);
    setScanProgress(0.0);
    TaskHandle task = makeTask();
    m_scanTask = task;
    auto post = [model = MainThreadRef<VideoEditorViewModel>(this), task](ModelStep step) {
        postToMainThread([model, task, step = std::move(step)] {
            VideoEditorViewModel *self = model.get();
            if (self && self->m_scanTask == task)
                step(*self);
        });
    };
    runInBackground([post = std::move(post), task, url, duration] {
        ModelScanSink sink(post);
        scanBlackWhite(QFile::encodeName(url.toLocalFile()).toStdString(), duration, task, sink);
    });
}

void VideoEditorViewModel::cancelScan()
{
    if (m_scanTask)
        m_scanTask->cancel();
    setIsScanning(false);
}

void VideoEditorViewModel::goToPreviousMarker()
{
    const std::vector<double> markers(m_blackWhiteFrames.begin(), m_blackWhiteFrames.end());
    if (const std::optional<double> target = scan::previousMarker(markers, m_currentTime))
        seek(*target);
}

void VideoEditorViewModel::goToNextMarker()
{
    const std::vector<double> markers(m_blackWhiteFrames.begin(), m_blackWhiteFrames.end());
    if (const std::optional<double> target = scan::nextMarker(markers, m_currentTime))
        seek(*target);
}

} // namespace trimora
