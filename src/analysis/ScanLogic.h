#pragma once

#include "media/Thumbnail.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace trimora {

// The arithmetic of the black/white frame scan, free of media and threads.
namespace scan {

inline constexpr double coarseSpacing = 0.5;
inline constexpr double coarseTolerance = 0.25;
inline constexpr double fineSpacing = 0.1;
inline constexpr double fineTolerance = 0.05;
inline constexpr double fineHalfWindow = 2.0;
inline constexpr double minimumRun = 0.5;
inline constexpr double markerSpacing = 1.0;
inline constexpr double coarseShare = 0.7;
inline constexpr double refinementShare = 0.3;
inline constexpr double navigationMargin = 0.1;

// What a requested time got from the decode.
enum class Answer : unsigned char {
    NoFrame,  // no frame lies within the tolerance
    Hit,      // its frame is black or white
    Miss,     // its frame is neither
    Unserved, // only frames the decoder left out lie within the tolerance
};

// 0, 0.5, 1.0, ... up to the duration: at least two times.
std::vector<double> coarseTimes(double duration);

// Every 0.1 s over [hit - 2, hit + 2] clipped to the movie.
std::vector<double> refinementTimes(double coarseHit, double duration);

// The fine grid over the movie: index k is k times the fine spacing.
std::size_t gridCount(double duration);

// A coarse hit's refinement window as the answers of the fine grid give it:
// its times answered black or white, and those left to a decode of their own
// (only frames the decode left out near them, or off the grid).
struct Window
{
    std::vector<double> hits;
    std::vector<double> unserved;
};
Window refinementWindow(double coarseHit, double duration, const std::vector<Answer> &grid);

// A pixel of exactly black or exactly white.
bool isBlackOrWhite(Rgb pixel);

// Its components round to 0 or to 255 and its luma is their weighted mean, so
// such a pixel's luma (0-255) is below 0.5 or at least 254.5.
inline constexpr double blackLumaBelow = 0.5;
inline constexpr double whiteLumaFrom = 254.5;

// Whether a coarse hit at t is recorded: away from both ends of the movie and
// more than a second after the last recorded one.
bool acceptsCoarseHit(const std::vector<double> &hits, double t, double duration);

// The midpoint of the qualifying run of fine hits nearest to the coarse hit.
std::optional<double> bestRunMidpoint(std::vector<double> fineHits, double coarseHit);

// Sorted, with every marker more than a second after the previous one kept.
std::vector<double> thinMarkers(std::vector<double> refined);

double coarseProgress(int framesDone, int frameCount);
double refinementProgress(int windowsDone, int windowCount);

// The marker that "◀ Prev" / "Next ▶" go to from time t, if any.
std::optional<double> previousMarker(const std::vector<double> &markers, double t);
std::optional<double> nextMarker(const std::vector<double> &markers, double t);

} // namespace scan

} // namespace trimora
