#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/TimelineView.h"

#include <QElapsedTimer>

using namespace trimora;

// Scrubbing a long-GOP 1080p movie: every exact seek decodes from the only key
// frame, so seeks that queue up would leave the picture far behind the pointer.
class ScrubbingTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    void dragFollowsThePointer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("MP4") << "scrub1080.mp4";
        // No index: every seek demuxes from a whole GOP before its target.
        QTest::newRow("MPEG-TS") << "scrub1080.ts";
    }

    void dragFollowsThePointer()
    {
        QFETCH(QString, name);
        VideoEditorViewModel model;
        EditorView view(&model, [](bool) {});
        view.resize(960, 600);
        QVERIFY(showExposed(&view));
        QVERIFY(loadAndWait(model, name));
        Player *player = model.player();
        QVERIFY(waitFor([&] { return player->lastReportedTime().has_value(); }, 10000));

        // The frames the player lands on, read at every pointer move.
        QSet<double> shown;
        TimelineView *timeline = view.timeline();
        const int w = timeline->width();
        const int steps = 60;
        const int endX = w * 8 / 10;
        QElapsedTimer clock;
        clock.start();
        QTest::mousePress(timeline, Qt::LeftButton, {}, QPoint(w / 10, 14));
        for (int i = 1; i <= steps; ++i) {
            QTest::qWait(16); // one pointer event per frame of a 60 Hz display
            QTest::mouseMove(timeline, QPoint(w / 10 + (endX - w / 10) * i / steps, 14));
            shown.insert(*player->lastReportedTime());
        }
        QTest::mouseRelease(timeline, Qt::LeftButton, {}, QPoint(endX, 14));
        const qint64 dragMs = clock.elapsed();
        const int duringDrag = static_cast<int>(shown.size());
        const double target = model.currentTime();
        QVERIFY(waitFor([&] { return !player->isSeeking(); }, 10000));
        const qint64 settleMs = clock.elapsed() - dragMs;
        QVERIFY(qAbs(*player->lastReportedTime() - target) < 1.0 / 24);
        // The picture moves during the drag and lands on the last target, not on
        // a backlog of stale ones.
        QVERIFY(duringDrag >= 2);
        QVERIFY(settleMs < 3000);

        // A seek to the very end must not leave the player unable to seek again.
        model.seek(model.videoDuration());
        QTest::qWait(500);
        model.seek(2.0);
        QVERIFY(waitFor([&] { return !player->isSeeking(); }, 10000));
        QVERIFY(qAbs(*player->lastReportedTime() - 2.0) < 1.0 / 24);
    }
};

QTEST_MAIN(ScrubbingTest)
#include "test_scrubbing.moc"
