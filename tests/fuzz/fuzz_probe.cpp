// Duration probing of an arbitrary file: must never crash, hang or leak, and
// any timing it reports must be usable: a positive duration, finite times.
#include "FuzzInput.h"
#include "media/MediaProbe.h"

#include <cmath>
#include <cstdlib>

using namespace trimora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    quietMediaLogs();
    const FuzzInput input(data, size);
    if (input.path().empty())
        return 0;
    const std::optional<MediaTiming> timing = probeDuration(QString::fromStdString(input.path()));
    if (timing &&
        !(std::isfinite(timing->duration) && timing->duration > 0 &&
          std::isfinite(timing->origin) && timing->frameDuration >= 0 && timing->seekPreroll >= 0))
        std::abort();
    return 0;
}
