#include "export/CopyJoinPlan.h"

#include "export/CutPlan.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace trimora {

namespace {

// The check decodes this many pictures after each join: the keyframe and the
// first picture predicted from it.
constexpr std::size_t checkedPictures = 2;

const SourceStream *streamOf(const SourceLayout &layout, int index)
{
    const auto found = std::find_if(layout.streams.begin(), layout.streams.end(),
                                    [&](const SourceStream &s) { return s.index == index; });
    return found != layout.streams.end() ? &*found : nullptr;
}

// The copy of one range: from the keyframe at or before the frame on show
// at In, to the first packet after which the frames shown from the keyframe
// on are whole and reach the one before the frame on show at Out.
std::optional<QString> planRange(const FrameView &view, const std::vector<std::int64_t> &times,
                                 const CutRange &marked, ExactRange &range, QStringList &facts)
{
    const std::size_t first = view.frameAt(marked.in);
    const std::size_t last = view.frameAt(marked.out);
    if (!(marked.out > marked.in) || first >= view.frames.size() || last <= first)
        return QStringLiteral("the marked range holds no frame");
    const std::int64_t shownAtIn = view.frames[first].pts;
    const std::int64_t shownAtOut = view.startOf(last);
    // An H.264 I picture that is not IDR keeps the picture order of the part
    // before it, so that decoders show the pictures around the join out of
    // order: only IDR pictures start a part.
    std::optional<std::size_t> key;
    for (const std::size_t k : view.keys) {
        if (view.packet(k).pts <= shownAtIn && view.packet(k).key != KeyKind::Recovery)
            key = k;
    }
    if (!key)
        return QStringLiteral("no keyframe before In lets its frames be decoded");
    const auto rankOf = [&](std::int64_t pts) {
        return static_cast<std::size_t>(std::lower_bound(times.begin(), times.end(), pts) -
                                        times.begin());
    };
    const std::vector<ExactPacket> &packets = view.video.packets;
    const std::int64_t keyPts = packets[*key].pts;
    const std::size_t keyRank = rankOf(keyPts);
    const std::size_t needed = std::max(rankOf(shownAtOut), keyRank + 1) - 1;
    std::size_t count = 0;
    std::size_t latest = keyRank;
    for (std::size_t i = *key; i < packets.size() && !range.copies(); ++i) {
        if (packets[i].pts < keyPts)
            continue; // shown before the keyframe: it needs what the copy leaves out
        ++count;
        latest = std::max(latest, rankOf(packets[i].pts));
        if (latest - keyRank + 1 == count && latest >= needed)
            range.copyEnd = i + 1;
    }
    if (!range.copies())
        return QStringLiteral("its frames before Out cannot be copied whole");
    range.copyFirst = *key;
    range.startPts = range.copyStartPts = keyPts;
    range.endPts = range.copyEndPts = latest + 1 < times.size() ? times[latest + 1] : view.lastEnd;
    range.frames = static_cast<std::int64_t>(count);
    range.copyStartsAtCra = packets[*key].key == KeyKind::Cra;
    range.checkEnd = *key + 1;
    for (std::size_t kept = 1; range.checkEnd < range.copyEnd && kept < checkedPictures;
         ++range.checkEnd) {
        if (packets[range.checkEnd].key != KeyKind::None)
            break;
        kept += packets[range.checkEnd].pts >= keyPts;
    }
    if (keyPts < shownAtIn)
        facts << startFact(view.seconds(keyPts), marked.in);
    if (range.endPts > shownAtOut)
        facts << endFact(view.seconds(range.endPts), marked.out);
    return std::nullopt;
}

CopyJoinPlan refused(const QString &reason)
{
    CopyJoinPlan plan;
    plan.refusal = reason;
    return plan;
}

} // namespace

CopyJoinPlan planCopyJoin(const std::shared_ptr<const ExactSource> &source,
                          const std::vector<CutRange> &ranges, const QString &outputName)
{
    const OutputContainer container =
        outputContainerFor(QFile::encodeName(QFileInfo(outputName).fileName()).toStdString());
    if (!source || !source->video || source->movingPictures == 0)
        return refused(QStringLiteral("it has no moving picture"));
    if (source->movingPictures > 1)
        return refused(QStringLiteral("it has %1 moving pictures; a join keeps one")
                           .arg(source->movingPictures));
    const ExactVideo &video = *source->video;
    const SourceStream *picture = streamOf(source->layout, video.index);
    if (!picture || !containerCanHold(container, *picture))
        return refused(QStringLiteral("%1 files cannot hold its %2 picture")
                           .arg(QString::fromStdString(container.label),
                                QString::fromStdString(video.codecName).toUpper()));
    if (ranges.empty())
        return refused(QStringLiteral("no range is marked"));
    FrameView view(video, source->origin);
    if (const std::optional<QString> reason = buildFrameView(view))
        return refused(*reason);
    // Every picture, shown or hidden by an edit list: a copy shows them all.
    std::vector<std::int64_t> times;
    for (const ExactPacket &p : video.packets)
        times.push_back(p.pts);
    std::sort(times.begin(), times.end());

    CopyJoinPlan plan;
    ExactJob &job = plan.job;
    job = jobFor(source, view, container);
    std::int64_t outputAt = 0;
    for (std::size_t n = 0; n < ranges.size(); ++n) {
        ExactRange range;
        range.outputStart = outputAt;
        QStringList facts;
        if (const std::optional<QString> reason = planRange(view, times, ranges[n], range, facts))
            return refused(ranges.size() > 1 ? QStringLiteral("part %1: %2").arg(n + 1).arg(*reason)
                                             : *reason);
        outputAt += range.endPts - range.startPts;
        job.ranges.push_back(range);
        plan.facts.push_back(facts);
    }

    plan.expected.push_back({StreamKind::Video, video.codecId, video.codecName, video.index});
    for (const ExactAudio &track : source->audio) {
        const SourceStream *stream = streamOf(source->layout, track.index);
        if (!stream)
            continue;
        if (!containerCanHold(container, *stream)) {
            plan.notes << leftOutNote(*stream, container);
            continue;
        }
        ExactAudioJob audio;
        audio.sourceIndex = track.index;
        audio.copies = true;
        audio.sampleRate = track.sampleRate;
        job.audio.push_back(audio);
        plan.expected.push_back({StreamKind::Audio, track.codecId, track.codecName, track.index});
    }
    keepOtherStreams(*source, container,
                     static_cast<double>(job.ranges.front().startPts - view.frames.front().pts) *
                         view.tick,
                     job, plan.notes, plan.expected);
    return plan;
}

} // namespace trimora
