#include "model/VideoEditorViewModel.h"

#include <QSignalSpy>
#include <QtTest>

#include <limits>

using namespace trimora;

class ModelStateTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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

        // NaN never equals itself, so it always notifies.
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
};

QTEST_MAIN(ModelStateTest)
#include "test_state.moc"
