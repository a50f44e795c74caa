#include "media/StreamInfo.h"

#include <cmath>

namespace trimora {

StreamKind kindOf(AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return StreamKind::Video;
    case AVMEDIA_TYPE_AUDIO:
        return StreamKind::Audio;
    case AVMEDIA_TYPE_SUBTITLE:
        return StreamKind::Subtitle;
    case AVMEDIA_TYPE_DATA:
        return StreamKind::Data;
    case AVMEDIA_TYPE_ATTACHMENT:
        return StreamKind::Attachment;
    default:
        return StreamKind::Unknown;
    }
}

std::optional<NalCodec> nalCodecOf(AVCodecID id)
{
    if (id == AV_CODEC_ID_H264)
        return NalCodec::H264;
    if (id == AV_CODEC_ID_HEVC)
        return NalCodec::Hevc;
    return std::nullopt;
}

bool isMovingPicture(const AVStream *stream)
{
    return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

double frameDurationOf(const AVStream *stream)
{
    const AVCodecParameters *par = stream->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO)
        return par->frame_size > 0 && par->sample_rate > 0
                   ? static_cast<double>(par->frame_size) / par->sample_rate
                   : 0.0;
    for (const AVRational rate : {stream->avg_frame_rate, stream->r_frame_rate}) {
        if (rate.num > 0 && rate.den > 0) {
            const double duration = static_cast<double>(rate.den) / rate.num;
            if (duration >= 1e-3 && duration <= 10.0)
                return duration;
        }
    }
    return 0.0;
}

double originOf(const AVFormatContext *fmt)
{
    return fmt->start_time != AV_NOPTS_VALUE ? static_cast<double>(fmt->start_time) / AV_TIME_BASE
                                             : 0.0;
}

bool isMediaStream(const AVStream *stream)
{
    return stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO || isMovingPicture(stream);
}

std::optional<double> declaredStreamEnd(const AVStream *stream)
{
    if (stream->start_time == AV_NOPTS_VALUE || stream->duration == AV_NOPTS_VALUE ||
        stream->duration <= 0)
        return std::nullopt;
    const double end =
        static_cast<double>(stream->start_time + stream->duration) * av_q2d(stream->time_base);
    return std::isfinite(end) ? std::optional(end) : std::nullopt;
}

std::optional<double> declaredFileEnd(const AVFormatContext *fmt)
{
    if (fmt->duration == AV_NOPTS_VALUE || fmt->duration <= 0)
        return std::nullopt;
    const int64_t start = fmt->start_time == AV_NOPTS_VALUE ? 0 : fmt->start_time;
    return static_cast<double>(start + fmt->duration) / AV_TIME_BASE;
}

std::optional<double> latestStreamEnd(const AVFormatContext *fmt)
{
    std::optional<double> end;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *stream = fmt->streams[i];
        const std::optional<double> streamEnd =
            isMediaStream(stream) ? declaredStreamEnd(stream) : std::nullopt;
        if (streamEnd && (!end || *streamEnd > *end))
            end = streamEnd;
    }
    return end ? end : declaredFileEnd(fmt);
}

void scanPackets(AVFormatContext *fmt, int stream,
                 const std::function<bool(const AVPacket &)> &onPacket)
{
    for (unsigned i = 0; i < fmt->nb_streams && stream >= 0; ++i) {
        if (static_cast<int>(i) != stream)
            fmt->streams[i]->discard = AVDISCARD_ALL;
    }
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        return;
    for (;;) {
        if (av_read_frame(fmt, packet.get()) < 0)
            return; // end of file, or damage: what was read stands
        const bool wanted = (stream < 0 || packet->stream_index == stream) &&
                            (packet->pts != AV_NOPTS_VALUE || packet->dts != AV_NOPTS_VALUE);
        const bool more = !wanted || onPacket(*packet);
        av_packet_unref(packet.get());
        if (!more)
            return;
    }
}

} // namespace trimora
