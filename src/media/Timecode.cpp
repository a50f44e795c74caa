#include "media/Timecode.h"

extern "C" {
#include <libavutil/timecode.h>
}

#include <climits>

namespace trimora {

std::string timecodeAfter(const std::string &start, int rateNum, int rateDen, long long frames)
{
    if (rateNum <= 0 || rateDen <= 0 || frames < 0 || frames > INT_MAX)
        return {};
    AVTimecode timecode{};
    if (av_timecode_init_from_string(&timecode, AVRational{rateNum, rateDen}, start.c_str(),
                                     nullptr) < 0)
        return {};
    char text[AV_TIMECODE_STR_SIZE] = {};
    return av_timecode_make_string(&timecode, text, static_cast<int>(frames));
}

} // namespace trimora
