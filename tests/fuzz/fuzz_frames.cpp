// The scan's picture path on an arbitrary file: thumbnails at a few times
// (ascending, then a step back) reduced to one pixel, and the scan's own mode
// that averages each frame's planes directly while a tap watches every 0.1 s.
// Must never crash, hang or leak; every result must fit its bounds.
#include "FuzzInput.h"
#include "media/FrameExtractor.h"

#include <cstdlib>

namespace {

void thumbnails(const std::string &path)
{
    const FrameExtractorOptions options;
    std::unique_ptr<FrameExtractor> extractor = FrameExtractor::open(path, options);
    if (!extractor)
        return;
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
}

void pixelsWithTap(const std::string &path)
{
    std::unique_ptr<FrameExtractor> extractor =
        FrameExtractor::open(path, {.tolerance = 0.25, .pixelOnly = true});
    if (!extractor)
        return;
    const std::vector<double> times{0.0, 0.5, 1.0, 1.5, 2.0};
    std::size_t tapped = 0;
    const FrameTap tap{.spacing = 0.1,
                       .tolerance = 0.05,
                       .until = 2.05,
                       .onFrame = [&](double, std::optional<Rgb>) { ++tapped; },
                       .onUnknown = [&](double) { ++tapped; }};
    std::size_t results = 0;
    extractor->extract(
        times,
        [&](const FrameResult &result) {
            ++results;
            if (result.image) // this mode never scales a thumbnail
                std::abort();
            return true;
        },
        &tap);
    if (results != times.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    quietMediaLogs();
    const FuzzInput input(data, size);
    if (input.path().empty())
        return 0;
    thumbnails(input.path());
    pixelsWithTap(input.path());
    return 0;
}
