// The exact cut's bitstream rewriting on hostile bytes: splitting access
// units, the configuration records, parameter set ids, and rewriting a unit
// for the output. The first byte chooses codec and framing, the rest is the
// unit or record. Must never crash, hang or leak; what it writes must read
// back, and a rewrite must keep the coded pictures.
#include "media/Bitstream.h"

#include <cstdlib>

using namespace trimora;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

int lengthSizeOf(unsigned bits)
{
    static constexpr int sizes[] = {0, 1, 2, 4};
    return sizes[bits & 3];
}

void records(ByteView data)
{
    if (const std::optional<AvcConfig> avc = parseAvcConfig(data)) {
        const std::optional<Bytes> written = writeAvcConfig(*avc);
        check(written.has_value());
        const std::optional<AvcConfig> again = parseAvcConfig(*written);
        check(again && again->sps == avc->sps && again->pps == avc->pps &&
              again->lengthSize == avc->lengthSize && again->extension == avc->extension);
    }
    if (std::optional<HevcConfig> hevc = parseHevcConfig(data)) {
        hevc->lengthSize = 4;
        const std::optional<Bytes> written = writeHevcConfig(*hevc);
        check(written.has_value());
        const std::optional<HevcConfig> again = parseHevcConfig(*written);
        check(again && again->lengthSize == 4 && again->arrays.size() == hevc->arrays.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const unsigned options = data[0];
    const ByteView unit(data + 1, size - 1);
    const NalCodec codec = options & 1 ? NalCodec::Hevc : NalCodec::H264;
    records(unit);

    std::optional<ParameterSets> sets = parameterSetsOf(codec, unit);
    if (sets && codec == NalCodec::H264) {
        std::vector<Bytes> sps;
        std::vector<Bytes> pps;
        for (const Bytes &nal : sets->nals)
            (nalType(codec, nal) == 7 ? sps : pps).push_back(nal);
        if (const std::optional<AvcConfig> config = avcConfigFor(sps, pps))
            check(parseAvcConfig(writeAvcConfig(*config).value_or(Bytes{})).has_value() ||
                  config->sps.size() > 31 || config->pps.size() > 255);
    }

    NalRewrite rewrite;
    rewrite.codec = codec;
    rewrite.inLengthSize = lengthSizeOf(options >> 1);
    rewrite.outLengthSize = options & 8 ? 0 : 4;
    rewrite.dropParameterSets = options & 16;
    rewrite.craToBla = options & 32;
    const std::optional<std::vector<ByteView>> nals = splitNals(unit, rewrite.inLengthSize);
    if (!nals)
        return 0;
    accessKindOf(codec, *nals);
    for (const ByteView nal : *nals) {
        if (const std::optional<H264Sps> sps = parseH264Sps(nal))
            check(sps->id >= 0 && sps->id < 32);
        if (const std::optional<H264Pps> pps = parseH264Pps(nal))
            check(pps->id >= 0 && pps->spsId >= 0 && pps->spsId < 32);
        if ((options & 64) && isParameterSet(codec, nalType(codec, nal)))
            rewrite.prepend.emplace_back(nal.begin(), nal.end());
    }
    const std::optional<Bytes> rewritten = rewriteAccessUnit(unit, rewrite);
    check(rewritten.has_value());
    const std::optional<std::vector<ByteView>> back = splitNals(*rewritten, rewrite.outLengthSize);
    check(back.has_value());
    // Start codes inside a unit read from lengths would split it anew.
    if (rewrite.outLengthSize > 0 || rewrite.inLengthSize == 0)
        check(pictureDigest(codec, *back) == pictureDigest(codec, *nals));
    return 0;
}
