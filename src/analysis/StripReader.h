#pragma once

#include "media/Thumbnail.h"

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace trimora {

class FrameReader;
struct VideoIndex;

// One picture wanted for the timeline's strip.
struct PictureRequest
{
    double time = 0.0;
    // True: the keyframe at or before time, found by seeking there, for when
    // the keyframes are not known yet. False: the frame shown from time on,
    // a frame time of the movie's index.
    bool keyframeAtOrBefore = false;
};

struct StripPicture
{
    double asked = 0.0; // the request's time
    double time = 0.0;  // the frame's own
    Thumbnail image;    // empty when the frame could not be decoded
};

// Decodes the strip's pictures of one movie, keeping its file open between
// batches: the strip asks again on every zoom and scroll, and opening a long
// MP4 reads its whole index. Used by one worker at a time.
class StripReader
{
public:
    StripReader(std::string path, int maxWidth, int maxHeight);
    ~StripReader();
    StripReader(const StripReader &) = delete;
    StripReader &operator=(const StripReader &) = delete;

    // Hands each request's picture to onPicture, in the order asked, until
    // cancelled() says stop. A request with no frame to show gets a picture
    // without image. Decodes from the keyframe before a frame, or goes on
    // from the last picture when no keyframe (of index) lies between, leaving
    // out every frame nobody asked for that nothing is predicted from. False
    // when the movie has no video that decodes.
    bool read(const std::vector<PictureRequest> &requests, const VideoIndex *index,
              const std::function<void(StripPicture)> &onPicture,
              const std::function<bool()> &cancelled);
    // Lets go of the file and the decoder until the next read: while nobody
    // asks for pictures, their memory (tens of megabytes for a long 1080p
    // MP4) is better free.
    void close();

private:
    std::string m_path;
    int m_maxWidth;
    int m_maxHeight;
    std::unique_ptr<FrameReader> m_reader;
    bool m_unreadable = false;
    // The last frame handed out since the decoder last started from a
    // keyframe; minus infinity when the next picture must seek.
    double m_position = -std::numeric_limits<double>::infinity();
};

} // namespace trimora
