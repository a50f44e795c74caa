#include "media/ExactProducer.h"

#include <algorithm>
#include <cmath>

namespace trimora {

namespace {

// A sound track copied packet by packet into a join. Each range takes the
// packets from the one nearest to where the picture's time maps, until the
// next would end more than half of it past the range's picture; the packets
// are laid end to end, so the sound never jumps, and at every join and at
// the end it stands within half a packet of the picture.
class SoundCopier final : public PacketProducer
{
public:
    SoundCopier(const CutContext &cut, const ExactAudioJob &job, std::uint64_t &digest)
        : m_cut(cut), m_job(job), m_digest(digest)
    {}
    std::string init();
    bool ready() override;

private:
    bool read(); // the next packet of the stream into m_packet, its place and length known
    bool startRange();

    const CutContext &m_cut;
    ExactAudioJob m_job;
    std::uint64_t &m_digest;
    FormatContextPtr m_format;
    const AVStream *m_source = nullptr;
    AVStream *m_out = nullptr;
    int m_rate = 0;

    std::size_t m_range = 0;
    bool m_inRange = false;
    bool m_held = false;         // m_packet holds a packet read, not yet placed
    std::int64_t m_at = 0;       // the packet's source time, in samples
    std::int64_t m_length = 0;   // its length, in samples
    std::int64_t m_next = 0;     // where a packet without a time would start
    std::int64_t m_written = 0;  // the output's sound so far, in samples
    std::int64_t m_rangeEnd = 0; // where the range's picture ends in the output, in samples
};

std::string SoundCopier::init()
{
    m_format = m_cut.readerOf(m_job.sourceIndex, m_source);
    if (!m_format)
        return "the source's sound cannot be read";
    m_rate = m_source->codecpar->sample_rate;
    if (m_rate <= 0)
        return "the sound's sample rate is unknown";
    m_out = m_cut.copyOf(m_source);
    if (!m_out)
        return "the output's sound stream cannot be made";
    m_out->time_base = {1, m_rate};
    return m_packet ? std::string() : "out of memory";
}

bool SoundCopier::read()
{
    for (;;) {
        if (m_cut.cancelled())
            return fail("cancelled");
        av_packet_unref(m_packet.get());
        const int got = av_read_frame(m_format.get(), m_packet.get());
        if (got < 0)
            return got == AVERROR_EOF ||
                   fail("the source's sound cannot be read: " + avErrorString(got));
        if (m_packet->stream_index != m_job.sourceIndex || m_packet->size <= 0)
            continue;
        const AVRational samples{1, m_rate};
        const std::int64_t stamp = m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : m_packet->dts;
        m_at = stamp != AV_NOPTS_VALUE ? av_rescale_q(stamp, m_source->time_base, samples) : m_next;
        m_length = av_get_audio_frame_duration2(m_source->codecpar, m_packet->size);
        if (m_length <= 0)
            m_length = av_rescale_q(m_packet->duration, m_source->time_base, samples);
        if (m_length <= 0)
            m_length = m_source->codecpar->frame_size;
        if (m_length <= 0)
            return fail("the length of the source's sound packets is unknown");
        m_next = m_at + m_length;
        m_held = true;
        return true;
    }
}

// Seeks to the range and reads up to the packet its sound starts with.
bool SoundCopier::startRange()
{
    const ExactRange &range = m_cut.job.ranges[m_range];
    const double tick = m_cut.tick();
    const auto samples = [&](double seconds) { return std::llround(seconds * m_rate); };
    const std::int64_t pictureAt = samples(static_cast<double>(range.outputStart) * tick);
    m_rangeEnd =
        samples(static_cast<double>(range.outputStart + range.endPts - range.startPts) * tick);
    // Where the sound now playing in the output lies in this range's source.
    const std::int64_t wanted =
        samples(static_cast<double>(range.startPts) * tick) + (m_written - pictureAt);
    seekBefore(m_format.get(), static_cast<double>(wanted) / m_rate - 1.0);
    m_held = false;
    while (read() && m_held) {
        if (2 * (m_at - wanted) >= -m_length)
            break;
    }
    if (!failure().empty())
        return false;
    // Sound that starts after the picture in the source does so in the
    // output too, but only where the output begins.
    if (m_held && m_written == 0 && m_range == 0)
        m_written = std::max<std::int64_t>(m_at - wanted, 0);
    m_inRange = true;
    return true;
}

bool SoundCopier::ready()
{
    if (m_pending)
        return true;
    while (m_range < m_cut.job.ranges.size()) {
        if (!m_inRange && !startRange())
            return false;
        if (!m_held && !read())
            return false;
        if (m_held && 2 * (m_written - m_rangeEnd) + m_length <= 0) {
            m_held = false;
            // Priming and padding belong to where the packet came from.
            av_packet_shrink_side_data(m_packet.get(), AV_PKT_DATA_SKIP_SAMPLES, 0);
            // The muxer may have chosen a coarser time base than the samples'.
            const AVRational samples{1, m_rate};
            m_packet->stream_index = m_out->index;
            m_packet->pts = m_packet->dts = av_rescale_q(m_written, samples, m_out->time_base);
            m_packet->duration =
                av_rescale_q(m_written + m_length, samples, m_out->time_base) - m_packet->pts;
            m_packet->pos = -1;
            m_digest =
                digestBytes(m_packet->data, static_cast<std::size_t>(m_packet->size), m_digest);
            m_time = static_cast<double>(m_written) / m_rate;
            m_written += m_length;
            m_pending = true;
            return true;
        }
        m_inRange = false;
        m_held = false;
        ++m_range;
    }
    return false;
}

} // namespace

std::unique_ptr<PacketProducer> makeSoundCopier(const CutContext &cut, const ExactAudioJob &audio,
                                                std::uint64_t &digest, std::string &failure)
{
    return madeProducer<SoundCopier>(failure, cut, audio, digest);
}

} // namespace trimora
