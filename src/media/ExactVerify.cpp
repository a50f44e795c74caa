#include "media/Bitstream.h"
#include "media/ExactCutter.h"
#include "media/StreamInfo.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <optional>

namespace trimora {

namespace {

constexpr double minimumPsnr = 40.0;

std::string at(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

// Whether every parameter set in the picture is one of the allowed: a copied
// picture decoded with another's sets shows garbage (for HEVC silently).
bool carriesOnly(NalCodec codec, const std::vector<ByteView> &nals,
                 const std::vector<Bytes> &allowed)
{
    const auto trimmed = [](ByteView nal) {
        while (!nal.empty() && nal.back() == 0)
            nal = nal.first(nal.size() - 1);
        return nal;
    };
    for (const ByteView nal : nals) {
        if (!isParameterSet(codec, nalType(codec, nal)))
            continue;
        const bool known = std::any_of(allowed.begin(), allowed.end(), [&](const Bytes &set) {
            const ByteView a = trimmed(set);
            const ByteView b = trimmed(nal);
            return std::equal(a.begin(), a.end(), b.begin(), b.end());
        });
        if (!known)
            return false;
    }
    return true;
}

struct Sound
{
    double start = INFINITY;
    double end = -INFINITY;
    double longest = 0.0; // the longest packet: one frame of this sound
    std::uint64_t digest = 0;
};

// The parameter sets of a stream's extradata, in any order.
std::optional<std::vector<Bytes>> setsOf(NalCodec codec, const AVCodecParameters *par)
{
    std::optional<ParameterSets> sets = parameterSetsOf(
        codec,
        ByteView(par->extradata, static_cast<std::size_t>(std::max(par->extradata_size, 0))));
    if (!sets)
        return std::nullopt;
    sortUnits(sets->nals);
    return sets->nals;
}

} // namespace

std::string verifyExactCut(const std::string &output, const ExactJob &job,
                           const ExactRecord &record, const std::function<bool(double)> &keepGoing)
{
    FormatContextPtr format = openMediaFile(output);
    if (!format)
        return "structure: the output cannot be read";
    std::vector<const AVStream *> streams;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        // A timecode track is written anew from the picture's tag.
        const AVStream *stream = format->streams[i];
        if (stream->discard != AVDISCARD_ALL &&
            stream->codecpar->codec_tag != MKTAG('t', 'm', 'c', 'd'))
            streams.push_back(stream);
    }
    const std::size_t expectedStreams = 1 + job.audio.size() + job.copiedStreams.size();
    if (streams.size() != expectedStreams)
        return "structure: the output holds " + std::to_string(streams.size()) +
               " streams instead of " + std::to_string(expectedStreams);
    const auto video = std::find_if(streams.begin(), streams.end(), isMovingPicture);
    if (video == streams.end())
        return "structure: the output holds no picture";
    const AVStream *picture = *video;
    const double base = av_q2d(picture->time_base);
    // Where the container keeps a timecode, it is the first frame's.
    const AVDictionaryEntry *timecode = av_dict_get(picture->metadata, "timecode", nullptr, 0);
    if (!job.timecode.empty() && timecode && job.timecode != timecode->value)
        return "structure: the output's timecode is " + std::string(timecode->value) +
               " instead of " + job.timecode;

    const std::optional<NalCodec> codec = nalCodecOf(picture->codecpar->codec_id);
    int lengthSize = 0;
    if (codec) {
        const std::optional<ParameterSets> sets = parameterSetsOf(
            *codec,
            ByteView(picture->codecpar->extradata,
                     static_cast<std::size_t>(std::max(picture->codecpar->extradata_size, 0))));
        if (!sets)
            return "structure: the output's parameter sets cannot be read";
        lengthSize = sets->lengthSize;
        // The check decoded the pictures with the sets the output was given;
        // MPEG-TS carries them in the pictures alone.
        if (job.muxer != "mpegts" && setsOf(*codec, picture->codecpar) != record.parameters)
            return "structure: the output's parameter sets are not the ones written";
    }

    const AVRational rate =
        picture->avg_frame_rate.num > 0 ? picture->avg_frame_rate : picture->r_frame_rate;
    const double nominalFrame = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.0;
    std::map<int, Sound> sounds;
    std::vector<std::int64_t> times;
    double pictureStart = INFINITY;
    double pictureEnd = -INFINITY;
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        return "out of memory";
    for (long read = 0; av_read_frame(format.get(), packet.get()) >= 0; ++read) {
        if (read % 256 == 0 && keepGoing && !keepGoing(0.0))
            return "cancelled";
        const AVStream *stream = format->streams[packet->stream_index];
        const double tb = av_q2d(stream->time_base);
        if (stream == picture) {
            const std::size_t index = times.size();
            if (index >= record.pictures.size())
                return "structure: the output holds more pictures than were written";
            if (packet->flags & AV_PKT_FLAG_DISCARD)
                return "structure: the picture at " + at(static_cast<double>(packet->pts) * base) +
                       " is hidden by an edit list";
            const ByteView data(packet->data, static_cast<std::size_t>(std::max(packet->size, 0)));
            std::uint64_t coded = 0;
            if (codec) {
                const std::optional<std::vector<ByteView>> nals = splitNals(data, lengthSize);
                coded = nals ? pictureDigest(*codec, *nals) : ~record.pictures[index].coded;
                const bool encoded = record.pictures[index].encoded;
                if (nals &&
                    !carriesOnly(*codec, *nals, encoded ? record.encoderSets : record.sourceSets))
                    return std::string("packets: the ") + (encoded ? "re-encoded" : "copied") +
                           " picture at " + at(static_cast<double>(packet->pts) * base) +
                           " carries parameter sets that are not its own";
            } else {
                coded = digestBytes(data.data(), data.size());
            }
            if (coded != record.pictures[index].coded)
                return std::string("packets: the ") +
                       (record.pictures[index].encoded ? "re-encoded" : "copied") + " picture at " +
                       at(static_cast<double>(packet->pts) * base) + " is not the one written";
            if (packet->pts == AV_NOPTS_VALUE)
                return "structure: a picture has no time";
            times.push_back(packet->pts);
            pictureStart = std::min(pictureStart, static_cast<double>(packet->pts) * base);
            // MP4 gives the last pictures no duration: the nominal one stands in.
            const double duration =
                packet->duration > 0 ? static_cast<double>(packet->duration) * base : nominalFrame;
            pictureEnd = std::max(pictureEnd, static_cast<double>(packet->pts) * base + duration);
        } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                   packet->pts != AV_NOPTS_VALUE) {
            Sound &sound = sounds[packet->stream_index];
            double start = static_cast<double>(packet->pts) * tb;
            std::size_t size = 0;
            const std::uint8_t *skip =
                av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (skip && size >= 4 && stream->codecpar->sample_rate > 0)
                start += static_cast<double>(AV_RL32(skip)) / stream->codecpar->sample_rate;
            sound.start = std::min(sound.start, start);
            sound.end =
                std::max(sound.end, static_cast<double>(packet->pts + packet->duration) * tb);
            sound.longest = std::max(sound.longest, static_cast<double>(packet->duration) * tb);
            sound.digest =
                digestBytes(packet->data, static_cast<std::size_t>(packet->size), sound.digest);
        }
        av_packet_unref(packet.get());
    }
    if (times.size() != record.pictures.size())
        return "structure: the output holds " + std::to_string(times.size()) + " pictures of the " +
               std::to_string(record.pictures.size()) + " written";

    std::vector<std::size_t> byTime(times.size());
    std::iota(byTime.begin(), byTime.end(), std::size_t{0});
    std::stable_sort(byTime.begin(), byTime.end(),
                     [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
    for (std::size_t rank = 0; rank < byTime.size(); ++rank) {
        if (rank > 0 && times[byTime[rank]] == times[byTime[rank - 1]])
            return "structure: two pictures share the time " +
                   at(static_cast<double>(times[byTime[rank]]) * base);
        if (record.pictures[byTime[rank]].displayRank != static_cast<std::int64_t>(rank))
            return "structure: the pictures are out of order at " +
                   at(static_cast<double>(times[byTime[rank]]) * base);
    }
    if (sounds.size() != job.audio.size())
        return "structure: a sound track holds no sound";
    // The output's sound tracks come in the order of the source's. MPEG-TS
    // frames sound its own way (ADTS headers, packets merged), which muxers
    // change, so its packets are not the ones written.
    const bool verbatim = job.muxer != "mpegts" && job.source->demuxer != "mpegts";
    auto written = record.sounds.begin();
    for (const auto &[index, sound] : sounds) {
        if (verbatim && (written == record.sounds.end() || sound.digest != (written++)->second))
            return "packets: the sound of stream " + std::to_string(index) +
                   " is not the one written";
        const double tolerance = sound.longest + 0.001;
        const std::string which = "sound: the sound of stream " + std::to_string(index);
        if (std::abs(sound.start - pictureStart) > tolerance)
            return which + " starts " + at(pictureStart - sound.start) + " before the picture";
        if (std::abs(sound.end - pictureEnd) > tolerance)
            return which + " ends " + at(sound.end - pictureEnd) + " after the picture";
    }
    for (const ExactRecord::Picture &p : record.pictures) {
        if (p.encoded && p.psnr < minimumPsnr)
            return "quality: a re-encoded picture reaches only " +
                   std::to_string(p.psnr).substr(0, 5) + " dB against the source's (" +
                   std::to_string(static_cast<int>(minimumPsnr)) + " dB needed)";
    }
    return {};
}

} // namespace trimora
