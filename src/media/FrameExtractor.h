#pragma once

#include "media/Thumbnail.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct FrameResult
{
    double requested = 0.0;
    std::optional<Thumbnail> image; // empty: no frame within the tolerance, or pixelOnly
    std::optional<Rgb> pixel;       // pixelOnly: the frame averaged into one pixel
    double actual = 0.0;            // media time of the frame delivered
};

struct FrameExtractorOptions
{
    double tolerance = 0.25; // a frame farther than this from the request is a failure
    int maxWidth = 64;       // the thumbnail fits maxWidth x maxHeight, orientation applied
    int maxHeight = 36;
    bool skipUnneededFrames = true; // leave out non-reference frames no request can use
    bool skipLoopFilter = true;     // the picture is reduced to a pixel: deblocking is wasted
    bool pixelOnly = false;         // deliver FrameResult::pixel instead of a thumbnail
};

// Watches the decode for every multiple of spacing as if each were requested
// with the tolerance: each frame that can be the nearest one to such a time
// is decoded (never skipped) and handed to onFrame with its one-pixel value
// (nothing when that cannot be made), in display order, as the decode passes
// it. Every other frame is reported to onUnknown: decoded ones in display
// order, skipped ones when their packet is read (ahead of display order, but
// before any later-shown frame reaches onFrame). After the last request the
// decode goes on to until. Requests must be ascending; no seek skips ahead
// while a tap watches.
struct FrameTap
{
    double spacing = 0.1;
    double tolerance = 0.05;
    double until = 0.0;
    std::function<void(double time, std::optional<Rgb> pixel)> onFrame;
    std::function<void(double time)> onUnknown;
};

// Gives, for each requested time, the frame nearest to it within the
// tolerance (ties go to the earlier frame). Dense requests are served by one
// sequential decode; it seeks only when the next request lies beyond the next
// keyframe. Blocks: use it off the main thread.
class FrameExtractor
{
public:
    // Nothing when the file has no decodable video stream.
    static std::unique_ptr<FrameExtractor> open(const std::string &path,
                                                const FrameExtractorOptions &options);
    ~FrameExtractor();
    FrameExtractor(const FrameExtractor &) = delete;
    FrameExtractor &operator=(const FrameExtractor &) = delete;

    // Delivers one result per time, in the order given; onResult returns
    // false to stop. Times should be ascending for speed; any order works.
    // Returns false when stopped.
    bool extract(const std::vector<double> &times,
                 const std::function<bool(const FrameResult &)> &onResult,
                 const FrameTap *tap = nullptr);

    struct Impl;

private:
    explicit FrameExtractor(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};
