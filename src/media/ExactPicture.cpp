#include "media/Bitstream.h"
#include "media/ExactEdges.h"
#include "media/ExactProducer.h"
#include "media/PictureCheck.h"
#include "media/SourceCursor.h"
#include "media/StreamInfo.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <queue>
#include <thread>
#include <utility>

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
// every picture written for the check. The heads are made on the writing
// thread; beside it, one thread decodes the source's pictures after each seam
// and makes the tails, and the check decodes what is written as it is written.
class PictureProducer final : public PacketProducer
{
public:
    PictureProducer(const CutContext &cut, ExactRecord &record,
                    std::function<void(double)> progress)
        : m_cut(cut), m_record(record), m_progress(std::move(progress))
    {}
    ~PictureProducer() override { m_stop = true; }
    std::string init();
    bool ready() override;
    std::string finish() override;

private:
    enum class Phase { Start, Head, Copy, Tail, Done };
    // What the thread beside the writing makes of one range.
    struct Beside
    {
        EdgeResult tail;
        int tailRun = -1; // the check's run of the tail
        bool tailDone = false;
        std::map<std::int64_t, std::uint64_t> reference; // the source's pictures after the seam
        bool compared = false; // against the reference: the copy's start was rewritten
        // The copied pictures after the seam as the check was given them:
        // their run, and each one's coded digest by source time.
        int copyRun = -1;
        std::map<std::int64_t, std::uint64_t> fed;
        bool done = false;
    };
    // A copied packet as the output holds it.
    struct Framed
    {
        std::uint64_t coded = 0; // digest of the coded picture
        std::string failure;
    };
    // A picture the check decodes, and what it must decode to.
    struct Checked
    {
        std::size_t picture = 0; // in the record
        PictureCheck::Key key;
        std::size_t range = 0;
        std::int64_t sourcePts = 0;
    };

    std::string chooseFraming();
    std::optional<Bytes> frameEncoded(const Bytes &encoded, bool first) const;
    Framed frameCopied(const AVPacket &packet, bool first, const ExactRange &range,
                       AVPacket *out) const;
    std::string feed(SourceCursor &cursor, const ExactRange &range, int run,
                     std::map<std::int64_t, std::uint64_t> &fed) const;
    void workBeside();
    bool startRange();
    bool emit(std::int64_t sourcePts, bool key, ExactRecord::Picture picture);
    bool emitEncoded(const EdgeResult &edge, int run, std::size_t at);
    bool nextCopied();
    bool failWith(const std::string &why);
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
    // Nothing is re-encoded and the copies are written as read, with the
    // source's parameters: they decode as the source's own packets do.
    bool m_asRead = false;
    std::vector<Bytes> m_sourceSets;
    std::vector<Bytes> m_encoderSets;
    Bytes m_encoderExtradata;
    std::unique_ptr<SourceCursor> m_cursor;

    std::size_t m_range = 0;
    Phase m_phase = Phase::Start;
    EdgeResult m_head;
    int m_headRun = -1;
    std::size_t m_at = 0;
    std::vector<std::int64_t> m_frames; // the range's frames by time
    std::int64_t m_ranksBefore = 0;
    std::vector<Checked> m_checked;

    std::priority_queue<std::int64_t, std::vector<std::int64_t>, std::greater<>> m_shown;
    std::int64_t m_written = 0;
    std::int64_t m_firstPts = 0;
    std::int64_t m_lastDts = INT64_MIN;

    double m_work = 1.0;
    std::atomic<std::int64_t> m_done{0};
    double m_lastReport = -1.0;

    std::unique_ptr<PictureCheck> m_check;
    std::vector<Beside> m_beside;
    std::string m_besideFailure;
    std::mutex m_besideMutex;
    std::condition_variable m_besideChanged;
    std::atomic<bool> m_stop{false};
    std::jthread m_besideThread; // last: stopped and joined before the rest goes
};

std::string PictureProducer::chooseFraming()
{
    const ExactJob &job = m_cut.job;
    const bool transport = job.muxer == "mpegts";
    const ByteView sourceExtra(
        m_source->codecpar->extradata,
        static_cast<std::size_t>(std::max(m_source->codecpar->extradata_size, 0)));
    Bytes extradata(sourceExtra.begin(), sourceExtra.end());
    m_asRead = !job.encodes();
    if (!m_codec)
        return {}; // VP9 and the others: the copied parameters stand
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
    if (m_asRead && !transport && m_inLength > 0 && !sets->nals.empty()) {
        // Every part decodes with the sets of the source's record.
        m_outLength = m_inLength;
    } else if (transport || hevc) {
        m_asRead = false;
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
        m_asRead = false;
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

    m_out = m_cut.copyOf(m_source);
    if (!m_out)
        return "the output's picture stream cannot be made";
    m_out->time_base = m_source->time_base;
    m_out->avg_frame_rate = m_source->avg_frame_rate;
    m_out->r_frame_rate = m_source->r_frame_rate;
    m_out->sample_aspect_ratio = m_source->sample_aspect_ratio;
    if (std::string framing = chooseFraming(); !framing.empty())
        return framing;
    m_record.sourceSets = m_sourceSets;
    m_record.encoderSets = m_encoderSets;
    if (m_codec) {
        const AVCodecParameters *par = m_out->codecpar;
        std::optional<ParameterSets> given = parameterSetsOf(
            *m_codec,
            ByteView(par->extradata, static_cast<std::size_t>(std::max(par->extradata_size, 0))));
        if (!given)
            return "the output's parameter sets cannot be read";
        sortUnits(given->nals);
        m_record.parameters = std::move(given->nals);
    }

    m_work = 0.0;
    for (const ExactRange &range : job.ranges) {
        m_work += static_cast<double>(range.headTo - range.headFrom) +
                  static_cast<double>(range.checkEnd - range.copyFirst) +
                  static_cast<double>(range.tailTo - range.tailFrom) +
                  copyWeight * static_cast<double>(range.copyEnd - range.copyFirst);
    }
    m_work = std::max(m_work, 1.0);
    m_check = std::make_unique<PictureCheck>(m_out->codecpar, m_source->time_base, m_cut.cancelled);
    m_beside.resize(job.ranges.size());
    m_besideThread = std::jthread([this] { workBeside(); });
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

std::optional<Bytes> PictureProducer::frameEncoded(const Bytes &encoded, bool first) const
{
    if (!m_codec)
        return encoded;
    NalRewrite rewrite;
    rewrite.codec = *m_codec;
    rewrite.outLengthSize = m_outLength;
    rewrite.dropParameterSets = m_dropSets;
    if (first && m_inBand)
        rewrite.prepend = m_encoderSets;
    return rewriteAccessUnit(encoded, rewrite);
}

PictureProducer::Framed PictureProducer::frameCopied(const AVPacket &packet, bool first,
                                                     const ExactRange &range, AVPacket *out) const
{
    Framed framed;
    const ByteView data = viewOf(&packet);
    if (!m_codec) {
        framed.coded = digestBytes(data.data(), data.size());
    } else {
        const std::optional<std::vector<ByteView>> nals = splitNals(data, m_inLength);
        if (!nals) {
            framed.failure = "a copied packet cannot be parsed";
            return framed;
        }
        framed.coded = pictureDigest(*m_codec, *nals);
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
        if (m_inLength != m_outLength || rewrite.craToBla || !rewrite.prepend.empty() ||
            (m_dropSets && carriesSets)) {
            const std::optional<Bytes> rewritten = rewriteAccessUnit(data, rewrite);
            if (!rewritten)
                framed.failure = "a copied packet cannot be rewritten";
            else if (av_new_packet(out, static_cast<int>(rewritten->size())) < 0)
                framed.failure = "out of memory";
            else
                std::copy(rewritten->begin(), rewritten->end(), out->data);
            return framed;
        }
    }
    // What needs no rewriting is handed on as it was read.
    if (av_packet_ref(out, &packet) < 0)
        framed.failure = "out of memory";
    return framed;
}

// Gives the check the copied pictures after the range's seam, framed as the
// writing frames them, from a reader of its own (cursor): the check need not
// wait for the writing to get there.
std::string PictureProducer::feed(SourceCursor &cursor, const ExactRange &range, int run,
                                  std::map<std::int64_t, std::uint64_t> &fed) const
{
    PacketPtr out(av_packet_alloc());
    if (!out)
        return "out of memory";
    if (!cursor.seek(range.copyFirst))
        return cursor.failure().empty() ? "the copy's first packet is not found" : cursor.failure();
    const std::int64_t shift = range.outputStart - range.startPts;
    for (std::size_t i = range.copyFirst; i < range.checkEnd; ++i) {
        if (m_stop || m_cut.cancelled())
            return "cancelled";
        const AVPacket *packet = cursor.next();
        if (!packet)
            return cursor.failure().empty() ? "the source ends early" : cursor.failure();
        const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (pts < range.copyStartPts)
            continue;
        av_packet_unref(out.get());
        const Framed framed = frameCopied(*packet, i == range.copyFirst, range, out.get());
        if (!framed.failure.empty())
            return framed.failure;
        fed[pts] = framed.coded;
        // The check counts in the source's ticks, as the edges do.
        out->pts = out->dts = pts + shift;
        if (!m_check->picture(run, *out))
            return checkStopped;
    }
    return m_check->endRun(run) ? std::string() : checkStopped;
}

// Beside the writing, per range in order: the copied pictures after the seam
// go to the check from a thread of their own, the tail is made (the writing
// waits for it), and the source's pictures after the seam are decoded for the
// check to compare with.
void PictureProducer::workBeside()
{
    const ExactJob &job = m_cut.job;
    const std::vector<ExactPacket> &packets = job.source->video->packets;
    const auto step = [&] {
        ++m_done;
        return !m_stop && !m_cut.cancelled();
    };
    const auto failed = [&](const std::string &failure) {
        std::lock_guard lock(m_besideMutex);
        if (m_besideFailure.empty() && !failure.empty())
            m_besideFailure = failure;
        m_besideChanged.notify_all();
        return !m_besideFailure.empty();
    };
    // One reader for every range's feed: opening the source costs more than
    // reading a range's first pictures.
    std::unique_ptr<SourceCursor> feedCursor;
    for (std::size_t r = 0; r < job.ranges.size(); ++r) {
        const ExactRange &range = job.ranges[r];
        std::map<std::int64_t, std::uint64_t> fed;
        std::string fedFailure;
        int copyRun = -1;
        std::jthread feeder;
        if (range.checkEnd > range.copyFirst) {
            if (!feedCursor)
                feedCursor = SourceCursor::open(m_cut.source, job.videoStream, packets);
            if (!feedCursor) {
                failed("the source's picture cannot be read");
                return;
            }
            copyRun = m_check->beginRun();
            feeder = std::jthread([&, cursor = feedCursor.get()] {
                fedFailure = feed(*cursor, range, copyRun, fed);
            });
        }

        EdgeWork tail;
        tail.from = range.tailFrom;
        tail.to = range.tailTo;
        tail.encodeFrom = range.copyEndPts;
        tail.encodeTo = range.endPts;
        tail.shift = range.outputStart - range.startPts;
        tail.threads = 1;
        EdgeResult made;
        int tailRun = -1;
        if (range.hasTail()) {
            EdgeOutput output;
            output.frame = [this](const Bytes &e, bool first) { return frameEncoded(e, first); };
            output.check = m_check.get();
            output.run = tailRun = m_check->beginRun();
            made = encodeEdge(m_cut.source, m_source, job, tail, m_encoderExtradata, &output, step);
        }
        if (failed(made.failure))
            return;
        {
            std::lock_guard lock(m_besideMutex);
            m_beside[r].tail = std::move(made);
            m_beside[r].tailRun = tailRun;
            m_beside[r].tailDone = true;
            m_besideChanged.notify_all();
        }

        EdgeWork reference;
        reference.from = range.copyFirst;
        reference.to = range.checkEnd;
        reference.threads = 1;
        for (std::size_t i = range.copyFirst; i < range.checkEnd; ++i) {
            if (packets[i].pts >= range.copyStartPts)
                reference.digested.insert(packets[i].pts);
        }
        // Pictures written as read decode as in the source: the check need
        // only find them decoding without error.
        const bool compared = !m_asRead || range.copyStartsAtCra;
        EdgeResult seen;
        if (compared && reference.to > reference.from)
            seen = encodeEdge(m_cut.source, m_source, job, reference, m_encoderExtradata, nullptr,
                              step);
        if (feeder.joinable())
            feeder.join();
        if (failed(seen.failure) || failed(fedFailure))
            return;
        std::lock_guard lock(m_besideMutex);
        m_beside[r].reference = std::move(seen.sourceDigests);
        m_beside[r].compared = compared;
        m_beside[r].copyRun = copyRun;
        m_beside[r].fed = std::move(fed);
        m_beside[r].done = true;
    }
}

// Fails, telling why the check stopped when that is what stopped the work.
bool PictureProducer::failWith(const std::string &why)
{
    if (why == checkStopped && m_check) {
        const std::string reason = m_check->finish();
        return fail(reason.empty() ? why : reason);
    }
    return fail(why);
}

bool PictureProducer::startRange()
{
    const ExactJob &job = m_cut.job;
    const ExactRange &range = job.ranges[m_range];
    const std::vector<ExactPacket> &packets = job.source->video->packets;
    if (m_range > 0)
        m_ranksBefore += job.ranges[m_range - 1].frames;
    m_frames.clear();
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const ExactPacket &p = packets[i];
        // A copy shows what it holds, even what the source hides (a join's
        // lead-in before the movie's start).
        const bool copied =
            i >= range.copyFirst && i < range.copyEnd && p.pts >= range.copyStartPts;
        if ((copied || !p.hidden) && p.pts >= range.startPts && p.pts < range.endPts)
            m_frames.push_back(p.pts);
    }
    std::sort(m_frames.begin(), m_frames.end());
    if (static_cast<std::int64_t>(m_frames.size()) != range.frames)
        return fail("the range's frames differ from the plan's");

    EdgeWork head;
    head.from = range.headFrom;
    head.to = range.headTo;
    head.encodeFrom = range.startPts;
    head.encodeTo = range.headEndPts();
    head.shift = range.outputStart - range.startPts;
    m_head = {};
    m_headRun = -1;
    if (head.to > head.from) {
        EdgeOutput output;
        output.frame = [this](const Bytes &e, bool first) { return frameEncoded(e, first); };
        output.check = m_check.get();
        output.run = m_headRun = m_check->beginRun();
        m_head = encodeEdge(m_cut.source, m_source, job, head, m_encoderExtradata, &output, [&] {
            ++m_done;
            report();
            return !m_cut.cancelled();
        });
        if (!m_head.failure.empty())
            return failWith(m_head.failure);
    }
    return true;
}

bool PictureProducer::emit(std::int64_t sourcePts, bool key, ExactRecord::Picture picture)
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

    m_packet->stream_index = m_out->index;
    m_packet->pts = pts;
    m_packet->dts = dts;
    m_packet->duration = duration;
    m_packet->flags = key ? AV_PKT_FLAG_KEY : 0;
    m_packet->pos = -1;
    m_time = static_cast<double>(dts) * av_q2d(to);
    picture.displayRank = m_ranksBefore + (at - m_frames.begin());
    m_record.pictures.push_back(picture);
    ++m_written;
    m_pending = true;
    return true;
}

bool PictureProducer::emitEncoded(const EdgeResult &edge, int run, std::size_t at)
{
    const EncodedPicture &encoded = edge.pictures[at];
    const ExactRange &range = m_cut.job.ranges[m_range];
    ExactRecord::Picture picture;
    picture.encoded = true;
    picture.checked = true;
    picture.startsPart = at == 0;
    if (m_codec) {
        const std::optional<std::vector<ByteView>> nals = splitNals(encoded.data, m_outLength);
        if (!nals)
            return fail("the encoder's output cannot be parsed");
        picture.coded = pictureDigest(*m_codec, *nals);
    } else {
        picture.coded = digestBytes(encoded.data.data(), encoded.data.size());
    }
    av_packet_unref(m_packet.get());
    if (av_new_packet(m_packet.get(), static_cast<int>(encoded.data.size())) < 0)
        return fail("out of memory");
    std::copy(encoded.data.begin(), encoded.data.end(), m_packet->data);
    m_checked.push_back({m_record.pictures.size(), {run, encoded.pts}, m_range, 0});
    return emit(encoded.pts - (range.outputStart - range.startPts), encoded.key, picture);
}

bool PictureProducer::nextCopied()
{
    const ExactRange &range = m_cut.job.ranges[m_range];
    const std::int64_t shift = range.outputStart - range.startPts;
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
            continue; // a leading picture of the keyframe the copy starts at
        av_packet_unref(m_packet.get());
        const Framed framed = frameCopied(*packet, first, range, m_packet.get());
        if (!framed.failure.empty())
            return fail(framed.failure);
        ExactRecord::Picture picture;
        picture.coded = framed.coded;
        picture.checked = index < range.checkEnd;
        picture.startsPart = first;
        if (picture.checked)
            m_checked.push_back({m_record.pictures.size(), {-1, pts + shift}, m_range, pts});
        if (index % 64 == 0) {
            m_done += static_cast<std::int64_t>(64 * copyWeight + 0.5);
            report();
        }
        return emit(pts, packet->flags & AV_PKT_FLAG_KEY, picture);
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
                return emitEncoded(m_head, m_headRun, m_at++);
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
        case Phase::Tail: {
            if (!job.ranges[m_range].hasTail()) {
                ++m_range;
                m_phase = Phase::Start;
                break;
            }
            std::unique_lock lock(m_besideMutex);
            m_besideChanged.wait(
                lock, [&] { return m_beside[m_range].tailDone || !m_besideFailure.empty(); });
            if (!m_besideFailure.empty())
                return failWith(m_besideFailure);
            const EdgeResult &tail = m_beside[m_range].tail;
            if (m_at < tail.pictures.size()) {
                lock.unlock();
                return emitEncoded(tail, m_beside[m_range].tailRun, m_at++);
            }
            ++m_range;
            m_phase = Phase::Start;
            break;
        }
        case Phase::Done:
            return false;
        }
    }
}

std::string PictureProducer::finish()
{
    if (m_besideThread.joinable())
        m_besideThread.join();
    if (!m_besideFailure.empty())
        return m_besideFailure == checkStopped ? m_check->finish() : m_besideFailure;
    if (std::string failure = m_check->finish(); !failure.empty())
        return failure;
    const double tick = m_cut.tick();
    const auto time = [&](std::int64_t pts) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(pts) * tick);
        return std::string(text);
    };
    for (const Checked &checked : m_checked) {
        ExactRecord::Picture &picture = m_record.pictures[checked.picture];
        const Beside &beside = m_beside[checked.range];
        PictureCheck::Key key = checked.key;
        if (!picture.encoded) {
            // Given to the check by a reader of its own: the very picture written?
            const auto fed = beside.fed.find(checked.sourcePts);
            if (fed == beside.fed.end() || fed->second != picture.coded)
                return "decoding: the copied picture at " + time(key.second) +
                       " is not the one the check decoded";
            key.first = beside.copyRun;
        }
        const auto decoded = m_check->decoded().find(key);
        if (decoded == m_check->decoded().end())
            return "decoding: the picture at " + time(key.second) +
                   " did not come out of the decoder";
        picture.decoded = decoded->second.digest;
        if (picture.encoded) {
            if (!decoded->second.psnr)
                return "decoding: the re-encoded picture at " + time(key.second) +
                       " was not measured";
            picture.psnr = *decoded->second.psnr;
            continue;
        }
        if (!beside.compared)
            continue;
        const auto source = beside.reference.find(checked.sourcePts);
        if (source == beside.reference.end())
            return "the source's picture after the seam was not decoded";
        if (source->second != picture.decoded)
            return "decoding: the copied picture at " + time(key.second) +
                   " differs from the source's";
    }
    return {};
}

} // namespace

std::unique_ptr<PacketProducer> makePictureProducer(const CutContext &cut, ExactRecord &record,
                                                    std::function<void(double)> progress,
                                                    std::string &failure)
{
    return madeProducer<PictureProducer>(failure, cut, record, std::move(progress));
}

} // namespace trimora
