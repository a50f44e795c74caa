#include "model/FileAccess.h"
#include "model/VideoEditorViewModel.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

class ModelStateTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initialValues()
    {
        VideoEditorViewModel model;
        QCOMPARE(model.player(), nullptr);
        QVERIFY(model.sourceURL().isEmpty());
        QCOMPARE(model.videoDuration(), 1.0);
        QCOMPARE(model.currentTime(), 0.0);
        QCOMPARE(model.inPoint(), 0.0);
        QCOMPARE(model.outPoint(), 1.0);
        QVERIFY(!model.isPlaying());
        QVERIFY(!model.isLoaded());
        QVERIFY(!model.isProcessing());
        QVERIFY(model.logOutput().isEmpty());
        QVERIFY(model.outputPath().isEmpty());
        QVERIFY(model.waveformSamples().isEmpty());
        QCOMPARE(model.waveformStartTime(), 0.0);
        QVERIFY(model.blackWhiteFrames().isEmpty());
        QVERIFY(!model.isScanning());
        QVERIFY(!model.hasScanned());
        QCOMPARE(model.scanProgress(), 0.0);
        QVERIFY(!model.waveformTask);
        QVERIFY(!model.scanTask);
        QVERIFY(std::isinf(model.lastWaveformCenter) && model.lastWaveformCenter < 0);
        QCOMPARE(VideoEditorViewModel::waveformSampleRate, 30.0);
        QCOMPARE(VideoEditorViewModel::waveformReadRate, 8000.0);
        QCOMPARE(VideoEditorViewModel::waveformHalfWindow, 6.0);
    }

    void writesNotifyOnlyOnChange()
    {
        VideoEditorViewModel model;
        QSignalSpy time(&model, &VideoEditorViewModel::currentTimeChanged);
        model.setCurrentTime(0.0); // the value it already holds
        QCOMPARE(time.count(), 0);
        model.setCurrentTime(2.5);
        model.setCurrentTime(2.5);
        QCOMPARE(time.count(), 1);
        model.setCurrentTime(-0.0 + 2.5);
        QCOMPARE(time.count(), 1);

        QSignalSpy path(&model, &VideoEditorViewModel::outputPathChanged);
        QSignalSpy preview(&model, &VideoEditorViewModel::commandPreviewChanged);
        model.setOutputPath(QStringLiteral("/tmp/a.mp4"));
        model.setOutputPath(QStringLiteral("/tmp/a.mp4"));
        QCOMPARE(path.count(), 1);
        QCOMPARE(preview.count(), 1);

        QSignalSpy playing(&model, &VideoEditorViewModel::isPlayingChanged);
        model.setIsPlaying(false);
        model.setIsPlaying(true);
        model.setIsPlaying(true);
        QCOMPARE(playing.count(), 1);
    }

    void nanAlwaysNotifies()
    {
        VideoEditorViewModel model;
        QSignalSpy duration(&model, &VideoEditorViewModel::videoDurationChanged);
        const double nan = std::numeric_limits<double>::quiet_NaN();
        model.setVideoDuration(nan);
        model.setVideoDuration(nan);
        QCOMPARE(duration.count(), 2);
    }

    void arraysCompareElementByElement()
    {
        VideoEditorViewModel model;
        QSignalSpy samples(&model, &VideoEditorViewModel::waveformSamplesChanged);
        model.setWaveformSamples({0.1f, 0.2f, 0.3f});
        model.setWaveformSamples({0.1f, 0.2f, 0.3f});
        QCOMPARE(samples.count(), 1);
        model.setWaveformSamples({0.1f, 0.25f, 0.3f});
        QCOMPARE(samples.count(), 2);

        QSignalSpy markers(&model, &VideoEditorViewModel::blackWhiteFramesChanged);
        model.setBlackWhiteFrames({});
        QCOMPARE(markers.count(), 0);
        model.setBlackWhiteFrames({5.0, 12.0});
        model.setBlackWhiteFrames({5.0, 12.0});
        model.setBlackWhiteFrames({5.0, 12.0, 20.0});
        QCOMPARE(markers.count(), 2);
    }

    void appendsAlwaysNotify()
    {
        VideoEditorViewModel model;
        QSignalSpy changed(&model, &VideoEditorViewModel::logOutputChanged);
        QSignalSpy appended(&model, &VideoEditorViewModel::logOutputAppended);
        model.appendLog(QString());
        model.appendLog(QStringLiteral("frame=  1\r"));
        model.appendLog(QStringLiteral("frame=  2\n"));
        QCOMPARE(changed.count(), 3);
        QCOMPARE(appended.count(), 3);
        QCOMPARE(appended.at(1).at(0).toString(), QStringLiteral("frame=  1\r"));
        QCOMPARE(model.logOutput(), QStringLiteral("frame=  1\rframe=  2\n"));
        QSignalSpy reset(&model, &VideoEditorViewModel::logOutputReset);
        model.setLogOutput(QString());
        QCOMPARE(reset.count(), 1);
        QVERIFY(model.logOutput().isEmpty());
    }

    void teardownOfAnUnusedModelReleasesNothing()
    {
        const int before = FileAccess::outstandingGrants();
        {
            VideoEditorViewModel model;
        }
        QCOMPARE(FileAccess::outstandingGrants(), before);
    }
};

QTEST_MAIN(ModelStateTest)
#include "test_state.moc"
