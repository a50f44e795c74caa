// The scan's picture path on an arbitrary file: the frame reader decoding
// everything with thumbnails and pixels, then leaving out non-reference frames
// after a step back; and the whole scan over the file's own duration. Must
// never crash, hang or leak; every result must fit its bounds.
#include "FuzzInput.h"
#include "analysis/BlackWhiteScan.h"
#include "media/FrameReader.h"
#include "media/MediaProbe.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace trimora;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void readFrames(const std::string &path)
{
    std::unique_ptr<FrameReader> reader = FrameReader::open(path);
    if (!reader)
        return;
    int frames = 0;
    reader->read([](double) { return FrameSkip::Nothing; },
                 [&](const DecodedFrame &frame) {
                     check(std::isfinite(frame.time()));
                     if (frames++ < 8) {
                         if (const std::optional<Thumbnail> image = frame.thumbnail(64, 36))
                             check(image->width >= 1 && image->height >= 1 && image->width <= 64 &&
                                   image->height <= 36 &&
                                   image->rgb.size() ==
                                       static_cast<std::size_t>(image->width) * image->height * 3);
                     }
                     frame.pixel();
                     return frames < 200;
                 });
    // A step back, then only what the decoder keeps when it may skip.
    reader->seek(0.05);
    reader->read([](double) { return FrameSkip::NonReference; },
                 [&](const DecodedFrame &frame) {
                     frame.pixel();
                     return frame.isReference() && frames++ < 400;
                 });
}

struct CheckingSink : ScanSink
{
    double duration = 0.0;
    int endings = 0;
    void progress(double value) override { check(value >= 0.0 && value <= 1.0); }
    void finished(const std::vector<double> &markers) override
    {
        ++endings;
        for (std::size_t i = 0; i < markers.size(); ++i) {
            check(markers[i] >= 0.0 && markers[i] <= duration);
            check(i == 0 || markers[i] - markers[i - 1] > 1.0);
        }
    }
    void cancelledInCoarsePass() override { ++endings; }
    void cancelledInRefinement(const std::vector<double> &) override { ++endings; }
};

void scan(const std::string &path)
{
    // The file's own length, as the editor would have it, within reason.
    const std::optional<MediaTiming> probed = probeDuration(QString::fromStdString(path));
    CheckingSink sink;
    sink.duration = probed ? std::min(probed->duration, 600.0) : 3.0;
    scanBlackWhite(path, sink.duration, makeTask(), sink);
    check(sink.endings == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    quietMediaLogs();
    const FuzzInput input(data, size);
    if (input.path().empty())
        return 0;
    readFrames(input.path());
    scan(input.path());
    return 0;
}
