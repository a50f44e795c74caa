#pragma once

#include <QString>

#include <optional>

namespace trimora {

// What the player and the editor need to know of a movie before showing it.
// Times count from the movie's origin: the container time that the editor
// calls 0 (libavformat's start time), which ffmpeg's input -ss also counts from.
struct MediaTiming
{
    // The span shown: the latest audio or video stream end minus the origin.
    double duration = 0.0;
    // Container time of the movie's time 0; may be negative or far from 0.
    double origin = 0.0;
    // Nominal display time of one video frame; 0 without video.
    double frameDuration = 0.0;
    // How far before a target an exact seek must start demuxing to meet the
    // keyframe it decodes from: 0 where the container's index seeks to that
    // keyframe itself (MP4/MOV, Matroska/WebM), otherwise the longest keyframe
    // distance seen near the start, with a margin.
    double seekPreroll = 0.0;
};

// The movie's timing, or nothing when the file is not a movie that can be
// played (not readable, not a media container, no audio or video stream, no
// known duration). Blocks: call it off the main thread.
std::optional<MediaTiming> probeDuration(const QString &path);

} // namespace trimora
