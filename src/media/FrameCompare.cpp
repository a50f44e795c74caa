#include "media/FrameCompare.h"

#include "media/Bitstream.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cmath>
#include <cstring>
#include <limits>

namespace trimora {

namespace {

struct Plane
{
    int width = 0; // in samples
    int height = 0;
    int bytesPerSample = 1;
};

// The visible extent of plane i of a planar YUV frame.
std::optional<Plane> planeOf(const AVFrame *frame, const AVPixFmtDescriptor *desc, int i)
{
    if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) ||
        !frame->data[i])
        return std::nullopt;
    Plane plane;
    const bool chroma = i == 1 || i == 2;
    plane.width = chroma ? AV_CEIL_RSHIFT(frame->width, desc->log2_chroma_w) : frame->width;
    plane.height = chroma ? AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h) : frame->height;
    plane.bytesPerSample = desc->comp[0].depth > 8 ? 2 : 1;
    return plane;
}

int planeCount(const AVPixFmtDescriptor *desc)
{
    return desc ? av_pix_fmt_count_planes(av_pix_fmt_desc_get_id(desc)) : 0;
}

} // namespace

std::uint64_t frameDigest(const AVFrame *frame)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    std::uint64_t digest =
        static_cast<std::uint64_t>(frame->width) << 32 | static_cast<std::uint32_t>(frame->height);
    for (int i = 0; i < planeCount(desc); ++i) {
        const std::optional<Plane> plane = planeOf(frame, desc, i);
        if (!plane)
            continue;
        const std::size_t rowBytes = static_cast<std::size_t>(plane->width) * plane->bytesPerSample;
        for (int y = 0; y < plane->height; ++y)
            digest =
                digestBytes(frame->data[i] + static_cast<std::ptrdiff_t>(y) * frame->linesize[i],
                            rowBytes, digest);
    }
    return digest;
}

std::optional<double> framePsnr(const AVFrame *a, const AVFrame *b)
{
    if (a->format != b->format || a->width != b->width || a->height != b->height)
        return std::nullopt;
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a->format));
    if (!desc)
        return std::nullopt;
    double squares = 0.0;
    double samples = 0.0;
    for (int i = 0; i < planeCount(desc); ++i) {
        const std::optional<Plane> plane = planeOf(a, desc, i);
        if (!plane || !b->data[i])
            return std::nullopt;
        for (int y = 0; y < plane->height; ++y) {
            const std::uint8_t *ra = a->data[i] + static_cast<std::ptrdiff_t>(y) * a->linesize[i];
            const std::uint8_t *rb = b->data[i] + static_cast<std::ptrdiff_t>(y) * b->linesize[i];
            std::uint64_t row = 0;
            if (plane->bytesPerSample == 1) {
                for (int x = 0; x < plane->width; ++x) {
                    const int d = ra[x] - rb[x];
                    row += static_cast<std::uint64_t>(d * d);
                }
            } else {
                for (int x = 0; x < plane->width; ++x) {
                    std::uint16_t va;
                    std::uint16_t vb;
                    std::memcpy(&va, ra + 2 * x, 2);
                    std::memcpy(&vb, rb + 2 * x, 2);
                    const std::int64_t d = static_cast<std::int64_t>(va) - vb;
                    row += static_cast<std::uint64_t>(d * d);
                }
            }
            squares += static_cast<double>(row);
        }
        samples += static_cast<double>(plane->width) * plane->height;
    }
    if (samples <= 0)
        return std::nullopt;
    if (squares == 0.0)
        return std::numeric_limits<double>::infinity();
    const double peak = std::ldexp(1.0, desc->comp[0].depth) - 1.0;
    return 10.0 * std::log10(peak * peak * samples / squares);
}

} // namespace trimora
