#pragma once

#include <string>

namespace trimora {

// The timecode frames later than start ("01:00:00:00", ';' before drop
// frames), counted at rateNum/rateDen frames per second as SMPTE counts them;
// empty when start or the rate is not a timecode libavutil knows.
std::string timecodeAfter(const std::string &start, int rateNum, int rateDen, long long frames);

} // namespace trimora
