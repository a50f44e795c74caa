#pragma once

#include "media/Thumbnail.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct AVFrame;

namespace trimora {

// What the decoder may leave out of one packet.
enum class FrameSkip {
    Nothing,      // decode its frame
    NonReference, // drop its frame unless later frames are predicted from it
};

// A decoded frame, valid only during the call it is handed to. Its reductions
// are made on demand, once.
class DecodedFrame
{
public:
    DecodedFrame(const DecodedFrame &) = delete;
    DecodedFrame &operator=(const DecodedFrame &) = delete;

    // Media time, counted from the file's origin; always finite.
    double time() const { return m_time; }
    // Whether the decoder keeps this frame when it leaves out the
    // non-reference ones, so that choosing it costs no extra decoding.
    bool isReference() const { return m_isReference; }
    // Whether the picture is a keyframe: decodable on its own.
    bool isKeyframe() const;
    // The whole picture averaged into one RGB pixel; nothing when it cannot be
    // reduced.
    std::optional<Rgb> pixel() const;
    // Whether the picture's mean luma (0-255, as full-range RGB) certainly
    // lies strictly between low and high; reads only as much as it needs.
    // False when unsure.
    bool lumaMeanBetween(double low, double high) const;
    // The picture as shown (pixel aspect and orientation applied), scaled to
    // fit maxWidth x maxHeight; nothing when it cannot be scaled.
    std::optional<Thumbnail> thumbnail(int maxWidth, int maxHeight) const;

    // Made by the reader only: Source is known to it alone.
    struct Source;
    DecodedFrame(Source &source, const AVFrame *frame, double time, bool isReference)
        : m_source(source), m_frame(frame), m_time(time), m_isReference(isReference)
    {}

private:
    Source &m_source;
    const AVFrame *m_frame;
    double m_time;
    bool m_isReference;
    mutable std::optional<std::optional<Rgb>> m_pixel;
};

struct FrameReaderOptions
{
    bool skipLoopFilter = true; // for pictures that are only reduced: deblocking is wasted
    int threads = 0;            // decoding threads; 0: as many as the decoder likes for the cores
};

// Decodes a file's first video stream in order and hands out every frame that
// comes out, with the skip settings the caller asks for packet by packet.
// Which frame answers which question is the caller's business. Blocks: use it
// off the main thread.
class FrameReader
{
public:
    // Nothing when the file has no decodable video stream.
    static std::unique_ptr<FrameReader> open(const std::string &path,
                                             const FrameReaderOptions &options = {});
    ~FrameReader();
    FrameReader(const FrameReader &) = delete;
    FrameReader &operator=(const FrameReader &) = delete;

    // The packets of all streams that the file's index lists: each open reader
    // of the file holds them (some 60 bytes each for MP4), so they tell what
    // another reader of the same file costs.
    std::size_t indexedPackets() const;

    // The next read starts from a keyframe early enough that every frame shown
    // from time on comes out (earlier ones come out too). When the file cannot
    // seek, the read goes on from where it is.
    void seek(double time);
    // The next read starts at the keyframe at or before time (at time itself
    // when a keyframe is shown then), not a keyframe earlier as seek() may:
    // for the picture of a keyframe, an earlier start would decode a whole
    // group of pictures in vain.
    void seekToKeyframe(double time);

    // Decodes on from where the last read stopped (the start, or the seek
    // point). For each packet of the stream, in decoding order, skipFor(its
    // time) says what the decoder may leave out; a packet without a time is
    // decoded. Each frame that comes out with a time goes to onFrame in
    // display order; a false answer stops the read, and the next read goes on
    // with the following frame. True when the stream has ended.
    bool read(const std::function<FrameSkip(double packetTime)> &skipFor,
              const std::function<bool(const DecodedFrame &)> &onFrame);

    struct Impl;

private:
    explicit FrameReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace trimora
