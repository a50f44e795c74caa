#pragma once

#include "core/Task.h"

#include <string>
#include <vector>

namespace trimora {

// Where a scan reports. Every call comes from the scanning thread, in order.
struct ScanSink
{
    virtual ~ScanSink() = default;
    virtual void progress(double value) = 0;
    virtual void finished(const std::vector<double> &markers) = 0;
    virtual void cancelledInCoarsePass() = 0;
    virtual void cancelledInRefinement(const std::vector<double> &coarseHits) = 0;
};

// Finds exactly black or white stretches of the movie: a coarse pass every
// 0.5 s, then every 0.1 s around each coarse hit. Blocks until done or until
// task is cancelled; exactly one ending is reported.
void scanBlackWhite(const std::string &path, double duration, const TaskHandle &task,
                    ScanSink &sink);

} // namespace trimora
