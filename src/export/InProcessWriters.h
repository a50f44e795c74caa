#pragma once

#include "export/ExportPlan.h"

namespace trimora {

// The files Trimora writes itself rather than through the ffmpeg program:
// joins of several ranges and exact cuts.
InProcessPlanner inProcessWriters();

} // namespace trimora
