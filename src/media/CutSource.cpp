#include "media/CutSource.h"

#include "media/StreamInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace trimora {

namespace {

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
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *stream = fmt->streams[i];
        reorders = reorders || stream->codecpar->video_delay > 0;
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
        layout.streams.push_back(entry);
        if (isMovingPicture(stream) && (!timing || !isMovingPicture(timing)))
            timing = stream;
        else if (!timing && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            timing = stream;
    }
    if (timing)
        layout.frameDuration = frameDurationOf(timing);
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
        const double timeBase = av_q2d(fmt->streams[videoIndex]->time_base);
        const double origin = originOf(fmt.get());
        long count = 0;
        scanPackets(fmt.get(), videoIndex, [&](const AVPacket &packet) {
            if (++count % 256 == 0 && cancelled())
                return false;
            VideoPacket entry;
            const int64_t pts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
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
            return true;
        });
        std::sort(index.framePts.begin(), index.framePts.end());
        std::sort(index.keyframes.begin(), index.keyframes.end());
        index.frameDuration = frameDuration > 0 ? frameDuration : typicalFrameStep(index.framePts);
        fillDecodeTimes(index.packets, index.frameDuration);
    }
    if (!cancelled())
        onIndex(std::move(index));
    return true;
}

} // namespace trimora
