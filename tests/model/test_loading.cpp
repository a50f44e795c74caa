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

    void loadsAPlayableMovie()
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
        QCOMPARE(model.inPoint(), 0.0);
        QCOMPARE(model.outPoint(), model.videoDuration());
        QCOMPARE(model.currentTime(), 0.0);
        QVERIFY(!model.isPlaying());
        QVERIFY(model.logOutput().isEmpty());
    }

    void secondLoadReplacesTheMovieAllAtOnce()
    {
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("movie.mp4")));
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
};

QTEST_MAIN(LoadingTest)
#include "test_loading.moc"
