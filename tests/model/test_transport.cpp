#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <limits>

using namespace trimora;

namespace {

void loadInto(VideoEditorViewModel &model, const QString &name)
{
    QVERIFY(loadAndWait(model, name));
    QVERIFY(waitFor([&] { return model.player()->lastReportedTime().has_value(); }));
}

} // namespace

class TransportTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void seekClampsToTheMovie()
    {
        VideoEditorViewModel model;
        // No movie yet: clamps against the default duration of 1 s.
        model.seek(5.0);
        QCOMPARE(model.currentTime(), 1.0);
        model.togglePlayPause();
        QVERIFY(model.isPlaying());
        model.togglePlayPause();

        loadInto(model, QStringLiteral("movie.mp4"));
        const double end = model.videoDuration();
        model.seek(-3.0);
        QCOMPARE(model.currentTime(), 0.0);
        model.seek(end + 30);
        QCOMPARE(model.currentTime(), end);
        model.seek(std::numeric_limits<double>::quiet_NaN());
        QCOMPARE(model.currentTime(), 0.0);
        model.seek(std::numeric_limits<double>::infinity());
        QCOMPARE(model.currentTime(), end);
        model.seek(-std::numeric_limits<double>::infinity());
        QCOMPARE(model.currentTime(), 0.0);
    }

    void playingToTheEndStopsThere()
    {
        VideoEditorViewModel model;
        loadInto(model, QStringLiteral("clip1s.mp4"));
        QSignalSpy playing(&model, &VideoEditorViewModel::isPlayingChanged);
        model.togglePlayPause();
        QVERIFY(waitFor([&] { return !model.isPlaying(); }, 8000));
        QCOMPARE(playing.count(), 2);
        QVERIFY(waitFor([&] { return model.currentTime() > model.videoDuration() - 0.1; }));
        QTest::qWait(200);
        QVERIFY(model.currentTime() <= model.videoDuration());
        QVERIFY(model.currentTime() > model.videoDuration() - 0.1);
    }

    void seekWhilePlayingKeepsPlaying()
    {
        VideoEditorViewModel model;
        loadInto(model, QStringLiteral("movie.mp4"));
        model.togglePlayPause();
        model.seek(6.0);
        QVERIFY(model.isPlaying());
        QVERIFY(waitFor([&] { return model.currentTime() > 6.2; }));
        QVERIFY(model.isPlaying());
    }
};

QTEST_MAIN(TransportTest)
#include "test_transport.moc"
