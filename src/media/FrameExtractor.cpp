#include "media/FrameExtractor.h"

#include "media/FFmpegPtr.h"
#include "media/FramePixel.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNoTime = -std::numeric_limits<double>::infinity();

// Seeking lands on a keyframe by its decoding time; starting a little earlier
// makes sure frames shown before that keyframe are not lost.
constexpr double kSeekMargin = 0.5;

// Without a keyframe index, skip ahead by seeking only past this distance.
constexpr double kBlindSeekDistance = 5.0;

struct HeldFrame
{
    FramePtr frame;
    double time = 0.0;
    std::optional<Thumbnail> thumbnail;
    std::optional<Rgb> pixel;
    bool pixelKnown = false;
    bool valid() const { return frame != nullptr; }
};

} // namespace

struct FrameExtractor::Impl
{
    FrameExtractorOptions options;
    FormatContextPtr format;
    CodecContextPtr codec;
    PacketPtr packet;
    AVStream *stream = nullptr;
    int streamIndex = -1;
    double timeBase = 0.0;
    double startOffset = 0.0;
    double frameInterval = 0.0; // 0 when the frame rate is unknown
    int rotation = 0;           // clockwise degrees, a multiple of 90
    bool flip = false;          // mirror horizontally before rotating

    SwsContextPtr scaler;
    int scalerKey[5] = {};

    HeldFrame older, newer; // the last two frames out of the decoder, in display order
    double demuxTime = kNoTime;
    bool draining = false;
    bool finished = false;

    const std::vector<double> *requests = nullptr;
    std::size_t nextRequest = 0;
    bool requestsSorted = false;
    const FrameTap *tap = nullptr;
    double lastTapped = kNoTime;

    bool init(const std::string &path);
    bool pullFrame();
    bool frameMayBeNeeded(double time) const;
    bool tapWants(double time) const;
    bool seekWouldSkip(double target) const;
    void seekTo(double target);
    FrameResult serve(double requested);
    const Thumbnail *thumbnailOf(HeldFrame &held);
    std::optional<Rgb> pixelOf(HeldFrame &held);
    bool makeThumbnail(const AVFrame *frame, Thumbnail &out);
};

bool FrameExtractor::Impl::init(const std::string &path)
{
    std::optional<StreamDecoder> prepared = prepareDecoder(path, AVMEDIA_TYPE_VIDEO);
    if (!prepared)
        return false;
    format = std::move(prepared->format);
    codec = std::move(prepared->codec);
    streamIndex = prepared->streamIndex;
    startOffset = prepared->startOffset;
    stream = format->streams[streamIndex];
    codec->thread_count = 0; // one per core
    codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (options.skipLoopFilter)
        codec->skip_loop_filter = AVDISCARD_ALL;
    if (avcodec_open2(codec.get(), prepared->decoder, nullptr) < 0)
        return false;
    packet.reset(av_packet_alloc());
    if (!packet)
        return false;

    timeBase = av_q2d(stream->time_base);
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        frameInterval = av_q2d(av_inv_q(rate));

    size_t size = 0;
    const auto *matrix = reinterpret_cast<const int32_t *>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size));
    if (matrix && size >= 9 * sizeof(int32_t)) {
        const double angle = av_display_rotation_get(matrix); // counter-clockwise
        if (std::isfinite(angle)) {
            const long quarter = std::lround(-angle / 90.0);
            rotation = static_cast<int>(((quarter % 4) + 4) % 4) * 90;
        }
        flip = static_cast<int64_t>(matrix[0]) * matrix[4] -
                   static_cast<int64_t>(matrix[1]) * matrix[3] <
               0;
    }
    return true;
}

bool FrameExtractor::Impl::frameMayBeNeeded(double time) const
{
    if (!options.skipUnneededFrames || !requestsSorted || frameInterval <= 0 || tapWants(time))
        return true;
    // A request's nearest frame lies within half a frame interval of it; the
    // extra quarter absorbs timestamp jitter.
    const double margin = std::min(options.tolerance, 0.75 * frameInterval);
    const auto begin = requests->begin() + static_cast<std::ptrdiff_t>(nextRequest);
    const auto it = std::lower_bound(begin, requests->end(), time - margin);
    return it != requests->end() && *it <= time + margin;
}

bool FrameExtractor::Impl::tapWants(double time) const
{
    if (!tap)
        return false;
    if (frameInterval <= 0 || tap->spacing <= 0)
        return true;
    const double margin = std::min(tap->tolerance, 0.75 * frameInterval);
    const double nearest = std::round(time / tap->spacing) * tap->spacing;
    return nearest >= 0.0 && std::abs(time - nearest) <= margin;
}

bool FrameExtractor::Impl::pullFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return false;
    for (;;) {
        const int rc = avcodec_receive_frame(codec.get(), frame.get());
        if (rc == 0) {
            const int64_t ts = frame->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE) {
                av_frame_unref(frame.get());
                continue;
            }
            older = std::move(newer);
            newer = HeldFrame{std::move(frame), ts * timeBase - startOffset, std::nullopt,
                              std::nullopt, false};
            if (tap && newer.time > lastTapped) {
                lastTapped = newer.time;
                if (tapWants(newer.time))
                    tap->onFrame(newer.time, pixelOf(newer));
                else if (tap->onUnknown)
                    tap->onUnknown(newer.time);
            }
            return true;
        }
        if (rc != AVERROR(EAGAIN) || draining) {
            finished = true;
            return false;
        }
        if (av_read_frame(format.get(), packet.get()) < 0) {
            draining = true;
            avcodec_send_packet(codec.get(), nullptr);
            continue;
        }
        if (packet->stream_index == streamIndex) {
            const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (packet->dts != AV_NOPTS_VALUE)
                demuxTime = packet->dts * timeBase - startOffset;
            const bool needed =
                ts == AV_NOPTS_VALUE || frameMayBeNeeded(ts * timeBase - startOffset);
            if (!needed && tap && tap->onUnknown)
                tap->onUnknown(ts * timeBase - startOffset);
            // Read per packet by the decoder, also by its frame threads.
            codec->skip_frame = needed ? AVDISCARD_DEFAULT : AVDISCARD_NONREF;
            // A damaged packet only costs its frame.
            avcodec_send_packet(codec.get(), packet.get());
        }
        av_packet_unref(packet.get());
    }
}

bool FrameExtractor::Impl::seekWouldSkip(double target) const
{
    if (avformat_index_get_entries_count(stream) <= 0)
        return target - demuxTime > kBlindSeekDistance;
    const int64_t ts = secondsToTimestamp(target + startOffset, timeBase);
    const int index = av_index_search_timestamp(stream, ts, AVSEEK_FLAG_BACKWARD);
    if (index < 0)
        return false;
    const AVIndexEntry *entry = avformat_index_get_entry(stream, index);
    return entry && entry->timestamp * timeBase - startOffset > demuxTime;
}

void FrameExtractor::Impl::seekTo(double target)
{
    const int64_t ts = secondsToTimestamp(target + startOffset, timeBase);
    if (av_seek_frame(format.get(), streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0)
        return; // keep decoding from where we are: slower, still correct going forward
    avcodec_flush_buffers(codec.get());
    older = HeldFrame{};
    newer = HeldFrame{};
    demuxTime = kNoTime;
    draining = false;
    finished = false;
}

FrameResult FrameExtractor::Impl::serve(double requested)
{
    const double tol = options.tolerance;
    FrameResult result{requested, std::nullopt, std::nullopt, requested};

    // The frames held are all later than the request: it went backwards.
    const bool passed =
        newer.valid() && newer.time > requested && (!older.valid() || older.time > requested);
    if (passed) {
        seekTo(requested - tol - kSeekMargin);
    } else if (!tap && (!newer.valid() || newer.time < requested - tol)) {
        const double target = requested - tol - kSeekMargin;
        if (seekWouldSkip(target))
            seekTo(target);
    }
    while (!finished && (!newer.valid() || newer.time < requested))
        pullFrame();

    HeldFrame *best = nullptr;
    double bestDistance = tol;
    for (HeldFrame *held : {&older, &newer}) {
        if (!held->valid())
            continue;
        const double distance = std::abs(held->time - requested);
        if (distance <= tol && (!best || distance < bestDistance)) {
            best = held;
            bestDistance = distance;
        }
    }
    if (best && options.pixelOnly) {
        result.pixel = pixelOf(*best);
        if (result.pixel)
            result.actual = best->time;
    } else if (best) {
        if (const Thumbnail *thumbnail = thumbnailOf(*best)) {
            result.image = *thumbnail;
            result.actual = best->time;
        }
    }
    return result;
}

const Thumbnail *FrameExtractor::Impl::thumbnailOf(HeldFrame &held)
{
    if (!held.thumbnail) {
        Thumbnail thumbnail;
        if (!makeThumbnail(held.frame.get(), thumbnail))
            return nullptr;
        held.thumbnail = std::move(thumbnail);
    }
    return &*held.thumbnail;
}

std::optional<Rgb> FrameExtractor::Impl::pixelOf(HeldFrame &held)
{
    if (!held.pixelKnown) {
        held.pixel = framePixel(held.frame.get());
        if (!held.pixel) {
            if (const Thumbnail *thumbnail = thumbnailOf(held))
                held.pixel = averagePixel(*thumbnail);
        }
        held.pixelKnown = true;
    }
    return held.pixel;
}

bool FrameExtractor::Impl::makeThumbnail(const AVFrame *frame, Thumbnail &out)
{
    if (frame->width <= 0 || frame->height <= 0)
        return false;
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    const auto source = plainPixelFormat(static_cast<AVPixelFormat>(frame->format), fullRange);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(source);
    if (!desc)
        return false;
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
    const double scale =
        std::min({1.0, options.maxWidth / shownWidth, options.maxHeight / shownHeight});
    const int outWidth = std::max(1, static_cast<int>(std::lround(shownWidth * scale)));
    const int outHeight = std::max(1, static_cast<int>(std::lround(shownHeight * scale)));
    const int scaledWidth = sideways ? outHeight : outWidth;
    const int scaledHeight = sideways ? outWidth : outHeight;

    const int key[5] = {frame->width, frame->height, source, scaledWidth, scaledHeight};
    if (!scaler || !std::equal(key, key + 5, scalerKey)) {
        SwsContextPtr ctx(sws_alloc_context());
        if (!ctx)
            return false;
        // Area averaging keeps flat pictures flat; no dithering keeps them exact.
        if (av_opt_set_int(ctx.get(), "srcw", frame->width, 0) < 0 ||
            av_opt_set_int(ctx.get(), "srch", frame->height, 0) < 0 ||
            av_opt_set_int(ctx.get(), "src_format", source, 0) < 0 ||
            av_opt_set_int(ctx.get(), "dstw", scaledWidth, 0) < 0 ||
            av_opt_set_int(ctx.get(), "dsth", scaledHeight, 0) < 0 ||
            av_opt_set_int(ctx.get(), "dst_format", target, 0) < 0 ||
            av_opt_set_int(ctx.get(), "sws_flags", SWS_AREA | SWS_ACCURATE_RND, 0) < 0 ||
            av_opt_set(ctx.get(), "sws_dither", "none", 0) < 0 ||
            sws_init_context(ctx.get(), nullptr, nullptr) < 0)
            return false;
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
        return false;
    scaled->width = scaledWidth;
    scaled->height = scaledHeight;
    scaled->format = target;
    if (av_frame_get_buffer(scaled.get(), 0) < 0)
        return false;
    if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, scaled->data,
                  scaled->linesize) != scaledHeight)
        return false;

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
    return true;
}

FrameExtractor::FrameExtractor(std::unique_ptr<Impl> impl) : m_impl(std::move(impl))
{}
FrameExtractor::~FrameExtractor() = default;

std::unique_ptr<FrameExtractor> FrameExtractor::open(const std::string &path,
                                                     const FrameExtractorOptions &options)
{
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    if (!impl->init(path))
        return nullptr;
    return std::unique_ptr<FrameExtractor>(new FrameExtractor(std::move(impl)));
}

bool FrameExtractor::extract(const std::vector<double> &times,
                             const std::function<bool(const FrameResult &)> &onResult,
                             const FrameTap *tap)
{
    Impl &d = *m_impl;
    d.requests = &times;
    d.requestsSorted = std::is_sorted(times.begin(), times.end());
    d.tap = tap && tap->onFrame ? tap : nullptr;
    bool completed = true;
    for (std::size_t i = 0; i < times.size(); ++i) {
        d.nextRequest = i;
        if (!onResult(d.serve(times[i]))) {
            completed = false;
            break;
        }
    }
    if (completed && d.tap) {
        d.nextRequest = times.size();
        while (!d.finished && (!d.newer.valid() || d.newer.time <= tap->until) && d.pullFrame()) {
        }
    }
    d.tap = nullptr;
    d.requests = nullptr;
    d.nextRequest = 0;
    return completed;
}
