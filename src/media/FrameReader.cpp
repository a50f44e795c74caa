#include "media/FrameReader.h"

#include "media/FFmpegPtr.h"
#include "media/FramePixel.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <utility>

namespace trimora {

namespace {

// Seeking lands on a keyframe by its decoding time; starting a little earlier
// makes sure frames shown before that keyframe are not lost.
constexpr double kSeekMargin = 0.5;
// A keyframe is sought a little after its own time, so that an index that
// lists it by decoding time, or a time rounded on its way, still finds it.
constexpr double kKeyframeSlack = 0.001;

// Packets whose reference status is remembered until their frame comes out:
// more than any decoder holds back.
constexpr std::size_t kRememberedPackets = 64;

enum class Reference { Unknown, Yes, No };

// An H.264 or HEVC NAL unit's own word on its picture; nothing when the unit
// is not part of a picture. All slices of a picture agree.
std::optional<bool> nalIsReference(AVCodecID codec, const std::uint8_t *nal, std::size_t size)
{
    if (codec == AV_CODEC_ID_H264) {
        const int type = nal[0] & 0x1f;
        if (type < 1 || type > 5) // slices and slice data partitions
            return std::nullopt;
        return type == 5 || (nal[0] >> 5 & 3) != 0;
    }
    if (size < 2)
        return std::nullopt;
    const int type = nal[0] >> 1 & 0x3f;
    if (type > 31) // parameter sets, SEI and the like
        return std::nullopt;
    return type > 14 || type % 2 == 1; // even types up to 14: sub-layer non-reference
}

// Reads the first slice header of an H.264 or HEVC packet, NAL units either
// length-prefixed (lengthSize bytes, as MP4 and Matroska store them) or after
// start codes (lengthSize 0, as MPEG-TS does).
Reference packetReference(AVCodecID codec, int lengthSize, const std::uint8_t *data, int size)
{
    const std::uint8_t *p = data;
    const std::uint8_t *end = data + std::max(size, 0);
    while (end - p > lengthSize) {
        std::size_t unit = 0;
        if (lengthSize > 0) {
            for (int i = 0; i < lengthSize; ++i)
                unit = unit << 8 | *p++;
            if (unit == 0 || unit > static_cast<std::size_t>(end - p))
                break;
        } else {
            if (end - p < 4 || p[0] != 0 || p[1] != 0 || p[2] != 1) {
                ++p;
                continue;
            }
            p += 3;
            unit = static_cast<std::size_t>(end - p);
        }
        if (const std::optional<bool> reference = nalIsReference(codec, p, unit))
            return *reference ? Reference::Yes : Reference::No;
        if (lengthSize > 0)
            p += unit;
    }
    return Reference::Unknown;
}

// The size of the length prefix before each NAL unit, from the stream's
// configuration record; 0 for start codes.
int nalLengthSize(const AVCodecParameters *par)
{
    const std::uint8_t *extra = par->extradata;
    const int size = par->extradata_size;
    if (par->codec_id == AV_CODEC_ID_H264 && size >= 7 && extra[0] == 1)
        return (extra[4] & 3) + 1;
    if (par->codec_id == AV_CODEC_ID_HEVC && size >= 23 &&
        (extra[0] != 0 || extra[1] != 0 || extra[2] > 1))
        return (extra[21] & 3) + 1;
    return 0;
}

// Codecs whose B pictures are never predicted from, and whose decoders leave
// exactly those out when asked to skip non-reference frames.
bool bPicturesAreDisposable(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_H263:
    case AV_CODEC_ID_VC1:
    case AV_CODEC_ID_WMV3:
        return true;
    default:
        return false;
    }
}

} // namespace

struct DecodedFrame::Source
{
    int rotation = 0;  // clockwise degrees, a multiple of 90
    bool flip = false; // mirror horizontally before rotating
    SwsContextPtr scaler;
    int scalerKey[5] = {};

    std::optional<Thumbnail> thumbnail(const AVFrame *frame, int maxWidth, int maxHeight);
};

struct FrameReader::Impl
{
    FrameReaderOptions options;
    FormatContextPtr format;
    CodecContextPtr codec;
    PacketPtr packet;
    FramePtr frame;
    AVStream *stream = nullptr;
    int streamIndex = -1;
    double timeBase = 0.0;
    double startOffset = 0.0;
    int lengthSize = 0;
    bool draining = false;
    bool finished = false;
    double seekTarget = 0.0;
    double seekBack = 0.0;     // how far before the target the next retry goes
    double seekPosition = 0.0; // where the last seek went
    bool checkingSeek = false; // the first frame after a seek is still to come
    std::deque<std::pair<int64_t, Reference>> packets; // by presentation timestamp
    DecodedFrame::Source source;

    bool init(const std::string &path);
    void seekTo(double position);
    bool landedTooLate(double firstTime);
    void remember(const AVPacket &sent, FrameSkip skip);
    bool isReference(const AVFrame &decoded) const;
};

bool FrameReader::Impl::init(const std::string &path)
{
    std::optional<StreamDecoder> prepared = prepareDecoder(path, AVMEDIA_TYPE_VIDEO);
    if (!prepared)
        return false;
    format = std::move(prepared->format);
    codec = std::move(prepared->codec);
    streamIndex = prepared->streamIndex;
    startOffset = prepared->startOffset;
    stream = format->streams[streamIndex];
    codec->thread_count = std::max(options.threads, 0);
    codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (options.skipLoopFilter)
        codec->skip_loop_filter = AVDISCARD_ALL;
    if (avcodec_open2(codec.get(), prepared->decoder, nullptr) < 0)
        return false;
    packet.reset(av_packet_alloc());
    frame.reset(av_frame_alloc());
    if (!packet || !frame)
        return false;
    timeBase = av_q2d(stream->time_base);
    if (stream->codecpar->codec_id == AV_CODEC_ID_H264 ||
        stream->codecpar->codec_id == AV_CODEC_ID_HEVC)
        lengthSize = nalLengthSize(stream->codecpar);

    size_t size = 0;
    const auto *matrix = reinterpret_cast<const int32_t *>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size));
    if (matrix && size >= 9 * sizeof(int32_t)) {
        const double angle = av_display_rotation_get(matrix); // counter-clockwise
        if (std::isfinite(angle)) {
            const long quarter = std::lround(-angle / 90.0);
            source.rotation = static_cast<int>(((quarter % 4) + 4) % 4) * 90;
        }
        source.flip = static_cast<int64_t>(matrix[0]) * matrix[4] -
                          static_cast<int64_t>(matrix[1]) * matrix[3] <
                      0;
    }
    return true;
}

void FrameReader::Impl::remember(const AVPacket &sent, FrameSkip skip)
{
    if (sent.pts == AV_NOPTS_VALUE)
        return;
    Reference reference = Reference::Unknown;
    if (skip == FrameSkip::NonReference)
        reference = Reference::Yes; // whatever comes out of it was kept as a reference
    else if (sent.flags & AV_PKT_FLAG_DISPOSABLE)
        reference = Reference::No;
    else if (codec->codec_id == AV_CODEC_ID_H264 || codec->codec_id == AV_CODEC_ID_HEVC)
        reference = packetReference(codec->codec_id, lengthSize, sent.data, sent.size);
    packets.emplace_back(sent.pts, reference);
    if (packets.size() > kRememberedPackets)
        packets.pop_front();
}

bool FrameReader::Impl::isReference(const AVFrame &decoded) const
{
    Reference reference = Reference::Unknown;
    if (decoded.pts != AV_NOPTS_VALUE) {
        const auto it = std::find_if(packets.rbegin(), packets.rend(),
                                     [&](const auto &p) { return p.first == decoded.pts; });
        if (it != packets.rend())
            reference = it->second;
    }
    if (reference == Reference::Unknown)
        return !(bPicturesAreDisposable(codec->codec_id) && decoded.pict_type == AV_PICTURE_TYPE_B);
    return reference == Reference::Yes;
}

std::optional<Rgb> DecodedFrame::pixel() const
{
    if (!m_pixel) {
        std::optional<Rgb> value = framePixel(m_frame);
        if (!value) {
            if (const std::optional<Thumbnail> small = thumbnail(64, 36))
                value = averagePixel(*small);
        }
        m_pixel = value;
    }
    return *m_pixel;
}

bool DecodedFrame::isKeyframe() const
{
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
    return m_frame->flags & AV_FRAME_FLAG_KEY;
#else
    return m_frame->key_frame;
#endif
}

bool DecodedFrame::lumaMeanBetween(double low, double high) const
{
    return trimora::lumaMeanBetween(m_frame, low, high);
}

std::optional<Thumbnail> DecodedFrame::thumbnail(int maxWidth, int maxHeight) const
{
    return m_source.thumbnail(m_frame, maxWidth, maxHeight);
}

std::optional<Thumbnail> DecodedFrame::Source::thumbnail(const AVFrame *frame, int maxWidth,
                                                         int maxHeight)
{
    if (frame->width <= 0 || frame->height <= 0 || maxWidth <= 0 || maxHeight <= 0)
        return std::nullopt;
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    const auto input = plainPixelFormat(static_cast<AVPixelFormat>(frame->format), fullRange);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(input);
    if (!desc)
        return std::nullopt;
    const bool rgbSource = desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL);
    const AVPixelFormat target = rgbSource ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUV444P;

    // Fit the displayed picture (pixel aspect and orientation applied).
    double displayWidth = frame->width;
    const double displayHeight = frame->height;
    if (frame->sample_aspect_ratio.num > 0 && frame->sample_aspect_ratio.den > 0)
        displayWidth *= av_q2d(frame->sample_aspect_ratio);
    const bool sideways = rotation % 180 != 0;
    const double shownWidth = sideways ? displayHeight : displayWidth;
    const double shownHeight = sideways ? displayWidth : displayHeight;
    const double scale = std::min({1.0, maxWidth / shownWidth, maxHeight / shownHeight});
    const int outWidth = std::max(1, static_cast<int>(std::lround(shownWidth * scale)));
    const int outHeight = std::max(1, static_cast<int>(std::lround(shownHeight * scale)));
    const int scaledWidth = sideways ? outHeight : outWidth;
    const int scaledHeight = sideways ? outWidth : outHeight;

    const int key[5] = {frame->width, frame->height, input, scaledWidth, scaledHeight};
    if (!scaler || !std::equal(key, key + 5, scalerKey)) {
        SwsContextPtr ctx(sws_alloc_context());
        if (!ctx)
            return std::nullopt;
        // Area averaging keeps flat pictures flat; no dithering keeps them exact.
        if (av_opt_set_int(ctx.get(), "srcw", frame->width, 0) < 0 ||
            av_opt_set_int(ctx.get(), "srch", frame->height, 0) < 0 ||
            av_opt_set_int(ctx.get(), "src_format", input, 0) < 0 ||
            av_opt_set_int(ctx.get(), "dstw", scaledWidth, 0) < 0 ||
            av_opt_set_int(ctx.get(), "dsth", scaledHeight, 0) < 0 ||
            av_opt_set_int(ctx.get(), "dst_format", target, 0) < 0 ||
            av_opt_set_int(ctx.get(), "sws_flags", SWS_AREA | SWS_ACCURATE_RND, 0) < 0 ||
            av_opt_set(ctx.get(), "sws_dither", "none", 0) < 0 ||
            sws_init_context(ctx.get(), nullptr, nullptr) < 0)
            return std::nullopt;
        scaler = std::move(ctx);
        std::copy(key, key + 5, scalerKey);
    }
    if (!rgbSource) {
        // Same range in and out: the scaler only resizes, the range is handled below.
        const int *coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(scaler.get(), coefficients, fullRange, coefficients, fullRange, 0,
                                 1 << 16, 1 << 16);
    }

    FramePtr scaled(av_frame_alloc());
    if (!scaled)
        return std::nullopt;
    scaled->width = scaledWidth;
    scaled->height = scaledHeight;
    scaled->format = target;
    if (av_frame_get_buffer(scaled.get(), 0) < 0)
        return std::nullopt;
    if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, scaled->data,
                  scaled->linesize) != scaledHeight)
        return std::nullopt;

    const YuvMatrix matrix = frameMatrix(frame);
    auto pixelAt = [&](int x, int y) -> Rgb {
        if (rgbSource) {
            const uint8_t *p = scaled->data[0] + y * scaled->linesize[0] + x * 3;
            return {p[0], p[1], p[2]};
        }
        return yuvToRgb(scaled->data[0][y * scaled->linesize[0] + x],
                        scaled->data[1][y * scaled->linesize[1] + x],
                        scaled->data[2][y * scaled->linesize[2] + x], fullRange, matrix);
    };

    Thumbnail out;
    out.width = outWidth;
    out.height = outHeight;
    out.rgb.assign(static_cast<std::size_t>(outWidth) * outHeight * 3, 0);
    for (int y = 0; y < scaledHeight; ++y) {
        for (int x = 0; x < scaledWidth; ++x) {
            const int sx = flip ? scaledWidth - 1 - x : x;
            int dx = sx;
            int dy = y;
            switch (rotation) {
            case 90:
                dx = scaledHeight - 1 - y;
                dy = sx;
                break;
            case 180:
                dx = scaledWidth - 1 - sx;
                dy = scaledHeight - 1 - y;
                break;
            case 270:
                dx = y;
                dy = scaledWidth - 1 - sx;
                break;
            default:
                break;
            }
            const Rgb pixel = pixelAt(x, y);
            uint8_t *o = &out.rgb[(static_cast<std::size_t>(dy) * outWidth + dx) * 3];
            o[0] = pixel.r;
            o[1] = pixel.g;
            o[2] = pixel.b;
        }
    }
    return out;
}

FrameReader::FrameReader(std::unique_ptr<Impl> impl) : m_impl(std::move(impl))
{}
FrameReader::~FrameReader() = default;

std::unique_ptr<FrameReader> FrameReader::open(const std::string &path,
                                               const FrameReaderOptions &options)
{
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    if (!impl->init(path))
        return nullptr;
    return std::unique_ptr<FrameReader>(new FrameReader(std::move(impl)));
}

void FrameReader::Impl::seekTo(double position)
{
    checkingSeek = false;
    seekPosition = position;
    const int64_t ts = secondsToTimestamp(position + startOffset, timeBase);
    if (av_seek_frame(format.get(), streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0)
        return;
    avcodec_flush_buffers(codec.get());
    packets.clear();
    draining = false;
    finished = false;
    checkingSeek = true;
}

bool FrameReader::Impl::landedTooLate(double firstTime)
{
    if (!checkingSeek)
        return false;
    checkingSeek = false;
    // Demuxers without a keyframe index (MPEG-TS) seek by timestamp and can
    // land past the keyframe the target needs; the decoder then starts at the
    // next one. Go back further until the target is covered or the start is.
    if (firstTime <= seekTarget + 1e-6 || seekPosition <= 0.0)
        return false;
    seekBack *= 4.0;
    seekTo(seekTarget - seekBack);
    return true;
}

std::size_t FrameReader::indexedPackets() const
{
    std::size_t total = 0;
    for (unsigned i = 0; i < m_impl->format->nb_streams; ++i)
        total += static_cast<std::size_t>(
            std::max(avformat_index_get_entries_count(m_impl->format->streams[i]), 0));
    return total;
}

void FrameReader::seek(double time)
{
    Impl &d = *m_impl;
    d.seekTarget = time;
    d.seekBack = kSeekMargin;
    d.seekTo(time - kSeekMargin);
}

void FrameReader::seekToKeyframe(double time)
{
    Impl &d = *m_impl;
    d.seekTarget = time;
    // Should the demuxer land past the keyframe, the next tries go back as
    // seek()'s do.
    d.seekBack = kSeekMargin / 4;
    d.seekTo(time + kKeyframeSlack);
}

bool FrameReader::read(const std::function<FrameSkip(double)> &skipFor,
                       const std::function<bool(const DecodedFrame &)> &onFrame)
{
    Impl &d = *m_impl;
    AVFrame *frame = d.frame.get();
    while (!d.finished) {
        const int rc = avcodec_receive_frame(d.codec.get(), frame);
        if (rc == 0) {
            const int64_t ts = frame->best_effort_timestamp;
            bool goOn = true;
            const double time = ts * d.timeBase - d.startOffset;
            if (ts != AV_NOPTS_VALUE && std::isfinite(time) && !d.landedTooLate(time)) {
                const DecodedFrame decoded(d.source, frame, time, d.isReference(*frame));
                goOn = onFrame(decoded);
            }
            av_frame_unref(frame);
            if (!goOn)
                return false;
            continue;
        }
        if (rc != AVERROR(EAGAIN) || d.draining) {
            // A seek that lands past the last keyframe before its target
            // near the end finds no frame at all.
            if (d.landedTooLate(std::numeric_limits<double>::infinity()))
                continue;
            d.finished = true;
            break;
        }
        if (av_read_frame(d.format.get(), d.packet.get()) < 0) {
            d.draining = true;
            avcodec_send_packet(d.codec.get(), nullptr);
            continue;
        }
        const AVPacket &packet = *d.packet;
        if (packet.stream_index == d.streamIndex) {
            const int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
            const double time = ts * d.timeBase - d.startOffset;
            const FrameSkip skip =
                ts == AV_NOPTS_VALUE || !std::isfinite(time) ? FrameSkip::Nothing : skipFor(time);
            // Read per packet by the decoder, also by its frame threads.
            d.codec->skip_frame =
                skip == FrameSkip::NonReference ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            d.remember(packet, skip);
            // A damaged packet only costs its frame.
            avcodec_send_packet(d.codec.get(), &packet);
        }
        av_packet_unref(d.packet.get());
    }
    return true;
}

} // namespace trimora
