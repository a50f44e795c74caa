#include "media/ExactEdges.h"

#include "media/FrameCompare.h"
#include "media/PictureCheck.h"
#include "media/SourceCursor.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace trimora {

namespace {

// Quality of the re-encoded frames: constant-quality settings that keep the
// benchmark movie above 45 dB at the encoders' fastest presets.
constexpr const char *x264Preset = "ultrafast";
constexpr const char *x264Quality = "18";
constexpr const char *x265Preset = "ultrafast";
constexpr const char *x265Quality = "16";
constexpr const char *vp9Quality = "12";
constexpr const char *vp9Speed = "8";

struct DictionaryFreer
{
    void operator()(AVDictionary *dict) const { av_dict_free(&dict); }
};

std::string h264ProfileName(int profile)
{
    switch (profile & ~FF_PROFILE_H264_CONSTRAINED) {
    case FF_PROFILE_H264_BASELINE:
        return "baseline";
    case FF_PROFILE_H264_MAIN:
        return "main";
    case FF_PROFILE_H264_HIGH:
        return "high";
    case FF_PROFILE_H264_HIGH_10:
        return "high10";
    default:
        return {};
    }
}

// The encoder's own reordering for a source that reorders depth frames: B
// pictures with a pyramid reorder two, without one.
int bFramesFor(int depth)
{
    return depth >= 2 ? 3 : depth;
}

bool setOption(AVDictionary **options, const char *key, const std::string &value)
{
    return av_dict_set(options, key, value.c_str(), 0) >= 0;
}

std::string optionsFor(const AVCodecParameters *par, const ExactJob &job, AVCodecContext *ctx,
                       AVDictionary **options)
{
    const int depth = job.reorderDepth;
    bool ok = true;
    switch (par->codec_id) {
    case AV_CODEC_ID_H264: {
        ok = setOption(options, "preset", x264Preset) && setOption(options, "crf", x264Quality);
        const std::string profile = h264ProfileName(par->profile);
        if (!profile.empty())
            ok = ok && setOption(options, "profile", profile);
        if (par->level > 0)
            ctx->level = par->level;
        ctx->max_b_frames = bFramesFor(depth);
        std::string params =
            "scenecut=0:open-gop=0:sps-id=" + std::to_string(std::max(job.h264ParameterSetId, 0));
        if (depth > 0)
            params += std::string(":b-pyramid=") + (depth >= 2 ? "normal" : "none");
        ok = ok && setOption(options, "x264-params", params);
        break;
    }
    case AV_CODEC_ID_HEVC: {
        ok = setOption(options, "preset", x265Preset) && setOption(options, "crf", x265Quality);
        if (par->profile == FF_PROFILE_HEVC_MAIN || par->profile == FF_PROFILE_HEVC_MAIN_10)
            ok = ok && setOption(options, "profile",
                                 par->profile == FF_PROFILE_HEVC_MAIN ? "main" : "main10");
        std::string params = "scenecut=0:open-gop=0:info=0:log-level=error:bframes=" +
                             std::to_string(bFramesFor(depth)) +
                             ":b-pyramid=" + (depth >= 2 ? "1" : "0");
        if (par->chroma_location > AVCHROMA_LOC_UNSPECIFIED &&
            par->chroma_location < AVCHROMA_LOC_NB)
            params += ":chromaloc=" + std::to_string(par->chroma_location - 1);
        ok = ok && setOption(options, "x265-params", params);
        break;
    }
    case AV_CODEC_ID_VP9:
        ctx->bit_rate = 0;
        ok = setOption(options, "deadline", "realtime") &&
             setOption(options, "cpu-used", vp9Speed) && setOption(options, "crf", vp9Quality) &&
             setOption(options, "lag-in-frames", "0") && setOption(options, "auto-alt-ref", "0") &&
             setOption(options, "row-mt", "1");
        break;
    default:
        return "its codec has no matching encoder";
    }
    return ok ? std::string() : "the encoder's options cannot be set";
}

bool sameBytes(const std::uint8_t *data, int size, const Bytes &bytes)
{
    return size >= 0 && static_cast<std::size_t>(size) == bytes.size() &&
           (bytes.empty() || std::memcmp(data, bytes.data(), bytes.size()) == 0);
}

} // namespace

CodecContextPtr openDecoder(const AVCodecParameters *par, AVRational timeBase, std::string &failure,
                            int threads, bool strict)
{
    const AVCodec *decoder = avcodec_find_decoder(par->codec_id);
    CodecContextPtr ctx(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!ctx || avcodec_parameters_to_context(ctx.get(), par) < 0) {
        failure = "no decoder for the picture";
        return nullptr;
    }
    ctx->pkt_timebase = timeBase;
    ctx->thread_count = threads;
    if (strict)
        ctx->err_recognition = AV_EF_EXPLODE;
    const int opened = avcodec_open2(ctx.get(), decoder, nullptr);
    if (opened < 0) {
        failure = "the picture's decoder cannot be opened: " + avErrorString(opened);
        return nullptr;
    }
    return ctx;
}

CodecContextPtr openMatchingEncoder(const AVStream *source, const ExactJob &job,
                                    std::string &failure)
{
    const AVCodecParameters *par = source->codecpar;
    const char *name = par->codec_id == AV_CODEC_ID_H264   ? "libx264"
                       : par->codec_id == AV_CODEC_ID_HEVC ? "libx265"
                       : par->codec_id == AV_CODEC_ID_VP9  ? "libvpx-vp9"
                                                           : nullptr;
    const AVCodec *codec = name ? avcodec_find_encoder_by_name(name) : nullptr;
    if (!codec) {
        failure = std::string("no encoder for ") + avcodec_get_name(par->codec_id);
        return nullptr;
    }
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) {
        failure = "out of memory";
        return nullptr;
    }
    ctx->width = par->width;
    ctx->height = par->height;
    ctx->pix_fmt = static_cast<AVPixelFormat>(par->format);
    ctx->sample_aspect_ratio =
        par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : source->sample_aspect_ratio;
    ctx->color_primaries = par->color_primaries;
    ctx->color_trc = par->color_trc;
    ctx->colorspace = par->color_space;
    ctx->color_range = par->color_range;
    ctx->chroma_sample_location = par->chroma_location;
    ctx->time_base = source->time_base;
    const AVRational rate =
        source->avg_frame_rate.num > 0 ? source->avg_frame_rate : source->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        ctx->framerate = rate;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ctx->gop_size = 1 << 20; // one keyframe, at the start of the edge
    ctx->thread_count = 0;
    AVDictionary *raw = nullptr;
    failure = optionsFor(par, job, ctx.get(), &raw);
    std::unique_ptr<AVDictionary, DictionaryFreer> options(raw);
    if (!failure.empty())
        return nullptr;
    raw = options.release();
    const int opened = avcodec_open2(ctx.get(), codec, &raw);
    options.reset(raw);
    if (opened < 0) {
        failure = std::string("the ") + name +
                  " encoder refuses the source's settings: " + avErrorString(opened);
        return nullptr;
    }
    if (ctx->has_b_frames > job.reorderDepth) {
        failure = "the encoder would reorder more frames than the source";
        return nullptr;
    }
    if (par->codec_id != AV_CODEC_ID_VP9 && ctx->extradata_size <= 0) {
        failure = "the encoder gives no parameter sets";
        return nullptr;
    }
    return ctx;
}

EdgeResult encodeEdge(const std::string &path, const AVStream *stream, const ExactJob &job,
                      const EdgeWork &work, const Bytes &extradata, const EdgeOutput *output,
                      const std::function<bool()> &step)
{
    EdgeResult result;
    const std::vector<ExactPacket> &packets = job.source->video->packets;
    std::unique_ptr<SourceCursor> cursor = SourceCursor::open(path, job.videoStream, packets);
    if (!cursor) {
        result.failure = "the source cannot be opened";
        return result;
    }
    CodecContextPtr decoder =
        openDecoder(stream->codecpar, stream->time_base, result.failure, work.threads);
    if (!decoder)
        return result;

    const bool encodes = work.encodeTo > work.encodeFrom && output;
    std::int64_t toEncode = 0;
    for (const ExactPacket &p : packets)
        toEncode += !p.hidden && p.pts >= work.encodeFrom && p.pts < work.encodeTo;
    CodecContextPtr encoder;
    if (encodes) {
        encoder = openMatchingEncoder(stream, job, result.failure);
        if (!encoder)
            return result;
        if (!sameBytes(encoder->extradata, encoder->extradata_size, extradata)) {
            result.failure = "the encoder's parameter sets differ from one edge to the next";
            return result;
        }
    }
    PacketPtr encoded(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!encoded || !frame) {
        result.failure = "out of memory";
        return result;
    }

    const auto drainEncoder = [&]() -> std::string {
        for (;;) {
            const int got = avcodec_receive_packet(encoder.get(), encoded.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return {};
            if (got < 0)
                return "the encoder fails: " + avErrorString(got);
            const std::optional<Bytes> framed = output->frame(
                Bytes(encoded->data, encoded->data + encoded->size), result.pictures.empty());
            if (!framed)
                return "the encoder's output cannot be parsed";
            EncodedPicture picture;
            picture.data = *framed;
            picture.pts = encoded->pts;
            picture.key = encoded->flags & AV_PKT_FLAG_KEY;
            result.pictures.push_back(std::move(picture));
            // The check decodes the picture as the output holds it.
            av_packet_unref(encoded.get());
            if (av_new_packet(encoded.get(), static_cast<int>(framed->size())) < 0)
                return "out of memory";
            std::copy(framed->begin(), framed->end(), encoded->data);
            encoded->pts = encoded->dts = result.pictures.back().pts;
            const bool given = output->check->picture(output->run, *encoded);
            av_packet_unref(encoded.get());
            if (!given)
                return checkStopped;
        }
    };
    std::int64_t sent = 0;
    const auto takeFrame = [&](AVFrame *decoded) -> std::string {
        const std::int64_t pts = decoded->best_effort_timestamp;
        if (work.digested.count(pts))
            result.sourceDigests[pts] = frameDigest(decoded);
        if (!encodes || pts < work.encodeFrom || pts >= work.encodeTo)
            return {};
        FramePtr input(av_frame_clone(decoded));
        FramePtr original(av_frame_clone(decoded));
        if (!input || !original)
            return "out of memory";
        input->pts = pts + work.shift;
        input->pict_type = AV_PICTURE_TYPE_NONE;
        if (!output->check->measure(output->run, input->pts, std::move(original)))
            return checkStopped;
        for (;;) {
            const int accepted = avcodec_send_frame(encoder.get(), input.get());
            if (accepted >= 0)
                break;
            if (accepted != AVERROR(EAGAIN))
                return "the encoder refuses a frame: " + avErrorString(accepted);
            if (std::string failure = drainEncoder(); !failure.empty())
                return failure;
        }
        ++sent;
        return drainEncoder();
    };
    const auto receiveFrames = [&]() -> std::string {
        for (;;) {
            const int got = avcodec_receive_frame(decoder.get(), frame.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return {};
            if (got < 0)
                return "the source does not decode: " + avErrorString(got);
            std::string failure = takeFrame(frame.get());
            av_frame_unref(frame.get());
            if (!failure.empty())
                return failure;
        }
    };

    if (!cursor->seek(work.from)) {
        result.failure = cursor->failure().empty() ? "the keyframe to decode from is not found"
                                                   : cursor->failure();
        return result;
    }
    for (std::size_t i = work.from; i < work.to; ++i) {
        if (!step()) {
            result.failure = "cancelled";
            return result;
        }
        const AVPacket *packet = cursor->next();
        if (!packet) {
            result.failure =
                cursor->failure().empty() ? "the source ends early" : cursor->failure();
            return result;
        }
        // Before the first frame wanted, only what later frames refer to
        // needs decoding. Read per packet, also by frame threads.
        const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        decoder->skip_frame =
            work.digested.empty() && pts < work.encodeFrom ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        for (;;) {
            const int accepted = avcodec_send_packet(decoder.get(), packet);
            if (accepted != AVERROR(EAGAIN))
                break; // a damaged packet only costs its frame, which is counted below
            if (std::string failure = receiveFrames(); !failure.empty()) {
                result.failure = failure;
                return result;
            }
        }
        if (std::string failure = receiveFrames(); !failure.empty()) {
            result.failure = failure;
            return result;
        }
    }
    avcodec_send_packet(decoder.get(), nullptr);
    if (std::string failure = receiveFrames(); !failure.empty()) {
        result.failure = failure;
        return result;
    }
    if (encodes) {
        avcodec_send_frame(encoder.get(), nullptr);
        std::string failure = drainEncoder();
        if (failure.empty() && !output->check->endRun(output->run))
            failure = checkStopped;
        if (!failure.empty()) {
            result.failure = failure;
            return result;
        }
    }
    if (sent != toEncode)
        result.failure = "the source decoded " + std::to_string(sent) + " of the " +
                         std::to_string(toEncode) + " frames to re-encode";
    else if (result.pictures.size() != static_cast<std::size_t>(sent))
        result.failure = "the encoder lost a frame";
    else if (result.sourceDigests.size() != work.digested.size())
        result.failure = "the source did not decode every frame after the seam";
    return result;
}

} // namespace trimora
