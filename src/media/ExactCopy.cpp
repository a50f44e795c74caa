#include "core/Handoff.h"
#include "media/ExactProducer.h"
#include "media/SourceCursor.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace trimora {

namespace {

// How far before In a subtitle may start and still be on show at In.
constexpr double subtitleReach = 10.0;

// A stream copied packet by packet: what shows within each range, moved to
// where the range lies in the output and cut to it.
class CopyProducer final : public PacketProducer
{
public:
    CopyProducer(const CutContext &cut, int index) : m_cut(cut), m_index(index) {}
    std::string init();
    bool ready() override;

private:
    bool next();

    const CutContext &m_cut;
    int m_index;
    FormatContextPtr m_format;
    const AVStream *m_source = nullptr;
    AVStream *m_out = nullptr;
    std::size_t m_range = 0;
    bool m_inRange = false;
    bool m_picture = false; // a cover picture: one packet, at the start
    std::int64_t m_last = AV_NOPTS_VALUE;
};

std::string CopyProducer::init()
{
    m_format = m_cut.readerOf(m_index, m_source);
    if (!m_format)
        return "stream " + std::to_string(m_index) + " of the source cannot be read";
    m_out = m_cut.copyOf(m_source);
    if (!m_out)
        return "the output's stream for source stream " + std::to_string(m_index) +
               " cannot be made";
    m_out->time_base = m_source->time_base;
    m_picture = m_source->disposition & AV_DISPOSITION_ATTACHED_PIC;
    if (m_source->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT)
        m_range = m_cut.job.ranges.size(); // travels in the header alone
    return m_packet ? std::string() : "out of memory";
}

bool CopyProducer::ready()
{
    if (m_pending)
        return true;
    if (m_picture) {
        if (m_range > 0 || m_source->attached_pic.size <= 0)
            return false;
        m_range = 1;
        if (av_packet_ref(m_packet.get(), &m_source->attached_pic) < 0)
            return fail("out of memory");
        m_packet->stream_index = m_out->index;
        m_packet->pts = m_packet->dts = 0;
        m_time = 0.0;
        m_pending = true;
        return true;
    }
    while (m_range < m_cut.job.ranges.size()) {
        if (next())
            return true;
        if (!failure().empty())
            return false;
    }
    return false;
}

// The next packet of the current range; false at the range's end.
bool CopyProducer::next()
{
    const ExactRange &range = m_cut.job.ranges[m_range];
    const double tick = m_cut.tick();
    const double start = static_cast<double>(range.startPts) * tick;
    const double end = static_cast<double>(range.endPts) * tick;
    const double outStart = static_cast<double>(range.outputStart) * tick;
    if (!m_inRange) {
        seekBefore(m_format.get(), start - subtitleReach);
        m_inRange = true;
    }
    const double base = av_q2d(m_source->time_base);
    for (;;) {
        if (m_cut.cancelled())
            return fail("cancelled");
        av_packet_unref(m_packet.get());
        if (av_read_frame(m_format.get(), m_packet.get()) < 0)
            break;
        if (m_packet->stream_index != m_index || m_packet->pts == AV_NOPTS_VALUE)
            continue;
        const double from = static_cast<double>(m_packet->pts) * base;
        const double until =
            from + static_cast<double>(std::max<std::int64_t>(m_packet->duration, 0)) * base;
        if (from >= end)
            break;
        if (from < start && until <= start)
            continue;
        const double shownFrom = std::max(from, start);
        const double shownUntil = std::min(until, end);
        const AVRational outBase = m_out->time_base;
        std::int64_t pts = std::llround((shownFrom - start + outStart) / av_q2d(outBase));
        if (m_last != AV_NOPTS_VALUE)
            pts = std::max(pts, m_last);
        m_last = pts;
        m_packet->stream_index = m_out->index;
        m_packet->pts = m_packet->dts = pts;
        m_packet->duration =
            m_packet->duration > 0 ? std::llround((shownUntil - shownFrom) / av_q2d(outBase)) : 0;
        m_packet->pos = -1;
        m_time = static_cast<double>(pts) * av_q2d(outBase);
        m_pending = true;
        return true;
    }
    av_packet_unref(m_packet.get());
    m_inRange = false;
    ++m_range;
    return false;
}

// Packets made on a thread of their own, handed to the writing a few dozen
// at a time: one by one, the threads would spend more on waking each other.
class Ahead final : public PacketProducer
{
public:
    Ahead(std::unique_ptr<PacketProducer> inner, std::function<void()> waiting)
        : m_inner(std::move(inner)), m_waiting(std::move(waiting))
    {}
    ~Ahead() override { m_made.close(); }

    void begin() override
    {
        m_inner->begin();
        m_thread = std::jthread([this] { work(); });
    }

    bool ready() override
    {
        if (m_pending)
            return true;
        while (m_next >= m_batch.size()) {
            std::optional<Batch> batch = m_made.takeWithin(std::chrono::milliseconds(50));
            if (batch) {
                m_batch = std::move(*batch);
                m_next = 0;
            } else if (m_made.drained()) {
                if (!m_failure.empty())
                    fail(m_failure);
                return false;
            } else if (m_waiting) {
                m_waiting();
            }
        }
        Made &made = m_batch[m_next++];
        av_packet_unref(m_packet.get());
        av_packet_move_ref(m_packet.get(), made.packet.get());
        m_time = made.time;
        m_pending = true;
        return true;
    }

    std::string finish() override
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_inner->finish();
    }

private:
    struct Made
    {
        PacketPtr packet;
        double time = 0.0;
    };
    using Batch = std::vector<Made>;
    static constexpr std::size_t batchSize = 32;

    void work()
    {
        Batch batch;
        while (m_inner->ready()) {
            Made made{PacketPtr(av_packet_alloc()), m_inner->time()};
            if (!made.packet) {
                m_failure = "out of memory";
                break;
            }
            av_packet_move_ref(made.packet.get(), m_inner->packet());
            m_inner->consumed();
            batch.push_back(std::move(made));
            if (batch.size() >= batchSize && !m_made.give(std::exchange(batch, {})))
                return;
        }
        if (m_failure.empty())
            m_failure = m_inner->failure();
        if (!batch.empty())
            m_made.give(std::move(batch));
        m_made.close();
    }

    std::unique_ptr<PacketProducer> m_inner;
    std::function<void()> m_waiting;
    Handoff<Batch> m_made{16};
    Batch m_batch;
    std::size_t m_next = 0;
    std::string m_failure; // the inner producer's, set before the queue closes
    std::jthread m_thread; // last: joined before the rest goes
};

} // namespace

std::unique_ptr<PacketProducer> makeAhead(std::unique_ptr<PacketProducer> producer,
                                          std::function<void()> waiting)
{
    return producer ? std::make_unique<Ahead>(std::move(producer), std::move(waiting)) : nullptr;
}

double CutContext::tick() const
{
    return job.source && job.source->video ? job.source->video->timeBase.value() : 0.0;
}

FormatContextPtr CutContext::readerOf(int index, const AVStream *&stream) const
{
    FormatContextPtr reader = openMediaFileAgain(source);
    if (!reader || index < 0 || static_cast<unsigned>(index) >= reader->nb_streams ||
        static_cast<unsigned>(index) >= input->nb_streams)
        return nullptr;
    keepOnlyStream(reader.get(), index);
    // The MP4 family finds each packet by its index: a seek skips the other
    // streams' data between two packets of this one, which a buffered reader
    // would read through (up to 32 KiB, more than most pictures).
    if (std::string_view(reader->iformat->name).substr(0, 4) == "mov,")
        reader->pb->direct = 1;
    stream = input->streams[index];
    return reader;
}

AVStream *CutContext::copyOf(const AVStream *from) const
{
    AVStream *to = avformat_new_stream(muxer, nullptr);
    if (!to || avcodec_parameters_copy(to->codecpar, from->codecpar) < 0 ||
        !copyStreamDescription(from, to))
        return nullptr;
    to->codecpar->codec_tag = 0;
    return to;
}

bool copyStreamDescription(const AVStream *from, AVStream *to)
{
    if (av_dict_copy(&to->metadata, from->metadata, 0) < 0)
        return false;
    to->disposition = from->disposition;
    for (int i = 0; i < from->nb_side_data; ++i) {
        const AVPacketSideData &side = from->side_data[i];
        std::uint8_t *data = av_stream_new_side_data(to, side.type, side.size);
        if (!data)
            return false;
        std::copy(side.data, side.data + side.size, data);
    }
    return true;
}

void seekBefore(AVFormatContext *format, double seconds)
{
    const double origin = format->start_time != AV_NOPTS_VALUE
                              ? static_cast<double>(format->start_time) / AV_TIME_BASE
                              : 0.0;
    const std::int64_t target = std::llround(std::max(seconds, origin) * AV_TIME_BASE);
    if (av_seek_frame(format, -1, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(format, -1, target, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
}

std::unique_ptr<PacketProducer> makeCopyProducer(const CutContext &cut, int sourceIndex,
                                                 std::string &failure)
{
    return madeProducer<CopyProducer>(failure, cut, sourceIndex);
}

} // namespace trimora
