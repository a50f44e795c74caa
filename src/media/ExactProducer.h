#pragma once

// The streams of an exact cut, each written by a producer that hands out its
// packets in decode order with their final timestamps; the cutter writes
// whichever is due first. Media code only.

#include "media/ExactJob.h"
#include "media/FFmpegPtr.h"

#include <functional>
#include <memory>
#include <string>

namespace trimora {

class PacketProducer
{
public:
    virtual ~PacketProducer() = default;
    // Has the next packet at hand; false once done, or failed (failure()).
    virtual bool ready() = 0;
    // The pending packet, timestamps in its output stream's time base; the
    // muxer takes its contents.
    AVPacket *packet() { return m_packet.get(); }
    // The pending packet went to the muxer.
    void consumed() { m_pending = false; }
    // The pending packet's decode time in output seconds.
    double time() const { return m_time; }
    // Once the output's header is written: work may start beside the writing.
    virtual void begin() {}
    // After the last packet was written: what failed in work done beside
    // the writing, or an empty text.
    virtual std::string finish() { return {}; }
    const std::string &failure() const { return m_failure; }

protected:
    PacketProducer() : m_packet(av_packet_alloc()) {}
    bool fail(std::string why)
    {
        if (m_failure.empty())
            m_failure = std::move(why);
        return false;
    }
    PacketPtr m_packet;
    double m_time = 0.0;
    bool m_pending = false;

private:
    std::string m_failure;
};

// What every producer of one cut shares.
struct CutContext
{
    const ExactJob &job;
    std::string source;              // path
    const AVFormatContext *input;    // the source, opened once for the streams' parameters
    AVFormatContext *muxer;          // the output; streams are added to it
    std::function<bool()> cancelled; // asked from this and the edges' thread
    // Seconds of the picture's time base per tick.
    double tick() const;
    // A reader of the source of its own that reads stream index alone, and
    // that stream as the first opening describes it; nothing when either is
    // missing.
    FormatContextPtr readerOf(int index, const AVStream *&stream) const;
    // A new output stream with source's parameters and description.
    AVStream *copyOf(const AVStream *source) const;
};

// Makes a producer and sets it up (init()); nothing, and why, when that fails.
template <class Producer, class... Args>
std::unique_ptr<PacketProducer> madeProducer(std::string &failure, Args &&...args)
{
    auto producer = std::make_unique<Producer>(std::forward<Args>(args)...);
    failure = producer->init();
    if (!failure.empty())
        return nullptr;
    return producer;
}

// The picture stream; writes the record of what it wrote.
std::unique_ptr<PacketProducer> makePictureProducer(const CutContext &cut, ExactRecord &record,
                                                    std::function<void(double)> progress,
                                                    std::string &failure);
// One sound track, re-encoded over each range, or copied packet by packet
// into a join (audio.copies). digest chains the bytes of the packets made.
std::unique_ptr<PacketProducer> makeSoundProducer(const CutContext &cut, const ExactAudioJob &audio,
                                                  std::uint64_t &digest, std::string &failure);
std::unique_ptr<PacketProducer> makeSoundCopier(const CutContext &cut, const ExactAudioJob &audio,
                                                std::uint64_t &digest, std::string &failure);
// Runs a producer on a thread of its own from begin() on, a few hundred
// packets ahead of the writing; while the writing waits for it, waiting() is
// called every few tens of milliseconds.
std::unique_ptr<PacketProducer> makeAhead(std::unique_ptr<PacketProducer> producer,
                                          std::function<void()> waiting);

// A stream copied as it is (subtitles, data, attachments, cover pictures).
std::unique_ptr<PacketProducer> makeCopyProducer(const CutContext &cut, int sourceIndex,
                                                 std::string &failure);

// Copies a source stream's descriptive parts: metadata (language, title),
// dispositions and side data such as the display matrix.
bool copyStreamDescription(const AVStream *from, AVStream *to);

// Seeks a demuxer to just before seconds (container time), by the file's
// default stream.
void seekBefore(AVFormatContext *format, double seconds);

} // namespace trimora
