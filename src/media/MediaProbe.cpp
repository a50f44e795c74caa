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
