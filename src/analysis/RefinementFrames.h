#pragma once

#include <cstddef>
#include <deque>
#include <vector>

namespace scan {

// Serves the refinement windows from the frames the coarse pass decodes anyway,
// so that no window is decoded a second time. The decode hands in every frame
// that can be the nearest one to a multiple of the fine spacing, and the times
// of the frames it passed without classifying; a coarse hit opens its window;
// once the decode has passed the window's end, each of its times is classified
// by the frame a refinement extractor would pick (nearest within the fine
// tolerance, ties to the earlier). A time whose frame is not classified, or
// that lies off the grid, is left to be extracted on its own. Only frames an
// open or a future window can use are kept: memory does not grow with the movie.
class RefinementFrames
{
public:
    struct Window
    {
        double coarseHit = 0.0;
        std::vector<double> hits;     // window times whose frame is black or white
        std::vector<double> unserved; // times to be extracted on their own
        double end = 0.0;
        bool settled = false;
    };

    explicit RefinementFrames(double duration);

    // A classified frame, in display order.
    void addFrame(double time, bool hit);
    // A frame the decode passed without classifying; may come ahead of order.
    void addUnknownFrame(double time);
    // The coarse pass has served t: later coarse hits lie after it.
    void passCoarseTime(double t);
    // A recorded coarse hit; the frames up to it have been handed in.
    void addCoarseHit(double coarseHit);
    // The decode has ended: every open window is settled with what it has.
    void finish();

    const std::vector<Window> &windows() const { return m_windows; }
    std::size_t framesHeld() const { return m_frames.size(); }

private:
    enum class State { Miss, Hit, Unknown };
    struct Frame
    {
        double time;
        State state;
    };
    void insert(Frame frame);
    void settle(Window &window) const;
    State nearestFrame(double t) const;
    void forgetOldFrames(double coarseTime);

    double m_duration;
    std::deque<Frame> m_frames;
    std::vector<Window> m_windows;
    std::size_t m_firstOpen = 0; // windows before this are settled
};

// Whether t is one of the times the decode watches (a multiple of the fine
// spacing, up to rounding).
bool onFineGrid(double t);

} // namespace scan
