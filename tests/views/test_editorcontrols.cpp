#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/PlainButton.h"
#include "views/TimeField.h"
#include "views/TimeFormat.h"
#include "views/TimelineView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>

#include <limits>

using namespace trimora;

namespace {

QAbstractButton *button(QWidget *root, const QString &textOrName)
{
    const QList<QAbstractButton *> buttons = root->findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        if (b->text() == textOrName || b->objectName() == textOrName)
            return b;
    }
    return nullptr;
}

// An editor on a model without a movie: the controls work on the fields alone.
struct Screen
{
    VideoEditorViewModel model;
    bool importerShown = false;
    EditorView view{&model, [this](bool show) { importerShown = show; }};

    Screen()
    {
        model.setVideoDuration(12.5);
        model.setInPointValue(1.0);
        model.setOutPointValue(9.0);
        view.resize(960, 500);
    }

    // Clicks and returns how many times the playhead field changed.
    int click(const QString &textOrName)
    {
        QAbstractButton *b = button(&view, textOrName);
        if (!b)
            qFatal("no button %s", qPrintable(textOrName));
        QSignalSpy changes(&model, &VideoEditorViewModel::currentTimeChanged);
        QTest::mouseClick(b, Qt::LeftButton);
        return static_cast<int>(changes.count());
    }
};

const QString minus = QStringLiteral("\u2212");

} // namespace

class EditorControlsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Player::setDefaultOutput(Player::Output::None); }

    // On a 12.5 s movie: a click at the playhead time "now" with the marks at
    // In and Out; the playhead and marks after it, and how often the playhead
    // changed (once for a move, never for a mark).
    void buttonsMoveThePlayheadAndMarks_data()
    {
        QTest::addColumn<double>("now");
        QTest::addColumn<double>("in");
        QTest::addColumn<double>("out");
        QTest::addColumn<QString>("label");
        QTest::addColumn<double>("now2");
        QTest::addColumn<double>("in2");
        QTest::addColumn<double>("out2");
        QTest::addColumn<int>("changes");
        const QString setIn = QStringLiteral("\u25C0 Set In");
        const QString setOut = QStringLiteral("Set Out \u25B6");
        auto row = [](const char *name, double now, double in, double out, const QString &label,
                      double now2, double in2, double out2, int changes = 1) {
            QTest::newRow(name) << now << in << out << label << now2 << in2 << out2 << changes;
        };
        row("-30s clamps at 0", 3.2, 1, 9, minus + "30s", 0, 1, 9);
        row("-5s from 2 clamps at 0", 2, 1, 9, minus + "5s", 0, 1, 9);
        row("-0.1s", 3.2, 1, 9, minus + "0.1s", 3.2 - 0.1, 1, 9);
        row("snap down", 3.2, 1, 9, ".000", 3, 1, 9);
        row("snap half up", 3.5, 1, 9, ".000", 4, 1, 9);
        row("snap 2.4999", 2.4999, 1, 9, ".000", 2, 1, 9);
        row("+0.1s", 3.2, 1, 9, "+0.1s", 3.2 + 0.1, 1, 9);
        row("+30s clamps at the end", 3.2, 1, 9, "+30s", 12.5, 1, 9);
        row("to the end", 5, 1, 9, "goToEnd", 12.5, 1, 9);
        row("to the start", 5, 1, 9, "goToStart", 0, 1, 9);
        row("to Out", 5, 1, 9, "Go to Out", 9, 1, 9);
        row("to In", 5, 1, 9, "Go to In", 1, 1, 9);
        row("Set In past Out is refused", 8, 1, 5, setIn, 8, 1, 5, 0);
        row("Set Out before In is refused", 2, 4, 9, setOut, 2, 4, 9, 0);
        row("Set Out", 6, 4, 4, setOut, 6, 4, 6, 0);
        row("Set In", 5, 4, 6, setIn, 5, 5, 6, 0);
    }

    void buttonsMoveThePlayheadAndMarks()
    {
        QFETCH(double, now);
        QFETCH(double, in);
        QFETCH(double, out);
        QFETCH(QString, label);
        QFETCH(int, changes);
        Screen s;
        s.model.setInPointValue(in);
        s.model.setOutPointValue(out);
        s.model.setCurrentTime(now);
        QCOMPARE(s.click(label), changes);
        QTEST(s.model.currentTime(), "now2");
        QTEST(s.model.inPoint(), "in2");
        QTEST(s.model.outPoint(), "out2");
        QVERIFY(!s.model.isPlaying());
    }

    // The texts follow the model, and the timeline writes to it.
    void textsAndTimelineFollowTheModel()
    {
        Screen s;
        s.model.setCurrentTime(3725.5);
        QCOMPARE(s.view.currentTimeLabel()->text(), QStringLiteral("01:02:05.500"));
        QCOMPARE(s.view.lengthLabel()->text(), QStringLiteral("/ 00:00:12.500"));
        s.model.setInPointValue(2.25);
        QCOMPARE(s.view.inLabel()->text(), QStringLiteral("In: 00:00:02.250"));
        QCOMPARE(s.view.selectionLabel()->text(), QStringLiteral("00:00:06.750"));
        // Marks written out of order show an empty selection, not a negative one.
        s.model.setOutPointValue(1.0);
        QCOMPARE(s.view.outLabel()->text(), QStringLiteral("Out: 00:00:01.000"));
        QCOMPARE(s.view.selectionLabel()->text(), QStringLiteral("00:00:00.000"));

        s.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        TimelineView *timeline = s.view.timeline();
        QCOMPARE(timeline->duration(), 12.5);
        const int w = timeline->width();
        QVERIFY(w > 100);
        auto xOf = [w](double t) { return qRound(w * t / 12.5); };
        const int y = int(timeline->barRect().top() + 14);
        // Playhead at 5, In at 1, Out at 9: press at 6 grabs the playhead.
        s.model.setInPointValue(1.0);
        s.model.setOutPointValue(9.0);
        s.model.setCurrentTime(5.0);
        QTest::mousePress(timeline, Qt::LeftButton, {}, QPoint(xOf(6.0), y));
        QTest::mouseMove(timeline, QPoint(xOf(7.0), y));
        QTest::mouseRelease(timeline, Qt::LeftButton, {}, QPoint(xOf(7.0), y));
        QVERIFY(qAbs(s.model.currentTime() - 7.0) < 12.5 / w);
        QCOMPARE(s.view.currentTimeLabel()->text().left(8), QStringLiteral("00:00:06"));
        // Out is nearest at 9: the drag writes the model's Out mark and clamps it at In.
        QTest::mousePress(timeline, Qt::LeftButton, {}, QPoint(xOf(9.2), y));
        QTest::mouseMove(timeline, QPoint(0, y));
        QTest::mouseRelease(timeline, Qt::LeftButton, {}, QPoint(0, y));
        QCOMPARE(s.model.outPoint(), 1.0);
        QVERIFY(qAbs(s.model.currentTime() - 7.0) < 12.5 / w);
        QCOMPARE(s.view.outLabel()->text(), QStringLiteral("Out: 00:00:01.000"));
        QCOMPARE(s.view.selectionLabel()->text(), QStringLiteral("00:00:00.000"));
    }

    // Without a movie there is no surface, and Open… works; the surface comes
    // with the player, and the play symbol follows playback to its end.
    void playPauseSymbolFollowsPlayback()
    {
        Screen s;
        QVERIFY(!s.view.playerView());
        QTest::mouseClick(button(&s.view, QStringLiteral("Open\u2026")), Qt::LeftButton);
        QVERIFY(s.importerShown);
        auto *playPause = qobject_cast<PlainButton *>(button(&s.view, "playPause"));
        QVERIFY(playPause);
        QCOMPARE(playPause->symbol(), QStringLiteral("play.circle.fill"));

        s.model.loadVideo(QUrl::fromLocalFile(media("clip1s.mp4")));
        QVERIFY(waitFor([&] { return s.model.isLoaded(); }));
        QVERIFY(s.view.playerView()); // the surface arrives with the player

        QTest::mouseClick(playPause, Qt::LeftButton);
        QVERIFY(s.model.isPlaying());
        QCOMPARE(playPause->symbol(), QStringLiteral("pause.circle.fill"));
        QTest::mouseClick(playPause, Qt::LeftButton);
        QVERIFY(!s.model.isPlaying());
        QCOMPARE(playPause->symbol(), QStringLiteral("play.circle.fill"));

        // Played to the end, the model clears isPlaying and the symbol follows;
        // the timeline, zoomed in on the start, has followed the playhead.
        s.view.timeline()->zoomAt(1e9, 0);
        const TimelineAxis &axis = s.view.timeline()->axis();
        QVERIFY(axis.span() < 0.3);
        QTest::mouseClick(playPause, Qt::LeftButton);
        QCOMPARE(playPause->symbol(), QStringLiteral("pause.circle.fill"));
        QVERIFY(waitFor([&] { return !s.model.isPlaying(); }, 8000));
        QCOMPARE(playPause->symbol(), QStringLiteral("play.circle.fill"));
        QVERIFY(s.model.currentTime() > 0.5);
        QVERIFY(axis.start > 0.3 && axis.start <= s.model.currentTime() &&
                s.model.currentTime() <= axis.end());
    }

    // Typed over the current time, In or Out: a time, a frame number of the
    // movie's own frames (29.97 fps), a time past the end; text that is no
    // time stays in the field with a hint and changes nothing. Enter hands
    // the keys back to the editor, not to the next text field.
    void typedTimesSeekAndSetMarks()
    {
        VideoEditorViewModel model;
        EditorView view(&model, [](bool) {});
        view.resize(960, 600);
        QVERIFY(showExposed(&view));
        QVERIFY(loadAndWait(model, QStringLiteral("mx-ntsc.mp4")));
        QVERIFY(waitFor([&] { return model.isCutSourceReady(); }, 20000));
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        const double end = model.videoDuration();
        struct Row
        {
            TimeField *field;
            const char *text;
            double current, in, out;
            bool refused;
        };
        TimeField *now = view.currentTimeField(), *in = view.inField(), *out = view.outField();
        // clang-format off
        for (const Row &row : {Row{now, "00:00:02.500", 2.5,    0,   end, false},
                               Row{now, "45f",          1.5015, 0,   end, false},
                               Row{now, "12:75",        1.5015, 0,   end, true},
                               Row{out, "3",            1.5015, 0,   3,   false},
                               Row{in,  "1:00",         1.5015, 3,   3,   false},
                               Row{in,  "0.5",          1.5015, 0.5, 3,   false},
                               Row{out, "30 f",         1.5015, 0.5, 1.001, false},
                               Row{out, "-1",           1.5015, 0.5, 1.001, true},
                               Row{now, "99:00",        end,    0.5, 1.001, false}}) {
            // clang-format on
            QTest::mouseClick(row.field->label(), Qt::LeftButton);
            QVERIFY(row.field->isEditing() && row.field->editor()->hasFocus());
            QTest::keyClicks(row.field->editor(), QString::fromUtf8(row.text));
            QTest::keyClick(row.field->editor(), Qt::Key_Return);
            QVERIFY2(qAbs(model.currentTime() - row.current) < 1e-6 &&
                         qAbs(model.inPoint() - row.in) < 1e-6 &&
                         qAbs(model.outPoint() - row.out) < 1e-6,
                     row.text);
            QCOMPARE(row.field->isEditing(), row.refused);
            QCOMPARE(row.field->hint().isEmpty(), !row.refused);
            if (row.refused) {
                QCOMPARE(row.field->editor()->text(), QString::fromUtf8(row.text));
                QTest::keyClick(row.field->editor(), Qt::Key_Escape);
                QVERIFY(!row.field->isEditing());
            }
            QVERIFY(!qobject_cast<QLineEdit *>(QApplication::focusWidget()));
        }
    }

    void formats_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("zero") << 0.0 << "00:00:00.000";
        QTest::newRow("negative zero") << -0.0 << "00:00:00.000";
        QTest::newRow("hour minute second") << 3725.5 << "01:02:05.500";
        QTest::newRow("never rounds up to the next second") << 59.9999 << "00:00:59.999";
        QTest::newRow("just below an hour") << 3599.9999 << "00:59:59.999";
        // Stored a hair below themselves, they still show as what they are.
        QTest::newRow("1.001") << 1.001 << "00:00:01.001";
        QTest::newRow("2.675") << 2.675 << "00:00:02.675";
        QTest::newRow("a frame at 13.6 s, origin 9.978 s") << 13.6 - 9.978 << "00:00:03.622";
        QTest::newRow("ten steps of 0.1 back to 1 s")
            << 2.0 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 - 0.1 << "00:00:01.000";
        QTest::newRow("hours are not wrapped") << 360000.25 << "100:00:00.250";
        QTest::newRow("negative") << -0.5 << "00:00:00.000";
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << "00:00:00.000";
        QTest::newRow("+inf") << inf << "00:00:00.000";
        QTest::newRow("-inf") << -inf << "00:00:00.000";
    }
    void formats()
    {
        QFETCH(double, seconds);
        QTEST(formatTime(seconds), "text");
    }

    // Scrubbing a long-GOP 1080p movie: every exact seek decodes from the only
    // key frame, so seeks that queue up would leave the picture far behind the pointer.
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
        const int y = int(timeline->barRect().top() + 14);
        const int steps = 60;
        const int endX = w * 8 / 10;
        QElapsedTimer clock;
        clock.start();
        QTest::mousePress(timeline, Qt::LeftButton, {}, QPoint(w / 10, y));
        for (int i = 1; i <= steps; ++i) {
            QTest::qWait(16); // one pointer event per frame of a 60 Hz display
            QTest::mouseMove(timeline, QPoint(w / 10 + (endX - w / 10) * i / steps, y));
            shown.insert(*player->lastReportedTime());
        }
        QTest::mouseRelease(timeline, Qt::LeftButton, {}, QPoint(endX, y));
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

QTEST_MAIN(EditorControlsTest)
#include "test_editorcontrols.moc"
