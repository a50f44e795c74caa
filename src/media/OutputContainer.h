#pragma once

#include "media/CutSource.h"

#include <string>

namespace trimora {

// The container the ffmpeg program writes for an output name, as libavformat
// guesses it from the extension. Pure lookups in libavformat's tables.
struct OutputContainer
{
    std::string muxer; // libavformat's name ("mp4", "matroska", ...); empty when none fits
    std::string label; // the name a user knows: "MP4", "MKV", "WebM", "MPEG-TS", ...
    // An edit list lets the picture start at any frame while the copy starts
    // at the keyframe before it (the MP4/MOV family).
    bool startsBetweenKeyframes = false;
};

OutputContainer outputContainerFor(const std::string &fileName);

// Whether the container can carry the stream unchanged. libavformat answers
// for most muxers; MPEG-TS answers nothing and writes streams it has no type
// for as private data that reads back as something else, so its list is kept
// here. Where nobody knows, the stream is kept and the check of the written
// file has the last word.
bool containerCanHold(const OutputContainer &container, const SourceStream &stream);

} // namespace trimora
