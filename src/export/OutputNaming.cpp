#include "export/OutputNaming.h"

#include <QDir>
#include <QFileInfo>

#include <limits>

namespace trimora {

namespace {

constexpr qint64 counterMax = std::numeric_limits<qint64>::max();

// Forms <folder>/<base><separator><n>.<extension> for n, n+1, ... until one
// is free. Should the counter run out, the reached name becomes the base of a
// new count rather than wrapping around.
QString firstFree(const QString &folder, QString base, const QString &separator, qint64 n,
                  const QString &extension, const ExistsTest &exists)
{
    for (;;) {
        const QString name = base + separator + QString::number(n) + QLatin1Char('.') + extension;
        const QString candidate = QDir(folder).filePath(name);
        if (!exists(candidate))
            return candidate;
        if (n == counterMax) {
            base = base + separator + QString::number(n);
            n = 1;
        } else {
            ++n;
        }
    }
}

QString folderOf(const QString &path)
{
    const QFileInfo info(path);
    return info.path();
}

} // namespace

bool pathExists(const QString &path)
{
    return QFileInfo::exists(path);
}

std::optional<qint64> parseNameCounter(QStringView text)
{
    qsizetype digitsFrom = 0;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-'))
        digitsFrom = 1;
    if (digitsFrom == text.size())
        return std::nullopt;
    for (qsizetype i = digitsFrom; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok || value == counterMax)
        return std::nullopt;
    return value;
}

NameParts splitFileName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return {fileName, QString()};
    return {fileName.left(dot), fileName.mid(dot + 1)};
}

QString defaultOutputPath(const QString &sourcePath, const ExistsTest &exists)
{
    const NameParts parts = splitFileName(QFileInfo(sourcePath).fileName());
    const QString extension = parts.extension.isEmpty() ? QStringLiteral("mp4") : parts.extension;
    return firstFree(folderOf(sourcePath), parts.stem, QStringLiteral("_cut_"), 1, extension,
                     exists);
}

QString uniqueOutputPath(const QString &requestedPath, const ExistsTest &exists)
{
    if (!exists(requestedPath))
        return requestedPath;
    const NameParts parts = splitFileName(QFileInfo(requestedPath).fileName());
    QString base = parts.stem;
    qint64 n = 1;
    const qsizetype underscore = parts.stem.lastIndexOf(QLatin1Char('_'));
    if (underscore >= 0) {
        if (const auto counter = parseNameCounter(QStringView(parts.stem).mid(underscore + 1))) {
            base = parts.stem.left(underscore);
            n = *counter + 1;
        }
    }
    return firstFree(folderOf(requestedPath), base, QStringLiteral("_"), n, parts.extension,
                     exists);
}

} // namespace trimora
