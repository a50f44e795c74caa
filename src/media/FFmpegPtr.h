#pragma once

// Owning handles for the FFmpeg objects used here, so that no early return
// can leak one. Wrap every object the moment it is created.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace trimora {

struct AVFormatContextCloser
{
    void operator()(AVFormatContext *ctx) const { avformat_close_input(&ctx); }
};
// A muxer: its file is closed with it (encoders are CodecContextPtr too).
struct AVMuxerCloser
{
    void operator()(AVFormatContext *ctx) const
    {
        if (ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};
struct AVCodecContextFreer
{
    void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct AVFrameFreer
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct AVPacketFreer
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct SwrContextFreer
{
    void operator()(SwrContext *ctx) const { swr_free(&ctx); }
};
struct SwsContextFreer
{
    void operator()(SwsContext *ctx) const { sws_freeContext(ctx); }
};
struct AVAudioFifoFreer
{
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, AVFormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextFreer>;
using FramePtr = std::unique_ptr<AVFrame, AVFrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, AVPacketFreer>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFreer>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFreer>;
using MuxerPtr = std::unique_ptr<AVFormatContext, AVMuxerCloser>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AVAudioFifoFreer>;

// FFmpeg's text for an error code.
inline std::string avErrorString(int code)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

// Seconds (from a file's start time onwards) as a timestamp in units of
// timeBase seconds, floored; clamped to the 64-bit range, since a damaged file
// can carry a start time or time base that no timestamp can express.
inline int64_t secondsToTimestamp(double seconds, double timeBase)
{
    const double units = std::floor(seconds / timeBase);
    if (!(units > -9.2e18))
        return INT64_MIN + 1;
    if (!(units < 9.2e18))
        return INT64_MAX - 1;
    return static_cast<int64_t>(units);
}

// Opens a local file for demuxing and reads its stream parameters. Refuses
// anything but a regular file, so a FIFO or a device can never block a worker.
FormatContextPtr openMediaFile(const std::string &path);
// The same for one more reader of a file already opened with openMediaFile:
// the streams' parameters are read from the header alone where it lists
// every stream, as they are only needed from the first opening.
FormatContextPtr openMediaFileAgain(const std::string &path);

// The first stream of one kind in a file (attached cover pictures aside), with
// every other stream discarded at the demuxer, and a decoder context made from
// its parameters but not yet opened, so the caller can set threading and
// skipping first.
struct StreamDecoder
{
    FormatContextPtr format;
    CodecContextPtr codec;
    const AVCodec *decoder = nullptr;
    int streamIndex = -1;
    double startOffset = 0.0; // container start time, subtracted so media time starts at 0
};
std::optional<StreamDecoder> prepareDecoder(const std::string &path, AVMediaType type);

} // namespace trimora
