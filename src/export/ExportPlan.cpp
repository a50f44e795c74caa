#include "export/ExportPlan.h"

#include "export/OutputNaming.h"

#include <QCoreApplication>

#include <algorithm>
#include <set>

namespace trimora {

namespace {

constexpr double tiny = 1e-6;

QString tr(const char *text)
{
    return QCoreApplication::translate("ExportPlan", text);
}

// The frame length the plan goes by, for the slivers a cut-away leaves out.
double frameLength(const SourceLayout *layout, const VideoIndex *index)
{
    if (index && index->frameDuration > 0)
        return index->frameDuration;
    if (layout && layout->frameDuration > 0)
        return layout->frameDuration;
    return 0.04;
}

OutputPlan copyOf(const ExportRequest &request, const ExportRange &range, const QString &path,
                  const SourceLayout *layout, const VideoIndex *index)
{
    OutputPlan output;
    output.requestedPath = path;
    output.ranges = {range};
    auto plan = std::make_shared<CutPlan>(
        planCut({request.source, path, range.in, range.out}, layout, index));
    output.notes = plan->notes;
    output.facts = plan->facts;
    output.refusal = plan->refusal;
    output.copy = std::move(plan);
    return output;
}

} // namespace

std::vector<ExportRange> rangesBetween(const std::vector<ExportRange> &segments, double duration,
                                       double minimum)
{
    std::vector<ExportRange> sorted = segments;
    std::sort(sorted.begin(), sorted.end(), [](const ExportRange &a, const ExportRange &b) {
        return a.in != b.in ? a.in < b.in : a.out < b.out;
    });
    std::vector<ExportRange> kept;
    double from = 0.0;
    const auto keep = [&](double to) {
        if (to > from && to - from >= minimum - tiny)
            kept.push_back({from, to, {}});
    };
    for (const ExportRange &segment : sorted) {
        keep(segment.in);
        from = std::max(from, segment.out);
    }
    keep(duration);
    return kept;
}

ExportPlan planExport(const ExportRequest &request, const SourceLayout *layout,
                      const VideoIndex *index, const InProcessPlanner &inProcess,
                      const std::function<bool(const QString &)> &exists)
{
    ExportPlan plan;
    plan.anyFreeName = request.anyFreeName;
    const ExportChoice &choice = request.choice;
    const std::vector<ExportRange> ranges =
        choice.cutAway ? rangesBetween(request.ranges, request.duration, frameLength(layout, index))
                       : request.ranges;
    if (ranges.empty()) {
        OutputPlan nothing;
        nothing.requestedPath = request.requestedOutput;
        nothing.refusal = choice.cutAway ? tr("the segments leave nothing to keep")
                                         : tr("there is no segment to export");
        plan.outputs.push_back(nothing);
        return plan;
    }
    // The files in list order, each with the next name free at this moment.
    std::set<QString> taken;
    const auto nextName = [&] {
        const QString name = !request.anyFreeName
                                 ? request.requestedOutput
                                 : uniqueOutputPath(request.requestedOutput, [&](const QString &p) {
                                       return taken.count(p) > 0 || exists(p);
                                   });
        taken.insert(name);
        return name;
    };
    const bool oneFile = choice.joined || choice.cutAway;
    std::vector<std::vector<ExportRange>> files;
    if (oneFile)
        files.push_back(ranges);
    else
        for (const ExportRange &range : ranges)
            files.push_back({range});
    const auto copied = [&](const QString &name, const std::vector<ExportRange> &file) {
        return file.size() == 1 ? copyOf(request, file.front(), name, layout, index)
                                : inProcess(name, file, false);
    };
    for (const std::vector<ExportRange> &file : files) {
        const QString name = nextName();
        if (!choice.exact) {
            plan.outputs.push_back(copied(name, file));
            continue;
        }
        OutputPlan exact = inProcess(name, file, true);
        if (!exact.refusal.isEmpty() && request.copyWhenNotExact) {
            // Said before the export, and again in its log.
            OutputPlan copy = copied(name, file);
            copy.notes.prepend(exact.notes.value(0, exact.refusal));
            exact = std::move(copy);
        }
        plan.outputs.push_back(std::move(exact));
    }
    return plan;
}

} // namespace trimora
