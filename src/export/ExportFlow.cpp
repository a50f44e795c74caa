#include "export/FFmpegRunner.h"
#include "export/ShellCommand.h"
#include "model/MainThread.h"
#include "model/VideoEditorViewModel.h"

void VideoEditorViewModel::exportCut()
{
    if (m_outputPath.isEmpty() || m_sourceURL.isEmpty())
        return;
    const QUrl outputURL = uniqueOutputURL(fileURLFromPath(m_outputPath));
    setIsProcessing(true);
    setLogOutput(QString());
    const double start = m_inPoint;
    const double duration = m_outPoint - m_inPoint;

    // The child outlives the model if the window closes: its reports then
    // find nobody and are dropped.
    const MainThreadRef<VideoEditorViewModel> model(this);
    run(
        m_sourceURL, outputURL, start, duration,
        [model](const QString &chunk) {
            if (VideoEditorViewModel *self = model.get())
                self->appendLog(chunk);
        },
        [model, outputURL](const QString &status) {
            if (VideoEditorViewModel *self = model.get())
                self->finishExport(outputURL, status);
        },
        ffmpegLocationsForTesting.value_or(ffmpegSearchPaths));
}

void VideoEditorViewModel::finishExport(const QUrl &outputURL, const QString &result)
{
    if (!m_logOutput.isEmpty())
        appendLog(QStringLiteral("\n"));
    // Compared with the path as the export resolved it, so a relative path
    // typed into the field is not reported as a different name.
    if (outputURL.toLocalFile() != absoluteLocalPath(fileURLFromPath(m_outputPath)))
        appendLog(QStringLiteral("Output: ") + outputURL.fileName() + QLatin1Char('\n'));
    appendLog(result);
    setIsProcessing(false);
}

QString VideoEditorViewModel::commandPreview() const
{
    if (m_sourceURL.isEmpty() || m_outputPath.isEmpty())
        return {};
    return shellCommand(m_sourceURL, fileURLFromPath(m_outputPath), m_inPoint,
                        m_outPoint - m_inPoint,
                        ffmpegLocationsForTesting.value_or(ffmpegSearchPaths));
}
