#include "media/OutputCheck.h"

#include "media/StreamInfo.h"

#include <algorithm>

namespace trimora {

namespace {

// Enough packets to reach the first picture of any sane file; a file that
// decodes nothing that far in is broken for a viewer as well.
constexpr int maxPacketsToDecode = 2000;

const char *kindWord(StreamKind kind)
{
    switch (kind) {
    case StreamKind::Video:
        return "video";
    case StreamKind::Audio:
        return "audio";
    case StreamKind::Subtitle:
        return "subtitle";
    case StreamKind::Data:
        return "data";
    case StreamKind::Attachment:
        return "attachment";
    case StreamKind::Unknown:
        break;
    }
    return "unknown";
}

bool receiveOne(AVCodecContext *codec, AVFrame *frame)
{
    const int result = avcodec_receive_frame(codec, frame);
    if (result < 0)
        return false;
    av_frame_unref(frame);
    return true;
}

bool decodesAFrame(const std::string &path, AVMediaType type)
{
    std::optional<StreamDecoder> dec = prepareDecoder(path, type);
    if (!dec)
        return false;
    dec->codec->thread_count = 1;
    if (avcodec_open2(dec->codec.get(), dec->decoder, nullptr) < 0)
        return false;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        return false;
    for (int read = 0; read < maxPacketsToDecode;) {
        if (av_read_frame(dec->format.get(), packet.get()) < 0)
            break;
        const bool ours = packet->stream_index == dec->streamIndex;
        const int sent = ours ? avcodec_send_packet(dec->codec.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (!ours)
            continue;
        ++read;
        if (sent < 0 && sent != AVERROR(EAGAIN))
            continue; // a damaged packet: later ones may still decode
        if (receiveOne(dec->codec.get(), frame.get()))
            return true;
    }
    if (avcodec_send_packet(dec->codec.get(), nullptr) < 0)
        return false;
    return receiveOne(dec->codec.get(), frame.get());
}

// Whether a codec written into the muxer's container reads back as the other:
// the container stores both under one tag.
bool readsBackAs(const AVOutputFormat *muxer, AVCodecID written, AVCodecID read)
{
    if (written == read)
        return true;
    if (!muxer || !muxer->codec_tag)
        return false;
    const unsigned tag = av_codec_get_tag(muxer->codec_tag, written);
    return tag != 0 && tag == av_codec_get_tag(muxer->codec_tag, read);
}

std::string lackedStream(const AVFormatContext *fmt, const std::string &path,
                         const std::vector<ExpectedStream> &expected)
{
    const AVOutputFormat *muxer = av_guess_format(nullptr, path.c_str(), nullptr);
    std::vector<bool> matched(fmt->nb_streams, false);
    for (const ExpectedStream &want : expected) {
        bool found = false;
        for (unsigned i = 0; i < fmt->nb_streams && !found; ++i) {
            const AVCodecParameters *par = fmt->streams[i]->codecpar;
            if (!matched[i] && kindOf(par->codec_type) == want.kind &&
                readsBackAs(muxer, static_cast<AVCodecID>(want.codecId), par->codec_id)) {
                matched[i] = true;
                found = true;
            }
        }
        if (!found)
            return std::string("the output lacks the ") + kindWord(want.kind) + " stream " +
                   std::to_string(want.sourceIndex) + " (" + want.codecName + ")";
    }
    return {};
}

} // namespace

OutputReport checkCutOutput(const std::string &path, const std::vector<ExpectedStream> &expected)
{
    OutputReport report;
    FormatContextPtr fmt = openMediaFile(path);
    if (!fmt) {
        report.failure = "the output cannot be read";
        return report;
    }
    if (const std::optional<double> end = latestStreamEnd(fmt.get()))
        report.length = std::max(0.0, *end - originOf(fmt.get()));

    bool hasVideo = false;
    bool hasAudio = false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream *stream = fmt->streams[i];
        hasVideo = hasVideo || isMovingPicture(stream);
        hasAudio = hasAudio || stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    }
    report.failure = lackedStream(fmt.get(), path, expected);
    fmt.reset();
    if (!report.failure.empty())
        return report;

    const auto expects = [&](StreamKind kind) {
        return std::any_of(expected.begin(), expected.end(),
                           [kind](const ExpectedStream &e) { return e.kind == kind; });
    };
    // Without expectations (the source could not be read) whatever moves counts.
    const bool wantVideo = expected.empty() ? hasVideo : expects(StreamKind::Video);
    const bool wantAudio = expected.empty() ? hasAudio : expects(StreamKind::Audio);
    if (wantVideo && !decodesAFrame(path, AVMEDIA_TYPE_VIDEO))
        report.failure = "the output holds no video frame";
    else if (!wantVideo && wantAudio && !decodesAFrame(path, AVMEDIA_TYPE_AUDIO))
        report.failure = "the output holds no audio frame";
    return report;
}

} // namespace trimora
