#pragma once

#include "export/CutPlan.h"
#include "export/ExportPlan.h"

#include <QString>

#include <functional>
#include <memory>

namespace trimora {

struct ExactSource;

// What an export plans from: the streams and frame times the ffmpeg
// program's cuts go by, and the packets the in-process writers work from.
// Any of them is null when the file cannot be read that way.
struct ExportSource
{
    std::shared_ptr<const SourceLayout> layout;
    std::shared_ptr<const VideoIndex> index;
    std::shared_ptr<const ExactSource> exact;
};

// Reads what known lacks of it, the packets only when asked for (they take a
// pass over the whole file). Blocks: call it off the main thread.
ExportSource readExportSource(const QString &path, bool packets, ExportSource known = {});

// The export of request from source: planExport with this source's
// in-process writers.
ExportPlan planExportOf(const ExportRequest &request, const ExportSource &source,
                        const std::function<bool(const QString &)> &exists);

} // namespace trimora
