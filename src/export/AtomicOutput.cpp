#include "export/AtomicOutput.h"

#include "export/FailureReason.h"
#include "export/OutputNaming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trimora {

namespace {

const QString temporaryPrefix = QStringLiteral(".trimora-part-");
// Tries at a fresh temporary name, and at a free final name, before giving up.
constexpr int attempts = 1000;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

bool sameFile(int fd, const QByteArray &path)
{
    struct stat open
    {
    };
    struct stat named
    {
    };
    return ::fstat(fd, &open) == 0 && ::lstat(path.constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// A temporary whose lock can be taken has no writer left. Checked against the
// name after locking, so a file removed and made anew in between is left alone.
void removeDeadTemporaries(const QString &folder)
{
    const QStringList names =
        QDir(folder).entryList({temporaryPrefix + QLatin1Char('*')},
                               QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QByteArray path = encoded(QDir(folder).filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && sameFile(fd, path))
            ::unlink(path.constData());
        ::close(fd);
    }
}

// The file systems that cannot rename without replacing, nor link.
bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP ||
           error == EPERM;
}

// Moves from to to unless something is at to: 0, or an errno value.
int moveWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (!unsupported(errno))
        return errno;
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (!unsupported(errno))
        return errno;
    // No hard links either (FAT): claim the name with an empty file of our
    // own, which is then all the rename replaces.
    const int claim = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (claim < 0)
        return errno;
    ::close(claim);
    if (::rename(from.constData(), to.constData()) == 0)
        return 0;
    const int error = errno;
    ::unlink(to.constData());
    return error;
}

} // namespace

AtomicOutput::AtomicOutput(const QString &finalPath) : m_final(finalPath)
{
    const QFileInfo info(finalPath);
    const QString folder = info.path();
    const QString extension = splitFileName(info.fileName()).extension;
    removeDeadTemporaries(folder);
    for (int i = 0; i < attempts; ++i) {
        QString name =
            temporaryPrefix + QString::number(QRandomGenerator::system()->generate64(), 36);
        if (!extension.isEmpty())
            name += QLatin1Char('.') + extension;
        const QString path = QDir(folder).filePath(name);
        const QByteArray bytes = encoded(path);
        const int fd = ::open(bytes.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            m_error = systemErrorReason(errno, folder);
            return;
        }
        // Another folder's sweep may hold it, or have removed it, between the
        // two calls: then it is not ours, and another name is taken.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !sameFile(fd, bytes)) {
            ::close(fd);
            continue;
        }
        m_lock = fd;
        m_temporary = path;
        return;
    }
    m_error = QStringLiteral("no temporary name is free in %1").arg(folder);
}

AtomicOutput::~AtomicOutput()
{
    discard();
}

QString AtomicOutput::publish()
{
    if (m_temporary.isEmpty())
        return {};
    QString candidate = m_final;
    for (int i = 0; i < attempts; ++i) {
        const int error = moveWithoutReplacing(encoded(m_temporary), encoded(candidate));
        if (error == 0) {
            m_temporary.clear();
            discard();
            return candidate;
        }
        if (error != EEXIST) {
            m_error = systemErrorReason(error, QFileInfo(candidate).path());
            return {};
        }
        candidate = uniqueOutputPath(candidate);
    }
    m_error = QStringLiteral("no free name next to %1").arg(m_final);
    return {};
}

void AtomicOutput::discard()
{
    if (!m_temporary.isEmpty())
        ::unlink(encoded(m_temporary).constData());
    m_temporary.clear();
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
}

WrittenFile writeAtomically(const QString &finalPath,
                            const std::function<QString(const QString &temporaryPath)> &write)
{
    AtomicOutput output(finalPath);
    if (!output.error().isEmpty())
        return {QString(), output.error()};
    if (const QString failure = write(output.temporaryPath()); !failure.isEmpty())
        return {QString(), failure};
    const QString path = output.publish();
    return path.isEmpty() ? WrittenFile{QString(), output.error()} : WrittenFile{path, QString()};
}

} // namespace trimora
