#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/PlainButton.h"
#include "views/TimelineView.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>

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
    void layoutWithoutPlayer();
    void stepAndSnapButtonsSeek_data();
    void stepAndSnapButtonsSeek();
    void jumpButtons();
    void markButtons();
    void textsFollowTheModel();
    void timelineDrivesTheModel();
    void playPauseSymbolFollowsPlayback();
};

void EditorControlsTest::layoutWithoutPlayer()
{
    Screen s;
    QVERIFY(!s.view.playerView());
    QAbstractButton *open = button(&s.view, QStringLiteral("Open\u2026"));
    QVERIFY(open);
    QTest::mouseClick(open, Qt::LeftButton);
    QVERIFY(s.importerShown);
}

void EditorControlsTest::stepAndSnapButtonsSeek_data()
{
    QTest::addColumn<double>("now");
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("expected");
    QTest::newRow("-30s clamps at 0") << 3.2 << minus + "30s" << 0.0;
    QTest::newRow("-5s from 2 clamps at 0") << 2.0 << minus + "5s" << 0.0;
    QTest::newRow("-0.1s") << 3.2 << minus + "0.1s" << 3.2 - 0.1;
    QTest::newRow("snap down") << 3.2 << ".000" << 3.0;
    QTest::newRow("snap half up") << 3.5 << ".000" << 4.0;
    QTest::newRow("snap 2.4999") << 2.4999 << ".000" << 2.0;
    QTest::newRow("+0.1s") << 3.2 << "+0.1s" << 3.2 + 0.1;
    QTest::newRow("+30s clamps at the end") << 3.2 << "+30s" << 12.5;
}

void EditorControlsTest::stepAndSnapButtonsSeek()
{
    QFETCH(double, now);
    QFETCH(QString, label);
    QFETCH(double, expected);
    Screen s;
    s.model.setCurrentTime(now);
    QCOMPARE(s.click(label), 1);
    QCOMPARE(s.model.currentTime(), expected);
    // Steps and snap move the playhead only.
    QCOMPARE(s.model.inPoint(), 1.0);
    QCOMPARE(s.model.outPoint(), 9.0);
    QVERIFY(!s.model.isPlaying());
}

void EditorControlsTest::jumpButtons()
{
    Screen s;
    s.model.setCurrentTime(5.0);
    QCOMPARE(s.click("goToEnd"), 1);
    QCOMPARE(s.model.currentTime(), 12.5);
    QCOMPARE(s.click("goToStart"), 1);
    QCOMPARE(s.model.currentTime(), 0.0);
    QCOMPARE(s.click("Go to Out"), 1);
    QCOMPARE(s.model.currentTime(), 9.0);
    QCOMPARE(s.click("Go to In"), 1);
    QCOMPARE(s.model.currentTime(), 1.0);
    QCOMPARE(s.model.inPoint(), 1.0);
    QCOMPARE(s.model.outPoint(), 9.0);
}

void EditorControlsTest::markButtons()
{
    Screen s;
    const QString setIn = QStringLiteral("\u25C0 Set In");
    const QString setOut = QStringLiteral("Set Out \u25B6");
    s.model.setOutPointValue(5.0);
    s.model.setCurrentTime(8.0);
    QCOMPARE(s.click(setIn), 0);
    QCOMPARE(s.model.inPoint(), 5.0);
    QCOMPARE(s.model.currentTime(), 8.0);

    s.model.setInPointValue(4.0);
    s.model.setCurrentTime(2.0);
    s.click(setOut);
    QCOMPARE(s.model.outPoint(), 4.0);

    s.model.setCurrentTime(6.0);
    s.click(setOut);
    QCOMPARE(s.model.inPoint(), 4.0);
    QCOMPARE(s.model.outPoint(), 6.0);
    s.model.setCurrentTime(5.0);
    s.click(setIn);
    QCOMPARE(s.model.inPoint(), 5.0);
    QCOMPARE(s.model.currentTime(), 5.0);
}

void EditorControlsTest::textsFollowTheModel()
{
    Screen s;
    s.model.setCurrentTime(3725.5);
    QCOMPARE(s.view.currentTimeLabel()->text(), QStringLiteral("01:02:05.500"));
    QCOMPARE(s.view.lengthLabel()->text(), QStringLiteral("/ 00:00:12.500"));

    QCOMPARE(s.view.inLabel()->text(), QStringLiteral("In: 00:00:01.000"));
    QCOMPARE(s.view.outLabel()->text(), QStringLiteral("Out: 00:00:09.000"));
    QCOMPARE(s.view.selectionLabel()->text(), QStringLiteral("00:00:08.000"));
    s.model.setInPointValue(2.25);
    QCOMPARE(s.view.inLabel()->text(), QStringLiteral("In: 00:00:02.250"));
    QCOMPARE(s.view.selectionLabel()->text(), QStringLiteral("00:00:06.750"));
    // Marks written out of order show an empty selection, not a negative one.
    s.model.setOutPointValue(1.0);
    QCOMPARE(s.view.outLabel()->text(), QStringLiteral("Out: 00:00:01.000"));
    QCOMPARE(s.view.selectionLabel()->text(), QStringLiteral("00:00:00.000"));
}

void EditorControlsTest::timelineDrivesTheModel()
{
    Screen s;
    s.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s.view));
    TimelineView *timeline = s.view.timeline();
    QCOMPARE(timeline->duration(), 12.5);
    const int w = timeline->width();
    QVERIFY(w > 100);
    auto xOf = [w](double t) { return qRound(w * t / 12.5); };

    // Playhead at 5, In at 1, Out at 9: press at 6 grabs the playhead.
    s.model.setCurrentTime(5.0);
    QTest::mousePress(timeline, Qt::LeftButton, {}, QPoint(xOf(6.0), 14));
    QTest::mouseMove(timeline, QPoint(xOf(7.0), 14));
    QTest::mouseRelease(timeline, Qt::LeftButton, {}, QPoint(xOf(7.0), 14));
    QVERIFY(qAbs(s.model.currentTime() - 7.0) < 12.5 / w);
    QCOMPARE(s.view.currentTimeLabel()->text().left(8), QStringLiteral("00:00:06"));

    // Out is nearest at 9: the drag writes the model's Out mark and clamps it at In.
    QTest::mousePress(timeline, Qt::LeftButton, {}, QPoint(xOf(9.2), 14));
    QTest::mouseMove(timeline, QPoint(0, 14));
    QTest::mouseRelease(timeline, Qt::LeftButton, {}, QPoint(0, 14));
    QCOMPARE(s.model.outPoint(), 1.0);
    QVERIFY(qAbs(s.model.currentTime() - 7.0) < 12.5 / w);
    QCOMPARE(s.view.outLabel()->text(), QStringLiteral("Out: 00:00:01.000"));
}

void EditorControlsTest::playPauseSymbolFollowsPlayback()
{
    Screen s;
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

    // Played to the end, the model clears isPlaying and the symbol follows.
    QTest::mouseClick(playPause, Qt::LeftButton);
    QCOMPARE(playPause->symbol(), QStringLiteral("pause.circle.fill"));
    QVERIFY(waitFor([&] { return !s.model.isPlaying(); }, 8000));
    QCOMPARE(playPause->symbol(), QStringLiteral("play.circle.fill"));
    QVERIFY(s.model.currentTime() > 0.5);
}

QTEST_MAIN(EditorControlsTest)
#include "test_editorcontrols.moc"
