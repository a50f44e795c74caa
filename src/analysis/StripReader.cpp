#include "analysis/StripReader.h"

#include "media/CutSource.h"
#include "media/FrameReader.h"

#include <algorithm>

namespace trimora {

namespace {

// The index's time of a frame and the decoder's agree closer than this.
constexpr double kSameFrame = 1e-4;

// After a seek the keyframe comes out within this many frames (leading
// pictures of an open group may come first); failing that, the first will do.
constexpr int kKeyframeSearch = 32;

double keyframeAtOrBefore(const VideoIndex *index, double t)
{
    if (!index || index->keyframes.empty())
        return t;
    const auto after =
        std::upper_bound(index->keyframes.begin(), index->keyframes.end(), t + kSameFrame);
    return after == index->keyframes.begin() ? index->keyframes.front() : *std::prev(after);
}

} // namespace

StripReader::StripReader(std::string path, int maxWidth, int maxHeight)
    : m_path(std::move(path)), m_maxWidth(maxWidth), m_maxHeight(maxHeight)
{}

StripReader::~StripReader() = default;

void StripReader::close()
{
    m_reader.reset();
    m_position = -std::numeric_limits<double>::infinity();
}

bool StripReader::read(const std::vector<PictureRequest> &requests, const VideoIndex *index,
                       const std::function<void(StripPicture)> &onPicture,
                       const std::function<bool()> &cancelled)
{
    if (m_unreadable)
        return false;
    if (!m_reader) {
        // One thread: frame threads would decode frames past the one wanted,
        // and the other core has the window and the sound overview to serve.
        m_reader = FrameReader::open(m_path, {.skipLoopFilter = false, .threads = 1});
        if (!m_reader) {
            m_unreadable = true;
            return false;
        }
    }
    std::vector<double> frames;
    for (const PictureRequest &r : requests) {
        if (!r.keyframeAtOrBefore)
            frames.push_back(r.time);
    }
    std::sort(frames.begin(), frames.end());
    // Frames asked for are decoded whole; of the rest only those others are
    // predicted from.
    const auto skipFor = [&frames](double packetTime) {
        const auto at = std::lower_bound(frames.begin(), frames.end(), packetTime - kSameFrame);
        return at != frames.end() && *at <= packetTime + kSameFrame ? FrameSkip::Nothing
                                                                    : FrameSkip::NonReference;
    };

    for (const PictureRequest &request : requests) {
        if (cancelled())
            return true;
        StripPicture picture{request.time, request.time, {}};
        bool found = false;
        bool stopped = false;
        const auto take = [&](const DecodedFrame &frame) {
            picture.time = frame.time();
            if (std::optional<Thumbnail> image = frame.thumbnail(m_maxWidth, m_maxHeight))
                picture.image = std::move(*image);
            found = true;
        };
        if (request.keyframeAtOrBefore) {
            m_reader->seekToKeyframe(request.time);
            int seen = 0;
            m_reader->read([](double) { return FrameSkip::NonReference; },
                           [&](const DecodedFrame &frame) {
                               if (cancelled()) {
                                   stopped = true;
                                   return false;
                               }
                               m_position = frame.time();
                               if (!frame.isKeyframe() && ++seen < kKeyframeSearch)
                                   return true;
                               take(frame);
                               return false;
                           });
        } else {
            const double keyframe = keyframeAtOrBefore(index, request.time);
            const bool goOn =
                m_position < request.time - kSameFrame && keyframe <= m_position + kSameFrame;
            if (!goOn)
                m_reader->seekToKeyframe(keyframe);
            m_reader->read(skipFor, [&](const DecodedFrame &frame) {
                if (cancelled()) {
                    stopped = true;
                    return false;
                }
                m_position = frame.time();
                if (frame.time() < request.time - kSameFrame)
                    return true;
                take(frame);
                return false;
            });
        }
        if (stopped)
            return true;
        if (!found)
            m_position = -std::numeric_limits<double>::infinity(); // the stream ended
        onPicture(std::move(picture));
    }
    return true;
}

} // namespace trimora
