#include "export/CutPlan.h"

#include "media/OutputContainer.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace trimora {

namespace {

constexpr double tiny = 1e-6;
// How many frames before the keyframe's packet the search of a demuxer
// without index is aimed: enough to land before that packet (one was enough
// at 25 random keyframes of a two-hour MPEG-TS), few enough that little
// sound from before the keyframe comes along.
constexpr double searchMarginFrames = 2;
// How many packets decoding may reorder; far beyond any codec's limit.
constexpr std::ptrdiff_t reorderWindow = 128;

double msFloor(double seconds)
{
    return std::floor(seconds * 1000.0 + 1e-6) / 1000.0;
}

double msCeil(double seconds)
{
    return std::ceil(seconds * 1000.0 - 1e-6) / 1000.0;
}

QString streamWords(const SourceStream &stream)
{
    if (stream.attachedPicture)
        return QStringLiteral("picture stream");
    switch (stream.kind) {
    case StreamKind::Video:
        return QStringLiteral("video stream");
    case StreamKind::Audio:
        return QStringLiteral("audio stream");
    case StreamKind::Subtitle:
        return QStringLiteral("subtitle stream");
    case StreamKind::Data:
        return QStringLiteral("data stream");
    case StreamKind::Attachment:
        return QStringLiteral("attachment stream");
    case StreamKind::Unknown:
        break;
    }
    return QStringLiteral("stream");
}

struct StreamChoice
{
    QStringList maps;
    QStringList notes;
    std::vector<ExpectedStream> expected;
    bool keepsVideo = false;
    bool keepsAny = false;
};

StreamChoice chooseStreams(const SourceLayout &layout, const OutputContainer &container)
{
    StreamChoice choice;
    for (const SourceStream &stream : layout.streams) {
        if (!containerCanHold(container, stream)) {
            choice.notes << leftOutNote(stream, container.label);
            continue;
        }
        choice.maps << QStringLiteral("-map") << QStringLiteral("0:%1").arg(stream.index);
        choice.keepsAny = true;
        const bool moving = stream.kind == StreamKind::Video && !stream.attachedPicture;
        choice.keepsVideo = choice.keepsVideo || moving;
        if (moving || stream.kind == StreamKind::Audio || stream.kind == StreamKind::Subtitle)
            choice.expected.push_back(
                {stream.kind, stream.codecId, stream.codecName, stream.index});
    }
    return choice;
}

// The start of the frame on screen at t, if a frame is.
std::optional<double> frameShownAt(const VideoIndex &index, double t)
{
    const auto after = std::upper_bound(index.framePts.begin(), index.framePts.end(), t + tiny);
    if (after == index.framePts.begin())
        return std::nullopt;
    const double start = *std::prev(after);
    const double end = after != index.framePts.end()
                           ? *after
                           : start + (index.frameDuration > 0 ? index.frameDuration : INFINITY);
    if (t >= end - tiny)
        return std::nullopt;
    return start;
}

std::optional<double> keyframeAtOrBefore(const VideoIndex &index, double t)
{
    const auto after = std::upper_bound(index.keyframes.begin(), index.keyframes.end(), t + tiny);
    if (after == index.keyframes.begin())
        return std::nullopt;
    return *std::prev(after);
}

std::ptrdiff_t packetOfKeyframe(const VideoIndex &index, double keyframe)
{
    for (size_t i = 0; i < index.packets.size(); ++i) {
        if (index.packets[i].key && std::abs(index.packets[i].pts - keyframe) < tiny)
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

struct Start
{
    double seek = 0.0;   // -ss
    double offset = 0.0; // -itsoffset, 0 for none
    std::ptrdiff_t firstPacket = 0;
    std::optional<double> keyframeBeforeIn; // the cut starts there, not at In
};

// Aims the input seek so that the ffmpeg program starts copying at keyframe.
double seekLandingOn(const SourceLayout &layout, const VideoIndex &index, double keyframe,
                     std::ptrdiff_t packet)
{
    if (layout.seeksByIndex)
        return msCeil(keyframe + layout.seekLead);
    // Aim just before the keyframe's packet (by decode time, as the search
    // goes), still after the keyframe before it.
    const double keyDts = index.packets[static_cast<size_t>(packet)].dts;
    double back = searchMarginFrames * (index.frameDuration > 0 ? index.frameDuration : 0.04);
    for (std::ptrdiff_t i = packet - 1; i >= 0; --i) {
        if (index.packets[static_cast<size_t>(i)].key) {
            back = std::min(back, (keyDts - index.packets[static_cast<size_t>(i)].dts) / 2);
            break;
        }
    }
    return std::max(0.0, msCeil(keyDts - back + layout.seekLead));
}

std::optional<Start> planStart(const SourceLayout &layout, const VideoIndex &index, double in,
                               bool exactContainer)
{
    const double shown = frameShownAt(index, in).value_or(in);
    const std::optional<double> keyframe = keyframeAtOrBefore(index, shown);
    if (!keyframe)
        return std::nullopt;
    const std::ptrdiff_t packet = packetOfKeyframe(index, *keyframe);
    if (packet < 0)
        return std::nullopt;
    Start start;
    start.firstPacket = packet;
    if (exactContainer) {
        // The edit list hides whatever the copy brings before the frame.
        const double from = msFloor(shown);
        if (layout.seeksByIndex) {
            start.seek = from;
        } else {
            start.seek = seekLandingOn(layout, index, *keyframe, packet);
            start.offset = start.seek - from;
        }
        return start;
    }
    start.seek = seekLandingOn(layout, index, *keyframe, packet);
    if (*keyframe < shown - tiny)
        start.keyframeBeforeIn = *keyframe;
    return start;
}

struct End
{
    double limit = 0.0;                // the source time -t ends at
    std::optional<double> endsPastOut; // where the shown picture really ends
};

// The copy takes every packet decoded before the limit. Take all frames
// shown before Out, then whatever their decoding drags in, until no frame
// in between is missing.
End planEnd(const VideoIndex &index, std::ptrdiff_t firstPacket, double out)
{
    const std::vector<VideoPacket> &p = index.packets;
    const auto n = static_cast<std::ptrdiff_t>(p.size());
    const auto at = [&](std::ptrdiff_t i) -> const VideoPacket & {
        return p[static_cast<size_t>(i)];
    };
    const std::ptrdiff_t beforeOut =
        std::partition_point(p.begin(), p.end(),
                             [out](const VideoPacket &v) { return v.dts < out; }) -
        p.begin();
    std::ptrdiff_t last = -1;
    for (std::ptrdiff_t i = beforeOut - 1; i >= std::max(firstPacket, beforeOut - reorderWindow);
         --i) {
        if (at(i).pts < out - tiny) {
            last = i;
            break;
        }
    }
    End end;
    if (last < 0) {
        end.limit = out;
        return end;
    }
    double shownUntil = -INFINITY;
    for (std::ptrdiff_t i = std::max(firstPacket, last - reorderWindow); i <= last; ++i)
        shownUntil = std::max(shownUntil, at(i).pts);
    for (std::ptrdiff_t k = last + 1; k < n && at(k).dts <= shownUntil; ++k) {
        if (at(k).pts < shownUntil) {
            for (std::ptrdiff_t m = last + 1; m <= k; ++m)
                shownUntil = std::max(shownUntil, at(m).pts);
            last = k;
        }
    }
    // Any limit between the last packet taken and the next one cuts the
    // picture alike; the one nearest Out cuts the sound there too.
    const double from = at(last).dts;
    const double gap = last + 1 < n ? at(last + 1).dts - from : 2 * index.frameDuration;
    const double margin = std::clamp(gap / 4, 0.0005, 0.002);
    end.limit = last + 1 < n ? std::clamp(out, from + margin, from + gap - margin)
                             : std::max(out, from + margin);
    if (shownUntil >= out - tiny) {
        const auto next =
            std::upper_bound(index.framePts.begin(), index.framePts.end(), shownUntil + tiny);
        end.endsPastOut = next != index.framePts.end() ? *next : shownUntil + index.frameDuration;
    }
    return end;
}

} // namespace

QString leftOutNote(const SourceStream &stream, const std::string &containerLabel)
{
    return QStringLiteral("Left out: %1 %2 (%3): %4 cannot hold it")
        .arg(streamWords(stream))
        .arg(stream.index)
        .arg(QString::fromStdString(stream.codecName), QString::fromStdString(containerLabel));
}

QString formatSeconds(double seconds)
{
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 3);
    if (result.ec != std::errc())
        return QStringLiteral("nan");
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString clockTime(double seconds)
{
    const long long ms = std::isfinite(seconds) && seconds > 0
                             ? static_cast<long long>(std::llround(seconds * 1000.0))
                             : 0;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

CutPlan planCut(const CutRequest &request, const SourceLayout *layout, const VideoIndex *index)
{
    CutPlan plan;
    const OutputContainer container = outputContainerFor(
        QFile::encodeName(QFileInfo(request.outputPath).fileName()).toStdString());
    const double frame = index && index->frameDuration > 0 ? index->frameDuration
                         : layout                          ? layout->frameDuration
                                                           : 0.0;
    if (!(request.out - request.in >= std::max(frame, 0.0) - tiny) || !(request.out > request.in))
        plan.refusal = QStringLiteral("❌ Failed: the marked range is empty");

    QStringList maps{QStringLiteral("-map"), QStringLiteral("0")};
    bool keepsVideo = !layout;
    if (layout) {
        StreamChoice choice = chooseStreams(*layout, container);
        maps = choice.maps;
        plan.notes = choice.notes;
        plan.expected = choice.expected;
        keepsVideo = choice.keepsVideo;
        if (!choice.keepsAny && plan.refusal.isEmpty())
            plan.refusal = QStringLiteral("❌ Failed: %1 cannot hold any stream of this movie")
                               .arg(QString::fromStdString(container.label));
    }

    double seek = request.in;
    double offset = 0.0;
    double effective = request.in;
    double limit = request.out;
    std::optional<Start> start;
    if (layout && index && keepsVideo && !index->packets.empty())
        start = planStart(*layout, *index, request.in, container.startsBetweenKeyframes);
    if (start) {
        seek = start->seek;
        offset = std::abs(start->offset) < 0.0005 ? 0.0 : start->offset;
        effective = seek - offset;
        if (start->keyframeBeforeIn)
            plan.notes << QStringLiteral("Starts at the keyframe at %1, %2 s before In: %3 cannot "
                                         "start between keyframes without re-encoding")
                              .arg(clockTime(*start->keyframeBeforeIn),
                                   formatSeconds(request.in - *start->keyframeBeforeIn),
                                   QString::fromStdString(container.label));
        const End end = planEnd(*index, start->firstPacket, request.out);
        limit = end.limit;
        if (end.endsPastOut)
            plan.notes << QStringLiteral("Ends at %1, %2 s after Out: the frames before Out are "
                                         "decoded from a later frame, which stream copy keeps")
                              .arg(clockTime(*end.endsPastOut),
                                   formatSeconds(*end.endsPastOut - request.out));
    }

    plan.arguments << QStringLiteral("-n") << QStringLiteral("-ss") << formatSeconds(seek);
    if (offset != 0.0)
        plan.arguments << QStringLiteral("-itsoffset") << formatSeconds(offset);
    plan.arguments << QStringLiteral("-i") << request.inputPath << QStringLiteral("-t")
                   << formatSeconds(limit - effective);
    plan.arguments << maps;
    plan.arguments << QStringLiteral("-c") << QStringLiteral("copy")
                   << QStringLiteral("-map_metadata") << QStringLiteral("0")
                   << QStringLiteral("-map_chapters") << QStringLiteral("0") << request.outputPath;
    return plan;
}

} // namespace trimora
