// The scan's picture path on an arbitrary file: extract thumbnails at the
// times a scan asks for (ascending, then a step back) and reduce each to one
// pixel. Must never crash, hang or leak; every picture must fit its bounds.
#include "FuzzInput.h"
#include "media/FrameExtractor.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    quietMediaLogs();
    const FuzzInput input(data, size);
    if (input.path().empty())
        return 0;
    const FrameExtractorOptions options;
    std::unique_ptr<FrameExtractor> extractor = FrameExtractor::open(input.path(), options);
    if (!extractor)
        return 0;
    const std::vector<double> times{0.0, 0.1, 0.2, 0.5, 1.0, 0.05, 2.0};
    std::size_t results = 0;
    extractor->extract(times, [&](const FrameResult &result) {
        ++results;
        if (const std::optional<Thumbnail> &image = result.image) {
            if (image->width < 1 || image->height < 1 || image->width > options.maxWidth ||
                image->height > options.maxHeight ||
                image->rgb.size() != static_cast<std::size_t>(image->width) * image->height * 3)
                std::abort();
            averagePixel(*image);
        }
        return true;
    });
    if (results != times.size())
        std::abort();
    return 0;
}
