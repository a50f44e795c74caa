// A long session in one window: movies good and bad loaded one after another,
// each scanned, cancelled and scrubbed across, with a second window opened and
// closed now and then. Prints resident memory, open descriptors and threads,
// and exits non-zero when memory grew or descriptors or threads stayed behind.
//
//   trimora_soak MEDIA_DIR [LOADS]
// SOAK_NO_SECOND=1 leaves out the second windows, to tell their share apart.
#include "../BenchProcess.h"
#include "app/AppWindow.h"
#include "app/ContentView.h"
#include "app/TrimoraApp.h"
#include "media/Player.h"
#include "model/Analysis.h"
#include "model/Movie.h"
#include "model/Segments.h"
#include "model/Transport.h"
#include "model/VideoEditorViewModel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <malloc.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>

using namespace trimora;

namespace {

constexpr double rssLimitMb = 30.0;

struct Counts
{
    int fds = 0;
    int threads = 0;
};

int entries(const char *dir)
{
    return static_cast<int>(
        QDir(QString::fromLatin1(dir)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

Counts counts()
{
    return {entries("/proc/self/fd"), entries("/proc/self/task")};
}

bool spinUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void spin(int ms)
{
    spinUntil([] { return false; }, ms);
}

bool closeWindow(AppWindow *window)
{
    QPointer<AppWindow> guard(window);
    window->close();
    return spinUntil([&] { return guard.isNull(); }, 10000);
}

// Bytes the allocator has handed out and not had back: tells growth in use
// from growth the allocator merely keeps.
double heapInUseMb()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// Background readers retire their threads, idle pool threads are let go, and
// the allocator hands freed pages back, so that the resident size counts what
// is still in use rather than what the heap kept for later.
void quiesce()
{
    spin(500);
    QThreadPool::globalInstance()->waitForDone(30000);
    spin(500);
    malloc_trim(0);
}

struct Input
{
    QString path;
    bool loads;
};

// Loads one movie as the drop zone would; for a playable one, waits for its
// duration (the In mark is moved away first, the finished load puts it at 0).
bool load(AppWindow *window, const Input &input)
{
    VideoEditorViewModel *model = window->content()->viewModel();
    model->segments()->setIn(-1.0);
    window->content()->openChosenFile(QUrl::fromLocalFile(input.path));
    if (!input.loads) {
        spin(150);
        return true;
    }
    return spinUntil(
        [&] { return model->movie()->isLoaded() && model->segments()->inPoint() == 0.0; }, 20000);
}

void scanScrubAndCancel(VideoEditorViewModel *model)
{
    model->analysis()->startScan();
    const double d = model->movie()->videoDuration();
    for (int step = 0; step <= 10; ++step) {
        const double t = d * ((step * 7) % 11) / 10.0;
        model->transport()->seek(t);
        spin(25);
    }
    model->analysis()->cancelScan();
    spin(20);
}

} // namespace

int main(int argc, char *argv[])
{
    TrimoraApp::configureAllocator();
    // Line by line, so the figures survive a sanitizer's exit at the end.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication application(argc, argv);
    TrimoraApp::configureApplication();
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MEDIA_DIR [LOADS]\n", argv[0]);
        return 2;
    }
    const QString mediaDir = QString::fromLocal8Bit(argv[1]);
    const int loads = argc > 2 ? std::atoi(argv[2]) : 200;
    Player::setDefaultOutput(Player::Output::SilentSurface);

    QTemporaryDir scratch;
    const QString fifo = scratch.filePath(QStringLiteral("pipe.mp4"));
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    const auto m = [&](const char *name) { return mediaDir + QLatin1Char('/') + name; };
    const QList<Input> inputs{
        {m("movie.mp4"), true},
        {m("not_a_movie.mp4"), false},
        {m("clip1s.mp4"), true},
        {m("vfr.mkv"), true},
        {m("empty.mp4"), false},
        {m("audioonly.m4a"), true},
        {m("rotated.mp4"), true},
        {m("truncated.mp4"), false},
        {m("twoaudio.mkv"), true},
        {m("offset.ts"), true},
        {fifo, false},
        {m("halfmovie.mkv"), true},
        {m("noaudio.mp4"), true},
        {mediaDir, false},
        {m("tenhours.mp4"), true},
        {m("videoonly.mkv"), true},
        {m("missing.mp4"), false},
        {m("export25.mp4"), true},
    };
    for (const Input &input : inputs) {
        if (input.loads && !QFileInfo::exists(input.path)) {
            std::fprintf(stderr, "missing test movie %s\n", qPrintable(input.path));
            return 2;
        }
    }

    TrimoraApp app;
    // One-time set-up of the display, GL and media libraries is not a leak:
    // a window that loads, plays and closes before the count starts pays it.
    {
        AppWindow *warmUp = app.openWindow();
        if (!load(warmUp, inputs.first()))
            return 2;
        scanScrubAndCancel(warmUp->content()->viewModel());
        closeWindow(warmUp);
        quiesce();
    }
    const Counts start = counts();
    std::printf("start: fds %d threads %d rss %.1f MB\n", start.fds, start.threads,
                bench::residentMegabytes());

    QElapsedTimer clock;
    clock.start();
    AppWindow *window = app.openWindow();
    double rssAfter10 = 0.0;
    int failedLoads = 0;
    int secondWindows = 0;
    for (int i = 0; i < loads; ++i) {
        // The last load repeats the first, so both ends hold the same movie.
        const Input &input = i == loads - 1 ? inputs.first() : inputs.at(i % inputs.size());
        if (!load(window, input)) {
            ++failedLoads;
            std::fprintf(stderr, "load %d of %s did not finish\n", i + 1, qPrintable(input.path));
        }
        scanScrubAndCancel(window->content()->viewModel());
        if ((i + 1) % 20 == 0 && !qEnvironmentVariableIsSet("SOAK_NO_SECOND")) {
            AppWindow *second = app.openWindow();
            load(second, inputs.at((i / 20) % inputs.size()).loads
                             ? inputs.at((i / 20) % inputs.size())
                             : inputs.first());
            scanScrubAndCancel(second->content()->viewModel());
            closeWindow(second);
            ++secondWindows;
        }
        if (i + 1 == 10) {
            quiesce();
            rssAfter10 = bench::residentMegabytes();
            std::printf("after 10 loads: rss %.1f MB\n", rssAfter10);
        }
        if ((i + 1) % 25 == 0) {
            malloc_trim(0);
            std::printf("  %d loads, rss %.1f MB, heap in use %.1f MB, %lld s\n", i + 1,
                        bench::residentMegabytes(), heapInUseMb(),
                        static_cast<long long>(clock.elapsed() / 1000));
            std::fflush(stdout);
        }
    }
    quiesce();
    const double rssEnd = bench::residentMegabytes();
    std::printf("after %d loads: rss %.1f MB (%+.1f MB since load 10)\n", loads, rssEnd,
                rssEnd - rssAfter10);

    closeWindow(window);
    quiesce();
    const Counts end = counts();
    std::printf("end: fds %d (%+d) threads %d (%+d)\n", end.fds, end.fds - start.fds, end.threads,
                end.threads - start.threads);
    std::printf("%d loads (%d did not finish), %d second windows, %.1f s\n", loads, failedLoads,
                secondWindows, clock.elapsed() / 1000.0);

    const bool pass = failedLoads == 0 && rssEnd - rssAfter10 <= rssLimitMb &&
                      end.fds <= start.fds && end.threads <= start.threads;
    std::printf("soak %s\n", pass ? "PASSED" : "FAILED");
    return pass ? 0 : 1;
}
