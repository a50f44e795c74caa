#include "export/FailureReason.h"

#include <cerrno>
#include <sys/wait.h>
#include <system_error>

namespace trimora {

QString systemErrorReason(int error, const QString &folder)
{
    if ((error == ENOENT || error == ENOTDIR) && !folder.isEmpty())
        return QStringLiteral("the folder %1 does not exist").arg(folder);
    QString text = QString::fromLocal8Bit(std::generic_category().message(error));
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

QString reasonInToolOutput(const QString &output)
{
    // The tool words them as this process's C library does: it is the same
    // library, in the same language.
    qsizetype latest = -1;
    QString reason;
    for (const int error : {ENOSPC, EDQUOT, EFBIG, EROFS, EACCES, EPERM, ENOENT, EIO}) {
        const QString text = QString::fromLocal8Bit(std::generic_category().message(error));
        const qsizetype at = output.lastIndexOf(text);
        if (at > latest) {
            latest = at;
            reason = systemErrorReason(error);
        }
    }
    return reason;
}

QString exitReason(int waitStatus)
{
    if (WIFSIGNALED(waitStatus))
        return QStringLiteral("ffmpeg was stopped by signal %1").arg(WTERMSIG(waitStatus));
    if (WIFEXITED(waitStatus))
        return QStringLiteral("ffmpeg exited with code %1").arg(WEXITSTATUS(waitStatus));
    return QStringLiteral("ffmpeg ended abnormally");
}

} // namespace trimora
