#include "media/Bitstream.h"
#include "media/ExactEdges.h"
#include "media/ExactProducer.h"
#include "media/SourceCursor.h"
#include "media/StreamInfo.h"

#include <algorithm>
#include <atomic>
#include <queue>
#include <thread>

namespace trimora {

namespace {

// Copying a packet costs about this share of decoding one.
constexpr double copyWeight = 0.02;

ByteView viewOf(const AVPacket *packet)
{
    return {packet->data, static_cast<std::size_t>(std::max(packet->size, 0))};
}

Bytes annexB(const std::vector<Bytes> &nals)
{
    Bytes out;
    for (const Bytes &nal : nals) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

void addUnique(std::vector<Bytes> &sets, const Bytes &nal)
{
    if (std::find(sets.begin(), sets.end(), nal) == sets.end())
        sets.push_back(nal);
}

bool setExtradata(AVCodecParameters *par, const Bytes &data)
{
    av_freep(&par->extradata);
    par->extradata_size = 0;
    if (data.empty())
        return true;
    par->extradata =
        static_cast<std::uint8_t *>(av_mallocz(data.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return false;
    std::copy(data.begin(), data.end(), par->extradata);
    par->extradata_size = static_cast<int>(data.size());
    return true;
}

// The picture stream: per range, the re-encoded head, the copied packets and
// the re-encoded tail, with parameter sets placed so that every part decodes,
// decode times spread evenly with the source's reordering, and a record of
// every picture written for the check.
class PictureProducer final : public PacketProducer
{
public:
    PictureProducer(const CutContext &cut, ExactRecord &record,
                    std::function<void(double)> progress)
        : m_cut(cut), m_record(record), m_progress(std::move(progress))
    {}
    std::string init();
    bool ready() override;

private:
    enum class Phase { Start, Head, Copy, Tail, Done };
    std::string chooseFraming();
    bool startRange();
    bool emit(const Bytes &data, std::int64_t sourcePts, bool key, ExactRecord::Picture picture);
    bool emitEncoded(const EdgeResult &edge, std::size_t at);
    bool nextCopied();
    void report();

    const CutContext &m_cut;
    ExactRecord &m_record;
    std::function<void(double)> m_progress;
    const AVStream *m_source = nullptr;
    AVStream *m_out = nullptr;
    std::optional<NalCodec> m_codec;
    int m_inLength = 0;
    int m_outLength = 0;
    bool m_dropSets = false; // they are in the configuration record
    bool m_inBand = false;   // each part carries its own in front
    std::vector<Bytes> m_sourceSets;
    std::vector<Bytes> m_encoderSets;
    Bytes m_encoderExtradata;
    std::unique_ptr<SourceCursor> m_cursor;

    std::size_t m_range = 0;
    Phase m_phase = Phase::Start;
    EdgeResult m_head;
    EdgeResult m_tail;
    std::map<std::int64_t, std::uint64_t> m_sourceDigests; // after the seam, for the check
    std::size_t m_at = 0;
    std::vector<std::int64_t> m_frames; // the range's frames by time
    std::int64_t m_ranksBefore = 0;

    std::priority_queue<std::int64_t, std::vector<std::int64_t>, std::greater<>> m_shown;
    std::int64_t m_written = 0;
    std::int64_t m_firstPts = 0;
    std::int64_t m_lastDts = INT64_MIN;

    double m_work = 1.0;
    std::atomic<std::int64_t> m_done{0};
    double m_lastReport = -1.0;
};

std::string PictureProducer::chooseFraming()
{
    const ExactJob &job = m_cut.job;
    const bool transport = job.muxer == "mpegts";
    const ByteView sourceExtra(
        m_source->codecpar->extradata,
        static_cast<std::size_t>(std::max(m_source->codecpar->extradata_size, 0)));
    Bytes extradata(sourceExtra.begin(), sourceExtra.end());
    if (!m_codec)
        return {}; // VP9: the copied parameters stand
    const std::optional<ParameterSets> sets = parameterSetsOf(*m_codec, sourceExtra);
    if (!sets)
        return "the source's parameter sets cannot be read";
    m_inLength = sets->lengthSize;
    m_sourceSets = sets->nals;
    if (m_sourceSets.empty()) {
        // Carried in the packets only (MPEG-TS): take them from where copies start.
        for (const ExactRange &range : job.ranges) {
            if (!range.copies() || !m_cursor->seek(range.copyFirst))
                continue;
            const AVPacket *packet = m_cursor->next();
            const std::optional<std::vector<ByteView>> nals =
                packet ? splitNals(viewOf(packet), m_inLength) : std::nullopt;
            for (const ByteView nal : nals.value_or(std::vector<ByteView>{})) {
                if (isParameterSet(*m_codec, nalType(*m_codec, nal)))
                    addUnique(m_sourceSets, Bytes(nal.begin(), nal.end()));
            }
        }
    }
    const bool hevc = *m_codec == NalCodec::Hevc;
    if (!job.encodes() && !transport && m_inLength > 0 && !sets->nals.empty()) {
        // Every part decodes with the sets of the source's record.
        m_outLength = m_inLength;
    } else if (transport || hevc) {
        // Every part brings its sets along: an HEVC decoder switches sets
        // only at a random access point, so each part must carry its own.
        m_inBand = true;
        m_outLength = transport || m_inLength == 0 ? 0 : 4;
        if (!transport && m_inLength > 0) {
            std::optional<HevcConfig> config = parseHevcConfig(sourceExtra);
            std::optional<Bytes> record;
            if (config) {
                config->lengthSize = 4;
                record = writeHevcConfig(*config);
            }
            if (!record)
                return "the source's HEVC configuration cannot be rewritten";
            extradata = *record;
        } else {
            // The MPEG-TS muxer puts these in front of every keyframe that
            // lacks sets: only the copy's keyframes can lack them.
            extradata = annexB(m_sourceSets);
        }
        if (hevc && (job.muxer == "mp4" || job.muxer == "mov"))
            m_out->codecpar->codec_tag = MKTAG('h', 'e', 'v', '1');
    } else {
        // H.264 in MP4 or Matroska: both sets in the record, under their own ids.
        m_dropSets = true;
        m_outLength = 4;
        std::vector<Bytes> sps;
        std::vector<Bytes> pps;
        for (const std::vector<Bytes> *list : {&m_sourceSets, &m_encoderSets}) {
            for (const Bytes &nal : *list) {
                const int type = nalType(NalCodec::H264, nal);
                if (type == 7)
                    addUnique(sps, nal);
                else if (type == 8)
                    addUnique(pps, nal);
            }
        }
        std::optional<AvcConfig> config;
        if (m_inLength > 0) {
            config = parseAvcConfig(sourceExtra);
            if (config) {
                config->sps = sps;
                config->pps = pps;
                config->lengthSize = 4;
            }
        } else {
            config = avcConfigFor(sps, pps);
        }
        const std::optional<Bytes> record = config ? writeAvcConfig(*config) : std::nullopt;
        if (!record)
            return "the output's H.264 configuration cannot be made";
        extradata = *record;
    }
    if (m_sourceSets.empty())
        return "the source's parameter sets cannot be found";
    return setExtradata(m_out->codecpar, extradata) ? std::string() : "out of memory";
}

std::string PictureProducer::init()
{
    const ExactJob &job = m_cut.job;
    if (!job.source || !job.source->video || job.videoStream < 0 ||
        static_cast<unsigned>(job.videoStream) >= m_cut.input->nb_streams)
        return "the plan names no picture stream";
    m_source = m_cut.input->streams[job.videoStream];
    m_codec = nalCodecOf(m_source->codecpar->codec_id);
    m_cursor = SourceCursor::open(m_cut.source, job.videoStream, job.source->video->packets);
    if (!m_cursor || !m_packet)
        return "the source's picture cannot be read";

    if (job.encodes()) {
        std::string failure;
        CodecContextPtr probe = openMatchingEncoder(m_source, job, failure);
        if (!probe)
            return failure;
        m_encoderExtradata.assign(probe->extradata,
                                  probe->extradata + std::max(probe->extradata_size, 0));
    }
    if (m_codec && job.encodes()) {
        const std::optional<std::vector<ByteView>> nals = splitNals(m_encoderExtradata, 0);
        for (const ByteView nal : nals.value_or(std::vector<ByteView>{})) {
            if (isParameterSet(*m_codec, nalType(*m_codec, nal)))
                m_encoderSets.emplace_back(nal.begin(), nal.end());
        }
        if (m_encoderSets.empty())
            return "the encoder's parameter sets cannot be read";
    }

    m_out = avformat_new_stream(m_cut.muxer, nullptr);
    if (!m_out || avcodec_parameters_copy(m_out->codecpar, m_source->codecpar) < 0 ||
        !copyStreamDescription(m_source, m_out))
        return "the output's picture stream cannot be made";
    m_out->codecpar->codec_tag = 0;
    m_out->time_base = m_source->time_base;
    m_out->avg_frame_rate = m_source->avg_frame_rate;
    m_out->r_frame_rate = m_source->r_frame_rate;
    m_out->sample_aspect_ratio = m_source->sample_aspect_ratio;
    if (std::string framing = chooseFraming(); !framing.empty())
        return framing;
    m_record.sourceSets = m_sourceSets;
    m_record.encoderSets = m_encoderSets;

    m_work = 0.0;
    for (const ExactRange &range : job.ranges) {
        m_work += static_cast<double>(range.headTo - range.headFrom) +
                  static_cast<double>(range.checkEnd - range.copyFirst) +
                  static_cast<double>(range.tailTo - range.tailFrom) +
                  copyWeight * static_cast<double>(range.copyEnd - range.copyFirst);
    }
    m_work = std::max(m_work, 1.0);
    return {};
}

void PictureProducer::report()
{
    const double done = std::min(static_cast<double>(m_done.load()) / m_work, 1.0);
    if (m_progress && done - m_lastReport >= 0.005) {
        m_lastReport = done;
        m_progress(done);
    }
}

bool PictureProducer::startRange()
{
    const ExactJob &job = m_cut.job;
    const ExactRange &range = job.ranges[m_range];
    const std::vector<ExactPacket> &packets = job.source->video->packets;
    if (m_range > 0)
        m_ranksBefore += job.ranges[m_range - 1].frames;
    m_frames.clear();
    EdgeSpec head;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const ExactPacket &p = packets[i];
        // A copy shows what it holds, even what the source hides (a join's
        // lead-in before the movie's start).
        const bool copied =
            i >= range.copyFirst && i < range.copyEnd && p.pts >= range.copyStartPts;
        if ((copied || !p.hidden) && p.pts >= range.startPts && p.pts < range.endPts)
            m_frames.push_back(p.pts);
        if (copied && i < range.checkEnd)
            head.digested.insert(p.pts);
    }
    std::sort(m_frames.begin(), m_frames.end());
    if (static_cast<std::int64_t>(m_frames.size()) != range.frames)
        return fail("the range's frames differ from the plan's");

    const std::int64_t shift = range.outputStart - range.startPts;
    head.from = range.headFrom;
    head.to = range.headTo;
    head.encodeFrom = range.startPts;
    head.encodeTo = range.headEndPts();
    head.shift = shift;
    EdgeSpec tail;
    tail.from = range.tailFrom;
    tail.to = range.tailTo;
    tail.encodeFrom = range.copyEndPts;
    tail.encodeTo = range.copies() ? range.endPts : range.copyEndPts;
    tail.shift = shift;

    // The source's pictures after the seam, for the check, are decoded on
    // their own from K1, beside the head; then the tail.
    EdgeSpec reference;
    reference.from = range.copyFirst;
    reference.to = range.checkEnd;
    reference.digested = std::move(head.digested);
    reference.threads = 1;
    head.digested.clear();
    tail.threads = 1;
    m_head = {};
    m_tail = {};
    EdgeResult seen;
    {
        std::jthread beside([&] {
            const auto step = [&] {
                ++m_done;
                return !m_cut.cancelled();
            };
            if (reference.to > reference.from)
                seen = encodeEdge(m_cut.source, job, reference, m_encoderExtradata, step);
            if (seen.failure.empty() && tail.encodeTo > tail.encodeFrom)
                m_tail = encodeEdge(m_cut.source, job, tail, m_encoderExtradata, step);
        });
        if (head.to > head.from)
            m_head = encodeEdge(m_cut.source, job, head, m_encoderExtradata, [&] {
                ++m_done;
                report();
                return !m_cut.cancelled();
            });
    }
    for (const std::string *failure : {&m_head.failure, &seen.failure, &m_tail.failure}) {
        if (!failure->empty())
            return fail(*failure);
    }
    m_sourceDigests = std::move(seen.sourceDigests);
    return true;
}

bool PictureProducer::emit(const Bytes &data, std::int64_t sourcePts, bool key,
                           ExactRecord::Picture picture)
{
    const ExactRange &range = m_cut.job.ranges[m_range];
    const auto at = std::lower_bound(m_frames.begin(), m_frames.end(), sourcePts);
    if (at == m_frames.end() || *at != sourcePts)
        return fail("a picture lies outside its range");
    const std::int64_t shift = range.outputStart - range.startPts;
    const AVRational from = m_source->time_base;
    const AVRational to = m_out->time_base;
    const std::int64_t pts = av_rescale_q(sourcePts + shift, from, to);
    const std::int64_t nextSource = at + 1 != m_frames.end() ? *(at + 1) : range.endPts;
    const std::int64_t duration = av_rescale_q(nextSource + shift, from, to) - pts;

    // Decode time k is the (k - depth)-th smallest presentation time: never
    // after the picture's own, evenly spread, the same rule in every part.
    const int depth = m_cut.job.reorderDepth;
    if (m_written == 0)
        m_firstPts = pts;
    m_shown.push(pts);
    std::int64_t dts;
    if (m_written < depth) {
        dts = m_firstPts -
              (depth - m_written) *
                  std::max<std::int64_t>(av_rescale_q(m_cut.job.frameDuration, from, to), 1);
    } else {
        dts = m_shown.top();
        m_shown.pop();
    }
    if (dts <= m_lastDts || dts > pts || duration <= 0)
        return fail("the output's decode times cannot be made to increase");
    m_lastDts = dts;

    av_packet_unref(m_packet.get());
    if (av_new_packet(m_packet.get(), static_cast<int>(data.size())) < 0)
        return fail("out of memory");
    std::copy(data.begin(), data.end(), m_packet->data);
    m_packet->stream_index = m_out->index;
    m_packet->pts = pts;
    m_packet->dts = dts;
    m_packet->duration = duration;
    m_packet->flags = key ? AV_PKT_FLAG_KEY : 0;
    m_time = static_cast<double>(dts) * av_q2d(to);
    picture.displayRank = m_ranksBefore + (at - m_frames.begin());
    m_record.pictures.push_back(picture);
    ++m_written;
    m_pending = true;
    return true;
}

bool PictureProducer::emitEncoded(const EdgeResult &edge, std::size_t at)
{
    const EncodedPicture &encoded = edge.pictures[at];
    const ExactRange &range = m_cut.job.ranges[m_range];
    ExactRecord::Picture picture;
    picture.encoded = true;
    picture.checked = true;
    picture.startsPart = at == 0;
    picture.decoded = encoded.decoded;
    picture.psnr = encoded.psnr;
    Bytes data = encoded.data;
    if (m_codec) {
        const std::optional<std::vector<ByteView>> nals = splitNals(encoded.data, 0);
        NalRewrite rewrite;
        rewrite.codec = *m_codec;
        rewrite.outLengthSize = m_outLength;
        rewrite.dropParameterSets = m_dropSets;
        if (at == 0 && m_inBand)
            rewrite.prepend = m_encoderSets;
        std::optional<Bytes> rewritten = rewriteAccessUnit(encoded.data, rewrite);
        if (!nals || !rewritten)
            return fail("the encoder's output cannot be parsed");
        picture.coded = pictureDigest(*m_codec, *nals);
        data = std::move(*rewritten);
    } else {
        picture.coded = digestBytes(data.data(), data.size());
    }
    return emit(data, encoded.pts - (range.outputStart - range.startPts), encoded.key, picture);
}

bool PictureProducer::nextCopied()
{
    const ExactRange &range = m_cut.job.ranges[m_range];
    while (true) {
        if (m_at >= range.copyEnd)
            return false;
        const std::size_t index = m_at;
        const bool first = index == range.copyFirst;
        if (first && !m_cursor->seek(index))
            return fail(m_cursor->failure().empty() ? "the copy's first packet is not found"
                                                    : m_cursor->failure());
        const AVPacket *packet = m_cursor->next();
        if (!packet)
            return fail(m_cursor->failure().empty() ? "the source ends early"
                                                    : m_cursor->failure());
        ++m_at;
        if (index % 64 == 0 && m_cut.cancelled())
            return fail("cancelled");
        const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (pts < range.copyStartPts)
            continue; // a leading picture of the CRA the copy starts at
        ExactRecord::Picture picture;
        picture.checked = index < range.checkEnd;
        picture.startsPart = first;
        if (picture.checked) {
            const auto digest = m_sourceDigests.find(pts);
            if (digest == m_sourceDigests.end())
                return fail("the source's picture after the seam was not decoded");
            picture.decoded = digest->second;
        }
        Bytes data(packet->data, packet->data + std::max(packet->size, 0));
        if (m_codec) {
            const std::optional<std::vector<ByteView>> nals = splitNals(viewOf(packet), m_inLength);
            if (!nals)
                return fail("a copied packet cannot be parsed");
            NalRewrite rewrite;
            rewrite.codec = *m_codec;
            rewrite.inLengthSize = m_inLength;
            rewrite.outLengthSize = m_outLength;
            rewrite.dropParameterSets = m_dropSets;
            rewrite.craToBla = first && range.copyStartsAtCra;
            const bool carriesSets = std::any_of(nals->begin(), nals->end(), [&](ByteView nal) {
                return isParameterSet(*m_codec, nalType(*m_codec, nal));
            });
            if (first && m_inBand && !carriesSets)
                rewrite.prepend = m_sourceSets;
            std::optional<Bytes> rewritten = rewriteAccessUnit(viewOf(packet), rewrite);
            if (!rewritten)
                return fail("a copied packet cannot be rewritten");
            picture.coded = pictureDigest(*m_codec, *nals);
            data = std::move(*rewritten);
        } else {
            picture.coded = digestBytes(data.data(), data.size());
        }
        if (index % 64 == 0) {
            m_done += static_cast<std::int64_t>(64 * copyWeight + 0.5);
            report();
        }
        return emit(data, pts, packet->flags & AV_PKT_FLAG_KEY, picture);
    }
}

bool PictureProducer::ready()
{
    if (m_pending)
        return true;
    const ExactJob &job = m_cut.job;
    for (;;) {
        switch (m_phase) {
        case Phase::Start:
            if (m_range >= job.ranges.size()) {
                m_phase = Phase::Done;
                break;
            }
            if (!startRange())
                return false;
            m_phase = Phase::Head;
            m_at = 0;
            break;
        case Phase::Head:
            if (m_at < m_head.pictures.size())
                return emitEncoded(m_head, m_at++);
            m_phase = Phase::Copy;
            m_at = job.ranges[m_range].copyFirst;
            break;
        case Phase::Copy:
            if (nextCopied())
                return true;
            if (!failure().empty())
                return false;
            m_phase = Phase::Tail;
            m_at = 0;
            break;
        case Phase::Tail:
            if (m_at < m_tail.pictures.size())
                return emitEncoded(m_tail, m_at++);
            ++m_range;
            m_phase = Phase::Start;
            break;
        case Phase::Done:
            return false;
        }
    }
}

} // namespace

std::unique_ptr<PacketProducer> makePictureProducer(const CutContext &cut, ExactRecord &record,
                                                    std::function<void(double)> progress,
                                                    std::string &failure)
{
    return madeProducer<PictureProducer>(failure, cut, record, std::move(progress));
}

} // namespace trimora
