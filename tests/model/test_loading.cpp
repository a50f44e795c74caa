#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

using namespace trimora;

namespace {

QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

// Gives the event loop time to deliver anything a load might still produce.
void settle(int ms = 600)
{
    QTest::qWait(ms);
}

} // namespace

class LoadingTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    // A first load, then a second that replaces the movie all at once.
    void loadsAndReplacesAMovie()
    {
        VideoEditorViewModel model;
        QSignalSpy loaded(&model, &VideoEditorViewModel::isLoadedChanged);
        model.loadVideo(fileUrl(media("movie.mp4")));
        // Nothing changes until the file is known to be a movie.
        QVERIFY(!model.player());
        QVERIFY(model.sourceURL().isEmpty());
        QVERIFY(waitFor([&] { return model.isLoaded(); }));
        QCOMPARE(loaded.count(), 1);
        QVERIFY(model.player());
        QCOMPARE(model.sourceURL(), fileUrl(media("movie.mp4")));
        QVERIFY(qAbs(model.videoDuration() - 12.5) < 0.03);
        QCOMPARE(model.outPoint(), model.videoDuration());
        QCOMPARE(model.currentTime(), 0.0);
        QVERIFY(!model.isPlaying());

        model.togglePlayPause();
        QVERIFY(model.isPlaying());
        QVERIFY(waitFor([&] { return model.currentTime() > 0.3; }));
        model.seek(4.0);
        model.setInPoint();
        model.appendLog(QStringLiteral("old log"));
        model.setOutputPath(QStringLiteral("/tmp/chosen.mp4"));

        QSignalSpy duration(&model, &VideoEditorViewModel::videoDurationChanged);
        model.loadVideo(fileUrl(media("clip1s.mp4")));
        QVERIFY(model.isPlaying()); // still the old movie, until the new one is known
        QCOMPARE(model.sourceURL(), fileUrl(media("movie.mp4")));
        QVERIFY(waitFor([&] { return duration.count() > 0; }));
        QCOMPARE(model.sourceURL(), fileUrl(media("clip1s.mp4")));
        QVERIFY(!model.isPlaying());
        QVERIFY(model.logOutput().isEmpty());
        QVERIFY(model.blackWhiteFrames().isEmpty());
        QVERIFY(qAbs(model.videoDuration() - 1.0) < 0.05);
        QCOMPARE(model.inPoint(), 0.0);
        QCOMPARE(model.outPoint(), model.videoDuration());
        QCOMPARE(model.outputPath(), QStringLiteral("/tmp/chosen.mp4"));
        // The playhead must not be dragged back by the old movie's last reports.
        settle();
        QVERIFY(model.currentTime() < 0.05);
        QVERIFY(!model.isPlaying());
    }

    void unplayableInputsChangeNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("text named .mp4") << media("not_a_movie.mp4");
        QTest::newRow("zero bytes") << media("empty.mp4");
        QTest::newRow("truncated") << media("truncated.mp4");
        QTest::newRow("directory") << QStringLiteral(TRIMORA_TEST_MEDIA);
        QTest::newRow("missing") << media("does-not-exist.mp4");
        QTest::newRow("a still picture") << media("st-still.jpg");
    }

    void unplayableInputsChangeNothing()
    {
        QFETCH(QString, path);
        const QString message =
            QStringLiteral("Could not open %1: not a playable movie").arg(fileUrl(path).fileName());
        // First load: the window stays on the drop zone.
        {
            VideoEditorViewModel model;
            QSignalSpy failed(&model, &VideoEditorViewModel::loadFailed);
            model.loadVideo(fileUrl(path));
            QVERIFY(failed.wait(5000));
            QCOMPARE(failed.first().first().toString(), message);
            QVERIFY(!model.isLoaded());
            QVERIFY(!model.player());
            QVERIFY(model.sourceURL().isEmpty());
        }
        // Later load: the window stays wholly on the movie it shows.
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("clip1s.mp4")));
        // The command names the streams once they are read.
        QVERIFY(waitFor([&] { return model.isCutSourceReady(); }, 20000));
        model.seek(0.48);
        model.setInPoint();
        model.appendLog(QStringLiteral("the last export"));
        const quint64 item = model.player()->currentItem();
        const QString command = model.commandPreview();
        QSignalSpy anyChange(&model, &VideoEditorViewModel::sourceURLChanged);
        QSignalSpy failed(&model, &VideoEditorViewModel::loadFailed);
        model.loadVideo(fileUrl(path));
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.count(), 1);
        settle();
        QCOMPARE(anyChange.count(), 0);
        QCOMPARE(model.sourceURL(), fileUrl(media("clip1s.mp4")));
        QCOMPARE(model.player()->currentItem(), item);
        QCOMPARE(model.commandPreview(), command);
        QCOMPARE(model.inPoint(), 0.48);
        QCOMPARE(model.currentTime(), 0.48);
        QCOMPARE(model.logOutput(), QStringLiteral("the last export"));
    }

    // A file whose data stops before the length it promises says so once its
    // packets are read; one whose sound merely outlasts its picture does not.
    void movieEndingEarlyIsNoticed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("notice");
        QTest::newRow("Matroska cut in half")
            << "halfmovie.mkv"
            << "halfmovie.mkv ends early: its picture stops at 3.";
        QTest::newRow("MP4 stopped at 60 %")
            << "st-stopped.mp4"
            << "st-stopped.mp4 ends early: its picture stops at 7.";
        QTest::newRow("sound longer than the picture") << "st-longsound.mkv"
                                                       << "";
        QTest::newRow("whole") << "mx-multi.mkv"
                               << "";
    }

    void movieEndingEarlyIsNoticed()
    {
        QFETCH(QString, name);
        QFETCH(QString, notice);
        VideoEditorViewModel model;
        QSignalSpy noticed(&model, &VideoEditorViewModel::notice);
        QVERIFY(loadAndWait(model, name));
        QVERIFY(waitFor([&] { return model.isCutSourceReady(); }, 20000));
        QCOMPARE(noticed.count(), notice.isEmpty() ? 0 : 1);
        if (!notice.isEmpty())
            QVERIFY2(noticed.first().first().toString().startsWith(notice),
                     qPrintable(noticed.first().first().toString()));
    }

    void overlappingLoadsKeepTheNewestMovie()
    {
        VideoEditorViewModel model;
        model.loadVideo(fileUrl(media("movie.mp4")));
        QVERIFY(loadAndWait(model, QStringLiteral("clip1s.mp4")));
        settle();
        QVERIFY(qAbs(model.videoDuration() - 1.0) < 0.05);
        QCOMPARE(model.outPoint(), model.videoDuration());
        QCOMPARE(model.sourceURL(), fileUrl(media("clip1s.mp4")));
    }

    void modelDestroyedWhileLoadingOrPlaying()
    {
        {
            auto model = std::make_unique<VideoEditorViewModel>();
            model->loadVideo(fileUrl(media("movie.mp4")));
            model.reset(); // the duration is still being read
        }
        settle();
        {
            auto model = std::make_unique<VideoEditorViewModel>();
            QVERIFY(loadAndWait(*model, QStringLiteral("movie.mp4")));
            model->togglePlayPause();
            QVERIFY(waitFor([&] { return model->currentTime() > 0.2; }));
            model.reset();
        }
        settle();
    }

    // The keyframes read on load and the steps to the previous and next one, on
    // movies whose keyframes are known: every 2 s from the first picture, which
    // is at 0 in an MP4 and 0.0213 s after the origin in an MPEG-TS.
    void keyframeSteps_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("first"); // the first keyframe
        QTest::addColumn<double>("from");
        QTest::addColumn<QString>("steps");            // p: previous, n: next
        QTest::addColumn<QVector<double>>("expected"); // after each step, minus first
        QTest::newRow("mp4 back") << "mx-h264.mp4" << 0.0 << 3.0 << "ppp"
                                  << QVector<double>{2, 0, 0};
        QTest::newRow("mp4 forward")
            << "mx-h264.mp4" << 0.0 << 0.0 << "nnn" << QVector<double>{2, 4, 4};
        // On the keyframe's own picture, the previous one is the one before.
        QTest::newRow("mp4 inside a keyframe's picture")
            << "mx-h264.mp4" << 0.0 << 2.03 << "pn" << QVector<double>{0, 2};
        QTest::newRow("ts") << "mx.ts" << 0.021333 << 3.0 << "ppnnn"
                            << QVector<double>{2, 0, 2, 4, 4};
    }

    void keyframeSteps()
    {
        QFETCH(QString, file);
        QFETCH(double, first);
        QFETCH(double, from);
        QFETCH(QString, steps);
        QFETCH(QVector<double>, expected);
        VideoEditorViewModel model;
        QSignalSpy ticks(&model, &VideoEditorViewModel::keyframesChanged);
        QVERIFY(loadAndWait(model, file));
        QVERIFY(waitFor([&] { return model.isCutSourceReady(); }, 20000));
        QCOMPARE(model.keyframes().size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(qAbs(model.keyframes()[i] - (first + 2 * i)) < 1e-4);
        QVERIFY(ticks.count() >= 1);
        model.seek(from + first);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            if (steps[i] == QLatin1Char('p'))
                model.goToPreviousKeyframe();
            else
                model.goToNextKeyframe();
            QVERIFY2(qAbs(model.currentTime() - (first + expected[i])) < 1e-4,
                     qPrintable(QStringLiteral("step %1: %2").arg(i).arg(model.currentTime())));
        }
    }

    void noKeyframesNoKeyframeSteps()
    {
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("mx-audio.m4a")));
        QVERIFY(waitFor([&] { return model.isCutSourceReady(); }, 20000));
        QVERIFY(model.keyframes().isEmpty());
        model.seek(3.0);
        model.goToPreviousKeyframe();
        model.goToNextKeyframe();
        QCOMPARE(model.currentTime(), 3.0);
    }

    // Property writes notify only on a change.
    void writesNotifyOnlyOnChange()
    {
        VideoEditorViewModel model;
        QSignalSpy time(&model, &VideoEditorViewModel::currentTimeChanged);
        model.setCurrentTime(0.0); // the value it already holds
        QCOMPARE(time.count(), 0);
        model.setCurrentTime(2.5);
        model.setCurrentTime(2.5);
        QCOMPARE(time.count(), 1);

        QSignalSpy path(&model, &VideoEditorViewModel::outputPathChanged);
        QSignalSpy preview(&model, &VideoEditorViewModel::commandPreviewChanged);
        model.setOutputPath(QStringLiteral("/tmp/a.mp4"));
        model.setOutputPath(QStringLiteral("/tmp/a.mp4"));
        QCOMPARE(path.count(), 1);
        QCOMPARE(preview.count(), 1);

        // Arrays compare element by element.
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

QTEST_MAIN(LoadingTest)
#include "test_loading.moc"
