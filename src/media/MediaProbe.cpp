#include "media/MediaProbe.h"

#include "media/FFmpegPtr.h"

#include <QFile>

#include <sys/stat.h>

#include <cmath>

FormatContextPtr openMediaFile(const std::string &path)
{
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
    if (avformat_find_stream_info(ctx.get(), nullptr) < 0)
        return nullptr;
    return ctx;
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
    if (fmt->start_time != AV_NOPTS_VALUE)
        out.startOffset = static_cast<double>(fmt->start_time) / AV_TIME_BASE;
    return out;
}

std::optional<double> probeDuration(const QString &path)
{
    FormatContextPtr ctx = openMediaFile(QFile::encodeName(path).toStdString());
    if (!ctx)
        return std::nullopt;
    bool hasMedia = false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVMediaType type = ctx->streams[i]->codecpar->codec_type;
        hasMedia = hasMedia || type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
    }
    if (!hasMedia || ctx->duration == AV_NOPTS_VALUE || ctx->duration <= 0)
        return std::nullopt;
    const double seconds = static_cast<double>(ctx->duration) / AV_TIME_BASE;
    if (!std::isfinite(seconds))
        return std::nullopt;
    return seconds;
}
