#include "media/CutSource.h"
#include "support/TestSupport.h"
#include "views/Theme.h"
#include "views/TimelineView.h"

#include <QApplication>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <memory>

using namespace trimora;

namespace {

using Handle = TimelineView::Handle;
using Move = std::pair<Handle, double>; // a seek is a move of the playhead

// A timeline on its own, 400 px wide: 40 px per second of a 10 s movie
// unless the test changes it. It records what it asks for.
struct Bar
{
    std::unique_ptr<TimelineView> view = std::make_unique<TimelineView>();
    QVector<Move> moves;
    int dragsStarted = 0;
    int dragsFinished = 0;

    explicit Bar(int width = 400, double duration = 10)
    {
        view->setFixedWidth(width);
        view->setDuration(duration);
        QObject::connect(view.get(), &TimelineView::seekRequested, [this](double t) {
            moves.append({Handle::Playhead, t});
        });
        QObject::connect(view.get(), &TimelineView::markMoveRequested, [this](Handle h, double t) {
            moves.append({h, t});
        });
        QObject::connect(view.get(), &TimelineView::markDragStarted, [this] { ++dragsStarted; });
        QObject::connect(view.get(), &TimelineView::markDragFinished, [this] { ++dragsFinished; });
    }

    void set(double playhead, double in, double out)
    {
        view->setPlayhead(playhead);
        view->setRanges({{in, out}}, 0);
    }
    bool show() { return showExposed(view.get()); }
    QPoint at(double x) const { return {int(x), int(view->barRect().top() + 14)}; }
    void press(double x) { QTest::mousePress(view.get(), Qt::LeftButton, {}, at(x)); }
    void move(double x) { QTest::mouseMove(view.get(), at(x)); }
    void release(double x) { QTest::mouseRelease(view.get(), Qt::LeftButton, {}, at(x)); }
    void click(double x)
    {
        press(x);
        release(x);
    }
    void wheel(double x, int delta, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        const QPointF pos(x, 20);
        QWheelEvent event(pos, view->mapToGlobal(pos), {}, {0, delta}, Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.get(), &event);
    }
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

    // Pressing at the first x, moving through the others and releasing at the
    // last: which handle the press grabs and what it asks for. Ties go to the
    // playhead, then In; Out wins only when strictly nearest; a drag keeps its
    // handle over the others; the view does not clamp marks (the model does),
    // but holds the pointer to itself.
    void dragsPickAHandleAndAskForMoves()
    {
        struct Drag
        {
            const char *what;
            int width;
            double duration, current, in, out;
            QVector<int> xs;
            std::optional<Handle> handle;
            QVector<double> asked;
        };
        const auto P = Handle::Playhead, I = Handle::InMark, O = Handle::OutMark;
        // clang-format off
        const Drag drags[] = {
            // what                                        width dur at  In Out xs                grabs asks
            {"playhead x 80, In x 160: midway is playhead", 400, 10, 2,  4, 10, {120},            P,  {3}},
            {"In x 160, Out x 240: midway is In",           400, 10, 0,  4, 6,  {200},            I,  {5}},
            {"coinciding marks: In, asked past Out",        400, 10, 0,  5, 5,  {200, 300},       I,  {5, 7.5}},
            {"Out strictly nearest",                        400, 10, 0,  0, 10, {390},            O,  {9.75}},
            {"Out and playhead together: the playhead",     400, 10, 10, 0, 10, {390},            P,  {9.75}},
            {"In dragged over the playhead stays In",       400, 10, 5,  2, 10, {80, 200, 240},   I,  {2, 5, 6}},
            {"the pointer is held to the view",             400, 10, 5,  2, 8,  {200, 700, -50},  P,  {5, 10, 0}},
            {"zero duration: all at x 0",                   400, 0,  3,  1, 2,  {300},            P,  {0}},
            {"zero width: nothing under the pointer",       0,   10, 4,  0, 10, {0, 10},          {}, {}},
        };
        // clang-format on
        for (const Drag &d : drags) {
            Bar bar(d.width, d.duration);
            if (d.width > 0)
                QVERIFY(bar.show());
            bar.set(d.current, d.in, d.out);
            bar.press(d.xs.first());
            for (int x : d.xs.mid(1))
                bar.move(x);
            QVERIFY2(bar.view->dragging() == d.handle, d.what);
            bar.release(d.xs.last());
            QVERIFY2(!bar.view->dragging(), d.what);
            QVector<Move> expected;
            for (double t : d.asked)
                expected.append({*d.handle, t});
            QVERIFY2(bar.moves == expected, d.what);
            // A mark's drag is announced once at each end, a seek's never.
            const int ends = d.handle && d.handle != P ? 1 : 0;
            QVERIFY2(bar.dragsStarted == ends && bar.dragsFinished == ends, d.what);
        }

        // Zoomed in on 40..50 s of 100 s: In at 39 s is nearest the press but
        // out of view, so the press seeks instead of pulling it in.
        Bar bar(400, 100);
        QVERIFY(bar.show());
        bar.set(90, 39, 70);
        bar.view->zoomAt(10, 0);
        bar.view->scrollTo(40);
        bar.click(10);
        QCOMPARE(bar.moves, (QVector<Move>{{P, 40.25}}));
    }

    // Ctrl+wheel on a two-hour movie keeps the time under the pointer where
    // it was, at every step, from the whole movie down to single frames; the
    // wheel alone scrolls and the scroll bar follows; a playhead moved out of
    // view brings the view along.
    void zoomKeepsTheTimeUnderThePointer()
    {
        Bar bar(800, 7200);
        QVERIFY(bar.show());
        const TimelineAxis &axis = bar.view->axis();
        QVERIFY(axis.isFitted());
        QVERIFY(!bar.view->findChild<QScrollBar *>()->isEnabled());
        for (const auto &[x, notches] :
             {std::pair{100.0, 1}, {400.0, 3}, {790.0, 2}, {0.0, 5}, {250.0, -2}, {640.0, 12}}) {
            const double before = axis.timeAt(x);
            bar.wheel(x, notches * 120);
            QVERIFY2(qAbs(axis.timeAt(x) - before) < 1e-6,
                     qPrintable(QStringLiteral("x %1: %2 s became %3 s")
                                    .arg(x)
                                    .arg(before)
                                    .arg(axis.timeAt(x))));
        }
        // All the way in: a frame of the default 1/25 s is one and a half pictures wide.
        const double centre = axis.timeAt(300);
        for (int i = 0; i < 40; ++i)
            bar.wheel(300, 120);
        QCOMPARE(axis.pixelsPerSecond, bar.view->mostPixelsPerSecond());
        QVERIFY(qAbs(axis.timeAt(300) - centre) < 1e-6);
        QVERIFY(qAbs(0.04 * axis.pixelsPerSecond - 1.5 * 72 * 16 / 9) < 1e-6);

        QScrollBar *scroll = bar.view->findChild<QScrollBar *>();
        QVERIFY(scroll->isEnabled());
        const double start = axis.start;
        bar.wheel(300, -120, Qt::NoModifier);
        QVERIFY(axis.start > start && axis.pixelsPerSecond == bar.view->mostPixelsPerSecond());
        QCOMPARE(scroll->value(), qRound(axis.start * axis.pixelsPerSecond / 1.0));
        scroll->setValue(scroll->maximum());
        QVERIFY(qAbs(axis.end() - 7200) < 1e-3);

        // The playhead jumps out of view: the view follows, showing it a
        // tenth of the way in; inside the view it stays put.
        bar.view->setPlayhead(1000);
        QVERIFY(qAbs(axis.start - (1000 - axis.span() / 10)) < 1e-9);
        bar.view->setPlayhead(1000 + axis.span() / 2);
        QVERIFY(qAbs(axis.start - (1000 - axis.span() / 10)) < 1e-9);

        for (int i = 0; i < 80; ++i)
            bar.wheel(300, -120);
        QVERIFY(axis.isFitted() && axis.start == 0);
        QVERIFY(!scroll->isEnabled());
    }

    // At frame zoom every frame of a real movie is as wide as its own time
    // on screen: a tick at its first pixel, a press anywhere in it seeks to
    // its own time, and a mark goes to the nearer edge. 29.97 fps, and
    // frames kept irregularly, whose widths differ.
    void frameZoomMapsPixelsToFrames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("uneven");
        QTest::newRow("29.97 fps") << "mx-ntsc.mp4" << false;
        QTest::newRow("variable frame rate") << "vfr.mkv" << true;
    }

    void frameZoomMapsPixelsToFrames()
    {
        QFETCH(QString, name);
        QFETCH(bool, uneven);
        const std::shared_ptr<const VideoIndex> index = readVideoIndex(name);
        QVERIFY(index && index->framePts.size() > 20);
        const std::vector<double> &frames = index->framePts;
        // Wide enough for a five-frame gap of the irregular movie at 0.84 s.
        Bar bar(1500, frames.back() + index->frameDuration);
        bar.view->setVideoIndex(index);
        QVERIFY(bar.show());
        // Marks out of view: every press grabs the playhead.
        bar.view->setRanges({{0, frames.back()}}, 0);
        bar.view->zoomAt(1e9, 0);
        bar.view->scrollTo(frames[7]);
        const TimelineAxis &axis = bar.view->axis();
        QVERIFY(index->frameDuration * axis.pixelsPerSecond > 150);

        const QImage image = grabbed(*bar.view);
        const int tickY = int(bar.view->barRect().top() + 14 - 3 - 1);
        const QColor background = image.pixelColor(int(axis.xAt(frames[7])) + 40, tickY);
        QSet<int> widths;
        int checked = 0;
        for (std::size_t i = 7; i + 1 < frames.size() && axis.xAt(frames[i + 1]) < 1500; ++i) {
            const double left = axis.xAt(frames[i]);
            const double right = axis.xAt(frames[i + 1]);
            widths.insert(qRound(right - left));
            const QColor tick = image.pixelColor(int(std::floor(left)), tickY);
            QVERIFY2(!near(tick, background, 20), qPrintable(QString::number(i)));
            PIXEL_IS(image, int(std::floor(left)) + 3, tickY, background);
            // Keyframes stand out from the other frames' ticks.
            const bool key =
                std::binary_search(index->keyframes.begin(), index->keyframes.end(), frames[i]);
            QCOMPARE(near(tick, Theme::accent(), 40), key);

            bar.moves.clear();
            bar.click(std::ceil(left) + 1);
            bar.click((left + right) / 2);
            bar.click(std::ceil(right) - 2);
            QCOMPARE(bar.moves, (QVector<Move>(3, {Handle::Playhead, frames[i]})));
            ++checked;
        }
        QVERIFY(checked >= 3);
        QCOMPARE(widths.size() > 1, uneven);

        // In, in view, dragged to just past a frame's start goes to that start,
        // and to the next frame's start from just before it.
        bar.view->setRanges({{frames[7], frames.back()}}, 0);
        bar.moves.clear();
        bar.press(axis.xAt(frames[7]) + 1);
        bar.move(axis.xAt(frames[8]) + 10);
        bar.move(axis.xAt(frames[9]) - 10);
        bar.release(axis.xAt(frames[9]) - 10);
        QCOMPARE(bar.moves, (QVector<Move>{{Handle::InMark, frames[7]},
                                           {Handle::InMark, frames[8]},
                                           {Handle::InMark, frames[9]}}));
    }

    // Segments, the selected one's handles, markers and the playhead, each
    // exactly where its time is, fitted and zoomed.
    void pixelsAtComputedPositions()
    {
        Bar bar;
        bar.view->setPlayhead(5);                     // 199..201
        bar.view->setRanges({{0.5, 1.5}, {2, 8}}, 1); // handles 80..84, 316..320
        bar.view->setMarkers({6.5, 20.0});
        QVERIFY(bar.show());
        QImage image = grabbed(*bar.view);
        const int top = int(bar.view->barRect().top());
        const QColor background = image.pixelColor(120, top + 1);
        const QColor green = Theme::green(), red = Theme::red(), white(Qt::white);
        // clang-format off
        for (const auto &[x, colour] : {std::pair{80, green}, {83, green}, {79, background}, {84, background},
                                        {316, red}, {319, red}, {320, background}, {315, background},
                                        {199, white}, {200, white}, {205, background},
                                        {20, background}, {59, background}})
            // clang-format on
            PIXEL_IS(image, x, top + 8, colour);
        PIXEL_IS(image, 81, top + 1, background);
        PIXEL_IS(image, 81, top + 26, background);
        // The playhead crosses the pictures too.
        PIXEL_IS(image, 200, 30, white);
        // The selected segment is shaded more than the other, the track not at all.
        const auto grey = [&](int x) { return qGray(image.pixel(x, top + 14)); };
        QVERIFY(grey(40) != grey(10) && grey(150) != grey(40) && grey(10) == grey(360));
        // Diamond centred at (260, 14); a marker past the end sits on the edge.
        QVERIFY(isOrange(image.pixelColor(259, top + 14)));
        QVERIFY(!isOrange(image.pixelColor(260, top + 7)));
        QVERIFY(isOrange(image.pixelColor(399, top + 14)));

        // Four times closer from 4 s on: the marker at 6.5 s is at 400 px,
        // the playhead at 160 px, In and the other segment out of view.
        bar.view->zoomAt(4, 0);
        bar.view->scrollTo(4);
        image = grabbed(*bar.view);
        QVERIFY(isOrange(image.pixelColor(399, top + 14)));
        PIXEL_IS(image, 159, top + 8, white);
        PIXEL_IS(image, 1, top + 8, background);
    }
};

QTEST_MAIN(TimelineTest)
#include "test_timeline.moc"
