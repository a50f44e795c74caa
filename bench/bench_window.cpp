// What a user waits for in a real application window (run the release-like
// bench build under Xvfb, as the README shows):
// - loading: from loadVideo() to the editor painting the movie's length, for
//   the 10-minute benchmark movie and a 2-hour one, alternately, median;
// - the black/white scan started from the editor showing the movie, timed
//   from startScan() to the model's scan end, with ffmpeg's blackdetect on the
//   same file right after, for the movie with black and white stretches and
//   the one without.
//   bench_window [--loads N] [--rounds N]
#include "BenchMovies.h"
#include "BenchProcess.h"
#include "app/AppWindow.h"
#include "app/ContentView.h"
#include "app/TrimoraApp.h"
#include "media/MediaProbe.h"
#include "model/Analysis.h"
#include "model/Movie.h"
#include "model/VideoEditorViewModel.h"
#include "views/TimeFormat.h"

#include <QApplication>
#include <QDir>
#include <QLabel>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

using namespace trimora;

namespace {

using bench::Clock;
using bench::secondsSince;
using bench::waitUntil;

// Waits until the application's background work (player, waveform, the
// keyframes read on load) has finished: half a second in which the process
// uses less than a twentieth of a core.
void settle()
{
    for (int i = 0; i < 120; ++i) {
        const double cpu = bench::cpuSeconds();
        waitUntil([] { return false; }, 500);
        if (bench::cpuSeconds() - cpu < 0.025)
            return;
    }
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Notes when the editor's length label paints the loaded movie's length, and
// counts the paints of every widget.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(VideoEditorViewModel *model) : m_model(model) {}
    double awaited = 0.0; // the length, as the loading finds it
    Clock::time_point painted;
    bool seen = false;
    int paints = 0;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            auto *label = qobject_cast<QLabel *>(object);
            if (!seen && label && label->objectName() == QLatin1String("length") &&
                m_model->movie()->isLoaded() && m_model->movie()->videoDuration() == awaited &&
                label->text().endsWith(formatTime(awaited))) {
                seen = true;
                painted = Clock::now();
            }
        }
        return false;
    }

private:
    VideoEditorViewModel *m_model;
};

// Processor seconds of this process's threads whose name starts with prefix.
double threadsCpuSeconds(const char *prefix)
{
    double total = 0.0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        QFile stat(tasks.filePath(task + QStringLiteral("/stat")));
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly) ||
            !comm.readAll().startsWith(prefix))
            continue;
        // Fields 14 and 15, after the parenthesised name: user and system ticks.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            total += (fields[11].toDouble() + fields[12].toDouble()) / sysconf(_SC_CLK_TCK);
    }
    return total;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    TrimoraApp::configureAllocator();
    QApplication application(argc, argv);
    TrimoraApp::configureApplication();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int loads = 7;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--loads") == 0)
            loads = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[++i]));
    }
    const std::string boxes = bench::movie("boxes");
    const std::string plain = bench::movie("plain");
    const std::string twoHours = bench::movie("2h");
    if (boxes.empty() || plain.empty() || twoHours.empty())
        return 1;

    TrimoraApp app;
    AppWindow *window = app.openWindow();
    VideoEditorViewModel *model = window->content()->viewModel();
    PaintWatch watch(model);
    application.installEventFilter(&watch);

    // Loading, alternating the two movies so that the length shown changes.
    struct Movie
    {
        const char *name;
        std::string path;
        double length;
        std::vector<double> ms;
        std::vector<double> modelMs; // until the model has the length
    };
    Movie movies[2] = {{"10 min", boxes, 0.0, {}, {}}, {"2 h", twoHours, 0.0, {}, {}}};
    for (Movie &movie : movies)
        if (const auto timing = probeDuration(QString::fromStdString(movie.path)))
            movie.length = timing->duration;
    for (int i = 0; i < loads; ++i) {
        for (Movie &movie : movies) {
            const QUrl url = QUrl::fromLocalFile(QString::fromStdString(movie.path));
            watch.awaited = movie.length;
            watch.seen = false;
            Clock::time_point known;
            const QMetaObject::Connection connection =
                QObject::connect(model->movie(), &trimora::Movie::videoDurationChanged, [&] {
                    if (model->movie()->videoDuration() == movie.length)
                        known = Clock::now();
                });
            const auto start = Clock::now();
            model->loadVideo(url);
            if (!waitUntil([&] { return watch.seen; }, 20000)) {
                std::printf("%s: the length never showed\n", movie.name);
                return 1;
            }
            QObject::disconnect(connection);
            movie.ms.push_back(
                std::chrono::duration<double, std::milli>(watch.painted - start).count());
            movie.modelMs.push_back(
                std::chrono::duration<double, std::milli>(known - start).count());
            settle();
        }
    }
    for (const Movie &movie : movies) {
        std::printf("load %s until its length shows: median %.1f ms (first %.1f, min %.1f, max "
                    "%.1f, %zu loads; the model had it after %.1f ms; load average %.2f)\n",
                    movie.name, median(movie.ms), movie.ms.front(),
                    *std::min_element(movie.ms.begin(), movie.ms.end()),
                    *std::max_element(movie.ms.begin(), movie.ms.end()), movie.ms.size(),
                    median(movie.modelMs), bench::loadAverage());
    }

    for (int round = 0; round < rounds; ++round) {
        for (const auto &[name, path] :
             {std::pair{"movie with black and white", boxes}, std::pair{"movie without", plain}}) {
            model->loadVideo(QUrl::fromLocalFile(QString::fromStdString(path)));
            if (!waitUntil(
                    [&] {
                        return model->movie()->isLoaded() && model->movie()->videoDuration() > 599;
                    },
                    20000))
                return 1;
            settle();
            const double loadBefore = bench::loadAverage();
            watch.paints = 0;
            const double mainCpu = threadCpuSeconds();
            const double glCpu = threadsCpuSeconds("llvmpipe");
            const double allCpu = bench::cpuSeconds();
            const auto start = Clock::now();
            model->analysis()->startScan();
            waitUntil([&] { return !model->analysis()->isScanning(); }, 3600 * 1000);
            const double scanSeconds = secondsSince(start);
            const double mainCpuUsed = threadCpuSeconds() - mainCpu;
            const double glCpuUsed = threadsCpuSeconds("llvmpipe") - glCpu;
            const double allCpuUsed = bench::cpuSeconds() - allCpu;
            const int paints = watch.paints;
            const bench::Timing ffmpeg = bench::blackdetect(path);
            std::printf("in the window, %s: scan %.2f s, blackdetect %.2f s, scan / blackdetect "
                        "%.2f (load %.2f -> %.2f; processor time %.1f s / %.1f s = %.2f, of it "
                        "main thread %.2f s, GL rasteriser %.2f s; %d widget paints), %lld "
                        "markers\n",
                        name, scanSeconds, ffmpeg.seconds, scanSeconds / ffmpeg.seconds, loadBefore,
                        bench::loadAverage(), allCpuUsed, ffmpeg.cpu, allCpuUsed / ffmpeg.cpu,
                        mainCpuUsed, glCpuUsed, paints,
                        static_cast<long long>(model->analysis()->blackWhiteFrames().size()));
        }
    }
    window->close();
    return 0;
}
