#include "media/SourceCursor.h"

#include <algorithm>

namespace trimora {

void keepOnlyStream(AVFormatContext *format, int stream)
{
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard =
            static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

SourceCursor::SourceCursor(FormatContextPtr format, int stream,
                           const std::vector<ExactPacket> &packets)
    : m_format(std::move(format)), m_stream(stream), m_packets(packets), m_packet(av_packet_alloc())
{}

std::unique_ptr<SourceCursor> SourceCursor::open(const std::string &path, int stream,
                                                 const std::vector<ExactPacket> &packets)
{
    FormatContextPtr format = openMediaFileAgain(path);
    if (!format || stream < 0 || static_cast<unsigned>(stream) >= format->nb_streams)
        return nullptr;
    keepOnlyStream(format.get(), stream);
    std::unique_ptr<SourceCursor> cursor(new SourceCursor(std::move(format), stream, packets));
    if (!cursor->m_packet)
        return nullptr;
    cursor->m_path = path;
    return cursor;
}

bool SourceCursor::reopen()
{
    FormatContextPtr format = openMediaFileAgain(m_path);
    if (!format || static_cast<unsigned>(m_stream) >= format->nb_streams)
        return false;
    keepOnlyStream(format.get(), m_stream);
    m_format = std::move(format);
    return true;
}

bool SourceCursor::readOwn()
{
    for (;;) {
        av_packet_unref(m_packet.get());
        const int result = av_read_frame(m_format.get(), m_packet.get());
        if (result < 0) {
            if (result != AVERROR_EOF)
                m_failure = "the source cannot be read: " + avErrorString(result);
            return false;
        }
        if (m_packet->stream_index == m_stream &&
            (m_packet->pts != AV_NOPTS_VALUE || m_packet->dts != AV_NOPTS_VALUE))
            return true;
    }
}

bool SourceCursor::seek(std::size_t index)
{
    m_failure.clear();
    m_pending = false;
    if (index >= m_packets.size())
        return false;
    const ExactPacket &target = m_packets[index];
    const AVStream *st = stream();
    const std::int64_t second =
        std::max<std::int64_t>(av_rescale_q(1, AVRational{1, 1}, st->time_base), 1);
    const std::int64_t aim = std::min(target.pts, target.dts);
    // Demuxers with an index land on the keyframe before the aim; those that
    // search by time may land past it, so the aim moves back until it holds.
    for (std::int64_t margin = 0;; margin = margin == 0 ? second : margin * 4) {
        const bool fromStart = margin > 4096 * second;
        if (fromStart) {
            if (!reopen())
                return false;
        } else if (av_seek_frame(m_format.get(), m_stream, aim - margin, AVSEEK_FLAG_BACKWARD) <
                   0) {
            continue;
        }
        while (readOwn()) {
            const std::int64_t pts =
                m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : m_packet->dts;
            if (pts == target.pts) {
                m_index = index;
                m_pending = true;
                return true;
            }
            const std::int64_t dts = m_packet->dts != AV_NOPTS_VALUE ? m_packet->dts : pts;
            if (dts > target.dts && pts > target.pts)
                break; // past it
        }
        if (fromStart) {
            if (m_failure.empty())
                m_failure =
                    "the source no longer holds the packet at " + std::to_string(target.pts);
            return false;
        }
    }
}

const AVPacket *SourceCursor::next()
{
    if (m_pending) {
        m_pending = false;
        return m_packet.get();
    }
    if (m_index + 1 >= m_packets.size() || !readOwn())
        return nullptr;
    ++m_index;
    const std::int64_t pts = m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : m_packet->dts;
    if (pts != m_packets[m_index].pts) {
        m_failure = "the source no longer reads as it did when the cut was planned";
        return nullptr;
    }
    return m_packet.get();
}

} // namespace trimora
