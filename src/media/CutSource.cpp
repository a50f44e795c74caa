#include "media/CutSource.h"

#include "media/StreamInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace trimora {

namespace {

// How far short of the container's promise a stream's data may stop before
// the file counts as truncated, in seconds.
constexpr double truncationMargin = 0.5;

// Demuxers without an index of their own: libavformat searches their packets
// by decode time.
bool searchesByDecodeTime(const char *name)
{
    for (const char *searching : {"mpegts", "mpegtsraw", "mpeg"}) {
        if (std::strcmp(name, searching) == 0)
            return true;
    }
    return false;
}

const char *timecodeTag(const AVDictionary *metadata)
{
    const AVDictionaryEntry *entry = av_dict_get(metadata, "timecode", nullptr, 0);
    return entry && *entry->value ? entry->value : nullptr;
}

bool isTextSubtitle(const AVCodecParameters *par)
{
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(par->codec_id);
    return par->codec_type == AVMEDIA_TYPE_SUBTITLE && descriptor &&
           (descriptor->props & AV_CODEC_PROP_TEXT_SUB);
}

// Decode times the demuxer left out (the first packets of a Matroska stream
// with B-frames) continue the known ones at the frame rate, as the ffmpeg
// program predicts them.
void fillDecodeTimes(std::vector<VideoPacket> &packets, double frameDuration)
{
    bool any = false;
    for (const VideoPacket &packet : packets)
        any = any || !std::isnan(packet.dts);
    if (!any) {
        for (VideoPacket &packet : packets)
            packet.dts = packet.pts;
        return;
    }
    for (size_t i = packets.size(); i-- > 1;) {
        if (std::isnan(packets[i - 1].dts) && !std::isnan(packets[i].dts))
            packets[i - 1].dts = packets[i].dts - frameDuration;
    }
    for (size_t i = 1; i < packets.size(); ++i) {
        if (std::isnan(packets[i].dts))
            packets[i].dts = packets[i - 1].dts + frameDuration;
    }
}

double typicalFrameStep(const std::vector<double> &sortedPts)
{
    std::vector<double> steps;
    for (size_t i = 1; i < sortedPts.size() && steps.size() < 512; ++i) {
        if (sortedPts[i] > sortedPts[i - 1])
            steps.push_back(sortedPts[i] - sortedPts[i - 1]);
    }
    if (steps.empty())
        return 0.0;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

} // namespace

SourceLayout layoutOf(const AVFormatContext *fmt)
{
    SourceLayout layout;
    bool reorders = false;
    const AVStream *timing = nullptr;
    if (const char *global = timecodeTag(fmt->metadata)) {
        layout.timecode = global;
        layout.globalTimecode = true;
    }
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *stream = fmt->streams[i];
        reorders = reorders || stream->codecpar->video_delay > 0;
        if (const char *tag = timecodeTag(stream->metadata); tag && layout.timecode.empty())
            layout.timecode = tag;
        // A stream the demuxer discards by itself is not content (an MP4's
        // chapter text); ffmpeg writes the chapters anew from the chapter list.
        if (stream->discard == AVDISCARD_ALL)
            continue;
        SourceStream entry;
        entry.index = static_cast<int>(i);
        entry.kind = kindOf(stream->codecpar->codec_type);
        entry.codecId = static_cast<int>(stream->codecpar->codec_id);
        entry.codecName = avcodec_get_name(stream->codecpar->codec_id);
        entry.attachedPicture = stream->disposition & AV_DISPOSITION_ATTACHED_PIC;
        entry.textSubtitle = isTextSubtitle(stream->codecpar);
        entry.timecodeTrack = stream->codecpar->codec_tag == MKTAG('t', 'm', 'c', 'd');
        entry.carriesTimecode = isMovingPicture(stream) && timecodeTag(stream->metadata);
        layout.streams.push_back(entry);
        if (isMovingPicture(stream) && (!timing || !isMovingPicture(timing)))
            timing = stream;
        else if (!timing && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            timing = stream;
    }
    if (timing)
        layout.frameDuration = frameDurationOf(timing);
    // Timecodes count the picture's frames (a muxer writing one takes the
    // video's rate too).
    if (timing && isMovingPicture(timing)) {
        const AVRational rate =
            timing->avg_frame_rate.num > 0 ? timing->avg_frame_rate : timing->r_frame_rate;
        layout.timecodeRateNum = rate.num;
        layout.timecodeRateDen = rate.den > 0 ? rate.den : 1;
    }
    layout.seeksByIndex = !searchesByDecodeTime(fmt->iformat->name);
    // The same test the ffmpeg program makes before it seeks its input.
    if (!(fmt->iformat->flags & AVFMT_SEEK_TO_PTS) && reorders)
        layout.seekLead = 3.0 / 23.0;
    return layout;
}

int codecIdNamed(const std::string &name)
{
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get_by_name(name.c_str());
    return descriptor ? static_cast<int>(descriptor->id) : 0;
}

bool readCutSource(const std::string &path, const std::function<bool()> &cancelled,
                   const std::function<void(SourceLayout)> &onLayout,
                   const std::function<void(VideoIndex)> &onIndex)
{
    FormatContextPtr fmt = openMediaFile(path);
    if (!fmt)
        return false;
    SourceLayout layout = layoutOf(fmt.get());
    const double frameDuration = layout.frameDuration;
    onLayout(std::move(layout));

    int videoIndex = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (isMovingPicture(fmt->streams[i]) && fmt->streams[i]->discard != AVDISCARD_ALL) {
            videoIndex = static_cast<int>(i);
            break;
        }
    }
    VideoIndex index;
    if (videoIndex >= 0) {
        const AVStream *video = fmt->streams[videoIndex];
        const double timeBase = av_q2d(video->time_base);
        const double origin = originOf(fmt.get());
        // Where the video does not say where it ends, the file says where its
        // longest stream does: then every stream's data is followed.
        const std::optional<double> ownEnd = declaredStreamEnd(video);
        long count = 0;
        double intactEnd = -INFINITY; // of the video's data, then of any stream's
        double dataEnd = -INFINITY;
        scanPackets(fmt.get(), ownEnd ? videoIndex : -1, [&](const AVPacket &packet) {
            if (++count % 256 == 0 && cancelled())
                return false;
            const int64_t pts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
            if (packet.stream_index != videoIndex) {
                const AVStream *other = fmt->streams[packet.stream_index];
                if (isMediaStream(other) && !(packet.flags & AV_PKT_FLAG_CORRUPT))
                    dataEnd = std::max(dataEnd, static_cast<double>(pts + packet.duration) *
                                                        av_q2d(other->time_base) -
                                                    origin);
                return true;
            }
            VideoPacket entry;
            entry.pts = static_cast<double>(pts) * timeBase - origin;
            entry.dts = packet.dts != AV_NOPTS_VALUE
                            ? static_cast<double>(packet.dts) * timeBase - origin
                            : std::numeric_limits<double>::quiet_NaN();
            entry.key = packet.flags & AV_PKT_FLAG_KEY;
            index.packets.push_back(entry);
            // Frames an edit list hides are copied but never shown.
            if (!(packet.flags & AV_PKT_FLAG_DISCARD)) {
                index.framePts.push_back(entry.pts);
                if (entry.key)
                    index.keyframes.push_back(entry.pts);
            }
            if (!(packet.flags & AV_PKT_FLAG_CORRUPT))
                intactEnd = std::max(intactEnd, entry.pts);
            return true;
        });
        std::sort(index.framePts.begin(), index.framePts.end());
        std::sort(index.keyframes.begin(), index.keyframes.end());
        index.frameDuration = frameDuration > 0 ? frameDuration : typicalFrameStep(index.framePts);
        fillDecodeTimes(index.packets, index.frameDuration);
        // A container's promise and its data part by more than rounding and
        // a last frame's length only where the data stops short.
        intactEnd += index.frameDuration;
        const std::optional<double> promised = ownEnd ? ownEnd : declaredFileEnd(fmt.get());
        const double reached = ownEnd ? intactEnd : std::max(intactEnd, dataEnd);
        if (promised && std::isfinite(intactEnd) &&
            *promised - origin - reached > std::max(truncationMargin, 3 * index.frameDuration))
            index.endsEarlyAt = intactEnd;
    }
    if (!cancelled())
        onIndex(std::move(index));
    return true;
}

} // namespace trimora
