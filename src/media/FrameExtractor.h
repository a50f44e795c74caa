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
    std::optional<Thumbnail> image; // empty: no frame within the tolerance
    double actual = 0.0;            // media time of the frame delivered
};

struct FrameExtractorOptions
{
    double tolerance = 0.25; // a frame farther than this from the request is a failure
    int maxWidth = 64;       // the thumbnail fits maxWidth x maxHeight, orientation applied
    int maxHeight = 36;
    bool skipUnneededFrames = true; // leave out non-reference frames no request can use
    bool skipLoopFilter = true;     // the picture is reduced to a pixel: deblocking is wasted
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
                 const std::function<bool(const FrameResult &)> &onResult);

    struct Impl;

private:
    explicit FrameExtractor(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};
