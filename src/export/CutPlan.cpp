#include "export/CutPlan.h"

#include "media/OutputContainer.h"
#include "media/Timecode.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

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

// How far before the cut's start the second reading for text subtitles
// begins: longer than any cue a person could read.
constexpr double cueLookBack = 60.0;
// A written cut may fall short of its span by a frame, and by the
// millisecond rounding of its times.
constexpr double minimumTolerance = 0.02;
constexpr double roundingTolerance = 0.01;

// Seconds with microseconds, for expressions of the tool.
QString exactSeconds(double seconds)
{
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 6);
    return QString::fromLatin1(buffer, result.ec == std::errc() ? result.ptr - buffer : 0);
}

// The bitstream filters that cut a copied text subtitle stream to the output
// times [from, to): cues wholly outside go, a cue running over an end is
// clipped to it. The ffmpeg program itself would keep a cue that started
// before the cut, at a time before the file's start.
QString cueClipping(double from, double to)
{
    const QString f = exactSeconds(from);
    const QString t = exactSeconds(to);
    return QStringLiteral(
               "noise=amount=0:drop=lte((pts+duration)*tb\\,%1)+gte(pts*tb\\,%2),"
               "setts=ts=max(TS\\,%1/TB):duration=min(PTS+DURATION\\,%2/TB)-max(PTS\\,%1/TB)")
        .arg(f, t);
}

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
    if (stream.timecodeTrack)
        return QStringLiteral("timecode stream");
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

// A stream of the output: its input (0, or 1 for text subtitles read from
// the source a second time) and its number there.
struct OutputStream
{
    int input = 0;
    const SourceStream *source = nullptr;
};

struct StreamChoice
{
    std::vector<OutputStream> outputs;
    QStringList notes;
    std::vector<ExpectedStream> expected;
    bool keepsVideo = false;
    bool readsCues = false;
};

StreamChoice chooseStreams(const SourceLayout &layout, const OutputContainer &container)
{
    StreamChoice choice;
    for (const SourceStream &stream : layout.streams) {
        if (stream.timecodeTrack) {
            // Written anew from the tag, shifted to the cut.
            if (!keepsTimecode(container))
                choice.notes << leftOutNote(stream, container);
            continue;
        }
        if (!containerCanHold(container, stream)) {
            choice.notes << leftOutNote(stream, container);
            continue;
        }
        choice.outputs.push_back({stream.textSubtitle ? 1 : 0, &stream});
        choice.readsCues = choice.readsCues || stream.textSubtitle;
        const bool moving = stream.kind == StreamKind::Video && !stream.attachedPicture;
        choice.keepsVideo = choice.keepsVideo || moving;
        if (moving || stream.kind == StreamKind::Audio || stream.kind == StreamKind::Subtitle)
            choice.expected.push_back(
                {stream.kind, stream.codecId, stream.codecName, stream.index});
    }
    return choice;
}

// The source's timecode moved on to the cut's first frame, for each video
// stream that carries it and for the file where it has its own.
QStringList timecodeArguments(const SourceLayout &layout, const VideoIndex *index, double first,
                              const std::vector<OutputStream> &outputs)
{
    if (layout.timecode.empty() || layout.timecodeRateNum <= 0)
        return {};
    const double firstFrame = index && !index->framePts.empty() ? index->framePts.front() : 0.0;
    const long long frames =
        std::llround((first - firstFrame) * layout.timecodeRateNum / layout.timecodeRateDen);
    const std::string moved =
        timecodeAfter(layout.timecode, layout.timecodeRateNum, layout.timecodeRateDen, frames);
    if (moved.empty())
        return {};
    const QString value = QStringLiteral("timecode=") + QString::fromStdString(moved);
    QStringList args;
    for (size_t k = 0; k < outputs.size(); ++k) {
        if (outputs[k].source->carriesTimecode)
            args << QStringLiteral("-metadata:s:%1").arg(k) << value;
    }
    if (layout.globalTimecode)
        args << QStringLiteral("-metadata") << value;
    return args;
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

// The source time the output's time 0 stands for.
double outputOrigin(const Start &start)
{
    return start.seek - start.offset;
}

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
    // The output's clock starts at the earliest packet it holds, which in a
    // file interleaved by decode time is the keyframe's, by its decode time:
    // counting from there, chapters and cues keep their distance from it.
    start.offset = start.seek - index.packets[static_cast<size_t>(packet)].dts;
    if (*keyframe < shown - tiny)
        start.keyframeBeforeIn = *keyframe;
    return start;
}

struct End
{
    double limit = 0.0;                // the source time -t ends at
    double picture = 0.0;              // where the picture ends
    std::optional<double> endsPastOut; // set when that is after Out
};

// The copy takes every packet decoded before the limit. Take all frames
// before the one on show at Out, then whatever their decoding drags in, until
// no frame in between is missing.
End planEnd(const VideoIndex &index, std::ptrdiff_t firstPacket, double markedOut)
{
    const double out = frameShownAt(index, markedOut).value_or(markedOut);
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
    end.picture = out;
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
        end.picture = next != index.framePts.end() ? *next : shownUntil + index.frameDuration;
        end.endsPastOut = end.picture;
    }
    return end;
}

} // namespace

bool keepsTimecode(const OutputContainer &container)
{
    return container.startsBetweenKeyframes || container.muxer == "matroska";
}

QString leftOutNote(const SourceStream &stream, const OutputContainer &container)
{
    const QString codec =
        stream.timecodeTrack ? QStringLiteral("tmcd") : QString::fromStdString(stream.codecName);
    return QStringLiteral("Left out: %1 %2 (%3): %4 cannot hold it")
        .arg(streamWords(stream))
        .arg(stream.index)
        .arg(codec, QString::fromStdString(container.label));
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

QString startFact(double keyframe, double in)
{
    return QStringLiteral("Starts at the keyframe at %1, %2 s before In")
        .arg(clockTime(keyframe), formatSeconds(in - keyframe));
}

QString endFact(double end, double out)
{
    return QStringLiteral("Ends at %1, %2 s after Out")
        .arg(clockTime(end), formatSeconds(end - out));
}

QStringList CutPlan::argumentsWritingTo(const QString &path) const
{
    QStringList written = arguments;
    if (written.isEmpty())
        return written;
    written.last() = path;
    written.replaceInStrings(QRegularExpression(QStringLiteral("^-n$")), QStringLiteral("-y"));
    return written;
}

QString CutPlan::shortfall(double writtenLength) const
{
    if (!(writtenLength < length - tolerance))
        return {};
    QString reason =
        QStringLiteral("the cut holds %1 s of %2 s")
            .arg(QString::number(writtenLength, 'f', 2), QString::number(marked, 'f', 2));
    if (sourceEndsAt)
        reason.prepend(QStringLiteral("the source ends at %1 s; ")
                           .arg(QString::number(*sourceEndsAt, 'f', 2)));
    return reason;
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
        plan.refusal = emptyRangeRefusal;

    StreamChoice choice;
    if (layout) {
        choice = chooseStreams(*layout, container);
        plan.notes = choice.notes;
        plan.expected = choice.expected;
        if (choice.outputs.empty() && plan.refusal.isEmpty())
            plan.refusal = QStringLiteral("%1 cannot hold any stream of this movie")
                               .arg(QString::fromStdString(container.label));
    }

    Start start{request.in, 0.0, 0, std::nullopt};
    double first = request.in; // the cut's first frame
    End end{request.out, request.out, std::nullopt};
    if (layout && index && choice.keepsVideo && !index->packets.empty()) {
        if (const std::optional<Start> planned =
                planStart(*layout, *index, request.in,
                          container.startsBetweenKeyframes && !request.startAtKeyframe)) {
            start = *planned;
            first = start.keyframeBeforeIn.value_or(
                frameShownAt(*index, request.in).value_or(request.in));
            end = planEnd(*index, start.firstPacket, request.out);
        }
    }
    if (std::abs(start.offset) < 0.0005)
        start.offset = 0.0;
    const double origin = outputOrigin(start);
    plan.startsAt = start.keyframeBeforeIn;
    plan.endsAt = end.endsPastOut;
    if (start.keyframeBeforeIn) {
        plan.facts << startFact(*start.keyframeBeforeIn, request.in);
        plan.notes << plan.facts.last() +
                          (request.startAtKeyframe
                               ? QStringLiteral(": nothing can hide the frames before In at a join")
                               : QStringLiteral(": %1 cannot start between keyframes without "
                                                "re-encoding")
                                     .arg(QString::fromStdString(container.label)));
    }
    if (end.endsPastOut) {
        plan.facts << endFact(*end.endsPastOut, request.out);
        plan.notes << plan.facts.last() +
                          QStringLiteral(": the frames before Out are decoded from a later "
                                         "frame, which stream copy keeps");
    }
    // Past a movie's last picture its sound may go on, or not be kept: a
    // written file need only reach that picture's end, unless the data of the
    // picture itself was lost.
    double lastEnd = end.picture;
    if (index && !index->endsEarlyAt && !index->framePts.empty() && choice.keepsVideo)
        lastEnd = std::min(lastEnd, index->framePts.back() + index->frameDuration);
    plan.length = lastEnd - first;
    plan.tolerance = std::max(frame, minimumTolerance) + roundingTolerance;
    plan.marked = request.out - request.in;
    if (index)
        plan.sourceEndsAt = index->endsEarlyAt;

    QStringList &args = plan.arguments;
    args << QStringLiteral("-hide_banner") << QStringLiteral("-n") << QStringLiteral("-ss")
         << formatSeconds(start.seek);
    if (start.offset != 0.0)
        args << QStringLiteral("-itsoffset") << formatSeconds(start.offset);
    args << QStringLiteral("-i") << request.inputPath;
    if (choice.readsCues) {
        // Read from early enough to meet a cue that runs over the start, on
        // the same clock as the first reading.
        const double from = std::max(0.0, std::floor(first - cueLookBack));
        if (from > 0)
            args << QStringLiteral("-ss") << formatSeconds(from);
        args << QStringLiteral("-itsoffset") << formatSeconds(from - origin) << QStringLiteral("-i")
             << request.inputPath;
    }
    args << QStringLiteral("-t") << formatSeconds(end.limit - origin);
    if (!layout)
        args << QStringLiteral("-map") << QStringLiteral("0");
    for (const OutputStream &output : choice.outputs)
        args << QStringLiteral("-map")
             << QStringLiteral("%1:%2").arg(output.input).arg(output.source->index);
    args << QStringLiteral("-c") << QStringLiteral("copy");
    for (size_t k = 0; k < choice.outputs.size(); ++k) {
        if (choice.outputs[k].input == 1)
            args << QStringLiteral("-bsf:%1").arg(k)
                 << cueClipping(first - origin, end.picture - origin);
    }
    if (layout)
        args << timecodeArguments(*layout, index, first, choice.outputs);
    args << QStringLiteral("-map_metadata") << QStringLiteral("0")
         << QStringLiteral("-map_chapters") << QStringLiteral("0") << request.outputPath;
    return plan;
}

} // namespace trimora
