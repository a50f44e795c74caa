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

// Opens a file the ffmpeg program reported as written and checks that every
// expected stream is in it and that one picture decodes (one sound frame when
// nothing moving is expected). Returns why not, or an empty text when the
// file is sound. Blocks: call it off the main thread.
std::string checkCutOutput(const std::string &path, const std::vector<ExpectedStream> &expected);

} // namespace trimora
