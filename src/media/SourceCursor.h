#pragma once

// Reads one stream of a source from a given packet on, checking that each
// packet is the one the source's description lists at that place. Media code
// only. Blocks: use it off the main thread.

#include "media/ExactSource.h"
#include "media/FFmpegPtr.h"

#include <memory>
#include <string>
#include <vector>

namespace trimora {

class SourceCursor
{
public:
    // packets: the stream's packets in decode order, as read before.
    static std::unique_ptr<SourceCursor> open(const std::string &path, int stream,
                                              const std::vector<ExactPacket> &packets);

    AVFormatContext *format() const { return m_format.get(); }
    AVStream *stream() const { return m_format->streams[m_stream]; }

    // The next packet read is packets[index]. False when it cannot be found.
    bool seek(std::size_t index);
    // The packet at index(), or nothing at the end of the file or when the
    // file no longer reads as it was described; valid until the next call.
    const AVPacket *next();
    std::size_t index() const { return m_index; }
    // Why next() gave nothing before the end of the list.
    const std::string &failure() const { return m_failure; }

private:
    SourceCursor(FormatContextPtr format, int stream, const std::vector<ExactPacket> &packets);
    bool reopen();
    bool readOwn(); // the next packet of the stream into m_packet

    FormatContextPtr m_format;
    std::string m_path;
    int m_stream = -1;
    const std::vector<ExactPacket> &m_packets;
    PacketPtr m_packet;
    bool m_pending = false; // m_packet holds packets[m_index], not yet handed out
    std::size_t m_index = 0;
    std::string m_failure;
};

// Discards every stream of the file but one at the demuxer.
void keepOnlyStream(AVFormatContext *format, int stream);

} // namespace trimora
