#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trimora {

// What a stream-copy cut needs to know of its source, read once per load
// without decoding. Times are seconds from the file's origin (libavformat's
// start time of the whole file, 0 when it has none), like every time of the
// editor and every -ss the ffmpeg program is given.

enum class StreamKind { Video, Audio, Subtitle, Data, Attachment, Unknown };

struct SourceStream
{
    int index = 0; // the stream's number in the file, as "-map 0:<index>" names it
    StreamKind kind = StreamKind::Unknown;
    int codecId = 0; // AVCodecID
    std::string codecName;
    bool attachedPicture = false; // a cover image rather than a moving picture
    bool textSubtitle = false;    // cues of text, which a cut can re-time exactly
    bool timecodeTrack = false;   // a MOV timecode (tmcd) track
    bool carriesTimecode = false; // the stream's "timecode" tag, which muxers turn into a track
};

struct SourceLayout
{
    // The file's content streams. Tracks the demuxer keeps for itself (the
    // text track that carries an MP4's chapters) are not listed: the chapters
    // travel on their own.
    std::vector<SourceStream> streams;
    // Of the first video stream, otherwise of the first audio stream's frames;
    // 0 when unknown.
    double frameDuration = 0.0;
    // How the ffmpeg program's input -ss lands in this file. An index-seeking
    // demuxer (MP4, Matroska, ...) starts at the last keyframe at or before the
    // target; the others search by decode time and start reading at the packet
    // found, so the first keyframe copied is the next one after it.
    bool seeksByIndex = true;
    // The program seeks this much before the -ss it is given when the demuxer
    // does not seek by presentation time and a stream reorders frames.
    double seekLead = 0.0;
    // The timecode of the movie's first frame ("01:00:00:00"; ';' before the
    // frames when they drop), empty when it has none; counted at this rate.
    std::string timecode;
    int timecodeRateNum = 0;
    int timecodeRateDen = 1;
    bool globalTimecode = false; // the file's own tag holds it, not only a stream's
};

// One packet of the video stream, in decode order.
struct VideoPacket
{
    double pts = 0.0;
    double dts = 0.0;
    bool key = false;
};

struct VideoIndex
{
    std::vector<VideoPacket> packets; // decode order
    std::vector<double> framePts;     // every frame's time, ascending
    std::vector<double> keyframes;    // ascending
    double frameDuration = 0.0;       // the layout's, or the typical step between frames
    // Set when the file promises more picture than its data holds (a
    // truncated download): the end of its last intact frame.
    std::optional<double> endsEarlyAt;
};

// libavcodec's id of a codec name ("h264", "subrip", ...), 0 when unknown.
int codecIdNamed(const std::string &name);

// Opens a file, hands its layout to onLayout, then reads the first video
// stream's packets (timestamps and key flags only, nothing is decoded) and
// hands the index to onIndex; a file without video gives an empty index.
// cancelled() is asked every few hundred packets; a cancelled read delivers
// no index. Returns false when the file cannot be opened as media. Blocks:
// call it off the main thread.
bool readCutSource(const std::string &path, const std::function<bool()> &cancelled,
                   const std::function<void(SourceLayout)> &onLayout,
                   const std::function<void(VideoIndex)> &onIndex);

} // namespace trimora
