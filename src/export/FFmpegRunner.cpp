#include "export/FFmpegRunner.h"

#include "export/FailureReason.h"
#include "export/Utf8Chunks.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
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

// Spawns the child with stdin on /dev/null, stdout on stdoutWrite and stderr
// on stderrWrite, in a process group of its own so that a terminal's Ctrl-C
// aimed at the application does not reach it, and so that stopping it stops
// whatever it started. Returns 0 or an errno value.
int spawnChild(const QByteArray &executable, const std::vector<QByteArray> &arguments,
               int stdoutWrite, int stderrWrite, pid_t *pid)
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
        error = posix_spawn_file_actions_adddup2(actions.get(), stdoutWrite, STDOUT_FILENO);
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

namespace {

// The position of a progress report: "out_time_us=1234567" in the block the
// tool writes with -progress; nothing for any other line.
std::optional<double> progressSeconds(const QByteArray &line)
{
    static const QByteArray key = "out_time_us=";
    if (!line.startsWith(key))
        return std::nullopt;
    bool ok = false;
    const qlonglong micro = line.mid(key.size()).trimmed().toLongLong(&ok);
    if (!ok || micro < 0)
        return std::nullopt;
    return double(micro) / 1e6;
}

// A stopped tool gets this long to go by itself before it is killed.
constexpr int stopGraceMs = 1000;

} // namespace

ToolResult runTool(const QString &executable, const QStringList &arguments,
                   const std::function<void(const QString &chunk)> &onOutput,
                   const std::function<void(double seconds)> &onProgress,
                   const std::function<bool()> &stop)
{
    ignoreBrokenPipes();
    int err[2];
    int out[2];
    if (::pipe2(err, O_CLOEXEC) != 0)
        return {launchFailurePrefix + errnoDescription(errno), false, {}};
    Fd errRead(err[0]);
    Fd errWrite(err[1]);
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {launchFailurePrefix + errnoDescription(errno), false, {}};
    Fd outRead(out[0]);
    Fd outWrite(out[1]);

    std::vector<QByteArray> encoded;
    encoded.reserve(static_cast<size_t>(arguments.size()));
    for (const QString &argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    pid_t pid = 0;
    const int error =
        spawnChild(QFile::encodeName(executable), encoded, outWrite.get(), errWrite.get(), &pid);
    // Only the child writes now: end of file comes with its exit.
    errWrite.reset();
    outWrite.reset();
    if (error != 0)
        return {launchFailurePrefix + errnoDescription(error), false, {}};

    Utf8ChunkDecoder decoder;
    QString tail;
    const auto keep = [&](const QString &text) {
        if (text.isEmpty())
            return;
        tail += text;
        if (tail.size() > keptOutput)
            tail.remove(0, tail.size() - keptOutput);
        if (onOutput)
            onOutput(text);
    };
    QByteArray progressLine;
    const auto takeProgress = [&](const char *data, ssize_t count) {
        for (ssize_t i = 0; i < count; ++i) {
            if (data[i] != '\n') {
                if (progressLine.size() < 256)
                    progressLine += data[i];
                continue;
            }
            if (const std::optional<double> at = progressSeconds(progressLine); at && onProgress)
                onProgress(*at);
            progressLine.clear();
        }
    };

    bool stopped = false;
    QElapsedTimer sinceStop;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    pollfd fds[2] = {{errRead.get(), POLLIN, 0}, {outRead.get(), POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (!stopped && stop && stop()) {
            stopped = true;
            sinceStop.start();
            ::kill(-pid, SIGTERM);
        } else if (stopped && sinceStop.elapsed() > stopGraceMs) {
            ::kill(-pid, SIGKILL);
        }
        const int ready = ::poll(fds, 2, 100);
        if (ready < 0 && errno != EINTR)
            break;
        for (pollfd &p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t count = ::read(p.fd, buffer.data(), buffer.size());
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                p.fd = -1; // end of file, or an unreadable pipe: the child is done with it
                continue;
            }
            if (p.fd == errRead.get())
                keep(decoder.decode(QByteArray(buffer.constData(), count)));
            else
                takeProgress(buffer.constData(), count);
        }
    }
    keep(decoder.finish());

    int status = 0;
    pid_t waited = 0;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    ToolResult result;
    result.output = tail;
    result.stopped = stopped;
    if (waited != pid) {
        result.failure =
            QStringLiteral("ffmpeg could not be waited for: ") + errnoDescription(errno);
    } else if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        const QString named = reasonInToolOutput(tail);
        result.failure = named.isEmpty() ? exitReason(status) : named;
    }
    return result;
}

} // namespace trimora
