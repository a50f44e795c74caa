#include "media/Bitstream.h"

#include <algorithm>
#include <cstring>

namespace trimora {

namespace {

constexpr int h264Idr = 5;
constexpr int h264Slice = 1;
constexpr int hevcBlaWithLeading = 16;
constexpr int hevcIdrNoLeading = 20;
constexpr int hevcCra = 21;

// The bits of a NAL unit's payload with the emulation-prevention bytes
// taken out, read from the front; a read past the end fails the reader.
class BitReader
{
public:
    BitReader(ByteView nal, std::size_t skip, std::size_t limit)
    {
        int zeros = 0;
        for (std::size_t i = skip; i < nal.size() && m_bytes.size() < limit; ++i) {
            if (zeros >= 2 && nal[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = nal[i] == 0 ? zeros + 1 : 0;
            m_bytes.push_back(nal[i]);
        }
    }
    bool ok() const { return m_ok; }
    unsigned bits(int count)
    {
        unsigned value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_pos >= m_bytes.size() * 8) {
                m_ok = false;
                return 0;
            }
            const unsigned bit = (m_bytes[m_pos / 8] >> (7 - m_pos % 8)) & 1u;
            value = value << 1 | bit;
            ++m_pos;
        }
        return value;
    }
    // Exp-Golomb, as far as 32 bits go.
    unsigned ue()
    {
        int zeros = 0;
        while (m_ok && bits(1) == 0) {
            if (++zeros > 31) {
                m_ok = false;
                return 0;
            }
        }
        if (!m_ok)
            return 0;
        const unsigned long long value = (1ull << zeros) - 1 + bits(zeros);
        return static_cast<unsigned>(std::min<unsigned long long>(value, 0xFFFFFFFFu));
    }

private:
    Bytes m_bytes;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

std::size_t headerSize(NalCodec codec)
{
    return codec == NalCodec::H264 ? 1 : 2;
}

ByteView withoutTrailingZeros(ByteView nal)
{
    std::size_t size = nal.size();
    while (size > 0 && nal[size - 1] == 0)
        --size;
    return nal.first(size);
}

bool h264SliceIsIntra(ByteView nal)
{
    BitReader reader(nal, 1, 16);
    reader.ue(); // first_mb_in_slice
    const unsigned sliceType = reader.ue() % 5;
    return reader.ok() && (sliceType == 2 || sliceType == 4); // I or SI
}

bool highH264Profile(int profile)
{
    for (int p : {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135}) {
        if (profile == p)
            return true;
    }
    return false;
}

class Writer
{
public:
    void u8(unsigned value) { m_out.push_back(static_cast<std::uint8_t>(value)); }
    void u16(unsigned value)
    {
        u8(value >> 8);
        u8(value & 0xFF);
    }
    void bytes(ByteView data) { m_out.insert(m_out.end(), data.begin(), data.end()); }
    Bytes take() { return std::move(m_out); }

private:
    Bytes m_out;
};

class Reader
{
public:
    explicit Reader(ByteView data) : m_data(data) {}
    bool ok() const { return m_ok; }
    std::size_t left() const { return m_data.size() - m_pos; }
    unsigned u8() { return need(1) ? m_data[m_pos++] : 0; }
    unsigned u16()
    {
        const unsigned high = u8();
        return high << 8 | u8();
    }
    Bytes bytes(std::size_t count)
    {
        if (!need(count))
            return {};
        Bytes out(m_data.begin() + static_cast<std::ptrdiff_t>(m_pos),
                  m_data.begin() + static_cast<std::ptrdiff_t>(m_pos + count));
        m_pos += count;
        return out;
    }
    Bytes rest() { return bytes(left()); }

private:
    bool need(std::size_t count)
    {
        if (!m_ok || left() < count) {
            m_ok = false;
            return false;
        }
        return true;
    }
    ByteView m_data;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

void appendNal(Bytes &out, ByteView nal, int lengthSize)
{
    if (lengthSize == 0) {
        static constexpr std::uint8_t startCode[] = {0, 0, 0, 1};
        out.insert(out.end(), std::begin(startCode), std::end(startCode));
    } else {
        for (int shift = 8 * (lengthSize - 1); shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(nal.size() >> shift));
    }
    out.insert(out.end(), nal.begin(), nal.end());
}

std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    return h ^ (h >> 31);
}

} // namespace

std::optional<std::vector<ByteView>> splitNals(ByteView unit, int lengthSize)
{
    std::vector<ByteView> nals;
    if (lengthSize < 0 || lengthSize > 4)
        return std::nullopt;
    if (unit.empty())
        return nals;
    if (lengthSize > 0) {
        std::size_t pos = 0;
        while (pos < unit.size()) {
            if (unit.size() - pos < static_cast<std::size_t>(lengthSize))
                return std::nullopt;
            std::size_t size = 0;
            for (int i = 0; i < lengthSize; ++i)
                size = size << 8 | unit[pos++];
            if (size > unit.size() - pos)
                return std::nullopt;
            if (size > 0)
                nals.push_back(unit.subspan(pos, size));
            pos += size;
        }
        return nals;
    }
    // Annex B: units begin after 00 00 01; zeros before the next start code
    // belong to no unit.
    constexpr std::size_t noUnit = SIZE_MAX;
    std::size_t begin = noUnit;
    std::size_t i = 0;
    const auto flush = [&](std::size_t end) {
        if (begin != noUnit) {
            const ByteView nal = withoutTrailingZeros(unit.subspan(begin, end - begin));
            if (!nal.empty())
                nals.push_back(nal);
        }
    };
    while (i + 3 <= unit.size()) {
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
            flush(i);
            i += 3;
            begin = i;
        } else {
            ++i;
        }
    }
    if (begin == noUnit)
        return std::nullopt;
    flush(unit.size());
    return nals;
}

int nalType(NalCodec codec, ByteView nal)
{
    if (nal.size() < headerSize(codec))
        return -1;
    return codec == NalCodec::H264 ? nal[0] & 0x1F : (nal[0] >> 1) & 0x3F;
}

bool isVcl(NalCodec codec, int type)
{
    return codec == NalCodec::H264 ? type >= 1 && type <= 5 : type >= 0 && type <= 31;
}

bool isParameterSet(NalCodec codec, int type)
{
    return codec == NalCodec::H264 ? type == 7 || type == 8 : type >= 32 && type <= 34;
}

bool isAccessUnitDelimiter(NalCodec codec, int type)
{
    return type == (codec == NalCodec::H264 ? 9 : 35);
}

AccessKind accessKindOf(NalCodec codec, const std::vector<ByteView> &nals)
{
    bool intra = false;
    for (const ByteView nal : nals) {
        const int type = nalType(codec, nal);
        if (codec == NalCodec::Hevc && isVcl(codec, type)) {
            if (type >= hevcBlaWithLeading && type <= hevcIdrNoLeading)
                return AccessKind::Idr;
            return type == hevcCra ? AccessKind::Cra : AccessKind::None;
        }
        if (codec == NalCodec::H264) {
            if (type == h264Idr)
                return AccessKind::Idr;
            if (type == h264Slice && !intra)
                intra = h264SliceIsIntra(nal);
        }
    }
    return intra ? AccessKind::Recovery : AccessKind::None;
}

std::optional<H264Sps> parseH264Sps(ByteView nal)
{
    if (nalType(NalCodec::H264, nal) != 7)
        return std::nullopt;
    BitReader reader(nal, 1, 64);
    H264Sps sps;
    sps.profile = static_cast<int>(reader.bits(8));
    sps.compatibility = static_cast<int>(reader.bits(8));
    sps.level = static_cast<int>(reader.bits(8));
    const unsigned id = reader.ue();
    unsigned chroma = 1;
    unsigned lumaDepth = 0;
    unsigned chromaDepth = 0;
    if (highH264Profile(sps.profile)) {
        chroma = reader.ue();
        if (chroma == 3)
            reader.bits(1);
        lumaDepth = reader.ue();
        chromaDepth = reader.ue();
    }
    // Checked before they become ints: a hostile value may not fit one.
    if (!reader.ok() || id > 31 || chroma > 3 || lumaDepth > 6 || chromaDepth > 6)
        return std::nullopt;
    sps.id = static_cast<int>(id);
    sps.chromaFormat = static_cast<int>(chroma);
    sps.bitDepthLuma = static_cast<int>(lumaDepth) + 8;
    sps.bitDepthChroma = static_cast<int>(chromaDepth) + 8;
    return sps;
}

std::optional<H264Pps> parseH264Pps(ByteView nal)
{
    if (nalType(NalCodec::H264, nal) != 8)
        return std::nullopt;
    BitReader reader(nal, 1, 16);
    const unsigned id = reader.ue();
    const unsigned spsId = reader.ue();
    if (!reader.ok() || id > 255 || spsId > 31)
        return std::nullopt;
    H264Pps pps;
    pps.id = static_cast<int>(id);
    pps.spsId = static_cast<int>(spsId);
    return pps;
}

std::optional<AvcConfig> parseAvcConfig(ByteView record)
{
    Reader in(record);
    AvcConfig config;
    if (in.u8() != 1)
        return std::nullopt;
    config.profile = static_cast<std::uint8_t>(in.u8());
    config.compatibility = static_cast<std::uint8_t>(in.u8());
    config.level = static_cast<std::uint8_t>(in.u8());
    config.lengthSize = static_cast<int>(in.u8() & 3) + 1;
    const unsigned spsCount = in.u8() & 0x1F;
    for (unsigned i = 0; i < spsCount && in.ok(); ++i)
        config.sps.push_back(in.bytes(in.u16()));
    const unsigned ppsCount = in.u8();
    for (unsigned i = 0; i < ppsCount && in.ok(); ++i)
        config.pps.push_back(in.bytes(in.u16()));
    if (!in.ok() || config.lengthSize == 3)
        return std::nullopt;
    config.extension = in.rest();
    return config;
}

std::optional<Bytes> writeAvcConfig(const AvcConfig &config)
{
    if (config.sps.size() > 31 || config.pps.size() > 255 || config.lengthSize < 1 ||
        config.lengthSize > 4)
        return std::nullopt;
    Writer out;
    out.u8(1);
    out.u8(config.profile);
    out.u8(config.compatibility);
    out.u8(config.level);
    out.u8(0xFC | static_cast<unsigned>(config.lengthSize - 1));
    out.u8(0xE0 | static_cast<unsigned>(config.sps.size()));
    for (const std::vector<Bytes> *sets : {&config.sps, &config.pps}) {
        if (sets == &config.pps)
            out.u8(static_cast<unsigned>(config.pps.size()));
        for (const Bytes &set : *sets) {
            if (set.size() > 0xFFFF)
                return std::nullopt;
            out.u16(static_cast<unsigned>(set.size()));
            out.bytes(set);
        }
    }
    out.bytes(config.extension);
    return out.take();
}

std::optional<AvcConfig> avcConfigFor(const std::vector<Bytes> &sps, const std::vector<Bytes> &pps)
{
    if (sps.empty() || pps.empty())
        return std::nullopt;
    const std::optional<H264Sps> first = parseH264Sps(sps.front());
    if (!first)
        return std::nullopt;
    AvcConfig config;
    config.profile = static_cast<std::uint8_t>(first->profile);
    config.compatibility = static_cast<std::uint8_t>(first->compatibility);
    config.level = static_cast<std::uint8_t>(first->level);
    config.sps = sps;
    config.pps = pps;
    // The record's extension, which readers expect for the High profiles.
    if (first->profile == 100 || first->profile == 110 || first->profile == 122 ||
        first->profile == 144)
        config.extension = {static_cast<std::uint8_t>(0xFC | first->chromaFormat),
                            static_cast<std::uint8_t>(0xF8 | (first->bitDepthLuma - 8)),
                            static_cast<std::uint8_t>(0xF8 | (first->bitDepthChroma - 8)), 0};
    return config;
}

std::optional<HevcConfig> parseHevcConfig(ByteView record)
{
    Reader in(record);
    HevcConfig config;
    config.head = in.bytes(22);
    const unsigned arrays = in.u8();
    if (!in.ok() || config.head[0] != 1)
        return std::nullopt;
    config.lengthSize = (config.head[21] & 3) + 1;
    for (unsigned a = 0; a < arrays && in.ok(); ++a) {
        HevcConfig::Array array;
        array.type = static_cast<std::uint8_t>(in.u8());
        const unsigned count = in.u16();
        for (unsigned i = 0; i < count && in.ok(); ++i)
            array.nals.push_back(in.bytes(in.u16()));
        config.arrays.push_back(std::move(array));
    }
    if (!in.ok() || config.lengthSize == 3)
        return std::nullopt;
    return config;
}

std::optional<Bytes> writeHevcConfig(const HevcConfig &config)
{
    if (config.head.size() != 22 || config.arrays.size() > 255 || config.lengthSize < 1 ||
        config.lengthSize > 4)
        return std::nullopt;
    Writer out;
    Bytes head = config.head;
    head[21] = static_cast<std::uint8_t>((head[21] & 0xFC) | (config.lengthSize - 1));
    out.bytes(head);
    out.u8(static_cast<unsigned>(config.arrays.size()));
    for (const HevcConfig::Array &array : config.arrays) {
        if (array.nals.size() > 0xFFFF)
            return std::nullopt;
        out.u8(array.type);
        out.u16(static_cast<unsigned>(array.nals.size()));
        for (const Bytes &nal : array.nals) {
            if (nal.size() > 0xFFFF)
                return std::nullopt;
            out.u16(static_cast<unsigned>(nal.size()));
            out.bytes(nal);
        }
    }
    return out.take();
}

std::optional<ParameterSets> parameterSetsOf(NalCodec codec, ByteView extradata)
{
    ParameterSets sets;
    if (extradata.empty())
        return sets;
    if (codec == NalCodec::H264 && extradata[0] == 1) {
        const std::optional<AvcConfig> config = parseAvcConfig(extradata);
        if (!config)
            return std::nullopt;
        sets.nals = config->sps;
        sets.nals.insert(sets.nals.end(), config->pps.begin(), config->pps.end());
        sets.lengthSize = config->lengthSize;
        return sets;
    }
    // libavformat's test for a record rather than Annex B.
    if (codec == NalCodec::Hevc && extradata.size() >= 3 &&
        (extradata[0] != 0 || extradata[1] != 0 || extradata[2] > 1)) {
        const std::optional<HevcConfig> config = parseHevcConfig(extradata);
        if (!config)
            return std::nullopt;
        for (int type : {32, 33, 34}) {
            for (const HevcConfig::Array &array : config->arrays) {
                if ((array.type & 0x3F) == type)
                    sets.nals.insert(sets.nals.end(), array.nals.begin(), array.nals.end());
            }
        }
        sets.lengthSize = config->lengthSize;
        return sets;
    }
    const std::optional<std::vector<ByteView>> nals = splitNals(extradata, 0);
    if (!nals)
        return std::nullopt;
    for (const ByteView nal : *nals) {
        if (isParameterSet(codec, nalType(codec, nal)))
            sets.nals.emplace_back(nal.begin(), nal.end());
    }
    return sets;
}

std::optional<Bytes> rewriteAccessUnit(ByteView unit, const NalRewrite &rewrite)
{
    if (rewrite.outLengthSize < 0 || rewrite.outLengthSize > 4 || rewrite.outLengthSize == 3)
        return std::nullopt;
    const std::optional<std::vector<ByteView>> nals = splitNals(unit, rewrite.inLengthSize);
    if (!nals)
        return std::nullopt;
    const std::size_t maxSize =
        rewrite.outLengthSize == 0 ? SIZE_MAX : (std::size_t{1} << (8 * rewrite.outLengthSize)) - 1;
    Bytes out;
    out.reserve(unit.size() + 64);
    bool prepended = rewrite.prepend.empty();
    const auto add = [&](ByteView nal) {
        if (nal.size() > maxSize)
            return false;
        appendNal(out, nal, rewrite.outLengthSize);
        return true;
    };
    for (const ByteView nal : *nals) {
        const int type = nalType(rewrite.codec, nal);
        if (!prepended && !isAccessUnitDelimiter(rewrite.codec, type)) {
            for (const Bytes &set : rewrite.prepend) {
                if (!add(set))
                    return std::nullopt;
            }
            prepended = true;
        }
        if (rewrite.dropParameterSets && isParameterSet(rewrite.codec, type))
            continue;
        if (rewrite.craToBla && rewrite.codec == NalCodec::Hevc && type == hevcCra) {
            Bytes bla(nal.begin(), nal.end());
            bla[0] = static_cast<std::uint8_t>((bla[0] & 0x81) | (hevcBlaWithLeading << 1));
            if (!add(bla))
                return std::nullopt;
            continue;
        }
        if (!add(nal))
            return std::nullopt;
    }
    if (!prepended) {
        for (const Bytes &set : rewrite.prepend) {
            if (!add(set))
                return std::nullopt;
        }
    }
    return out;
}

std::uint64_t pictureDigest(NalCodec codec, const std::vector<ByteView> &nals)
{
    std::uint64_t digest = 0x6A09E667F3BCC908ull;
    for (const ByteView nal : nals) {
        if (!isVcl(codec, nalType(codec, nal)))
            continue;
        const ByteView trimmed = withoutTrailingZeros(nal);
        const ByteView payload =
            trimmed.size() > headerSize(codec) ? trimmed.subspan(headerSize(codec)) : ByteView();
        digest = digestBytes(payload.data(), payload.size(), digest);
    }
    return digest;
}

void sortUnits(std::vector<Bytes> &units)
{
    std::sort(units.begin(), units.end(), [](const Bytes &a, const Bytes &b) {
        if (a.size() != b.size())
            return a.size() < b.size();
        const auto differ = std::mismatch(a.begin(), a.end(), b.begin());
        return differ.first != a.end() && *differ.first < *differ.second;
    });
}

std::uint64_t digestBytes(const std::uint8_t *data, std::size_t size, std::uint64_t seed)
{
    // Four lanes that do not wait on each other: whole pictures are digested.
    const auto round = [](std::uint64_t h, const std::uint8_t *at) {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        h ^= word * 0xC2B2AE3D27D4EB4Full;
        return ((h << 31) | (h >> 33)) * 0x9E3779B185EBCA87ull;
    };
    std::uint64_t lanes[4] = {mix(seed ^ (size * 0x9E3779B97F4A7C15ull)), mix(seed + 1),
                              mix(seed + 2), mix(seed + 3)};
    std::size_t i = 0;
    for (; i + 32 <= size; i += 32) {
        for (int lane = 0; lane < 4; ++lane)
            lanes[lane] = round(lanes[lane], data + i + 8 * lane);
    }
    std::uint64_t h = lanes[0] ^ mix(lanes[1]) ^ mix(mix(lanes[2])) ^ mix(mix(mix(lanes[3])));
    for (; i + 8 <= size; i += 8)
        h = round(h, data + i);
    std::uint64_t last = 0;
    for (std::size_t k = 0; i + k < size; ++k)
        last |= static_cast<std::uint64_t>(data[i + k]) << (8 * k);
    return mix(h ^ last);
}

} // namespace trimora
