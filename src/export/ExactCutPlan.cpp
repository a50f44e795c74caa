#include "export/ExactCutPlan.h"

#include "export/CutPlan.h"
#include "export/FrameView.h"
#include "media/OutputContainer.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>

namespace trimora {

namespace {

constexpr double tiny = 1e-6;

// The AAC encoder's sample rates; any other is resampled to 48 kHz.
constexpr int aacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                            22050, 16000, 12000, 11025, 8000,  7350};

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 2) + QStringLiteral(" s");
}

bool isHevc(const ExactVideo &video)
{
    return video.codecName == "hevc";
}

std::optional<QString> refusalFor(const ExactVideo &video, const OutputContainer &container)
{
    const QString codec = QString::fromStdString(video.codecName);
    const bool h264 = video.codecName == "h264";
    const bool hevc = isHevc(video);
    const bool vp9 = video.codecName == "vp9";
    if (!h264 && !hevc && !vp9)
        return QStringLiteral("its picture is %1; exact cuts handle H.264, HEVC and VP9")
            .arg(codec.toUpper());
    const std::string &muxer = container.muxer;
    const bool isoFamily = muxer == "mp4" || muxer == "mov";
    const bool fits = vp9 ? (muxer == "webm" || muxer == "matroska" || muxer == "mp4")
                          : (isoFamily || muxer == "matroska" || muxer == "mpegts");
    if (!fits)
        return QStringLiteral("%1 files cannot take an exactly cut %2 picture")
            .arg(QString::fromStdString(container.label), codec.toUpper());
    if (video.interlaced)
        return QStringLiteral("its picture is interlaced");
    if (!video.chroma420)
        return QStringLiteral("its picture is not 4:2:0 (only 4:2:0 can be re-encoded to match)");
    if (video.bitDepth != 8 && video.bitDepth != 10)
        return QStringLiteral("its picture has %1-bit samples").arg(video.bitDepth);
    if (video.hdr)
        return QStringLiteral("its picture is HDR, whose metadata a re-encode would not keep");
    const std::string &profile = video.profile;
    if (hevc && !profile.empty() && profile != "Main" && profile != "Main 10")
        return QStringLiteral("its HEVC profile %1 cannot be matched")
            .arg(QString::fromStdString(profile));
    if (vp9 && !profile.empty() && profile != "Profile 0" && profile != "Profile 2")
        return QStringLiteral("its VP9 %1 cannot be matched").arg(QString::fromStdString(profile));
    return std::nullopt;
}

// One past the last packet, in decode order, showing a frame in [from, to);
// nothing when one of them lies before first.
std::optional<std::size_t> decodeEndFor(const FrameView &view, std::size_t first, std::int64_t from,
                                        std::int64_t to)
{
    std::size_t end = first;
    for (std::size_t i = 0; i < view.video.packets.size(); ++i) {
        const ExactPacket &p = view.packet(i);
        if (p.hidden || p.pts < from || p.pts >= to)
            continue;
        if (i < first)
            return std::nullopt;
        end = std::max(end, i + 1);
    }
    return end;
}

// Finds K1 and E for the range and the decoding spans around them.
std::optional<QString> planRange(const FrameView &view, ExactRange &range)
{
    const ExactVideo &video = view.video;
    bool openKeyframe = false;
    std::optional<std::size_t> k1;
    for (const std::size_t k : view.keys) {
        const ExactPacket &p = view.packet(k);
        if (p.hidden || p.pts < range.startPts || p.pts >= range.endPts)
            continue;
        if (p.key == KeyKind::Recovery) {
            openKeyframe = true;
            continue;
        }
        k1 = k;
        break;
    }
    if (k1) {
        // The longest run of packets from K1 whose frames are exactly the
        // first ones shown from K1; leading pictures of a CRA are dropped.
        const std::int64_t k1Pts = view.packet(*k1).pts;
        const std::size_t k1Rank = view.rankOf(k1Pts);
        std::int64_t count = 0;
        std::int64_t latest = k1Pts;
        for (std::size_t i = *k1; i < video.packets.size(); ++i) {
            const ExactPacket &p = view.packet(i);
            if (p.pts >= range.endPts || p.hidden)
                break;
            if (p.pts < k1Pts)
                continue;
            ++count;
            latest = std::max(latest, p.pts);
            const std::size_t latestRank = view.rankOf(latest);
            if (static_cast<std::int64_t>(latestRank - k1Rank + 1) == count) {
                range.copyEnd = i + 1;
                range.copyEndPts = latestRank + 1 < view.frames.size()
                                       ? view.frames[latestRank + 1].pts
                                       : view.lastEnd;
            }
        }
        if (range.copyEnd > *k1) {
            range.copyFirst = *k1;
            range.copyStartPts = k1Pts;
            range.copyEndPts = std::min(range.copyEndPts, range.endPts);
            range.copyStartsAtCra = view.packet(*k1).key == KeyKind::Cra;
            range.checkEnd = range.copyEnd;
            for (std::size_t i = *k1 + 1; i < range.copyEnd; ++i) {
                if (view.packet(i).key != KeyKind::None && view.packet(i).pts >= k1Pts) {
                    range.checkEnd = i;
                    break;
                }
            }
        }
    }
    if (!range.copies() && openKeyframe)
        return QStringLiteral("its keyframes here are open-GOP pictures, which cannot be joined "
                              "reliably, and no IDR keyframe follows In before Out");
    const QString undecodable = QStringLiteral("no keyframe before In lets its frames be decoded");
    if (range.headEndPts() > range.startPts || range.copies()) {
        const std::optional<std::size_t> from = range.headEndPts() > range.startPts
                                                    ? view.decodeStartFor(range.startPts)
                                                    : std::optional<std::size_t>(range.copyFirst);
        if (!from)
            return undecodable;
        const std::optional<std::size_t> to =
            decodeEndFor(view, *from, range.startPts, range.headEndPts());
        if (!to)
            return undecodable;
        range.headFrom = *from;
        range.headTo = *to;
    }
    if (range.copies() && range.copyEndPts < range.endPts) {
        const std::optional<std::size_t> from = view.decodeStartFor(range.copyEndPts);
        const std::optional<std::size_t> to =
            from ? decodeEndFor(view, *from, range.copyEndPts, range.endPts) : std::nullopt;
        if (!to)
            return undecodable;
        range.tailFrom = *from;
        range.tailTo = *to;
    }
    return std::nullopt;
}

// The first free id for the encoder's parameter sets.
int freeParameterSetId(const std::vector<int> &used)
{
    for (int id = 0; id < 32; ++id) {
        if (std::find(used.begin(), used.end(), id) == used.end())
            return id;
    }
    return -1;
}

struct AudioChoice
{
    ExactAudioJob job;
    QString codecWords; // "AAC at 128 kb/s", "FLAC"
};

std::optional<AudioChoice> chooseAudio(const ExactAudio &audio, const OutputContainer &container)
{
    const auto fits = [&](const char *codec) {
        SourceStream stream;
        stream.kind = StreamKind::Audio;
        stream.codecId = codecIdNamed(codec);
        return containerCanHold(container, stream);
    };
    AudioChoice choice;
    choice.job.sourceIndex = audio.index;
    const bool keepsLosslessly =
        audio.lossless && (audio.codecName.rfind("pcm_", 0) == 0 || audio.codecName == "flac") &&
        fits(audio.codecName.c_str());
    if (keepsLosslessly) {
        choice.job.encoder = audio.codecName;
        choice.job.sampleRate = audio.sampleRate;
        choice.codecWords =
            audio.codecName == "flac" ? QStringLiteral("FLAC") : QStringLiteral("PCM");
        return choice;
    }
    const int channels = std::max(audio.channels, 1);
    const std::int64_t perChannelLimit = 256000;
    const std::int64_t least =
        channels == 1 ? 96000 : 64000 * std::min(channels, 2) + 48000 * std::max(channels - 2, 0);
    choice.job.bitRate = std::min(std::max(audio.bitRate, least), perChannelLimit * channels);
    if (fits("aac")) {
        choice.job.encoder = "aac";
        const bool rateFits = std::find(std::begin(aacRates), std::end(aacRates),
                                        audio.sampleRate) != std::end(aacRates);
        choice.job.sampleRate = rateFits ? audio.sampleRate : 48000;
        choice.codecWords = QStringLiteral("AAC");
    } else if (fits("opus")) {
        choice.job.encoder = "libopus";
        choice.job.sampleRate = 48000;
        choice.codecWords = QStringLiteral("Opus");
    } else {
        return std::nullopt;
    }
    choice.codecWords += QStringLiteral(" at %1 kb/s").arg((choice.job.bitRate + 999) / 1000);
    return choice;
}

QString videoSentence(const FrameView &view, const std::vector<ExactRange> &ranges)
{
    double head = 0.0;
    double tail = 0.0;
    double whole = 0.0;
    int wholeRanges = 0;
    for (const ExactRange &r : ranges) {
        if (!r.copies()) {
            whole += static_cast<double>(r.endPts - r.startPts) * view.tick;
            ++wholeRanges;
            continue;
        }
        head += static_cast<double>(r.copyStartPts - r.startPts) * view.tick;
        tail += static_cast<double>(r.endPts - r.copyEndPts) * view.tick;
    }
    const bool several = ranges.size() > 1;
    if (wholeRanges == static_cast<int>(ranges.size()))
        return QStringLiteral("re-encodes all %1: no keyframe to copy from lies inside %2")
            .arg(secondsText(whole),
                 several ? QStringLiteral("the parts") : QStringLiteral("the range"));
    // The edges of the parts that copy, summed; then the parts re-encoded whole.
    const int copying = static_cast<int>(ranges.size()) - wholeRanges;
    const QString plural = copying > 1 ? QStringLiteral("s") : QString();
    QStringList edges;
    if (head > tiny)
        edges << QStringLiteral("%1 at the start%2").arg(secondsText(head), plural);
    if (tail > tiny)
        edges << QStringLiteral("%1 at the end%2").arg(secondsText(tail), plural);
    QStringList parts;
    if (!edges.isEmpty())
        parts << edges.join(QStringLiteral(" and ")) +
                     (!several      ? QString()
                      : copying > 1 ? QStringLiteral(" of %1 parts").arg(copying)
                                    : QStringLiteral(" of one part"));
    if (wholeRanges > 0)
        parts << (wholeRanges > 1 ? QStringLiteral("all %1 of %2 parts without a keyframe")
                                        .arg(secondsText(whole))
                                        .arg(wholeRanges)
                                  : QStringLiteral("all %1 of one part without a keyframe")
                                        .arg(secondsText(whole)));
    if (parts.isEmpty())
        return QStringLiteral("re-encodes no frame: every frame is copied");
    return QStringLiteral("re-encodes ") + parts.join(QStringLiteral(", and ")) +
           QStringLiteral("; the rest is copied");
}

QString soundSentence(const std::vector<AudioChoice> &choices)
{
    if (choices.empty())
        return {};
    QStringList words;
    for (const AudioChoice &choice : choices) {
        if (!words.contains(choice.codecWords))
            words << choice.codecWords;
    }
    const bool lossless = std::all_of(choices.begin(), choices.end(),
                                      [](const AudioChoice &c) { return c.job.bitRate == 0; });
    const QString tracks =
        choices.size() > 1 ? QStringLiteral(" (%1 tracks)").arg(choices.size()) : QString();
    if (lossless)
        return QStringLiteral("The sound%1 is cut to the sample without loss (%2).")
            .arg(tracks, words.join(QStringLiteral(", ")));
    return QStringLiteral("The sound%1 is re-encoded as %2 over the whole range.")
        .arg(tracks, words.join(QStringLiteral(", ")));
}

ExactCutPlan refused(ExactCutPlan plan, const QString &reason)
{
    plan.refusal = reason;
    plan.summary =
        QStringLiteral("This movie cannot be cut exactly: %1. Copy will be used.").arg(reason);
    plan.job = {};
    return plan;
}

} // namespace

ExactCutPlan planExactCut(const std::shared_ptr<const ExactSource> &source,
                          const std::vector<CutRange> &ranges, const QString &outputName)
{
    ExactCutPlan plan;
    const OutputContainer container =
        outputContainerFor(QFile::encodeName(QFileInfo(outputName).fileName()).toStdString());
    if (!source || !source->video || source->movingPictures == 0)
        return refused(plan, QStringLiteral("it has no moving picture"));
    if (source->movingPictures > 1)
        return refused(plan, QStringLiteral("it has %1 moving pictures; one can be cut exactly")
                                 .arg(source->movingPictures));
    const ExactVideo &video = *source->video;
    if (const std::optional<QString> reason = refusalFor(video, container))
        return refused(plan, *reason);
    if (ranges.empty())
        return refused(plan, QStringLiteral("no range is marked"));

    FrameView view(video, source->origin);
    if (const std::optional<QString> reason = buildFrameView(view))
        return refused(plan, *reason);

    ExactJob &job = plan.job;
    job = jobFor(source, view, container);
    if (video.codecName == "h264") {
        job.h264ParameterSetId = freeParameterSetId(video.parameterSetIds);
        if (job.h264ParameterSetId < 0)
            return refused(plan, QStringLiteral("its parameter sets leave no id for new ones"));
    }
    std::int64_t outputAt = 0;
    for (std::size_t n = 0; n < ranges.size(); ++n) {
        const QString part = ranges.size() > 1 ? QStringLiteral("part %1: ").arg(n + 1) : QString();
        const std::size_t first = view.frameAt(ranges[n].in);
        const std::size_t last = view.frameAt(ranges[n].out);
        if (!(ranges[n].out > ranges[n].in) || first >= view.frames.size() || last <= first)
            return refused(plan, part + QStringLiteral("the marked range holds no frame"));
        ExactRange range;
        range.startPts = view.frames[first].pts;
        range.endPts = view.startOf(last);
        range.frames = static_cast<std::int64_t>(last - first);
        range.outputStart = outputAt;
        if (const std::optional<QString> reason = planRange(view, range))
            return refused(plan, part + *reason);
        outputAt += range.endPts - range.startPts;
        job.ranges.push_back(range);
    }

    plan.expected.push_back({StreamKind::Video, video.codecId, video.codecName, video.index});
    std::vector<AudioChoice> audio;
    for (const ExactAudio &track : source->audio) {
        std::optional<AudioChoice> choice = chooseAudio(track, container);
        if (!choice) {
            SourceStream stream;
            stream.index = track.index;
            stream.kind = StreamKind::Audio;
            stream.codecName = track.codecName;
            plan.notes << leftOutNote(stream, container);
            continue;
        }
        const std::string codec = choice->job.encoder == "libopus" ? "opus" : choice->job.encoder;
        plan.expected.push_back({StreamKind::Audio, codecIdNamed(codec), codec, track.index});
        job.audio.push_back(choice->job);
        audio.push_back(*choice);
    }
    keepOtherStreams(*source, container,
                     static_cast<double>(job.ranges.front().startPts - view.frames.front().pts) *
                         view.tick,
                     job, plan.notes, plan.expected);
    plan.summary = videoSentence(view, job.ranges);
    plan.sound = soundSentence(audio);
    return plan;
}

} // namespace trimora
