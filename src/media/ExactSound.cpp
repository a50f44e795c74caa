#include "media/ExactProducer.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>

namespace trimora {

namespace {

// Decoding starts this long before In, so the first samples kept come out
// of a decoder that has settled (AAC's overlap, Opus's pre-roll, MP3's
// reservoir).
constexpr double preroll = 1.0;

// Sound of each range: the samples shown beside its pictures, cut to the
// sample, continued across ranges by one encoder, so joins have no gap.
class SoundProducer final : public PacketProducer
{
public:
    SoundProducer(const CutContext &cut, const ExactAudioJob &job, std::uint64_t &digest)
        : m_cut(cut), m_job(job), m_digest(digest)
    {}
    std::string init();
    bool ready() override;

private:
    bool produce();
    void startRange();
    bool takeFrame(const AVFrame *frame);
    bool convert(const AVFrame *frame, int offset, int count);
    bool writeOut(std::uint8_t **data, int count);
    bool writeSilence(std::int64_t count);
    bool finishRange();
    bool sendFromFifo(int count);
    bool makeChunk(int samples); // m_chunk, empty, in the encoder's format

    const CutContext &m_cut;
    ExactAudioJob m_job;
    std::uint64_t &m_digest;
    FormatContextPtr m_format;
    const AVStream *m_source = nullptr;
    AVStream *m_out = nullptr;
    CodecContextPtr m_decoder;
    CodecContextPtr m_encoder;
    SwrContextPtr m_swr;
    AudioFifoPtr m_fifo;
    PacketPtr m_read;
    FramePtr m_decoded;
    FramePtr m_chunk;
    int m_frameSize = 1024;

    std::size_t m_range = 0;
    bool m_inRange = false;
    bool m_rangesDone = false;
    bool m_flushed = false;
    bool m_sourceEnded = false;
    std::int64_t m_srcFrom = 0; // source samples of the range, counted from container time 0
    std::int64_t m_srcCount = 0;
    std::int64_t m_srcTaken = 0;
    std::int64_t m_outCount = 0; // output samples of the range
    std::int64_t m_outWritten = 0;
    bool m_havePosition = false;
    std::int64_t m_nextPosition = 0;
    std::int64_t m_samplesSent = 0;
};

std::string SoundProducer::init()
{
    m_format = m_cut.readerOf(m_job.sourceIndex, m_source);
    if (!m_format)
        return "the source's sound cannot be read";
    const AVCodec *decoder = avcodec_find_decoder(m_source->codecpar->codec_id);
    m_decoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!m_decoder || avcodec_parameters_to_context(m_decoder.get(), m_source->codecpar) < 0)
        return "no decoder for sound stream " + std::to_string(m_job.sourceIndex);
    m_decoder->pkt_timebase = m_source->time_base;
    if (const int opened = avcodec_open2(m_decoder.get(), decoder, nullptr); opened < 0)
        return "the sound decoder cannot be opened: " + avErrorString(opened);
    if (m_decoder->sample_rate <= 0 || m_job.sampleRate <= 0)
        return "the sound's sample rate is unknown";

    const AVCodec *encoder = avcodec_find_encoder_by_name(m_job.encoder.c_str());
    m_encoder.reset(encoder ? avcodec_alloc_context3(encoder) : nullptr);
    if (!m_encoder)
        return "no " + m_job.encoder + " encoder for the sound";
    const AVChannelLayout &layout = m_decoder->ch_layout;
    const int copied =
        layout.order == AV_CHANNEL_ORDER_UNSPEC
            ? (av_channel_layout_default(&m_encoder->ch_layout, layout.nb_channels), 0)
            : av_channel_layout_copy(&m_encoder->ch_layout, &layout);
    if (copied < 0 || m_encoder->ch_layout.nb_channels <= 0)
        return "the sound's channels are unknown";
    m_encoder->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : m_decoder->sample_fmt;
    for (const AVSampleFormat *f = encoder->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == m_decoder->sample_fmt)
            m_encoder->sample_fmt = *f;
    }
    m_encoder->bits_per_raw_sample = m_decoder->bits_per_raw_sample;
    m_encoder->sample_rate = m_job.sampleRate;
    m_encoder->time_base = {1, m_job.sampleRate};
    if (m_job.bitRate > 0)
        m_encoder->bit_rate = m_job.bitRate;
    if (m_cut.muxer->oformat->flags & AVFMT_GLOBALHEADER)
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int opened = avcodec_open2(m_encoder.get(), encoder, nullptr); opened < 0)
        return "the " + m_job.encoder + " encoder refuses the sound: " + avErrorString(opened);
    if (m_encoder->frame_size > 0)
        m_frameSize = m_encoder->frame_size;

    m_out = avformat_new_stream(m_cut.muxer, nullptr);
    if (!m_out || avcodec_parameters_from_context(m_out->codecpar, m_encoder.get()) < 0 ||
        !copyStreamDescription(m_source, m_out))
        return "the output's sound stream cannot be made";
    m_out->time_base = m_encoder->time_base;
    m_fifo.reset(av_audio_fifo_alloc(m_encoder->sample_fmt, m_encoder->ch_layout.nb_channels,
                                     m_frameSize * 4));
    m_read.reset(av_packet_alloc());
    m_decoded.reset(av_frame_alloc());
    m_chunk.reset(av_frame_alloc());
    if (!m_fifo || !m_read || !m_decoded || !m_chunk || !m_packet)
        return "out of memory";
    return {};
}

void SoundProducer::startRange()
{
    const ExactRange &range = m_cut.job.ranges[m_range];
    const double tick = m_cut.tick();
    const double sourceRate = m_decoder->sample_rate;
    const double outRate = m_encoder->sample_rate;
    const double start = static_cast<double>(range.startPts) * tick;
    const double end = static_cast<double>(range.endPts) * tick;
    m_srcFrom = std::llround(start * sourceRate);
    m_srcCount = std::llround(end * sourceRate) - m_srcFrom;
    const double outStart = static_cast<double>(range.outputStart) * tick;
    m_outCount =
        std::llround((outStart + end - start) * outRate) - std::llround(outStart * outRate);
    m_srcTaken = 0;
    m_outWritten = 0;
    m_havePosition = false;
    m_sourceEnded = false;
    m_swr.reset();
    seekBefore(m_format.get(), start - preroll);
    avcodec_flush_buffers(m_decoder.get());
    m_inRange = true;
}

bool SoundProducer::makeChunk(int samples)
{
    av_frame_unref(m_chunk.get());
    m_chunk->nb_samples = samples;
    m_chunk->format = m_encoder->sample_fmt;
    if (av_channel_layout_copy(&m_chunk->ch_layout, &m_encoder->ch_layout) < 0 ||
        av_frame_get_buffer(m_chunk.get(), 0) < 0)
        return fail("out of memory for the sound");
    return true;
}

bool SoundProducer::writeOut(std::uint8_t **data, int count)
{
    const std::int64_t keep = std::min<std::int64_t>(count, m_outCount - m_outWritten);
    if (keep <= 0)
        return true;
    if (av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(data), static_cast<int>(keep)) <
        keep)
        return fail("out of memory for the sound");
    m_outWritten += keep;
    return true;
}

bool SoundProducer::writeSilence(std::int64_t count)
{
    count = std::min(count, m_outCount - m_outWritten);
    while (count > 0) {
        const int step = static_cast<int>(std::min<std::int64_t>(count, 8192));
        if (!makeChunk(step))
            return false;
        av_samples_set_silence(m_chunk->extended_data, 0, step, m_chunk->ch_layout.nb_channels,
                               m_encoder->sample_fmt);
        if (!writeOut(m_chunk->extended_data, step))
            return false;
        count -= step;
    }
    return true;
}

bool SoundProducer::convert(const AVFrame *frame, int offset, int count)
{
    if (!m_swr) {
        SwrContext *raw = nullptr;
        // FFmpeg 5.1 takes the layouts without const; it only reads them.
        if (swr_alloc_set_opts2(
                &raw, &m_encoder->ch_layout, m_encoder->sample_fmt, m_encoder->sample_rate,
                const_cast<AVChannelLayout *>(&frame->ch_layout),
                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0)
            return fail("the sound cannot be converted");
        m_swr.reset(raw);
        if (swr_init(m_swr.get()) < 0)
            return fail("the sound cannot be converted");
    }
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int bytes = av_get_bytes_per_sample(format);
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    std::vector<const std::uint8_t *> in(planar ? static_cast<std::size_t>(channels) : 1);
    for (std::size_t p = 0; p < in.size(); ++p)
        in[p] = frame->extended_data[p] +
                static_cast<std::ptrdiff_t>(offset) * bytes * (planar ? 1 : channels);
    const int room = swr_get_out_samples(m_swr.get(), count);
    if (!makeChunk(std::max(room, 1)))
        return false;
    const int got =
        swr_convert(m_swr.get(), m_chunk->extended_data, m_chunk->nb_samples, in.data(), count);
    if (got < 0)
        return fail("the sound cannot be converted");
    return writeOut(m_chunk->extended_data, got);
}

bool SoundProducer::finishRange()
{
    if (m_swr) {
        for (;;) {
            const int room = std::max(swr_get_out_samples(m_swr.get(), 0), 0);
            if (room == 0)
                break;
            if (!makeChunk(room))
                return false;
            const int got = swr_convert(m_swr.get(), m_chunk->extended_data, room, nullptr, 0);
            if (got <= 0)
                break;
            if (!writeOut(m_chunk->extended_data, got))
                return false;
        }
    }
    if (!writeSilence(m_outCount - m_outWritten))
        return false;
    m_inRange = false;
    ++m_range;
    return true;
}

// Places a decoded frame by its time, or right after the one before when
// that is within a few milliseconds (containers round times), and keeps the
// part that belongs to the range.
bool SoundProducer::takeFrame(const AVFrame *frame)
{
    if (!m_inRange || m_srcTaken >= m_srcCount || frame->nb_samples <= 0)
        return true;
    const double rate = m_decoder->sample_rate;
    std::int64_t position = m_nextPosition;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        const std::int64_t stamped = std::llround(
            static_cast<double>(frame->best_effort_timestamp) * av_q2d(m_source->time_base) * rate);
        const std::int64_t tolerance = static_cast<std::int64_t>(rate / 200) + 1;
        if (!m_havePosition || std::llabs(stamped - m_nextPosition) > tolerance)
            position = stamped;
    } else if (!m_havePosition) {
        return true;
    }
    m_havePosition = true;
    m_nextPosition = position + frame->nb_samples;
    std::int64_t want = m_srcFrom + m_srcTaken;
    if (position + frame->nb_samples <= want)
        return true;
    if (position > want) {
        const std::int64_t gap = std::min(position - want, m_srcCount - m_srcTaken);
        if (!writeSilence(std::llround(static_cast<double>(gap) * m_encoder->sample_rate / rate)))
            return false;
        m_srcTaken += gap;
        want += gap;
        if (m_srcTaken >= m_srcCount)
            return finishRange();
    }
    const auto offset = static_cast<int>(want - position);
    const auto count = static_cast<int>(
        std::min<std::int64_t>(frame->nb_samples - offset, m_srcCount - m_srcTaken));
    if (!convert(frame, offset, count))
        return false;
    m_srcTaken += count;
    return m_srcTaken < m_srcCount || finishRange();
}

bool SoundProducer::produce()
{
    if (!m_inRange) {
        if (m_range >= m_cut.job.ranges.size()) {
            m_rangesDone = true;
            return true;
        }
        startRange();
    }
    const std::size_t range = m_range;
    for (;;) {
        const int got = avcodec_receive_frame(m_decoder.get(), m_decoded.get());
        if (got == 0) {
            const bool ok = takeFrame(m_decoded.get());
            av_frame_unref(m_decoded.get());
            if (!ok)
                return false;
            if (m_range != range)
                return true;
            continue;
        }
        if (got != AVERROR(EAGAIN)) {
            // The sound ends before the picture: silence up to the end.
            if (!writeSilence(std::llround(static_cast<double>(m_srcCount - m_srcTaken) *
                                           m_encoder->sample_rate / m_decoder->sample_rate)))
                return false;
            return finishRange();
        }
        if (m_sourceEnded)
            return finishRange();
        const int read = av_read_frame(m_format.get(), m_read.get());
        if (read < 0) {
            m_sourceEnded = true;
            avcodec_send_packet(m_decoder.get(), nullptr);
            continue;
        }
        if (m_read->stream_index == m_job.sourceIndex)
            avcodec_send_packet(m_decoder.get(),
                                m_read.get()); // a damaged packet costs its samples
        av_packet_unref(m_read.get());
        return true;
    }
}

bool SoundProducer::sendFromFifo(int count)
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return fail("out of memory for the sound");
    frame->nb_samples = count;
    frame->format = m_encoder->sample_fmt;
    frame->sample_rate = m_encoder->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &m_encoder->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0 ||
        av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(frame->extended_data), count) <
            count)
        return fail("out of memory for the sound");
    frame->pts = m_samplesSent;
    m_samplesSent += count;
    const int sent = avcodec_send_frame(m_encoder.get(), frame.get());
    return sent >= 0 || fail("the sound encoder fails: " + avErrorString(sent));
}

bool SoundProducer::ready()
{
    if (m_pending)
        return true;
    for (;;) {
        const int got = avcodec_receive_packet(m_encoder.get(), m_packet.get());
        if (got == 0) {
            m_packet->stream_index = m_out->index;
            av_packet_rescale_ts(m_packet.get(), m_encoder->time_base, m_out->time_base);
            m_digest =
                digestBytes(m_packet->data, static_cast<std::size_t>(m_packet->size), m_digest);
            m_time = static_cast<double>(m_packet->dts) * av_q2d(m_out->time_base);
            m_pending = true;
            return true;
        }
        if (got == AVERROR_EOF)
            return false;
        if (got != AVERROR(EAGAIN))
            return fail("the sound encoder fails: " + avErrorString(got));
        if (m_flushed)
            return false;
        const int buffered = av_audio_fifo_size(m_fifo.get());
        if (buffered >= m_frameSize) {
            if (!sendFromFifo(m_frameSize))
                return false;
        } else if (m_rangesDone) {
            if (buffered > 0) {
                if (!sendFromFifo(buffered))
                    return false;
            } else {
                avcodec_send_frame(m_encoder.get(), nullptr);
                m_flushed = true;
            }
        } else {
            if (m_cut.cancelled())
                return fail("cancelled");
            if (!produce())
                return false;
        }
    }
}

} // namespace

std::unique_ptr<PacketProducer> makeSoundProducer(const CutContext &cut, const ExactAudioJob &audio,
                                                  std::uint64_t &digest, std::string &failure)
{
    if (audio.copies)
        return makeSoundCopier(cut, audio, digest, failure);
    return madeProducer<SoundProducer>(failure, cut, audio, digest);
}

} // namespace trimora
