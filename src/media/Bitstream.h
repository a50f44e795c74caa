#pragma once

// H.264 and HEVC access units as containers carry them: NAL units behind
// start codes (Annex B: MPEG-TS, encoders) or behind big-endian lengths (MP4,
// Matroska), and the decoder configuration records of MP4 and Matroska.
// Every function takes untrusted bytes and fails soft. No FFmpeg here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace trimora {

enum class NalCodec { H264, Hevc };

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The NAL units of one access unit, without start codes or lengths.
// lengthSize 0 reads Annex B; 1, 2 or 4 read lengths of that many bytes.
// Nothing when a length runs past the end or the size is unknown.
std::optional<std::vector<ByteView>> splitNals(ByteView unit, int lengthSize);

// The unit's type from its header; -1 when the unit is too short for one.
int nalType(NalCodec codec, ByteView nal);
bool isVcl(NalCodec codec, int type);
bool isParameterSet(NalCodec codec, int type); // SPS, PPS, and HEVC's VPS
bool isAccessUnitDelimiter(NalCodec codec, int type);

// How a picture starts decoding on its own.
enum class AccessKind : std::uint8_t {
    None,
    Idr,      // IDR or BLA: nothing before it is needed, nothing after it shows earlier
    Cra,      // HEVC clean random access: its leading pictures may need what came before
    Recovery, // H.264 I picture that is not IDR (open GOP): later pictures may reach back
};
// The kind of the access unit's first picture; Recovery for an H.264 unit
// without an IDR slice but with an I slice.
AccessKind accessKindOf(NalCodec codec, const std::vector<ByteView> &nals);

// The ids an H.264 SPS declares and a PPS declares and refers to.
struct H264Sps
{
    int id = -1;
    int profile = 0;
    int compatibility = 0;
    int level = 0;
    int chromaFormat = 1;
    int bitDepthLuma = 8;
    int bitDepthChroma = 8;
};
std::optional<H264Sps> parseH264Sps(ByteView nal);
struct H264Pps
{
    int id = -1;
    int spsId = -1;
};
std::optional<H264Pps> parseH264Pps(ByteView nal);

// MP4's and Matroska's AVCDecoderConfigurationRecord.
struct AvcConfig
{
    std::uint8_t profile = 0;
    std::uint8_t compatibility = 0;
    std::uint8_t level = 0;
    int lengthSize = 4;
    std::vector<Bytes> sps;
    std::vector<Bytes> pps;
    Bytes extension; // what follows the sets (chroma format, bit depths), kept as found
};
std::optional<AvcConfig> parseAvcConfig(ByteView record);
// Nothing when a set is too large or there are too many for the record.
std::optional<Bytes> writeAvcConfig(const AvcConfig &config);
// A record for the given sets, its profile from the first SPS.
std::optional<AvcConfig> avcConfigFor(const std::vector<Bytes> &sps, const std::vector<Bytes> &pps);

// HEVCDecoderConfigurationRecord: its fixed head kept as found.
struct HevcConfig
{
    Bytes head; // the 22 bytes before the arrays
    int lengthSize = 4;
    struct Array
    {
        std::uint8_t type = 0; // completeness bit and NAL type, as stored
        std::vector<Bytes> nals;
    };
    std::vector<Array> arrays;
};
std::optional<HevcConfig> parseHevcConfig(ByteView record);
std::optional<Bytes> writeHevcConfig(const HevcConfig &config);

// The parameter sets of a codec's extradata, whichever form it has (record
// or Annex B), and the NAL length size its packets use (0: Annex B).
struct ParameterSets
{
    std::vector<Bytes> nals; // in decoding order: VPS, SPS, PPS
    int lengthSize = 0;
};
std::optional<ParameterSets> parameterSetsOf(NalCodec codec, ByteView extradata);

// One access unit rewritten for the output: re-framed, parameter sets moved,
// an HEVC CRA picture turned into a broken-link one.
struct NalRewrite
{
    NalCodec codec = NalCodec::H264;
    int inLengthSize = 0;           // 0: Annex B
    int outLengthSize = 4;          // 0: Annex B
    bool dropParameterSets = false; // they travel in the configuration record
    bool craToBla = false;
    std::vector<Bytes> prepend; // parameter sets put in front (after a delimiter)
};
std::optional<Bytes> rewriteAccessUnit(ByteView unit, const NalRewrite &rewrite);

// A digest of what a decoder makes pictures from: the payloads of the VCL
// units after their headers (which a broken-link rewrite changes), in order.
// Framing, parameter sets, delimiters and SEI do not count.
std::uint64_t pictureDigest(NalCodec codec, const std::vector<ByteView> &nals);

// Puts units in one fixed order, so that lists of them compare whatever
// order they came in.
void sortUnits(std::vector<Bytes> &units);

// 64-bit digest of bytes, chainable through seed; fast on whole pictures.
std::uint64_t digestBytes(const std::uint8_t *data, std::size_t size, std::uint64_t seed = 0);

} // namespace trimora
