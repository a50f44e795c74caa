#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/SourceFrames.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <limits>
#include <map>

using namespace trimora;

// The player through the model, on real movies of every container: the frame
// on show (read back from the player) against the frames ffmpeg decodes.
namespace {

const SourceFrames &sourceFrames(const QString &name)
{
    static std::map<QString, SourceFrames> cache;
    auto found = cache.find(name);
    if (found == cache.end())
        found = cache.emplace(name, decodeSourceFrames(name)).first;
    return found->second;
}

// Waits until the player has landed and shows its frame.
bool settled(VideoEditorViewModel &model)
{
    Player *player = model.transport()->player();
    return waitFor([&] { return !player->isSeeking() && player->lastReportedTime().has_value(); },
                   10000);
}

#define VERIFY_SHOWS(model, source, expected, what)                                                \
    do {                                                                                           \
        const int shown = (source).shownBy(*(model).transport()->player());                        \
        QVERIFY2(shown == (expected),                                                              \
                 qPrintable(QStringLiteral("%1: frame %2 (%3 s) shown, %4 (%5 s) expected")        \
                                .arg(what)                                                         \
                                .arg(shown)                                                        \
                                .arg(shown >= 0 ? source.times[shown] : -1.0)                      \
                                .arg(expected)                                                     \
                                .arg(source.times[expected])));                                    \
    } while (false)

void addMatrix()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"mx-h264.mp4", "mx.mov", "mx-multi.mkv", "mx-vp9.webm", "mx.ts",
                             "mx-offset10.mp4", "mx-offset10.ts", "mx-ntsc.mp4", "mx-ntsc.mkv"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

} // namespace

class PlaybackTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void seeksShowTheFrameWhoseSpanHoldsTheTime_data() { addMatrix(); }
    void seeksShowTheFrameWhoseSpanHoldsTheTime()
    {
        QFETCH(QString, name);
        const SourceFrames &source = sourceFrames(name);
        QVERIFY(source.isValid());
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, name));
        QVERIFY(
            waitFor([&] { return model.movie()->isCutSourceReady(); }, 20000)); // the frames' times
        // The span from the origin: about 6 s however far the timestamps start.
        QVERIFY2(qAbs(model.movie()->videoDuration() - 6.0) < 0.05,
                 qPrintable(QString::number(model.movie()->videoDuration())));
        QVERIFY(settled(model));
        QCOMPARE(model.transport()->currentTime(), 0.0);
        VERIFY_SHOWS(model, source, 0, QStringLiteral("at load"));

        const double end = model.movie()->videoDuration();
        const double frame = source.times[1] - source.times[0];
        // Between frames, on frames, either side of the keyframes at 2 and 4 s,
        // backwards, the start and the end.
        const QVector<double> targets = {1.0,
                                         1.1,
                                         3.3,
                                         1.99,
                                         2.0,
                                         2.01,
                                         4.03,
                                         0.5,
                                         source.times[75],
                                         source.times[76],
                                         0.0,
                                         end,
                                         source.times[100] - frame / 2,
                                         5.5};
        for (double t : targets) {
            model.transport()->seek(t);
            QVERIFY(settled(model));
            QVERIFY(qAbs(model.transport()->currentTime() - std::min(t, end)) <=
                    1e-6); // kept to the µs
            VERIFY_SHOWS(model, source, source.frameAt(std::min(t, end)),
                         QStringLiteral("seek to %1").arg(t));
        }
    }

    void stepsOfATenthAddUp_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("waitEach");
        QTest::newRow("25 fps, one press after another") << "mx-h264.mp4" << true;
        QTest::newRow("25 fps, pressed quickly") << "mx-h264.mp4" << false;
        QTest::newRow("29.97 fps") << "mx-ntsc.mp4" << true;
        QTest::newRow("MPEG-TS at 1.4 s") << "mx.ts" << true;
    }
    void stepsOfATenthAddUp()
    {
        QFETCH(QString, name);
        QFETCH(bool, waitEach);
        const SourceFrames &source = sourceFrames(name);
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, name));
        model.transport()->seek(1.0);
        QVERIFY(settled(model));
        for (const double step : {0.1, -0.1}) {
            for (int i = 0; i < 10; ++i) {
                model.transport()->seek(model.transport()->currentTime() + step);
                if (waitEach)
                    QVERIFY(settled(model));
            }
            QVERIFY(settled(model));
            QTest::qWait(100); // nothing later may move the playhead
            const double expected = step > 0 ? 2.0 : 1.0;
            QVERIFY(qAbs(model.transport()->currentTime() - expected) < 1e-9);
            VERIFY_SHOWS(model, source, source.frameAt(expected),
                         QStringLiteral("after ten steps of %1").arg(step));
        }
    }

    void frameStepsLandOnTheFramesOwnTimes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("25 fps") << "mx-h264.mp4";
        QTest::newRow("29.97 fps") << "mx-ntsc.mp4";
        QTest::newRow("MPEG-TS starting at 11.4 s") << "mx-offset10.ts";
        QTest::newRow("WebM") << "mx-vp9.webm";
    }
    void frameStepsLandOnTheFramesOwnTimes()
    {
        QFETCH(QString, name);
        const SourceFrames &source = sourceFrames(name);
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, name));
        model.transport()->seek(1.0);
        QVERIFY(settled(model));
        const int start = source.frameAt(1.0);

        struct Step
        {
            int frames;
            int presses;
            int expected; // relative to start
        };
        // One by one, then presses quicker than the player lands, then back
        // over a keyframe (the one at 2 s is frame 50 at 25 fps).
        for (const Step &step :
             {Step{1, 1, 1}, Step{1, 4, 5}, Step{-1, 2, 3}, Step{1, 30, 33}, Step{-1, 10, 23}}) {
            for (int i = 0; i < step.presses; ++i)
                model.transport()->stepFrames(step.frames);
            QVERIFY(settled(model));
            QTest::qWait(50);
            const int expected = start + step.expected;
            QVERIFY2(qAbs(model.transport()->currentTime() - source.times[expected]) < 1e-4,
                     qPrintable(QStringLiteral("%1 after %2 x %3, frame %4 at %5 expected")
                                    .arg(model.transport()->currentTime())
                                    .arg(step.presses)
                                    .arg(step.frames)
                                    .arg(expected)
                                    .arg(source.times[expected])));
            VERIFY_SHOWS(model, source, expected, QStringLiteral("frame step"));
        }
        // Stepping back from the first frame stays there.
        model.transport()->seek(0.0);
        model.transport()->stepFrames(-1);
        QVERIFY(settled(model));
        QVERIFY(qAbs(model.transport()->currentTime() - source.times[0]) < 1e-4);
        VERIFY_SHOWS(model, source, 0, QStringLiteral("back from the first frame"));
        QVERIFY(!model.transport()->isPlaying());
    }

    void playAtTheEndStartsAgain_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("seek to the end while paused") << "seek";
        QTest::newRow("played to the end") << "play";
        QTest::newRow("stepped to the last frame and beyond") << "step";
    }
    void playAtTheEndStartsAgain()
    {
        QFETCH(QString, how);
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("clip1s.mp4")));
        QVERIFY(settled(model));
        if (how == QLatin1String("seek")) {
            model.transport()->seek(model.movie()->videoDuration());
        } else if (how == QLatin1String("play")) {
            // Stops once, at the end and not beyond it.
            QSignalSpy playing(model.transport(), &Transport::isPlayingChanged);
            model.transport()->togglePlayPause();
            QVERIFY(waitFor([&] { return !model.transport()->isPlaying(); }, 8000));
            QCOMPARE(playing.count(), 2);
            QVERIFY(waitFor([&] {
                return model.transport()->currentTime() > model.movie()->videoDuration() - 0.1;
            }));
            QTest::qWait(200);
            QVERIFY(model.transport()->currentTime() <= model.movie()->videoDuration());
            QVERIFY(model.transport()->currentTime() > model.movie()->videoDuration() - 0.1);
        } else {
            model.transport()->seek(model.movie()->videoDuration() - 0.1);
            QVERIFY(settled(model));
            for (int i = 0; i < 4; ++i)
                model.transport()->stepFrames(1);
        }
        QVERIFY(settled(model));
        QTest::qWait(200);
        model.transport()->togglePlayPause();
        QVERIFY(model.transport()->isPlaying());
        QVERIFY(waitFor([&] { return model.transport()->currentTime() < 0.3; }));
        QVERIFY(waitFor([&] { return model.transport()->currentTime() > 0.3; }));
        QVERIFY(model.transport()->isPlaying());
    }

    void playbackSpeedDoublesAndReturnsToNormal()
    {
        VideoEditorViewModel model;
        QVERIFY(loadAndWait(model, QStringLiteral("movie.mp4")));
        QVERIFY(settled(model));
        model.transport()->playForward();
        QVERIFY(model.transport()->isPlaying());
        QCOMPARE(model.transport()->playbackSpeed(), 1.0);
        for (const double expected : {2.0, 4.0, 4.0}) {
            model.transport()->playForward();
            QCOMPARE(model.transport()->playbackSpeed(), expected);
        }
        // Measured by the movie's own clock: at 4x, 1 s of playback covers 4 s.
        QVERIFY(waitFor([&] { return model.transport()->currentTime() > 0.5; }));
        const double from = model.transport()->currentTime();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(waitFor([&] { return model.transport()->currentTime() > from + 2.0; }));
        const double rate = (model.transport()->currentTime() - from) / (clock.elapsed() / 1000.0);
        QVERIFY2(rate > 1.8, qPrintable(QString::number(rate)));
        model.transport()->togglePlayPause();
        QVERIFY(!model.transport()->isPlaying());
        QCOMPARE(model.transport()->playbackSpeed(), 1.0);
        model.transport()->togglePlayPause();
        QCOMPARE(model.transport()->playbackSpeed(), 1.0);
        model.transport()->togglePlayPause();
    }

    void seeksClampToTheMovieAndKeepPlaying()
    {
        VideoEditorViewModel model;
        // No movie yet: clamps against the default duration of 1 s.
        model.transport()->seek(5.0);
        QCOMPARE(model.transport()->currentTime(), 1.0);
        model.transport()->togglePlayPause();
        QVERIFY(model.transport()->isPlaying());
        model.transport()->togglePlayPause();

        QVERIFY(loadAndWait(model, QStringLiteral("movie.mp4")));
        QVERIFY(settled(model));
        const double end = model.movie()->videoDuration();
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        constexpr double inf = std::numeric_limits<double>::infinity();
        for (const auto &[to, expected] : std::vector<std::pair<double, double>>{
                 {-3.0, 0.0}, {end + 30, end}, {nan, 0.0}, {inf, end}, {-inf, 0.0}}) {
            model.transport()->seek(to);
            QCOMPARE(model.transport()->currentTime(), expected);
        }
        // A seek while playing keeps playing.
        model.transport()->togglePlayPause();
        model.transport()->seek(6.0);
        QVERIFY(model.transport()->isPlaying());
        QVERIFY(waitFor([&] { return model.transport()->currentTime() > 6.2; }));
        QVERIFY(model.transport()->isPlaying());
    }
};

QTEST_MAIN(PlaybackTest)
#include "test_playback.moc"
