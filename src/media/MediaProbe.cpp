#include "media/MediaProbe.h"

#include "media/StreamInfo.h"

#include <QFile>
#include <QLoggingCategory>

extern "C" {
#include <libavutil/log.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <mutex>
#include <string_view>

namespace trimora {

namespace {

Q_LOGGING_CATEGORY(lcFFmpeg, "trimora.media.ffmpeg", QtWarningMsg)

// FFmpeg's own messages, warnings and worse, into the media room's log; the
// rest (an encoder's statistics) nowhere.
void logFFmpeg(void *context, int level, const char *format, va_list arguments)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line2(context, level, format, arguments, line, sizeof line, &prefix);
    std::string_view text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    if (!text.empty())
        qCWarning(lcFFmpeg).noquote() << QString::fromUtf8(text.data(), qsizetype(text.size()));
}

FormatContextPtr openFile(const std::string &path, bool probe)
{
    // Every use of FFmpeg here begins by opening a file.
    static std::once_flag routed;
    std::call_once(routed, [] { av_log_set_callback(logFFmpeg); });

    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return nullptr;
    AVFormatContext *raw = nullptr;
    // The file: prefix keeps any name from being read as another protocol.
    const std::string url = "file:" + path;
    if (avformat_open_input(&raw, url.c_str(), nullptr, nullptr) < 0)
        return nullptr; // avformat_open_input frees the context on failure
    FormatContextPtr ctx(raw);
    // Probing decodes a picture of each stream: a header that lists every
    // stream spares it.
    if ((probe || (ctx->ctx_flags & AVFMTCTX_NOHEADER)) &&
        avformat_find_stream_info(ctx.get(), nullptr) < 0)
        return nullptr;
    return ctx;
}

} // namespace

FormatContextPtr openMediaFile(const std::string &path)
{
    return openFile(path, true);
}

FormatContextPtr openMediaFileAgain(const std::string &path)
{
    return openFile(path, false);
}

std::optional<StreamDecoder> prepareDecoder(const std::string &path, AVMediaType type)
{
    StreamDecoder out;
    out.format = openMediaFile(path);
    if (!out.format)
        return std::nullopt;
    AVFormatContext *fmt = out.format.get();
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const bool picture = fmt->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC;
        if (out.streamIndex < 0 && !picture && fmt->streams[i]->codecpar->codec_type == type)
            out.streamIndex = static_cast<int>(i);
        else
            fmt->streams[i]->discard = AVDISCARD_ALL;
    }
    if (out.streamIndex < 0)
        return std::nullopt;
    const AVStream *stream = fmt->streams[out.streamIndex];
    out.decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!out.decoder)
        return std::nullopt;
    out.codec.reset(avcodec_alloc_context3(out.decoder));
    if (!out.codec || avcodec_parameters_to_context(out.codec.get(), stream->codecpar) < 0)
        return std::nullopt;
    out.codec->pkt_timebase = stream->time_base;
    out.startOffset = originOf(fmt);
    return out;
}

namespace {

// libavformat reads a lone picture (JPEG, PNG, ...) as a one-frame movie: its
// image readers are image2 and the *_pipe family. Animated formats are not
// among them.
bool isStillPicture(const AVInputFormat *format)
{
    const std::string_view name = format->name;
    return name == "image2" || (name.size() > 5 && name.substr(name.size() - 5) == "_pipe");
}

// Containers whose index takes a seek straight to the keyframe before any time.
bool seeksByIndex(const AVInputFormat *format)
{
    const std::string_view name = format->name;
    return name.substr(0, 4) == "mov," || name == "matroska,webm";
}

// The longest distance between keyframes of the video stream near the file's
// start, read from packet flags without decoding; the stretch after the last
// keyframe read counts too, so one keyframe alone gives the whole stretch.
double longestKeyframeDistance(AVFormatContext *ctx, int video)
{
    constexpr int enoughKeyframes = 4;
    constexpr double longestStretch = 30.0;
    constexpr int mostPackets = 20000;
    const double timeBase = av_q2d(ctx->streams[video]->time_base);
    std::optional<double> firstKey, lastKey;
    double longest = 0.0, latest = 0.0;
    int keyframes = 0, packets = 0;
    scanPackets(ctx, video, [&](const AVPacket &packet) {
        const int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        const bool key = packet.flags & AV_PKT_FLAG_KEY;
        const double t = static_cast<double>(ts) * timeBase;
        if (!firstKey) {
            if (!key)
                return ++packets < mostPackets;
            firstKey = lastKey = t;
        }
        latest = std::max(latest, t - *firstKey);
        if (key && t > *lastKey) {
            longest = std::max(longest, t - *lastKey);
            lastKey = t;
            ++keyframes;
        }
        return ++packets < mostPackets && keyframes < enoughKeyframes && latest <= longestStretch;
    });
    return firstKey ? std::max(longest, latest - (*lastKey - *firstKey)) : 0.0;
}

} // namespace

std::optional<MediaTiming> probeDuration(const QString &path)
{
    FormatContextPtr ctx = openMediaFile(QFile::encodeName(path).toStdString());
    if (!ctx || isStillPicture(ctx->iformat))
        return std::nullopt;
    int video = -1;
    bool hasMedia = false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *stream = ctx->streams[i];
        hasMedia = hasMedia || isMediaStream(stream);
        if (video < 0 && isMediaStream(stream) &&
            stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            video = static_cast<int>(i);
    }
    const std::optional<double> end = latestStreamEnd(ctx.get());
    if (!hasMedia || !end)
        return std::nullopt;
    MediaTiming timing;
    timing.origin = originOf(ctx.get());
    timing.duration = *end - timing.origin;
    if (!std::isfinite(timing.duration) || !std::isfinite(timing.origin) || timing.duration <= 0)
        return std::nullopt;
    if (video >= 0)
        timing.frameDuration = frameDurationOf(ctx->streams[video]);
    if (!seeksByIndex(ctx->iformat)) {
        // Beyond the distance, a margin for streams whose keyframes drift.
        const double distance = video >= 0 ? longestKeyframeDistance(ctx.get(), video) : 0.0;
        timing.seekPreroll = distance * 1.25 + 0.5;
    }
    return timing;
}

} // namespace trimora
