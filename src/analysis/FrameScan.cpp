#include "analysis/BlackWhiteScan.h"
#include "analysis/ScanLogic.h"
#include "core/MainThread.h"
#include "model/VideoEditorViewModel.h"

#include <QFile>

namespace {

// Hands a scan's reports to the model. A report applies only while its scan is
// still the model's current one: a scan replaced by a newer start, or dropped
// by loading another movie, never writes again.
class ModelScanSink : public ScanSink
{
public:
    ModelScanSink(MainThreadRef<VideoEditorViewModel> model, TaskHandle task)
        : m_model(std::move(model)), m_task(std::move(task))
    {}

    void progress(double value) override
    {
        post([value](VideoEditorViewModel &m) { m.setScanProgress(value); });
    }

    void finished(const std::vector<double> &markers) override
    {
        post([markers = QVector<double>(markers.begin(), markers.end())](VideoEditorViewModel &m) {
            m.setBlackWhiteFrames(markers);
            m.setIsScanning(false);
            m.setHasScanned(true);
            m.setScanProgress(1.0);
        });
    }

    void cancelledInCoarsePass() override
    {
        post([](VideoEditorViewModel &m) { m.setIsScanning(false); });
    }

    void cancelledInRefinement(const std::vector<double> &coarseHits) override
    {
        post([hits =
                  QVector<double>(coarseHits.begin(), coarseHits.end())](VideoEditorViewModel &m) {
            m.setBlackWhiteFrames(hits);
            m.setIsScanning(false);
        });
    }

private:
    template <class Apply> void post(Apply apply)
    {
        postToMainThread([model = m_model, task = m_task, apply = std::move(apply)] {
            VideoEditorViewModel *self = model.get();
            if (self && self->scanTask == task)
                apply(*self);
        });
    }

    MainThreadRef<VideoEditorViewModel> m_model;
    TaskHandle m_task;
};

} // namespace

void VideoEditorViewModel::startScan()
{
    if (m_sourceURL.isEmpty() || m_videoDuration <= 0)
        return;
    const QUrl url = m_sourceURL;
    const double duration = m_videoDuration;
    if (scanTask)
        scanTask->cancel();
    setBlackWhiteFrames({});
    setIsScanning(true);
    setScanProgress(0.0);
    TaskHandle task = makeTask();
    scanTask = task;
    runInBackground([model = MainThreadRef<VideoEditorViewModel>(this), task, url, duration] {
        ModelScanSink sink(model, task);
        scanBlackWhite(QFile::encodeName(url.toLocalFile()).toStdString(), duration, task, sink);
    });
}

void VideoEditorViewModel::cancelScan()
{
    if (scanTask)
        scanTask->cancel();
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
