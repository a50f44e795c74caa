#pragma once

#include "export/ExportPlan.h"

#include <memory>

namespace trimora {

struct ExactSource;

// The files Trimora writes itself rather than through the ffmpeg program:
// joins of several ranges and exact cuts, of the movie at sourcePath as
// source describes it (null while it has not been read: then they are
// refused).
InProcessPlanner inProcessWriters(const QString &sourcePath,
                                  std::shared_ptr<const ExactSource> source);

} // namespace trimora
