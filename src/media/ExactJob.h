#pragma once

// An exact cut as the executor carries it out: decided beforehand, from an
// ExactSource, by the pure plan of src/export. Plain data. Times are ticks of
// the source picture stream's time base; packets are indices into the
// source's packet list (decode order).

#include "media/Bitstream.h"
#include "media/ExactSource.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace trimora {

// One range [In, Out) of the source: the frames before the first keyframe
// that decodes on its own (K1) are re-encoded, the packets from K1 to E are
// copied, and the frames from E on are re-encoded.
struct ExactRange
{
    std::int64_t startPts = 0;    // the frame on show at In
    std::int64_t endPts = 0;      // the frame on show at Out, or the end of the last frame
    std::int64_t frames = 0;      // frames shown in [startPts, endPts)
    std::int64_t outputStart = 0; // where the range begins in the output

    // The copied packets [copyFirst, copyEnd), which show [copyStartPts,
    // copyEndPts); an empty span when nothing is copied. Packets in it that
    // show before copyStartPts (an HEVC CRA's leading pictures) are dropped.
    std::size_t copyFirst = 0;
    std::size_t copyEnd = 0;
    std::int64_t copyStartPts = 0;
    std::int64_t copyEndPts = 0;
    bool copyStartsAtCra = false; // HEVC: the CRA becomes a broken link
    // The copied packets [copyFirst, checkEnd) run to the next keyframe: the
    // check decodes them and compares them with the source's pictures.
    std::size_t checkEnd = 0;

    // Decoding for the frames re-encoded before the copy runs over the
    // packets [headFrom, headTo); it goes on to checkEnd for the check's
    // pictures. Likewise [tailFrom, tailTo) for the frames after the copy.
    std::size_t headFrom = 0;
    std::size_t headTo = 0;
    std::size_t tailFrom = 0;
    std::size_t tailTo = 0;

    bool copies() const { return copyEnd > copyFirst; }
    std::int64_t headEndPts() const { return copies() ? copyStartPts : endPts; }
    bool hasTail() const { return copies() && copyEndPts < endPts; }
};

struct ExactAudioJob
{
    int sourceIndex = -1;
    // Packets copied whole, each range's chosen so that the sound keeps to
    // the picture, and laid end to end.
    bool copies = false;
    std::string
        encoder; // otherwise libavcodec's encoder: "aac", "libopus", "flac", "pcm_s16le", ...
    std::int64_t bitRate = 0; // for lossy encoders
    int sampleRate = 0;
};

struct ExactJob
{
    std::string muxer; // libavformat's name of the output container
    int videoStream = -1;
    int reorderDepth = 0;           // decode timestamps are spread by this many frames
    std::int64_t frameDuration = 0; // nominal, in ticks
    int h264ParameterSetId = -1;    // the id of the encoder's SPS and PPS (H.264)
    std::vector<ExactRange> ranges; // in output order
    std::vector<ExactAudioJob> audio;
    std::vector<int> copiedStreams;            // subtitles, data, attachments, cover pictures
    std::string timecode;                      // of the first frame; empty to keep the source's
    std::shared_ptr<const ExactSource> source; // what the plan was made from

    // Whether any frame is re-encoded: a copy join encodes none.
    bool encodes() const
    {
        return std::any_of(ranges.begin(), ranges.end(), [](const ExactRange &r) {
            return !r.copies() || r.startPts < r.copyStartPts || r.copyEndPts < r.endPts;
        });
    }
};

// What the written file must show to pass the check: for each video packet
// in the output's decode order, the digest of its coded picture, and for the
// pictures the check decodes, the digest of the decoded picture.
struct ExactRecord
{
    struct Picture
    {
        std::uint64_t coded = 0;
        bool encoded = false;      // re-encoded rather than copied
        bool checked = false;      // decoded by the check
        bool startsPart = false;   // the first picture of a re-encoded or copied part
        std::uint64_t decoded = 0; // digest of the picture the source shows here
        double psnr = 0.0;         // of a re-encoded picture against the source's
        std::int64_t displayRank = 0;
    };
    std::vector<Picture> pictures;
    // The parameter sets a copied picture may carry, and a re-encoded one.
    std::vector<Bytes> sourceSets;
    std::vector<Bytes> encoderSets;
    // The sets the output stream was given, sorted: the check decoded with them.
    std::vector<Bytes> parameters;
    // Per sound track (its source stream), the digest of its packets'
    // bytes in the order written.
    std::map<int, std::uint64_t> sounds;
};

struct ExactOutcome
{
    std::string failure; // empty when written and checked; otherwise the failed step or check
    bool cancelled = false;
    std::int64_t framesWritten = 0;
    std::int64_t framesEncoded = 0;
    double lowestPsnr = 0.0; // of the re-encoded frames; 0 when none
    double meanPsnr = 0.0;
    ExactRecord record;
};

} // namespace trimora
