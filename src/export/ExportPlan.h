#pragma once

#include "export/CutPlan.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace trimora {

// How the segments are exported.
struct ExportChoice
{
    bool joined = false;  // one joined file rather than one file per segment
    bool cutAway = false; // everything but the segments, as one joined file
    bool exact = false;   // re-encode the edges rather than copy from a keyframe
    bool operator==(const ExportChoice &) const = default;
};

// A stretch of the movie to export, in the movie's time.
struct ExportRange
{
    double in = 0.0;
    double out = 0.0;
    QString label;
};

struct ExportRequest
{
    QString source;                  // absolute
    double duration = 0.0;           // the movie's
    std::vector<ExportRange> ranges; // the segments, in list order
    ExportChoice choice;
    // The name of the (first) file; each further file takes the next free one.
    QString requestedOutput; // absolute
    // False: exactly requestedOutput, never another name (the command line's -o).
    bool anyFreeName = true;
    // What becomes of a file that cannot be cut exactly: copied, saying so
    // (the window), or refused (the command line).
    bool copyWhenNotExact = true;
};

// Writes one file into the temporary path it is given and says why it is no
// good, or an empty text; adds to the log, reports its progress (0..1) and
// stops when asked. Runs on the export's thread.
struct WriterReports
{
    std::function<void(const QString &chunk)> log;
    std::function<void(double fraction)> progress;
    std::function<bool()> stopRequested;
};
using FileWriter =
    std::function<QString(const QString &temporaryPath, const WriterReports &reports)>;

// One file of an export.
struct OutputPlan
{
    QString requestedPath;           // the name wanted; a free one is taken when it is written
    std::vector<ExportRange> ranges; // what it holds, in its order
    QStringList notes;               // log lines before it is written
    QStringList facts;               // where it really starts and ends, for the status line
    QString refusal;                 // set: nothing is written, and why
    // Written by the ffmpeg program (a copy of one range) ...
    std::shared_ptr<const CutPlan> copy;
    // ... or by a writer of our own (a join, an exact cut).
    FileWriter writer;
    // What the preview shows for an output written by our own writer.
    QString description;
};

struct ExportPlan
{
    std::vector<OutputPlan> outputs;
    bool anyFreeName = true;
};

// Plans one file written in-process: the ranges joined in their order into
// outputPath, copied or (exact) with the edges re-encoded. Its refusal says
// why it cannot be done; for an exact file its first note says what is
// re-encoded, or why it cannot be and that Copy will be used. The media side
// supplies it, the plan stays free of it.
using InProcessPlanner = std::function<OutputPlan(
    const QString &outputPath, const std::vector<ExportRange> &ranges, bool exact)>;

// What a request writes: one file per segment, each cut by the ffmpeg
// program, or one file of all of them (joined, or everything but them). Each
// file's name is the next free one at planning time, counting on from the
// requested name in list order; the export takes the next free one again
// should a name be taken by the time its file is written. Pure, but for the
// existence test of names (exists) and what joins and exact cuts are given to.
ExportPlan planExport(const ExportRequest &request, const SourceLayout *layout,
                      const VideoIndex *index, const InProcessPlanner &inProcess,
                      const std::function<bool(const QString &)> &exists);

// The ranges a cut-away keeps: what lies between the segments in
// [0, duration), in time order, without slivers shorter than minimum.
std::vector<ExportRange> rangesBetween(const std::vector<ExportRange> &segments, double duration,
                                       double minimum);

} // namespace trimora
