#include "media/OutputContainer.h"

#include "media/FFmpegPtr.h"

#include <algorithm>
#include <cctype>

namespace trimora {

namespace {

std::string extensionOf(const std::string &fileName)
{
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot + 1 == fileName.size())
        return {};
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool isOneOf(const std::string &value, std::initializer_list<const char *> names)
{
    return std::any_of(names.begin(), names.end(), [&](const char *name) { return value == name; });
}

// The stream types FFmpeg's MPEG-TS muxer knows (libavformat/mpegtsenc.c).
bool transportStreamCarries(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_CAVS:
    case AV_CODEC_ID_DIRAC:
    case AV_CODEC_ID_VC1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_AAC_LATM:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_DTS:
    case AV_CODEC_ID_TRUEHD:
    case AV_CODEC_ID_OPUS:
    case AV_CODEC_ID_S302M:
    case AV_CODEC_ID_DVB_SUBTITLE:
    case AV_CODEC_ID_DVB_TELETEXT:
    case AV_CODEC_ID_SMPTE_KLV:
    case AV_CODEC_ID_TIMED_ID3:
        return true;
    default:
        return false;
    }
}

} // namespace

OutputContainer outputContainerFor(const std::string &fileName)
{
    OutputContainer container;
    const std::string extension = extensionOf(fileName);
    const AVOutputFormat *format = av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (format)
        container.muxer = format->name;
    if (isOneOf(extension, {"ts", "m2ts", "mts", "m2t"}))
        container.label = "MPEG-TS";
    else if (extension == "webm")
        container.label = "WebM";
    else if (!extension.empty())
        container.label = upper(extension);
    else
        container.label = upper(container.muxer);
    container.startsBetweenKeyframes =
        isOneOf(container.muxer, {"mp4", "mov", "ipod", "3gp", "3g2", "psp", "ismv", "f4v"});
    return container;
}

bool containerCanHold(const OutputContainer &container, const SourceStream &stream)
{
    if (container.muxer.empty())
        return true; // the tool will say what it makes of the name
    const auto id = static_cast<AVCodecID>(stream.codecId);
    // Matroska keeps fonts and cover pictures as attachments, whatever the
    // codec table says about tracks.
    if (stream.kind == StreamKind::Attachment || stream.attachedPicture) {
        if (container.muxer == "matroska")
            return true;
        if (stream.kind == StreamKind::Attachment)
            return false;
    }
    if (container.muxer == "mpegts")
        return transportStreamCarries(id);
    const AVOutputFormat *format = av_guess_format(container.muxer.c_str(), nullptr, nullptr);
    if (!format)
        return true;
    const int answer = avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL);
    return answer != 0;
}

} // namespace trimora
