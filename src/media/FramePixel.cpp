#include "media/FramePixel.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
}

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdint>

namespace trimora {

namespace {

std::uint64_t rowSum(const std::uint8_t *row, int width)
{
    std::uint64_t sum = 0;
    int x = 0;
#if defined(__SSE2__)
    // Sums of absolute differences against zero: 16 bytes per instruction.
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    for (; x + 16 <= width; x += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(bytes, zero));
    }
    sum = static_cast<std::uint64_t>(_mm_cvtsi128_si64(acc)) +
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
#endif
    for (; x < width; ++x)
        sum += row[x];
    return sum;
}

double planeMean(const AVFrame *frame, int plane, int width, int height)
{
    std::uint64_t sum = 0;
    for (int y = 0; y < height; ++y)
        sum += rowSum(frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane],
                      width);
    return static_cast<double>(sum) / (static_cast<double>(width) * height);
}

// The planes of an 8-bit planar Y'CbCr frame, the only layout read directly.
const AVPixFmtDescriptor *plainPlanes(const AVFrame *frame, bool &fullRange)
{
    if (frame->width <= 0 || frame->height <= 0)
        return nullptr;
    fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    const AVPixFmtDescriptor *desc =
        av_pix_fmt_desc_get(plainPixelFormat(static_cast<AVPixelFormat>(frame->format), fullRange));
    if (!desc || desc->nb_components < 3 || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE)))
        return nullptr;
    for (int c = 0; c < 3; ++c) {
        const AVComponentDescriptor &comp = desc->comp[c];
        if (comp.plane != c || comp.depth != 8 || comp.step != 1 || comp.shift != 0 ||
            comp.offset != 0 || !frame->data[c])
            return nullptr;
    }
    return desc;
}

} // namespace

YuvMatrix frameMatrix(const AVFrame *frame)
{
    switch (frame->colorspace) {
    case AVCOL_SPC_BT709:
        return {0.2126, 0.0722};
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_FCC:
        return {0.299, 0.114};
    case AVCOL_SPC_SMPTE240M:
        return {0.212, 0.087};
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return {0.2627, 0.0593};
    default:
        return frame->height >= 720 ? YuvMatrix{0.2126, 0.0722} : YuvMatrix{0.299, 0.114};
    }
}

AVPixelFormat plainPixelFormat(AVPixelFormat format, bool &fullRange)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

std::optional<Rgb> framePixel(const AVFrame *frame)
{
    bool fullRange = false;
    const AVPixFmtDescriptor *desc = plainPlanes(frame, fullRange);
    if (!desc)
        return std::nullopt;
    const int chromaWidth = AV_CEIL_RSHIFT(frame->width, desc->log2_chroma_w);
    const int chromaHeight = AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h);
    return yuvToRgb(planeMean(frame, 0, frame->width, frame->height),
                    planeMean(frame, 1, chromaWidth, chromaHeight),
                    planeMean(frame, 2, chromaWidth, chromaHeight), fullRange, frameMatrix(frame));
}

bool lumaMeanBetween(const AVFrame *frame, double low, double high)
{
    bool fullRange = false;
    if (!plainPlanes(frame, fullRange))
        return false;
    // The bounds as luma codes; a hair of slack keeps rounding on the safe side.
    auto code = [fullRange](double luma) { return fullRange ? luma : 16.0 + luma * 219.0 / 255.0; };
    const double width = frame->width;
    const double samples = width * frame->height;
    const double belowLow = (code(low) + 1e-3) * samples;           // sum that rules out <= low
    const double aboveHigh = (255.0 - code(high) + 1e-3) * samples; // the same for >= high
    // Rows in an order spread over the picture (0, 8, 4, 12, ... of every 16),
    // so that bars or a dark corner do not decide what is read first.
    constexpr int order[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    std::uint64_t sum = 0;
    std::uint64_t rows = 0;
    for (int pass : order) {
        for (int y = pass; y < frame->height; y += 16) {
            sum += rowSum(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0],
                          frame->width);
            ++rows;
        }
        const double read = static_cast<double>(sum);
        if (read > belowLow && 255.0 * width * static_cast<double>(rows) - read > aboveHigh)
            return true;
    }
    return false;
}

} // namespace trimora
