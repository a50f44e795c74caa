#pragma once

// The re-encoded edges of an exact cut: decoding the source around them and
// encoding the chosen frames with an encoder that matches the source. Media
// code only; used by the exact cutter.

#include "media/Bitstream.h"
#include "media/ExactJob.h"
#include "media/FFmpegPtr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
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

class PictureCheck;

struct EncodedPicture
{
    Bytes data;           // as the output holds it
    std::int64_t pts = 0; // output ticks of the source time base
    bool key = false;
};

// What one edge decodes and encodes.
struct EdgeWork
{
    std::size_t from = 0; // packets [from, to) are decoded
    std::size_t to = 0;
    std::int64_t encodeFrom = 0; // frames shown in [encodeFrom, encodeTo) are encoded
    std::int64_t encodeTo = 0;
    std::int64_t shift = 0;          // output pts = source pts + shift
    std::set<std::int64_t> digested; // source frames whose digest the check needs
    int threads = 0;                 // the decoder's; 0: as many as it likes
};

// Where an edge's encoded pictures go: framed as the output holds them
// (first: the edge's first picture), and to the check, which decodes them
// and measures them against the source's pictures as run `run`.
struct EdgeOutput
{
    std::function<std::optional<Bytes>(const Bytes &encoded, bool first)> frame;
    PictureCheck *check = nullptr;
    int run = -1;
};

struct EdgeResult
{
    std::string failure;
    std::vector<EncodedPicture> pictures; // encoder's order
    std::map<std::int64_t, std::uint64_t> sourceDigests;
};

// Decodes and encodes one edge of the source at path, whose picture stream
// (as openMediaFile reads it) is stream. extradata: what the output stream was told
// the encoder's parameter sets are; an encoder that makes others fails.
// output may be null when nothing is encoded. step() is called on the
// calling thread before each packet is decoded; false stops the work as
// cancelled.
EdgeResult encodeEdge(const std::string &path, const AVStream *stream, const ExactJob &job,
                      const EdgeWork &work, const Bytes &extradata, const EdgeOutput *output,
                      const std::function<bool()> &step);

} // namespace trimora
