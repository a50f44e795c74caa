#include "media/ExactCutter.h"

#include "media/ExactProducer.h"

#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace trimora {

namespace {

Q_LOGGING_CATEGORY(lcExact, "trimora.media.exact")

// The share of the progress bar the writing takes; the check has the rest.
constexpr double writingShare = 0.95;

// The source's chapters that overlap each range, moved to where the range
// lies in the output and cut to it.
bool copyChapters(const AVFormatContext *input, AVFormatContext *output, const ExactJob &job,
                  double tick)
{
    // Ranges outside, so that the chapters come in the output's time order.
    for (const ExactRange &range : job.ranges) {
        const double start = static_cast<double>(range.startPts) * tick;
        const double end = static_cast<double>(range.endPts) * tick;
        const double shift = static_cast<double>(range.outputStart) * tick - start;
        for (unsigned c = 0; c < input->nb_chapters; ++c) {
            const AVChapter *chapter = input->chapters[c];
            const double base = av_q2d(chapter->time_base);
            const double shownFrom = std::max(static_cast<double>(chapter->start) * base, start);
            const double shownUntil = std::min(static_cast<double>(chapter->end) * base, end);
            if (base <= 0 || shownUntil <= shownFrom)
                continue;
            auto *copy = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
            if (!copy)
                return false;
            copy->id = static_cast<std::int64_t>(output->nb_chapters) + 1;
            copy->time_base = chapter->time_base;
            copy->start = std::llround((shownFrom + shift) / base);
            copy->end = std::llround((shownUntil + shift) / base);
            auto **grown = static_cast<AVChapter **>(
                av_realloc_array(output->chapters, output->nb_chapters + 1, sizeof(AVChapter *)));
            if (grown)
                output->chapters = grown;
            if (!grown || av_dict_copy(&copy->metadata, chapter->metadata, 0) < 0) {
                av_dict_free(&copy->metadata);
                av_free(copy);
                return false;
            }
            output->chapters[output->nb_chapters++] = copy;
        }
    }
    return true;
}

// The timecode tags, wherever the source has them, moved on to the output's
// first frame.
bool moveTimecode(AVFormatContext *output, const std::string &timecode)
{
    if (timecode.empty())
        return true;
    const auto move = [&](AVDictionary **tags) {
        return !av_dict_get(*tags, "timecode", nullptr, 0) ||
               av_dict_set(tags, "timecode", timecode.c_str(), 0) >= 0;
    };
    for (unsigned i = 0; i < output->nb_streams; ++i) {
        if (!move(&output->streams[i]->metadata))
            return false;
    }
    return move(&output->metadata);
}

} // namespace

ExactOutcome runExactCut(const ExactJob &job, const std::string &source, const std::string &output,
                         const std::function<void(double)> &progress,
                         const std::function<bool()> &cancelled)
{
    ExactOutcome outcome;
    // The producers, which may write the record from threads of their own:
    // stopped before the outcome is handed back.
    std::vector<std::unique_ptr<PacketProducer>> *working = nullptr;
    const auto failed = [&](std::string why) { // may be a producer's own text
        if (working)
            working->clear();
        outcome.cancelled = why == "cancelled";
        outcome.failure = why;
        if (!outcome.cancelled)
            qCWarning(lcExact) << "exact cut of" << source.c_str() << "failed:" << why.c_str();
        return outcome;
    };
    const auto report = [&](double done) {
        if (progress)
            progress(std::clamp(done, 0.0, 1.0));
    };
    // The picture's producer says how far it is, the writing tells.
    std::atomic<double> pictureDone{0.0};
    double told = -1.0;
    const auto tell = [&] {
        const double done = pictureDone.load();
        if (done - told >= 0.005) {
            told = done;
            report(done * writingShare);
        }
    };
    if (!job.source || !job.source->video || job.ranges.empty())
        return failed("nothing to cut");
    FormatContextPtr input = openMediaFile(source);
    if (!input)
        return failed("the source cannot be opened");
    const std::string url = "file:" + output;
    AVFormatContext *raw = nullptr;
    const int allocated =
        avformat_alloc_output_context2(&raw, nullptr, job.muxer.c_str(), url.c_str());
    MuxerPtr muxer(raw);
    if (allocated < 0 || !muxer)
        return failed("the output format " + job.muxer + " is not available");

    const CutContext cut{job, source, input.get(), muxer.get(), cancelled};
    // The output's streams in the source's order.
    std::vector<int> order{job.videoStream};
    for (const ExactAudioJob &audio : job.audio)
        order.push_back(audio.sourceIndex);
    order.insert(order.end(), job.copiedStreams.begin(), job.copiedStreams.end());
    std::sort(order.begin(), order.end());
    std::vector<std::unique_ptr<PacketProducer>> producers;
    working = &producers;
    for (const int index : order) {
        std::string failure;
        std::unique_ptr<PacketProducer> producer;
        const auto audio =
            std::find_if(job.audio.begin(), job.audio.end(),
                         [&](const ExactAudioJob &a) { return a.sourceIndex == index; });
        if (index == job.videoStream)
            producer = makePictureProducer(
                cut, outcome.record, [&](double done) { pictureDone = done; }, failure);
        else if (audio != job.audio.end())
            producer = makeAhead(
                makeSoundProducer(cut, *audio, outcome.record.sounds[index], failure), tell);
        else
            producer = makeCopyProducer(cut, index, failure);
        if (!producer)
            return failed(failure);
        producers.push_back(std::move(producer));
    }
    if (av_dict_copy(&muxer->metadata, input->metadata, 0) < 0 ||
        !copyChapters(input.get(), muxer.get(), job, cut.tick()) ||
        !moveTimecode(muxer.get(), job.timecode))
        return failed("out of memory");
    if (!(muxer->oformat->flags & AVFMT_NOFILE)) {
        if (const int opened = avio_open(&muxer->pb, url.c_str(), AVIO_FLAG_WRITE); opened < 0)
            return failed("the output cannot be created: " + avErrorString(opened));
    }
    if (const int header = avformat_write_header(muxer.get(), nullptr); header < 0)
        return failed("the output's header cannot be written: " + avErrorString(header));
    for (const std::unique_ptr<PacketProducer> &producer : producers)
        producer->begin();

    for (;;) {
        if (cancelled())
            return failed("cancelled");
        PacketProducer *due = nullptr;
        for (const std::unique_ptr<PacketProducer> &producer : producers) {
            if (producer->ready()) {
                if (!due || producer->time() < due->time())
                    due = producer.get();
            } else if (!producer->failure().empty()) {
                return failed(producer->failure());
            }
        }
        if (!due)
            break;
        const int written = av_interleaved_write_frame(muxer.get(), due->packet());
        due->consumed();
        tell();
        if (written < 0)
            return failed("the output cannot be written: " + avErrorString(written));
    }
    if (const int trailer = av_write_trailer(muxer.get()); trailer < 0)
        return failed("the output cannot be finished: " + avErrorString(trailer));
    for (const std::unique_ptr<PacketProducer> &producer : producers) {
        if (std::string failure = producer->finish(); !failure.empty())
            return failed(failure);
    }
    producers.clear();
    muxer.reset();
    report(writingShare);

    const std::string check = verifyExactCut(output, job, outcome.record, [&](double done) {
        report(writingShare + (1.0 - writingShare) * done);
        return !cancelled();
    });
    if (!check.empty())
        return failed(check);
    double sum = 0.0;
    for (const ExactRecord::Picture &picture : outcome.record.pictures) {
        if (!picture.encoded)
            continue;
        outcome.lowestPsnr =
            outcome.framesEncoded == 0 ? picture.psnr : std::min(outcome.lowestPsnr, picture.psnr);
        sum += picture.psnr;
        ++outcome.framesEncoded;
    }
    outcome.meanPsnr =
        outcome.framesEncoded > 0 ? sum / static_cast<double>(outcome.framesEncoded) : 0.0;
    outcome.framesWritten = static_cast<std::int64_t>(outcome.record.pictures.size());
    report(1.0);
    return outcome;
}

} // namespace trimora
