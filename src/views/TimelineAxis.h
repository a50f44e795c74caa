#pragma once

#include <vector>

namespace trimora {

struct VideoIndex;

// The timeline's window onto the movie: the time at its left edge and how
// many pixels a second takes. A value: the timeline keeps one and replaces it
// as the user zooms and scrolls, so the view is never wider than the screen.
struct TimelineAxis
{
    double duration = 0.0;
    double width = 0.0; // pixels
    double start = 0.0; // the time at x = 0
    double pixelsPerSecond = 0.0;

    // The whole movie in the width.
    static TimelineAxis fitted(double length, double pixels);

    double xAt(double t) const { return (t - start) * pixelsPerSecond; }
    // Out of the movie's span when x is; start for an axis without scale.
    double timeAt(double x) const
    {
        return pixelsPerSecond > 0 ? start + x / pixelsPerSecond : start;
    }
    double span() const { return pixelsPerSecond > 0 ? width / pixelsPerSecond : duration; }
    double end() const { return start + span(); }
    bool isFitted() const;

    // The time under x stays under x, unless that would show more than the
    // movie or zoom past mostPixelsPerSecond (or out past the whole movie).
    TimelineAxis zoomed(double factor, double x, double mostPixelsPerSecond) const;
    // Kept inside the movie.
    TimelineAxis scrolledTo(double newStart) const;
    // A fitted axis stays fitted; otherwise the left edge and the scale stay.
    TimelineAxis resized(double newWidth) const;
    // This view when t is in it; otherwise one that shows t a tenth of the
    // width from the left edge.
    TimelineAxis showing(double t) const;
};

// One picture's place in the strip, in view pixels.
struct PictureSlot
{
    double time;
    double left;
    double right;
    bool keyframe; // a frame slot that shows a keyframe
};

struct PictureSlots
{
    bool perFrame = false;   // one slot for each frame, as wide as its own display time
    bool pickFrames = false; // the frame at each slot's time, not the keyframe before it
    std::vector<PictureSlot> slots;
};

// The slots of the strip between the times from and to. Once a frame is as
// wide as a picture, every frame has a slot of its own; otherwise pictures
// tileWidth apart show the frame at their left edge, or, while a tile spans
// more than keyframeGap (or the frames are not known), the keyframe before it.
// Tiles are placed by time, so that scrolling keeps what they show.
PictureSlots pictureSlots(const TimelineAxis &axis, double from, double to, double tileWidth,
                          const VideoIndex *index, double keyframeGap);

// The spacing of the ruler's labelled ticks: the smallest round step at
// least minSpacing pixels wide.
double rulerStep(double pixelsPerSecond, double minSpacing);

// The typical distance between keyframes (the median), the movie's length
// when there is one or none.
double typicalKeyframeGap(const std::vector<double> &keyframes, double duration);

} // namespace trimora
