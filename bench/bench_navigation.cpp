// Finding one's way in the two-hour benchmark movie, in the application's own
// window, from loadVideo() on:
// - when the first picture of the strip arrives, when the strip is complete
//   for the fitted view, and when the sound overview is complete;
// - how late a 5 ms main-thread timer fires meanwhile (99th percentile);
// - the timeline's paint with pictures showing, fitted and at frame zoom, and
//   while scrolling at a middle zoom;
// - the process's resident memory, before the load and after the pictures
//   and the overview are in (then after scrolling 2 000 frames at frame zoom).
// Run it offscreen (QT_QPA_PLATFORM=offscreen: no video surface, so that
// software composition does not dominate) and in a window under Xvfb:
//   QT_QPA_PLATFORM=offscreen build/bench/bench/bench_navigation [--without]
//   xvfb-run -a -s '-screen 0 1280x1024x24' build/bench/bench/bench_navigation
// --without loads the movie with the pictures and the overview turned off at
// once, for the memory the rest of the load takes.
#include "BenchMovies.h"
#include "BenchProcess.h"
#include "app/AppWindow.h"
#include "app/ContentView.h"
#include "app/TrimoraApp.h"
#include "media/Player.h"
#include "model/Analysis.h"
#include "model/Movie.h"
#include "model/SoundOverview.h"
#include "model/ThumbnailStrip.h"
#include "model/VideoEditorViewModel.h"
#include "views/EditorView.h"
#include "views/SoundOverviewView.h"
#include "views/TimelineView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using namespace trimora;

namespace {

using bench::residentMegabytes;
using bench::waitUntil;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

// How late a 5 ms timer fires, in milliseconds, while it runs.
class Lateness : public QObject
{
public:
    Lateness()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const double now = m_clock.nsecsElapsed() / 1e6;
            samples.push_back(std::max(0.0, now - m_due));
            m_due = now + 5;
        });
    }
    void start()
    {
        samples.clear();
        m_clock.start();
        m_due = 5;
        m_timer.start(5);
    }
    void stop() { m_timer.stop(); }
    std::vector<double> samples;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_due = 0;
};

struct PaintTimes
{
    double median = 0, p99 = 0, worst = 0;
};

// The timeline painted into an image, as the window's raster back store
// would have it painted: the paint itself, without the copy to the screen.
PaintTimes paintTimes(TimelineView *timeline, int rounds,
                      const std::function<void(int)> &before = {})
{
    QImage image(timeline->size(), QImage::Format_ARGB32_Premultiplied);
    timeline->render(&image); // as the window has painted before
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        if (before)
            before(i);
        QElapsedTimer clock;
        clock.start();
        timeline->render(&image);
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    return {percentile(ms, 0.5), percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end())};
}

} // namespace

int main(int argc, char **argv)
{
    TrimoraApp::configureAllocator();
    QApplication application(argc, argv);
    TrimoraApp::configureApplication();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    if (offscreen)
        Player::setDefaultOutput(Player::Output::None);
    const bool without = argc > 1 && std::strcmp(argv[1], "--without") == 0;
    const std::string movie = bench::movie("2h");
    if (movie.empty())
        return 1;
    std::printf("platform %s, load average %.2f\n", qPrintable(QGuiApplication::platformName()),
                bench::loadAverage());

    // Offscreen there is no OpenGL for the video surface: the timeline and
    // the overview in a window of their own, fed by the model as the editor
    // feeds them.
    TrimoraApp app;
    AppWindow *window = nullptr;
    std::unique_ptr<VideoEditorViewModel> ownModel;
    std::unique_ptr<QWidget> ownWindow;
    TimelineView *timeline = nullptr;
    VideoEditorViewModel *model = nullptr;
    if (offscreen) {
        ownModel = std::make_unique<VideoEditorViewModel>();
        model = ownModel.get();
        ownWindow = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(ownWindow.get());
        timeline = new TimelineView(ownWindow.get());
        auto *sound = new SoundOverviewView(ownWindow.get());
        layout->addWidget(timeline);
        layout->addWidget(sound);
        timeline->setThumbnails(model->analysis()->thumbnails());
        sound->setOverview(model->analysis()->soundOverview());
        QObject::connect(model->movie(), &Movie::videoDurationChanged, [=] {
            timeline->setDuration(model->movie()->videoDuration());
            sound->setDuration(model->movie()->videoDuration());
        });
        QObject::connect(model->movie(), &Movie::cutSourceChanged,
                         [=] { timeline->setVideoIndex(model->movie()->videoIndex()); });
        ownWindow->resize(960, 200);
        ownWindow->show();
    } else {
        window = app.openWindow();
        model = window->content()->viewModel();
    }
    waitUntil([] { return false; }, 500);
    const double rssBefore = residentMegabytes();

    Lateness lateness;
    lateness.start();
    QElapsedTimer clock;
    clock.start();
    model->loadVideo(QUrl::fromLocalFile(QString::fromStdString(movie)));
    if (without) {
        waitUntil([&] { return model->movie()->isLoaded(); }, 20000);
        model->analysis()->thumbnails()->setSource({});
        model->analysis()->soundOverview()->start({}, 0);
        waitUntil([&] { return model->movie()->videoIndex() != nullptr; }, 60000);
        waitUntil([] { return false; }, 6000); // as long as the pictures' reader takes to close
        std::printf("resident memory: %.1f MB before the load, %.1f MB loaded without the "
                    "pictures and the overview (+%.1f MB)\n",
                    rssBefore, residentMegabytes(), residentMegabytes() - rssBefore);
        return 0;
    }
    if (!offscreen) {
        if (!waitUntil([&] { return window->content()->editor() != nullptr; }, 20000))
            return 1;
        timeline = window->content()->editor()->timeline();
    }
    ThumbnailStrip *strip = model->analysis()->thumbnails();
    SoundOverview *overview = model->analysis()->soundOverview();
    double firstPicture = -1, stripComplete = -1, overviewComplete = -1;
    double rssPeak = 0;
    waitUntil(
        [&] {
            const double now = clock.elapsed() / 1000.0;
            rssPeak = std::max(rssPeak, residentMegabytes());
            if (firstPicture < 0 && strip->count() > 0)
                firstPicture = now;
            const TimelineView::PictureCount count = timeline->picturesInView();
            if (stripComplete < 0 && count.slots > 0 && count.missing == 0)
                stripComplete = now;
            if (overviewComplete < 0 && overview->isComplete() && !overview->levels().isEmpty())
                overviewComplete = now;
            return stripComplete >= 0 && overviewComplete >= 0;
        },
        180000);
    lateness.stop();
    const std::vector<double> late = lateness.samples;
    std::printf("first picture %.2f s, strip complete for the fitted view %.2f s (%d pictures), "
                "sound overview complete %.2f s (%lld values)\n",
                firstPicture, stripComplete, timeline->picturesInView().slots, overviewComplete,
                static_cast<long long>(overview->levels().size()));
    std::printf("5 ms timer meanwhile: %zu firings, lateness median %.2f ms, 99th percentile "
                "%.2f ms, worst %.2f ms\n",
                late.size(), percentile(late, 0.5), percentile(late, 0.99),
                late.empty() ? 0.0 : *std::max_element(late.begin(), late.end()));
    // Silences show: the overview near 4:15 of each ten minutes, against the tone.
    const double per = overview->secondsPerValue();
    const auto level = [&](double t) { return overview->levels().value(qsizetype(t / per), -1); };
    std::printf("overview at 0:04:15 %.3f, 1:04:15 %.3f; at 0:02:00 %.3f, 1:02:00 %.3f\n",
                level(255), level(3855), level(120), level(3720));
    // Settled: the frames known and the pictures' reader closed for want of work.
    waitUntil([&] { return model->movie()->videoIndex() != nullptr; }, 60000);
    waitUntil([] { return false; }, 6000);
    const double rssLoaded = residentMegabytes();

    const PaintTimes fitted = paintTimes(timeline, 100);
    std::printf("paint, fitted with %d pictures: median %.2f ms, 99th percentile %.2f ms, worst "
                "%.2f ms\n",
                timeline->picturesInView().slots - timeline->picturesInView().missing,
                fitted.median, fitted.p99, fitted.worst);

    // Frame zoom in the middle of the movie, once its frames are known.
    waitUntil([&] { return model->movie()->videoIndex() != nullptr; }, 60000);
    timeline->zoomAt(1e9, timeline->width() / 2.0);
    timeline->scrollTo(3600);
    clock.restart();
    waitUntil([&] { return timeline->picturesInView().missing == 0; }, 60000);
    std::printf("frame zoom at 1:00:00: %d pictures in %.2f s\n", timeline->picturesInView().slots,
                clock.elapsed() / 1000.0);
    const PaintTimes frames = paintTimes(timeline, 100);
    std::printf("paint, frame zoom: median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n",
                frames.median, frames.p99, frames.worst);

    // Scrolling a view of 40 s, a tenth of it per step, letting the events in.
    timeline->zoomToFit();
    timeline->zoomAt(7200.0 / 40, 0);
    timeline->scrollTo(1800);
    const PaintTimes scrolling = paintTimes(timeline, 200, [&](int) {
        timeline->scrollTo(timeline->axis().start + 4);
        QCoreApplication::processEvents();
    });
    std::printf("paint while scrolling 40 s views: median %.2f ms, 99th percentile %.2f ms, "
                "worst %.2f ms\n",
                scrolling.median, scrolling.p99, scrolling.worst);

    // 2 000 frames at frame zoom, a view at a time.
    timeline->zoomAt(1e9, 0);
    timeline->scrollTo(5000);
    while (timeline->axis().start < 5000 + 2000 * 0.04) {
        waitUntil([&] { return timeline->picturesInView().missing == 0; }, 20000);
        rssPeak = std::max(rssPeak, residentMegabytes());
        timeline->scrollTo(timeline->axis().end());
    }
    waitUntil([] { return false; }, 6000);
    const double rssFrames = residentMegabytes();
    rssPeak = std::max({rssPeak, rssLoaded, rssFrames});
    std::printf("resident memory: %.1f MB before the load; settled with the pictures and the "
                "overview %.1f MB (+%.1f MB), after 2 000 frames at frame zoom %.1f MB (+%.1f "
                "MB); at most %.1f MB (+%.1f MB); pictures kept %d, %.1f MB\n",
                rssBefore, rssLoaded, rssLoaded - rssBefore, rssFrames, rssFrames - rssBefore,
                rssPeak, rssPeak - rssBefore, strip->count(), strip->bytes() / 1048576.0);
    if (window)
        window->close();
    return 0;
}
