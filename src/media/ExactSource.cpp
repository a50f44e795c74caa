#include "media/ExactSource.h"

#include "media/Bitstream.h"
#include "media/StreamInfo.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <set>

namespace trimora {

namespace {

// Far beyond any codec's reordering: H.264 and HEVC allow 16 frames.
constexpr std::size_t reorderWindow = 32;

bool hasHdr(const AVStream *stream)
{
    const AVCodecParameters *par = stream->codecpar;
    if (par->color_trc == AVCOL_TRC_SMPTE2084 || par->color_trc == AVCOL_TRC_ARIB_STD_B67)
        return true;
    for (const AVPacketSideDataType type :
         {AV_PKT_DATA_MASTERING_DISPLAY_METADATA, AV_PKT_DATA_CONTENT_LIGHT_LEVEL,
          AV_PKT_DATA_DOVI_CONF}) {
        if (av_stream_get_side_data(stream, type, nullptr))
            return true;
    }
    return false;
}

void noteParameterSetIds(NalCodec codec, const std::vector<ByteView> &nals, std::set<int> &ids)
{
    if (codec != NalCodec::H264)
        return;
    for (const ByteView nal : nals) {
        if (const std::optional<H264Sps> sps = parseH264Sps(nal))
            ids.insert(sps->id);
        if (const std::optional<H264Pps> pps = parseH264Pps(nal))
            ids.insert(pps->id);
    }
}

KeyKind keyKindOf(AccessKind kind)
{
    switch (kind) {
    case AccessKind::Idr:
        return KeyKind::Clean;
    case AccessKind::Cra:
        return KeyKind::Cra;
    case AccessKind::Recovery:
        return KeyKind::Recovery;
    case AccessKind::None:
        break;
    }
    return KeyKind::None;
}

// The most frames any packet is decoded ahead of its showing.
int observedReorderDepth(const std::vector<ExactPacket> &packets)
{
    int depth = 0;
    for (std::size_t k = 1; k < packets.size(); ++k) {
        int later = 0;
        for (std::size_t j = k > reorderWindow ? k - reorderWindow : 0; j < k; ++j)
            later += packets[j].pts > packets[k].pts;
        depth = std::max(depth, later);
    }
    return depth;
}

ExactVideo describeVideo(const AVStream *stream)
{
    const AVCodecParameters *par = stream->codecpar;
    ExactVideo video;
    video.index = stream->index;
    video.codecId = par->codec_id;
    video.codecName = avcodec_get_name(par->codec_id);
    if (const char *name = avcodec_profile_name(par->codec_id, par->profile))
        video.profile = name;
    video.level = par->level;
    video.width = par->width;
    video.height = par->height;
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
    if (desc) {
        video.bitDepth = desc->comp[0].depth;
        video.chroma420 = desc->nb_components == 3 && desc->log2_chroma_w == 1 &&
                          desc->log2_chroma_h == 1 && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    } else {
        video.chroma420 = false;
    }
    video.interlaced =
        par->field_order != AV_FIELD_UNKNOWN && par->field_order != AV_FIELD_PROGRESSIVE;
    video.hdr = hasHdr(stream);
    video.timeBase = {stream->time_base.num, stream->time_base.den};
    const AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        video.frameRate = {rate.num, rate.den};
    video.reorderDepth = std::max(par->video_delay, 0);
    return video;
}

ExactAudio describeAudio(const AVStream *stream)
{
    const AVCodecParameters *par = stream->codecpar;
    ExactAudio audio;
    audio.index = stream->index;
    audio.codecId = par->codec_id;
    audio.codecName = avcodec_get_name(par->codec_id);
    audio.sampleRate = par->sample_rate;
    audio.channels = par->ch_layout.nb_channels;
    audio.bitRate = par->bit_rate;
    const AVCodecDescriptor *desc = avcodec_descriptor_get(par->codec_id);
    audio.lossless =
        desc && (desc->props & AV_CODEC_PROP_LOSSLESS) && !(desc->props & AV_CODEC_PROP_LOSSY);
    return audio;
}

} // namespace

std::optional<ExactSource> readExactSource(const std::string &path,
                                           const std::function<bool()> &cancelled)
{
    FormatContextPtr fmt = openMediaFile(path);
    if (!fmt)
        return std::nullopt;
    ExactSource source;
    source.origin = originOf(fmt.get());
    source.demuxer = fmt->iformat->name;
    source.layout = layoutOf(fmt.get());
    const AVStream *videoStream = nullptr;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *stream = fmt->streams[i];
        if (stream->discard == AVDISCARD_ALL)
            continue;
        if (isMovingPicture(stream)) {
            ++source.movingPictures;
            if (!videoStream)
                videoStream = stream;
        } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            source.audio.push_back(describeAudio(stream));
        }
    }
    if (!videoStream)
        return source;

    ExactVideo video = describeVideo(videoStream);
    const std::optional<NalCodec> codec = nalCodecOf(videoStream->codecpar->codec_id);
    std::set<int> ids;
    int lengthSize = 0;
    if (codec) {
        const ByteView extradata(
            videoStream->codecpar->extradata,
            static_cast<std::size_t>(std::max(videoStream->codecpar->extradata_size, 0)));
        if (const std::optional<ParameterSets> sets = parameterSetsOf(*codec, extradata)) {
            lengthSize = sets->lengthSize;
            std::vector<ByteView> views(sets->nals.begin(), sets->nals.end());
            noteParameterSetIds(*codec, views, ids);
        }
    }
    long count = 0;
    bool stopped = false;
    scanPackets(fmt.get(), video.index, [&](const AVPacket &packet) {
        if (++count % 256 == 0 && cancelled()) {
            stopped = true;
            return false;
        }
        ExactPacket entry;
        entry.pts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        entry.dts = packet.dts != AV_NOPTS_VALUE ? packet.dts : AV_NOPTS_VALUE;
        entry.duration = packet.duration;
        entry.hidden = packet.flags & AV_PKT_FLAG_DISCARD;
        if (packet.flags & AV_PKT_FLAG_KEY) {
            entry.key = KeyKind::Clean;
            if (codec) {
                const ByteView data(packet.data,
                                    static_cast<std::size_t>(std::max(packet.size, 0)));
                const std::optional<std::vector<ByteView>> nals = splitNals(data, lengthSize);
                entry.key = nals ? keyKindOf(accessKindOf(*codec, *nals)) : KeyKind::None;
                if (nals)
                    noteParameterSetIds(*codec, *nals, ids);
            }
        }
        video.packets.push_back(entry);
        return true;
    });
    if (stopped)
        return std::nullopt;
    // Decode times the demuxer left out continue the known ones.
    for (std::size_t i = 0; i < video.packets.size(); ++i) {
        ExactPacket &p = video.packets[i];
        if (p.dts == AV_NOPTS_VALUE)
            p.dts =
                i > 0 ? video.packets[i - 1].dts + std::max<std::int64_t>(p.duration, 1) : p.pts;
    }
    video.reorderDepth = std::max(video.reorderDepth, observedReorderDepth(video.packets));
    video.parameterSetIds.assign(ids.begin(), ids.end());
    source.video = std::move(video);
    return source;
}

} // namespace trimora
