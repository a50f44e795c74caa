#pragma once

#include "export/ExportOutcome.h"
#include "export/ExportPlan.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace trimora {

// How one file of an export ended: the name it was given, or why it has none.
struct FileResult
{
    int output = 0; // its place in the plan
    QString path;
    ExportOutcome outcome;
    int streams = 0; // in the written file
};

// How a whole export ended.
struct ExportResult
{
    bool cancelled = false;
    std::vector<FileResult> files; // those that were tried, in order
    int planned = 0;               // files in the plan

    bool succeeded() const;
    // The status line: "✅ Completed successfully" with what the one file
    // really holds, or how many were written; "❌ Failed: REASON", naming the
    // failed segments of several; "Cancelled" with what was kept.
    QString statusLine() const;
};

// Where an export reports. Every call comes on the main thread, in order: log
// chunks and progress while it runs, each file's result when it is done, the
// whole result last.
struct ExportSinks
{
    std::function<void(const QString &chunk)> log;
    std::function<void(double fraction)> progress;
    std::function<void(const FileResult &file)> fileDone;
    std::function<void(const ExportResult &result)> finished;
};

// An export under way, on a thread of its own. It writes each file of its
// plan under a temporary name, checks it, and gives it its name; a file that
// fails leaves nothing, and the files before it stay. It runs to its end even
// if whoever started it goes away (see waitForRunningExports()), unless it is
// cancelled: then the file being written is dropped and no further one
// begins.
class ExportJob
{
public:
    // Any thread.
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

private:
    std::atomic<bool> m_cancelled{false};
};

// Starts the export and returns at once. The ffmpeg program is looked for in
// locations; when a file needs it and it is not found, that file fails.
std::shared_ptr<ExportJob> startExport(ExportPlan plan, const QStringList &locations,
                                       ExportSinks sinks);

// Blocks until every export started has finished its work, so that an
// application closing its last window does not leave an output unnamed.
// Their reports are dropped from then on: nobody is left to show them.
void waitForRunningExports();

} // namespace trimora
