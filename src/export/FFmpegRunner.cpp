#include "export/FFmpegRunner.h"

#include "core/MainThread.h"
#include "export/AtomicOutput.h"
#include "export/FailureReason.h"
#include "export/Utf8Chunks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace trimora {

namespace {

const QString launchFailurePrefix = QStringLiteral("could not launch ffmpeg: ");

// How much of the tool's last words is kept to find why it failed.
constexpr qsizetype keptOutput = 8192;

QString errnoDescription(int error)
{
    return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

// Runs started and not yet finished, for waitForRunningTools().
struct RunningTools
{
    std::mutex mutex;
    std::condition_variable done;
    int count = 0;
    // Set once the main thread only waits for them: their output has nobody
    // left to show it.
    std::atomic<bool> unattended{false};
};

RunningTools &runningTools()
{
    static RunningTools *tools = new RunningTools; // outlives any static teardown
    return *tools;
}

class RunningTool
{
public:
    RunningTool()
    {
        const std::lock_guard lock(runningTools().mutex);
        ++runningTools().count;
    }
    ~RunningTool()
    {
        RunningTools &tools = runningTools();
        const std::lock_guard lock(tools.mutex);
        if (--tools.count == 0)
            tools.done.notify_all();
    }
    RunningTool(const RunningTool &) = delete;
    RunningTool &operator=(const RunningTool &) = delete;
};

// A child that survives us must not die writing its log into the pipe we no
// longer read: an ignored SIGPIPE is inherited across exec, so the tool just
// sees EPIPE. Ignoring it here also keeps our own writes to dead pipes from
// killing the application.
void ignoreBrokenPipes()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

class FileActions
{
public:
    FileActions() { m_error = posix_spawn_file_actions_init(&m_actions); }
    ~FileActions()
    {
        if (m_error == 0)
            posix_spawn_file_actions_destroy(&m_actions);
    }
    FileActions(const FileActions &) = delete;
    FileActions &operator=(const FileActions &) = delete;
    posix_spawn_file_actions_t *get() { return &m_actions; }
    int error() const { return m_error; }

private:
    posix_spawn_file_actions_t m_actions;
    int m_error = 0;
};

class SpawnAttributes
{
public:
    SpawnAttributes() { m_error = posix_spawnattr_init(&m_attributes); }
    ~SpawnAttributes()
    {
        if (m_error == 0)
            posix_spawnattr_destroy(&m_attributes);
    }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;
    posix_spawnattr_t *get() { return &m_attributes; }
    int error() const { return m_error; }

private:
    posix_spawnattr_t m_attributes;
    int m_error = 0;
};

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// Spawns the child with stdin and stdout on /dev/null and stderr on
// stderrWrite, in a process group of its own so that a terminal's Ctrl-C
// aimed at the application does not reach it. Returns 0 or an errno value.
int spawnChild(const QByteArray &executable, const std::vector<QByteArray> &arguments,
               int stderrWrite, pid_t *pid)
{
    FileActions actions;
    SpawnAttributes attributes;
    if (actions.error() != 0)
        return actions.error();
    if (attributes.error() != 0)
        return attributes.error();

    int error =
        posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (error == 0)
        error = posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null",
                                                 O_WRONLY, 0);
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(actions.get(), stderrWrite, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors of other subsystems that lack close-on-exec stay ours.
    if (error == 0)
        error = posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
#endif
    if (error != 0)
        return error;

    sigset_t empty;
    sigemptyset(&empty);
    error = posix_spawnattr_setsigmask(attributes.get(), &empty);
    if (error == 0)
        error = posix_spawnattr_setpgroup(attributes.get(), 0);
    if (error == 0)
        error = posix_spawnattr_setflags(attributes.get(),
                                         POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    if (error != 0)
        return error;

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(executable.constData()));
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    return posix_spawn(pid, executable.constData(), actions.get(), attributes.get(), argv.data(),
                       environ);
}

struct Sinks
{
    OutputSink onOutput;
    FinishSink onFinished;
    // Chunks posted but not yet handed on by the main thread.
    std::atomic<int> undelivered{0};
};

// The main thread runs every posted chunk in one pass of its event loop, so
// a tool that writes faster than the log can show would freeze the window:
// past two undelivered chunks the reader waits, and the pipe holds the
// tool back.
constexpr int maxUndeliveredChunks = 2;

} // namespace

QStringList ffmpegLocations(const QString &pathVariable)
{
    QStringList folders = pathVariable.split(QLatin1Char(':'));
    folders << QStringLiteral("/usr/bin") << QStringLiteral("/usr/local/bin");
    QStringList locations;
    for (const QString &folder : folders) {
        if (QDir::isAbsolutePath(folder))
            locations << QDir(folder).filePath(QStringLiteral("ffmpeg"));
    }
    locations.removeDuplicates();
    return locations;
}

QStringList ffmpegLocations()
{
    return ffmpegLocations(qEnvironmentVariable("PATH"));
}

bool isProgram(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

std::optional<QString> findFFmpeg(const QStringList &locations, const ProgramTest &test)
{
    for (const QString &path : locations) {
        if (test(path))
            return path;
    }
    return std::nullopt;
}

QString absoluteLocalPath(const QUrl &fileURL)
{
    const QString path = fileURL.toLocalFile();
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QDir::current().absoluteFilePath(path);
}

QUrl fileURLFromPath(const QString &path)
{
    if (path.isEmpty())
        return {};
    return QUrl::fromLocalFile(QDir::isAbsolutePath(path) ? path
                                                          : QDir::current().absoluteFilePath(path));
}

void run(ToolRun job, OutputSink onOutput, FinishSink onFinished, const QStringList &locations)
{
    const std::optional<QString> executable = findFFmpeg(locations);
    if (!executable) {
        onFinished(ExportOutcome::failure(ffmpegNotFoundReason), QString());
        return;
    }
    try {
        // Counted from here, so that no run can start unseen by a closing
        // application.
        std::thread([running = std::make_shared<RunningTool>(), executable = *executable,
                     job = std::move(job), onOutput = std::move(onOutput),
                     onFinished = std::move(onFinished)]() mutable {
            runFFmpegProcess(executable, job, std::move(onOutput), std::move(onFinished));
        }).detach();
    } catch (const std::system_error &error) {
        onFinished(
            ExportOutcome::failure(launchFailurePrefix + QString::fromLocal8Bit(error.what())),
            QString());
    }
}

namespace {

// Runs the tool to its end, handing its output on as it comes; returns why the
// run failed, or an empty text.
QString runTool(const QString &executable, const QStringList &arguments,
                const std::function<void(const QString &)> &deliver, QString &tail)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return launchFailurePrefix + errnoDescription(errno);
    Fd readEnd(fds[0]);
    Fd writeEnd(fds[1]);

    std::vector<QByteArray> encoded;
    encoded.reserve(static_cast<size_t>(arguments.size()));
    for (const QString &argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    pid_t pid = 0;
    const int error = spawnChild(QFile::encodeName(executable), encoded, writeEnd.get(), &pid);
    writeEnd.reset(); // only the child writes now: end of file comes with its exit
    if (error != 0)
        return launchFailurePrefix + errnoDescription(error);

    Utf8ChunkDecoder decoder;
    const auto keep = [&](const QString &text) {
        tail += text;
        if (tail.size() > keptOutput)
            tail.remove(0, tail.size() - keptOutput);
        deliver(text);
    };
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t count = ::read(readEnd.get(), buffer.data(), buffer.size());
        if (count > 0) {
            keep(decoder.decode(QByteArray(buffer.constData(), count)));
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break; // end of file (or an unreadable pipe): the child is done writing
        }
    }
    keep(decoder.finish());

    int status = 0;
    pid_t waited = 0;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != pid)
        return QStringLiteral("ffmpeg could not be waited for: ") + errnoDescription(errno);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    const QString named = reasonInToolOutput(tail);
    return named.isEmpty() ? exitReason(status) : named;
}

} // namespace

void runFFmpegProcess(const QString &executable, const ToolRun &job, OutputSink onOutput,
                      FinishSink onFinished)
{
    // Every delivery shares the sinks; the last one, run on the main thread,
    // releases them there, so whatever they capture is destroyed where it was
    // made.
    auto sinks = std::make_shared<Sinks>();
    sinks->onOutput = std::move(onOutput);
    sinks->onFinished = std::move(onFinished);
    ignoreBrokenPipes();

    const auto deliver = [&sinks](const QString &text) {
        if (text.isEmpty() || runningTools().unattended.load())
            return;
        while (sinks->undelivered.load() >= maxUndeliveredChunks)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++sinks->undelivered;
        postToMainThread([sinks, text] {
            sinks->onOutput(text);
            --sinks->undelivered;
        });
    };
    QString tail;
    // Exit status 0 only says the tool is content; the file has to show it.
    // A tool that could not finish its file may still exit with 0 (a full
    // disk at the trailer): what it said names the reason then.
    const auto writeTo = [&](const QString &path) {
        QString failure = runTool(executable, job.arguments(path), deliver, tail);
        if (failure.isEmpty() && job.verify) {
            failure = job.verify(path);
            if (const QString named = reasonInToolOutput(tail);
                !failure.isEmpty() && !named.isEmpty())
                failure = named;
        }
        return failure;
    };
    WrittenFile written;
    if (job.output.isEmpty())
        written.failure = writeTo(QString());
    else
        written = writeAtomically(job.output, writeTo);
    const ExportOutcome outcome = written.failure.isEmpty()
                                      ? ExportOutcome::success()
                                      : ExportOutcome::failure(written.failure);
    postToMainThread([sinks = std::move(sinks), outcome, path = written.path] {
        sinks->onFinished(outcome, path);
    });
}

void waitForRunningTools()
{
    RunningTools &tools = runningTools();
    tools.unattended.store(true);
    std::unique_lock lock(tools.mutex);
    tools.done.wait(lock, [&] { return tools.count == 0; });
    tools.unattended.store(false);
}

} // namespace trimora
