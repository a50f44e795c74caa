#pragma once

// The re-encoded edges of an exact cut: decoding the source around them,
// encoding the chosen frames with an encoder that matches the source, and
// decoding what was encoded again to measure it against the source. Media
// code only; used by the exact cutter.

#include "media/Bitstream.h"
#include "media/ExactJob.h"
#include "media/FFmpegPtr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace trimora {

// An encoder for the source's picture stream, opened with its parameter sets
// in extradata (Annex B) rather than in the packets. failure says why not.
CodecContextPtr openMatchingEncoder(const AVStream *source, const ExactJob &job,
                                    std::string &failure);

// A decoder opened for a stream; strict ones fail on any damage.
CodecContextPtr openDecoder(const AVCodecParameters *par, AVRational timeBase, std::string &failure,
                            int threads = 0, bool strict = false);

struct EncodedPicture
{
    Bytes data;           // as the encoder gave it (Annex B for H.264 and HEVC)
    std::int64_t pts = 0; // output ticks of the source time base
    bool key = false;
    std::uint64_t decoded = 0; // digest of the picture it decodes to
    double psnr = 0.0;         // against the source's picture
};

struct EdgeSpec
{
    std::size_t from = 0; // packets [from, to) are decoded
    std::size_t to = 0;
    std::int64_t encodeFrom = 0; // frames shown in [encodeFrom, encodeTo) are encoded
    std::int64_t encodeTo = 0;
    std::int64_t shift = 0;          // output pts = source pts + shift
    std::set<std::int64_t> digested; // source frames whose digest the check needs
    int threads = 0;                 // the decoder's; 0: as many as it likes
};

struct EdgeResult
{
    std::string failure;
    std::vector<EncodedPicture> pictures; // encoder's order
    std::map<std::int64_t, std::uint64_t> sourceDigests;
};

// Decodes and encodes one edge. extradata: what the output stream was told
// the encoder's parameter sets are; an encoder that makes others fails.
// step() is called on the calling thread before each packet is decoded;
// false stops the work as cancelled.
EdgeResult encodeEdge(const std::string &path, const ExactJob &job, const EdgeSpec &spec,
                      const Bytes &extradata, const std::function<bool()> &step);

} // namespace trimora
