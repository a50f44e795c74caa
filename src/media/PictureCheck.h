#pragma once

// Decodes an exact cut's or a join's pictures as they are written: the
// packets handed to the muxer, with the output stream's parameters, while the
// writing goes on. Each run of pictures (a re-encoded part, or the copied
// pictures after a seam) decodes on a decoder of its own, from its first
// picture; the runs share two threads. Media code only.

#include "media/FFmpegPtr.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace trimora {

// What a giver of pictures or runs says when the check has stopped, for
// having failed or been cancelled; finish() tells which.
inline constexpr const char *checkStopped = "the check stopped";

class PictureCheck
{
public:
    struct Decoded
    {
        std::uint64_t digest = 0;
        std::optional<double> psnr; // against the source's picture, when one was given
    };
    using Key = std::pair<int, std::int64_t>; // run, presentation time

    // parameters: the output stream's, as the muxer writes them.
    PictureCheck(const AVCodecParameters *parameters, AVRational timeBase,
                 std::function<bool()> cancelled);
    ~PictureCheck();
    PictureCheck(const PictureCheck &) = delete;
    PictureCheck &operator=(const PictureCheck &) = delete;

    // A new run; callable from any thread.
    int beginRun();
    // The source's picture that the written one at pts is measured against.
    bool measure(int run, std::int64_t pts, FramePtr source);
    // A written picture of the run, copied.
    bool picture(int run, const AVPacket &packet);
    bool endRun(int run);

    // Waits for every run to be decoded; the first failure, or empty. Every
    // run must have ended.
    std::string finish();
    // After finish: what each picture decoded to.
    const std::map<Key, Decoded> &decoded() const { return m_decoded; }

private:
    struct Worker;
    bool send(int run, int kind, std::int64_t pts, FramePtr frame, PacketPtr packet);

    std::unique_ptr<Worker> m_workers[2];
    std::atomic<int> m_runs{0};
    std::map<Key, Decoded> m_decoded;
};

} // namespace trimora
