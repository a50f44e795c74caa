#pragma once

// The source's picture as the in-process plans see it: the frames shown, in
// time order, beside the packets in decode order, and the streams they keep
// beside the picture and the sound. Pure: no file is touched.

#include "media/ExactJob.h"
#include "media/OutputCheck.h"
#include "media/OutputContainer.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace trimora {

// A marked range in the movie's time (0 = the first frame, as the editor
// counts): the frame on show at In is the first of the cut, the frame on show
// at Out the first one not in it.
struct CutRange
{
    double in = 0.0;
    double out = 0.0;
};

struct FrameView
{
    struct Frame
    {
        std::int64_t pts = 0;
        std::size_t packet = 0;
    };

    const ExactVideo &video;
    double origin = 0.0;
    double tick = 0.0;             // seconds per tick
    std::vector<Frame> frames;     // shown frames by time
    std::int64_t lastEnd = 0;      // end of the last frame
    std::vector<std::size_t> keys; // packets that start decoding, decode order

    FrameView(const ExactVideo &v, double o) : video(v), origin(o), tick(v.timeBase.value()) {}

    double seconds(std::int64_t pts) const { return static_cast<double>(pts) * tick - origin; }
    const ExactPacket &packet(std::size_t i) const { return video.packets[i]; }
    // Index of the frame showing pts (its own or the one before).
    std::size_t rankOf(std::int64_t pts) const;
    // The frame on show at t (movie seconds): the last one starting at or
    // before it, else the first; frames.size() when t lies past the last one.
    std::size_t frameAt(double t) const;
    // Where frame rank starts, or the end of the last frame.
    std::int64_t startOf(std::size_t rank) const
    {
        return rank < frames.size() ? frames[rank].pts : lastEnd;
    }
    // The packet decoding should start at for a frame showing at pts: the
    // last keyframe at or before it.
    std::optional<std::size_t> decodeStartFor(std::int64_t pts) const;
    // The nominal frame duration in ticks.
    std::int64_t frameDuration() const;
};

// Builds the view; why the picture cannot be planned when it cannot.
std::optional<QString> buildFrameView(FrameView &view);

// A job for the picture of the view into the container, without ranges yet.
ExactJob jobFor(const std::shared_ptr<const ExactSource> &source, const FrameView &view,
                const OutputContainer &container);

// The streams beside the picture and the sound that a cut keeps (subtitles,
// data, attachments, cover pictures) into job.copiedStreams, and the notes of
// those the container leaves out. The timecode, moved on to the output's
// first frame, sinceFirstFrame seconds after the movie's, goes to job.timecode.
void keepOtherStreams(const ExactSource &source, const OutputContainer &container,
                      double sinceFirstFrame, ExactJob &job, QStringList &notes,
                      std::vector<ExpectedStream> &expected);

} // namespace trimora
