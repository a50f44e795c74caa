#include "export/FrameView.h"

#include "export/CutPlan.h"
#include "media/Timecode.h"

#include <algorithm>
#include <cmath>

namespace trimora {

namespace {

constexpr double tiny = 1e-6;

bool isHevc(const ExactVideo &video)
{
    return video.codecName == "hevc";
}

} // namespace

std::size_t FrameView::rankOf(std::int64_t pts) const
{
    const auto it = std::upper_bound(frames.begin(), frames.end(), pts,
                                     [](std::int64_t t, const Frame &f) { return t < f.pts; });
    return static_cast<std::size_t>(std::max<std::ptrdiff_t>(it - frames.begin() - 1, 0));
}

std::size_t FrameView::frameAt(double t) const
{
    const auto after =
        std::upper_bound(frames.begin(), frames.end(), t + tiny,
                         [&](double time, const Frame &f) { return time < seconds(f.pts); });
    if (after == frames.end() && t + tiny >= seconds(lastEnd))
        return frames.size();
    return static_cast<std::size_t>(std::max<std::ptrdiff_t>(after - frames.begin() - 1, 0));
}

std::optional<std::size_t> FrameView::decodeStartFor(std::int64_t pts) const
{
    std::optional<std::size_t> found;
    for (const std::size_t k : keys) {
        if (packet(k).pts <= pts)
            found = k;
    }
    return found;
}

std::int64_t FrameView::frameDuration() const
{
    if (video.frameRate.num > 0 && video.frameRate.den > 0 && tick > 0) {
        const double ticks = static_cast<double>(video.frameRate.den) /
                             static_cast<double>(video.frameRate.num) / tick;
        if (ticks >= 1.0 && ticks < 1e12)
            return std::llround(ticks);
    }
    return frames.size() > 1 ? std::max<std::int64_t>(frames[1].pts - frames[0].pts, 1) : 1;
}

std::optional<QString> buildFrameView(FrameView &view)
{
    const ExactVideo &video = view.video;
    if (video.timeBase.num <= 0 || video.timeBase.den <= 0 || video.packets.empty())
        return QStringLiteral("the timing of its picture cannot be read");
    for (std::size_t i = 0; i < video.packets.size(); ++i) {
        const ExactPacket &p = video.packets[i];
        if (!p.hidden)
            view.frames.push_back({p.pts, i});
        if (p.key != KeyKind::None && (p.key != KeyKind::Cra || isHevc(video)))
            view.keys.push_back(i);
    }
    std::sort(view.frames.begin(), view.frames.end(),
              [](const FrameView::Frame &a, const FrameView::Frame &b) { return a.pts < b.pts; });
    if (view.frames.empty())
        return QStringLiteral("it has no picture to show");
    for (std::size_t i = 1; i < view.frames.size(); ++i) {
        if (view.frames[i].pts == view.frames[i - 1].pts)
            return QStringLiteral("two of its frames share a time");
    }
    const ExactPacket &last = view.packet(view.frames.back().packet);
    std::int64_t duration = last.duration;
    if (duration <= 0 && view.frames.size() > 1)
        duration = view.frames.back().pts - view.frames[view.frames.size() - 2].pts;
    view.lastEnd = view.frames.back().pts + std::max<std::int64_t>(duration, 1);
    return std::nullopt;
}

ExactJob jobFor(const std::shared_ptr<const ExactSource> &source, const FrameView &view,
                const OutputContainer &container)
{
    ExactJob job;
    job.muxer = container.muxer;
    job.videoStream = view.video.index;
    job.reorderDepth = view.video.reorderDepth;
    job.frameDuration = view.frameDuration();
    job.source = source;
    return job;
}

void keepOtherStreams(const ExactSource &source, const OutputContainer &container,
                      double sinceFirstFrame, ExactJob &job, QStringList &notes,
                      std::vector<ExpectedStream> &expected)
{
    const SourceLayout &layout = source.layout;
    for (const SourceStream &stream : layout.streams) {
        if (stream.index == job.videoStream || stream.kind == StreamKind::Audio)
            continue;
        if (stream.timecodeTrack) {
            // Written anew from the tag, moved on to the first frame.
            if (!keepsTimecode(container))
                notes << leftOutNote(stream, container);
            continue;
        }
        const bool copyable = stream.kind == StreamKind::Subtitle ||
                              stream.kind == StreamKind::Data ||
                              stream.kind == StreamKind::Attachment || stream.attachedPicture;
        if (!copyable || !containerCanHold(container, stream)) {
            notes << leftOutNote(stream, container);
            continue;
        }
        job.copiedStreams.push_back(stream.index);
        if (stream.kind == StreamKind::Subtitle)
            expected.push_back({stream.kind, stream.codecId, stream.codecName, stream.index});
    }
    if (layout.timecode.empty() || layout.timecodeRateNum <= 0)
        return;
    const long long frames =
        std::llround(sinceFirstFrame * layout.timecodeRateNum / layout.timecodeRateDen);
    job.timecode =
        timecodeAfter(layout.timecode, layout.timecodeRateNum, layout.timecodeRateDen, frames);
}

} // namespace trimora
