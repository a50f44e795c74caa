#pragma once

#include "export/ExportPlan.h"
#include "model/SegmentList.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>

namespace trimora {

// The movie a project belongs to, as it was when the project was written.
struct ProjectMovie
{
    QString relativePath; // from the project file's folder
    QString absolutePath;
    qint64 size = 0;
    double duration = 0.0;
};

struct Project
{
    ProjectMovie movie;
    SegmentList segments;
    ExportChoice choice;
};

// A project as versioned JSON text. Pure: the caller reads and writes files.
QByteArray writeProject(const Project &project);
// The project in text, or why it cannot be read. Every field is checked for
// its type and range; nothing is taken on trust, however the text came about.
// Whether the segments fit the movie is checked where the movie is known
// (segmentRules::whyInvalid).
std::variant<Project, QString> readProject(const QByteArray &text);

// The cut list as CSV (start,end,label in seconds, RFC 4180 quoting), one
// row a segment in list order, with a header row.
QByteArray writeCutList(const SegmentList &list);
// The segments of a cut list (a header row is optional), or why not; the
// first segment is selected.
std::variant<SegmentList, QString> readCutList(const QByteArray &text);

} // namespace trimora
