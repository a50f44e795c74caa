// Duration probing of an arbitrary file: must never crash, hang or leak, and
// any duration it reports must be a usable positive number.
#include "FuzzInput.h"
#include "media/MediaProbe.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    quietMediaLogs();
    const FuzzInput input(data, size);
    if (input.path().empty())
        return 0;
    const std::optional<double> seconds = probeDuration(QString::fromStdString(input.path()));
    if (seconds && !(std::isfinite(*seconds) && *seconds > 0))
        std::abort();
    return 0;
}
