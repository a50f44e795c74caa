#include "export/OutputNaming.h"

#include "export/FFmpegRunner.h"
#include "model/VideoEditorViewModel.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <limits>

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

void configureSaveDialog(QFileDialog &dialog, const QString &outputPath)
{
    const QString path = absoluteLocalPath(fileURLFromPath(outputPath));
    const QFileInfo info(path.isEmpty() ? QDir::currentPath() + QLatin1Char('/') : path);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, false); // lets the user create folders
    // An export never replaces a file (it takes the next free name), so asking
    // whether to replace one would be a false promise.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDirectory(info.path());
    dialog.selectFile(info.fileName());
}

void VideoEditorViewModel::updateDefaultOutputPath(const QUrl &sourceURL)
{
    m_defaultOutputPath = defaultOutputPath(absoluteLocalPath(sourceURL));
    setOutputPath(m_defaultOutputPath);
}

void VideoEditorViewModel::adoptDefaultOutputPath(const QUrl &sourceURL)
{
    if (m_outputPath.isEmpty() || m_outputPath == m_defaultOutputPath)
        updateDefaultOutputPath(sourceURL);
}

QUrl VideoEditorViewModel::uniqueOutputURL(const QUrl &requested) const
{
    return QUrl::fromLocalFile(uniqueOutputPath(absoluteLocalPath(requested)));
}

void VideoEditorViewModel::browseOutputPath()
{
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setWindowModality(Qt::ApplicationModal);
    configureSaveDialog(dialog, m_outputPath);
    const int response = runSaveDialog ? runSaveDialog(dialog) : dialog.exec();
    if (response != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty() && !chosen.first().isEmpty())
        setOutputPath(chosen.first());
}
