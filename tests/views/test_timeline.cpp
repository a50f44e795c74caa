#include "support/TestSupport.h"
#include "views/Theme.h"
#include "views/TimelineView.h"

#include <algorithm>
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

    // Pressing at the first x, moving through the others and releasing at the last:
    // which handle the press grabs, and the times and seeks that follow. Ties go to
    // the playhead, then In; Out wins only when strictly nearest; a drag keeps its
    // handle over the others; marks clamp at the ends and at each other.
    void dragsPickAHandleAndClamp()
    {
        struct Drag
        {
            const char *what;
            int width;
            double duration, current, in, out;
            QVector<int> xs;
            std::optional<Handle> handle;
            double current2, in2, out2;
            QVector<double> seeks;
        };
        const auto P = Handle::Playhead, I = Handle::InMark, O = Handle::OutMark;
        // clang-format off
        const Drag drags[] = {
            // what                                       width dur  at  In  Out  xs                    grabs  at    In   Out  seeks
            {"playhead x 80, In x 160: midway is playhead", 400, 10, 2,  4,  10, {120},                P, 3,    4,   10,   {3}},
            {"In x 160, Out x 240: midway is In",           400, 10, 0,  4,  6,  {200},                I, 0,    5,   6,    {}},
            {"coinciding marks: In, not right of Out",      400, 10, 0,  5,  5,  {200, 300},           I, 0,    5,   5,    {}},
            {"coinciding marks: In goes left",              400, 10, 0,  5,  5,  {200, 300, 100},      I, 0,    2.5, 5,    {}},
            {"Out strictly nearest",                        400, 10, 0,  0,  10, {390},                O, 0,    0,   9.75, {}},
            {"Out and playhead together: the playhead",     400, 10, 10, 0,  10, {390},                P, 9.75, 0,   10,   {9.75}},
            {"In dragged over the playhead stays In",       400, 10, 5,  2,  10, {80, 200, 240},       I, 5,    6,   10,   {}},
            {"the playhead runs across both marks",         400, 10, 5,  6,  10, {200, 240, 400, 20},  P, 0.5,  6,   10,   {5, 6, 10, 0.5}},
            {"the playhead clamps at both ends",            400, 10, 5,  2,  8,  {200, 700, -50},      P, 0,    2,   8,    {5, 10, 0}},
            {"In clamps at Out",                            400, 10, 5,  2,  8,  {80, 380},            I, 5,    8,   8,    {}},
            {"In clamps at 0 and comes back",               400, 10, 5,  2,  8,  {80, 380, -30, 40},   I, 5,    1,   8,    {}},
            {"In clamps at 0",                              400, 10, 5,  2,  8,  {80, -30},            I, 5,    0,   8,    {}},
            {"Out clamps at In",                            400, 10, 5,  1,  8,  {320, 0},             O, 5,    1,   1,    {}},
            {"Out clamps at the end",                       400, 10, 5,  1,  8,  {320, 900},           O, 5,    1,   10,   {}},
            // Stale values from before a zero duration: all measured at x 0.
            {"zero duration",                               400, 0,  3,  1,  2,  {300},                P, 0,    1,   2,    {0}},
            // A bar without width has no time under the pointer: nothing moves.
            {"zero width",                                  0,   10, 4,  0,  10, {0, 10},              {}, 4,   0,   10,   {}},
        };
        // clang-format on
        // One bar for rows of one size, so each press also shows that the drag
        // before it let go of its handle.
        std::unique_ptr<Bar> bar;
        for (const Drag &d : drags) {
            if (!bar || bar->view->width() != d.width || bar->view->duration() != d.duration) {
                bar = std::make_unique<Bar>(d.width, d.duration);
                if (d.width > 0)
                    QVERIFY(bar->show());
                else
                    bar->view->resize(0, TimelineView::barHeight);
            }
            bar->current = d.current;
            bar->in = d.in;
            bar->out = d.out;
            bar->seeks.clear();
            bar->press(d.xs.first());
            for (int x : d.xs.mid(1))
                bar->move(x);
            QVERIFY2(bar->view->dragging() == d.handle, d.what);
            bar->release(d.xs.last());
            QVERIFY2(!bar->view->dragging(), d.what);
            QVERIFY2(bar->current == d.current2 && bar->in == d.in2 && bar->out == d.out2 &&
                         std::ranges::equal(bar->seeks, d.seeks),
                     qPrintable(QStringLiteral("%1: at %2, In %3, Out %4")
                                    .arg(QLatin1String(d.what))
                                    .arg(bar->current)
                                    .arg(bar->in)
                                    .arg(bar->out)));
        }
    }

    void pixelsAtComputedPositions()
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
        const QColor green = Theme::green(), red = Theme::red(), white(Qt::white);
        // clang-format off
        for (const auto &[x, colour] : {std::pair{80, green}, {83, green}, {79, background}, {84, background},
                                        {316, red}, {319, red}, {320, background}, {315, background},
                                        {199, white}, {200, white}, {205, background}})
            // clang-format on
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

    // At the edges everything stays drawn inside the bar: with no duration, stale
    // values all at x 0; an Out at 0.05 s (x 2), whose red bar would start at -2;
    // a playhead at the far end, centred on it. An invalid colour is the background.
    void edgesStayInsideTheBar()
    {
        struct Look
        {
            double duration, current, in, out;
            QVector<std::pair<int, QColor>> at;
        };
        const QColor white(Qt::white);
        for (const Look &look :
             {Look{0, 3, 1, 2, {{0, white}, {1, white}}},
              Look{10,
                   10,
                   0,
                   0.05,
                   {{0, Theme::red()}, {3, Theme::red()}, {4, {}}, {399, white}}}}) {
            Bar bar(400, look.duration);
            bar.current = look.current;
            bar.in = look.in;
            bar.out = look.out;
            QVERIFY(bar.show());
            const QImage image = grabbed(*bar.view);
            for (const auto &[x, colour] : look.at)
                PIXEL_IS(image, x, 8, colour.isValid() ? colour : image.pixelColor(100, 1));
        }
    }
};

QTEST_MAIN(TimelineTest)
#include "test_timeline.moc"
