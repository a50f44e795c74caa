#include "export/InProcessWriters.h"

#include "export/CopyJoinPlan.h"
#include "export/ExactCutPlan.h"
#include "media/ExactCutter.h"

#include <QCoreApplication>
#include <QFile>

namespace trimora {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("InProcessWriters", text);
}

std::vector<CutRange> cutRanges(const std::vector<ExportRange> &ranges)
{
    std::vector<CutRange> cut;
    for (const ExportRange &range : ranges)
        cut.push_back({range.in, range.out});
    return cut;
}

QString afterwards(const ExactOutcome &outcome, bool exact)
{
    if (!exact || outcome.framesEncoded == 0)
        return tr("Checked: %1 frames, every copied picture as in the movie\n")
            .arg(outcome.framesWritten);
    return tr("Checked: %1 frames, %2 re-encoded (PSNR %3 dB at the lowest, %4 dB on average), "
              "the copied ones as in the movie\n")
        .arg(outcome.framesWritten)
        .arg(outcome.framesEncoded)
        .arg(outcome.lowestPsnr, 0, 'f', 1)
        .arg(outcome.meanPsnr, 0, 'f', 1);
}

FileWriter writerOf(ExactJob job, const QString &sourcePath, bool exact)
{
    return [job = std::move(job), source = QFile::encodeName(sourcePath).toStdString(),
            exact](const QString &temporary, const WriterReports &reports) -> QString {
        const ExactOutcome outcome =
            runExactCut(job, source, QFile::encodeName(temporary).toStdString(), reports.progress,
                        reports.stopRequested);
        if (outcome.cancelled)
            return tr("cancelled");
        if (!outcome.failure.empty())
            return QString::fromStdString(outcome.failure);
        reports.log(afterwards(outcome, exact));
        return {};
    };
}

} // namespace

InProcessPlanner inProcessWriters(const QString &sourcePath,
                                  std::shared_ptr<const ExactSource> source)
{
    return [sourcePath, source](const QString &path, const std::vector<ExportRange> &ranges,
                                bool exact) {
        OutputPlan output;
        output.requestedPath = path;
        output.ranges = ranges;
        if (!source) {
            output.refusal = tr("the movie could not be read for this export");
            return output;
        }
        if (exact) {
            const ExactCutPlan plan = planExactCut(source, cutRanges(ranges), path);
            output.notes << plan.summary;
            if (!plan.refusal.isEmpty()) {
                output.refusal = tr("this movie cannot be cut exactly: %1").arg(plan.refusal);
                return output;
            }
            if (!plan.sound.isEmpty())
                output.notes << plan.sound;
            output.notes << plan.notes;
            output.description = tr("Trimora cuts this exactly: %1").arg(plan.summary);
            if (!plan.sound.isEmpty())
                output.description += QStringLiteral(". ") + plan.sound;
            output.writer = writerOf(plan.job, sourcePath, true);
            return output;
        }
        const CopyJoinPlan plan = planCopyJoin(source, cutRanges(ranges), path);
        if (!plan.refusal.isEmpty()) {
            output.refusal = tr("these parts cannot be joined: %1").arg(plan.refusal);
            return output;
        }
        output.notes << plan.notes;
        for (size_t n = 0; n < plan.facts.size(); ++n) {
            for (QString fact : plan.facts[n]) {
                output.notes << tr("Part %1: %2").arg(n + 1).arg(fact);
                fact[0] = fact[0].toLower();
                output.facts << tr("part %1: %2").arg(n + 1).arg(fact);
            }
        }
        output.description =
            tr("Trimora joins %1 parts, copied from their keyframes").arg(ranges.size());
        output.writer = writerOf(plan.job, sourcePath, false);
        return output;
    };
}

} // namespace trimora
