#include "media/AudioReader.h"

#include "media/FFmpegPtr.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <vector>

namespace trimora {

namespace {

bool openAudio(const std::string &path, StreamDecoder &out)
{
    std::optional<StreamDecoder> prepared = prepareDecoder(path, AVMEDIA_TYPE_AUDIO);
    if (!prepared)
        return false;
    out = std::move(*prepared);
    return avcodec_open2(out.codec.get(), out.decoder, nullptr) >= 0;
}

// The input side of a resampler: what the decoder delivers.
struct AudioShape
{
    AVChannelLayout layout{};
    int format = -1;
    int sampleRate = 0;

    AudioShape() = default;
    ~AudioShape() { av_channel_layout_uninit(&layout); }
    AudioShape(const AudioShape &) = delete;
    AudioShape &operator=(const AudioShape &) = delete;
};

bool sameShape(const AudioShape &shape, const AVFrame *frame)
{
    return shape.format == frame->format && shape.sampleRate == frame->sample_rate &&
           av_channel_layout_compare(&shape.layout, &frame->ch_layout) == 0;
}

// A decoder may change its channel layout, sample format or rate between
// frames (a concatenated MP3, a broadcast stream); a resampler set up for
// the first frame would then read planes the new frame does not have.
SwrContextPtr makeResampler(const AVChannelLayout &layout, int format, int sampleRate,
                            int outputRate, AudioShape &shape)
{
    AVChannelLayout inLayout{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels <= 0) {
        av_channel_layout_default(&inLayout, layout.nb_channels > 0 ? layout.nb_channels : 1);
    } else if (av_channel_layout_copy(&inLayout, &layout) < 0) {
        return nullptr;
    }
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext *raw = nullptr;
    const int rc = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, outputRate, &inLayout,
                                       static_cast<AVSampleFormat>(format), sampleRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    SwrContextPtr swr(raw);
    if (rc < 0 || !swr || swr_init(swr.get()) < 0)
        return nullptr;
    av_channel_layout_uninit(&shape.layout);
    if (av_channel_layout_copy(&shape.layout, &layout) < 0)
        return nullptr;
    shape.format = format;
    shape.sampleRate = sampleRate;
    return swr;
}

} // namespace

AudioReadStatus
readAudioRange(const std::string &path, double start, double end, int outputRate,
               const std::function<void(const std::int16_t *, std::size_t)> &onChunk,
               const std::function<bool()> &shouldStop)
{
    if (!(start < end))
        return AudioReadStatus::NotStarted;
    StreamDecoder dec;
    if (!openAudio(path, dec))
        return AudioReadStatus::NotStarted;
    AudioShape shape;
    SwrContextPtr swr = makeResampler(dec.codec->ch_layout, dec.codec->sample_fmt,
                                      dec.codec->sample_rate, outputRate, shape);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!swr || !packet || !frame)
        return AudioReadStatus::NotStarted;

    AVStream *stream = dec.format->streams[dec.streamIndex];
    if (start > 0) {
        const int64_t target =
            secondsToTimestamp(start + dec.startOffset, av_q2d(stream->time_base));
        // A failed seek leaves the demuxer at the beginning, which is only slower.
        av_seek_frame(dec.format.get(), dec.streamIndex, target, AVSEEK_FLAG_BACKWARD);
    }
    if (shouldStop())
        return AudioReadStatus::Stopped;

    const auto wanted = static_cast<std::int64_t>(std::llround((end - start) * outputRate));
    std::int64_t toDrop = -1; // output samples before start, known from the first frame's time
    std::int64_t delivered = 0;
    std::vector<std::int16_t> buffer;
    bool draining = false;

    // Converts one decoded frame (or, with nullptr, what the resampler still
    // holds) and delivers the part that lies inside the range. Returns false
    // once the range is complete.
    auto deliver = [&](const AVFrame *input) -> bool {
        const int inSamples = input ? input->nb_samples : 0;
        const int capacity = swr_get_out_samples(swr.get(), inSamples);
        if (capacity <= 0)
            return true;
        buffer.resize(static_cast<std::size_t>(capacity));
        auto *out = reinterpret_cast<std::uint8_t *>(buffer.data());
        const std::uint8_t **in =
            input ? const_cast<const std::uint8_t **>(input->extended_data) : nullptr;
        const int got = swr_convert(swr.get(), &out, capacity, in, inSamples);
        if (got <= 0)
            return true;
        std::int64_t first = 0;
        if (toDrop > 0) {
            first = std::min<std::int64_t>(toDrop, got);
            toDrop -= first;
        }
        const std::int64_t count = std::min<std::int64_t>(got - first, wanted - delivered);
        if (count > 0) {
            onChunk(buffer.data() + first, static_cast<std::size_t>(count));
            delivered += count;
        }
        return delivered < wanted;
    };

    for (;;) {
        int rc = avcodec_receive_frame(dec.codec.get(), frame.get());
        if (rc == AVERROR(EAGAIN)) {
            if (draining)
                break;
            rc = av_read_frame(dec.format.get(), packet.get());
            if (rc < 0) {
                draining = true;
                avcodec_send_packet(dec.codec.get(), nullptr);
                continue;
            }
            if (packet->stream_index == dec.streamIndex)
                avcodec_send_packet(dec.codec.get(), packet.get());
            av_packet_unref(packet.get());
            continue;
        }
        if (rc < 0)
            break; // end of stream or a decoding error: keep what was delivered
        if (toDrop < 0) {
            const int64_t ts = frame->best_effort_timestamp;
            const double t =
                ts == AV_NOPTS_VALUE ? start : ts * av_q2d(stream->time_base) - dec.startOffset;
            toDrop = std::max<std::int64_t>(0, std::llround((start - t) * outputRate));
        }
        if (!sameShape(shape, frame.get())) {
            // Flush what the old resampler holds, then follow the new shape.
            if (!deliver(nullptr))
                return AudioReadStatus::Finished;
            swr = makeResampler(frame->ch_layout, frame->format, frame->sample_rate, outputRate,
                                shape);
            if (!swr)
                return AudioReadStatus::Finished; // keep what was delivered
        }
        const bool more = deliver(frame.get());
        av_frame_unref(frame.get());
        if (!more)
            return AudioReadStatus::Finished;
        if (shouldStop())
            return AudioReadStatus::Stopped;
    }
    if (toDrop >= 0 && delivered < wanted)
        deliver(nullptr);
    return AudioReadStatus::Finished;
}

} // namespace trimora
