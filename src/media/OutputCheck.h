#pragma once

#include "media/CutSource.h"

#include <string>
#include <vector>

namespace trimora {

// A stream the written file must hold: its kind, codec and, for the report,
// its number in the source.
struct ExpectedStream
{
    StreamKind kind = StreamKind::Unknown;
    int codecId = 0;
    std::string codecName;
    int sourceIndex = 0;
};

struct OutputReport
{
    std::string failure; // empty when the file is sound
    double length = 0.0; // seconds from its first audio or video to the latest end
};

// Opens a file the ffmpeg program reported as written and checks that every
// expected stream is in it, as far as its container can tell codecs apart
// (MP4 files MPEG audio of both layers under one name), and that one picture
// decodes (one sound frame when nothing moving is expected). The container is
// the one its name asks for. Blocks: call it off the main thread.
OutputReport checkCutOutput(const std::string &path, const std::vector<ExpectedStream> &expected);

} // namespace trimora
