#include "app/ContentView.h"
#include "media/Player.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"
#include "views/EditorView.h"
#include "views/Theme.h"
#include "views/TimelineView.h"

#include <memory>

using namespace trimora;

namespace {

using Handle = TimelineView::Handle;

// A timeline bound to plain variables, 400 px wide: 40 px per second of a
// 10 s movie unless the test changes the duration.
struct Bar
{
    double current = 0;
    double in = 0;
    double out = 10;
    QVector<double> seeks;
    std::unique_ptr<TimelineView> view;

    explicit Bar(int width = 400, double duration = 10)
    {
        view = std::make_unique<TimelineView>(
            TimelineView::Binding{[this] { return current; }, [this](double t) { current = t; }},
            TimelineView::Binding{[this] { return in; }, [this](double t) { in = t; }},
            TimelineView::Binding{[this] { return out; }, [this](double t) { out = t; }});
        view->setDuration(duration);
        view->setOnSeek([this](double t) { seeks.append(t); });
        view->setFixedWidth(width);
    }

    bool show() { return showExposed(view.get()); }
    void press(int x) { QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(x, 14)); }
    void move(int x) { QTest::mouseMove(view.get(), QPoint(x, 14)); }
    void release(int x) { QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(x, 14)); }
};

bool near(QColor actual, QColor expected, int tolerance = 6)
{
    return qAbs(actual.red() - expected.red()) <= tolerance &&
           qAbs(actual.green() - expected.green()) <= tolerance &&
           qAbs(actual.blue() - expected.blue()) <= tolerance;
}

bool isOrange(QColor c)
{
    return c.red() > 180 && c.red() - c.blue() > 120 && c.green() > 80;
}

} // namespace

#define PIXEL_IS(image, x, y, colour)                                                              \
    QVERIFY2(near((image).pixelColor(x, y), colour),                                               \
             qPrintable(QStringLiteral("pixel (%1, %2) is %3")                                     \
                            .arg(x)                                                                \
                            .arg(y)                                                                \
                            .arg((image).pixelColor(x, y).name())))

class TimelineTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tiesGoToPlayheadThenIn();
    void outWinsOnlyWhenStrictlyNearest();
    void dragKeepsItsHandle();
    void clampsAtEndsAndAgainstTheOtherMark();
    void zeroDurationAndZeroWidth();
    void pixelsAtComputedPositions();
    void outBarStaysInsideAtTheStart();
    void keyframeTicksOfALoadedMovie();
};

void TimelineTest::tiesGoToPlayheadThenIn()
{
    Bar bar;
    QVERIFY(bar.show());
    // Playhead at x 80, In at x 160: a press midway grabs the playhead.
    bar.current = 2;
    bar.in = 4;
    bar.out = 10;
    bar.press(120);
    QCOMPARE(bar.view->dragging(), Handle::Playhead);
    QCOMPARE(bar.current, 3.0);
    QCOMPARE(bar.seeks, QVector<double>{3.0});
    QCOMPARE(bar.in, 4.0);
    bar.release(120);
    QVERIFY(!bar.view->dragging());

    // In at x 160, Out at x 240, playhead far left: midway grabs In.
    bar.current = 0;
    bar.in = 4;
    bar.out = 6;
    bar.seeks.clear();
    bar.press(200);
    QCOMPARE(bar.view->dragging(), Handle::InMark);
    QCOMPARE(bar.in, 5.0);
    QCOMPARE(bar.out, 6.0);
    QCOMPARE(bar.current, 0.0);
    QVERIFY(bar.seeks.isEmpty());
    bar.release(200);

    // Coinciding marks: In is grabbed and can only go left of Out.
    bar.in = 5;
    bar.out = 5;
    bar.press(200);
    QCOMPARE(bar.view->dragging(), Handle::InMark);
    bar.move(300);
    QCOMPARE(bar.in, 5.0);
    bar.move(100);
    QCOMPARE(bar.in, 2.5);
    QCOMPARE(bar.out, 5.0);
    bar.release(100);
}

void TimelineTest::outWinsOnlyWhenStrictlyNearest()
{
    Bar bar;
    QVERIFY(bar.show());
    bar.current = 0;
    bar.in = 0;
    bar.out = 10;
    bar.press(390);
    QCOMPARE(bar.view->dragging(), Handle::OutMark);
    QCOMPARE(bar.out, 9.75);
    QVERIFY(bar.seeks.isEmpty());
    bar.release(390);

    // Out and playhead at the same place: the playhead wins the tie.
    bar.current = 10;
    bar.out = 10;
    bar.press(390);
    QCOMPARE(bar.view->dragging(), Handle::Playhead);
    QCOMPARE(bar.out, 10.0);
    QCOMPARE(bar.current, 9.75);
    bar.release(390);
}

void TimelineTest::dragKeepsItsHandle()
{
    Bar bar;
    QVERIFY(bar.show());
    bar.current = 5; // x 200
    bar.in = 2;      // x 80
    bar.out = 10;
    bar.press(80);
    QCOMPARE(bar.view->dragging(), Handle::InMark);
    bar.move(200); // right over the playhead
    bar.move(240);
    QCOMPARE(bar.view->dragging(), Handle::InMark);
    QCOMPARE(bar.in, 6.0);
    QCOMPARE(bar.current, 5.0);
    QVERIFY(bar.seeks.isEmpty());
    bar.release(240);

    // The playhead, once grabbed, runs across both marks.
    bar.press(200);
    QCOMPARE(bar.view->dragging(), Handle::Playhead);
    bar.move(240);
    bar.move(400);
    bar.move(20);
    QCOMPARE(bar.current, 0.5);
    QCOMPARE(bar.seeks, (QVector<double>{5.0, 6.0, 10.0, 0.5}));
    QCOMPARE(bar.in, 6.0);
    QCOMPARE(bar.out, 10.0);
    bar.release(20);

    // A new drag chooses again.
    bar.press(392);
    QCOMPARE(bar.view->dragging(), Handle::OutMark);
    bar.release(392);
}

void TimelineTest::clampsAtEndsAndAgainstTheOtherMark()
{
    Bar bar;
    QVERIFY(bar.show());
    bar.current = 5;
    bar.in = 2;
    bar.out = 8;
    bar.press(200);
    bar.move(700);
    QCOMPARE(bar.current, 10.0);
    bar.move(-50);
    QCOMPARE(bar.current, 0.0);
    QCOMPARE(bar.seeks.last(), 0.0);
    bar.release(-50);

    bar.current = 5;
    bar.press(80);
    QCOMPARE(bar.view->dragging(), Handle::InMark);
    bar.move(380); // past Out
    QCOMPARE(bar.in, 8.0);
    bar.move(-30);
    QCOMPARE(bar.in, 0.0);
    bar.move(40);
    QCOMPARE(bar.in, 1.0);
    bar.release(40);

    bar.press(320);
    QCOMPARE(bar.view->dragging(), Handle::OutMark);
    bar.move(0); // past In
    QCOMPARE(bar.out, 1.0);
    bar.move(900);
    QCOMPARE(bar.out, 10.0);
    bar.release(900);
}

void TimelineTest::zeroDurationAndZeroWidth()
{
    {
        Bar bar(400, 0);
        QVERIFY(bar.show());
        bar.current = 3; // stale values from before: all drawn and measured at x 0
        bar.in = 1;
        bar.out = 2;
        bar.press(300);
        QCOMPARE(bar.view->dragging(), Handle::Playhead);
        QCOMPARE(bar.current, 0.0);
        QCOMPARE(bar.seeks, QVector<double>{0.0});
        bar.release(300);
        const QImage image = grabbed(*bar.view);
        PIXEL_IS(image, 0, 8, QColor(Qt::white));
        PIXEL_IS(image, 1, 8, QColor(Qt::white));
    }
    {
        // A bar without width has no time under the pointer: nothing moves.
        Bar bar(0);
        bar.view->resize(0, TimelineView::barHeight);
        bar.current = 4;
        bar.press(0);
        bar.move(10);
        bar.release(10);
        QVERIFY(!bar.view->dragging());
        QCOMPARE(bar.current, 4.0);
        QVERIFY(bar.seeks.isEmpty());
    }
}

void TimelineTest::pixelsAtComputedPositions()
{
    Bar bar;
    bar.current = 5; // playhead 199..201
    bar.in = 2;      // In handle 80..84
    bar.out = 8;     // Out handle 316..320
    bar.view->setMarkers({6.5, 20.0});
    QVERIFY(bar.show());
    const QImage image = grabbed(*bar.view);
    QCOMPARE(image.width(), 400);
    QCOMPARE(image.height(), 28);
    const QColor background = image.pixelColor(120, 1);

    // Each handle exactly where its time is, none wider than it should be.
    for (const auto &[x, colour] : {std::pair{80, Theme::green()},
                                    {83, Theme::green()},
                                    {79, background},
                                    {84, background},
                                    {316, Theme::red()},
                                    {319, Theme::red()},
                                    {320, background},
                                    {315, background},
                                    {199, QColor(Qt::white)},
                                    {200, QColor(Qt::white)},
                                    {205, background}})
        PIXEL_IS(image, x, 8, colour);
    // Handles span 3..25; nothing above or below them.
    PIXEL_IS(image, 81, 1, background);
    PIXEL_IS(image, 81, 26, background);

    // Diamond centred at (260, 14), 5 high on each side.
    QVERIFY(isOrange(image.pixelColor(259, 14)));
    QVERIFY(isOrange(image.pixelColor(260, 11)));
    QVERIFY(!isOrange(image.pixelColor(260, 7)));
    QVERIFY(!isOrange(image.pixelColor(264, 14)));
    // A marker past the end sits on the right edge, half of it cut off.
    QVERIFY(isOrange(image.pixelColor(399, 14)));
    QVERIFY(!isOrange(image.pixelColor(396, 14)));

    // The selected range tints the track between the marks only.
    QVERIFY(image.pixelColor(150, 14) != image.pixelColor(40, 14));
    QCOMPARE(image.pixelColor(40, 14), image.pixelColor(360, 14));
}

void TimelineTest::outBarStaysInsideAtTheStart()
{
    Bar bar;
    bar.current = 10;
    bar.in = 0;
    bar.out = 0.05; // x 2: the red bar would start at -2
    QVERIFY(bar.show());
    const QImage image = grabbed(*bar.view);
    PIXEL_IS(image, 0, 8, Theme::red());
    PIXEL_IS(image, 3, 8, Theme::red());
    PIXEL_IS(image, 4, 8, image.pixelColor(100, 1));
    // The playhead at the far end keeps its full width inside the bar only
    // on the left; on the right it is centred on the end.
    PIXEL_IS(image, 399, 8, QColor(Qt::white));
}

// The editor on a 6 s movie with a keyframe every 2 s: once the keyframes
// are read, a thin tick stands at 2 s and at 4 s, beneath the marks.
void TimelineTest::keyframeTicksOfALoadedMovie()
{
    Player::setDefaultOutput(Player::Output::SilentSurface);
    ContentView window;
    window.resize(960, 720);
    QVERIFY(showExposed(&window));
    VideoEditorViewModel *model = window.viewModel();
    model->loadVideo(QUrl::fromLocalFile(media(QStringLiteral("mx-h264.mp4"))));
    QVERIFY(waitFor([&] { return window.editor() && model->isCutSourceReady(); }, 20000));
    auto *timeline = window.editor()->findChild<TimelineView *>();
    QVERIFY(timeline);
    QTest::qWait(50);
    QImage image = grabbed(*timeline);
    const int width = image.width();
    const auto xAt = [&](double t) { return int(std::floor(width * t / model->videoDuration())); };
    const QColor background = image.pixelColor(xAt(3), 9);
    for (double keyframe : {2.0, 4.0}) {
        const QColor tick = image.pixelColor(xAt(keyframe), 9);
        QVERIFY2(qAbs(qGray(tick.rgb()) - qGray(background.rgb())) > 40,
                 qPrintable(tick.name() + QStringLiteral(" on ") + background.name()));
        // One pixel wide, and no higher than the handles.
        PIXEL_IS(image, xAt(keyframe) + 1, 9, background);
        PIXEL_IS(image, xAt(keyframe), 1, image.pixelColor(xAt(3), 1));
    }
    // The In handle is drawn over the tick.
    model->setInPointValue(2.0);
    QTest::qWait(50);
    image = grabbed(*timeline);
    PIXEL_IS(image, xAt(2.0), 9, Theme::green());
}

QTEST_MAIN(TimelineTest)
#include "test_timeline.moc"
