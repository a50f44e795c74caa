#pragma once

// What the media readers ask of a demuxed file's streams, answered once for
// all of them. Media code only: it speaks FFmpeg's types.

#include "media/Bitstream.h"
#include "media/CutSource.h"
#include "media/FFmpegPtr.h"

#include <functional>
#include <optional>

namespace trimora {

StreamKind kindOf(AVMediaType type);

// The NAL framing of H.264 and HEVC; nothing for other codecs.
std::optional<NalCodec> nalCodecOf(AVCodecID id);

// A video stream that moves: not a cover picture.
bool isMovingPicture(const AVStream *stream);

// The display time of one frame: a video stream's nominal frame rate (average,
// else real base rate), an audio stream's frame size over its sample rate;
// 0 when unknown or absurd.
double frameDurationOf(const AVStream *stream);

// The container time the movie's time 0 stands for: libavformat's start time
// of the whole file, 0 when it has none.
double originOf(const AVFormatContext *fmt);

// The file's content streams and how the ffmpeg program seeks in it.
SourceLayout layoutOf(const AVFormatContext *fmt);

// Audio, or a moving picture.
bool isMediaStream(const AVStream *stream);

// Where a stream ends by the container's account, in container seconds;
// nothing when the container does not say.
std::optional<double> declaredStreamEnd(const AVStream *stream);
// The file's start time plus its duration, in container seconds.
std::optional<double> declaredFileEnd(const AVFormatContext *fmt);
// The latest declared end of an audio or video stream, else the file's. MP4's
// own duration counts from 0 and so includes any start offset; the streams'
// ends do not.
std::optional<double> latestStreamEnd(const AVFormatContext *fmt);

// Reads the packets of one stream (of all for -1) in file order without
// decoding, every other stream discarded at the demuxer, and hands each that
// carries a timestamp to onPacket until it returns false, the file ends or it
// cannot be read further.
void scanPackets(AVFormatContext *fmt, int stream,
                 const std::function<bool(const AVPacket &)> &onPacket);

} // namespace trimora
