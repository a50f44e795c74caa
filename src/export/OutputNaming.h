#pragma once

#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

namespace trimora {

using ExistsTest = std::function<bool(const QString &path)>;

// True when anything, a directory included, is at path.
bool pathExists(const QString &path);

// The counter at the end of a stem after its last "_": an optional sign and
// ASCII digits only, within the signed 64-bit range. The largest value counts
// as not a number, since the next name could not be counted from it.
std::optional<qint64> parseNameCounter(QStringView text);

// Splits a file name into stem and extension at its last "."; a leading dot
// (".profile") starts no extension.
struct NameParts
{
    QString stem;
    QString extension;
};
NameParts splitFileName(const QString &fileName);

// <folder>/<stem>_cut_<n>.<ext> beside the source, with the first n from 1
// that is free; a source without extension gets "mp4".
QString defaultOutputPath(const QString &sourcePath, const ExistsTest &exists = pathExists);

// The requested path if nothing is there, otherwise the first free
// <base>_<n>.<ext>, counting on from a numeric suffix of the requested stem.
QString uniqueOutputPath(const QString &requestedPath, const ExistsTest &exists = pathExists);

} // namespace trimora
