#include "export/InProcessWriters.h"

namespace trimora {

InProcessPlanner inProcessWriters()
{
    return [](const ExportRequest &, const QString &path, const std::vector<ExportRange> &ranges) {
        OutputPlan output;
        output.requestedPath = path;
        output.ranges = ranges;
        output.refusal = QStringLiteral("joined and exact exports are not available yet");
        return std::vector<OutputPlan>{output};
    };
}

} // namespace trimora
