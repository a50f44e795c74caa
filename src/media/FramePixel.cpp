#include "media/FramePixel.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
}

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdint>

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
    if (frame->width <= 0 || frame->height <= 0)
        return std::nullopt;
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    const AVPixFmtDescriptor *desc =
        av_pix_fmt_desc_get(plainPixelFormat(static_cast<AVPixelFormat>(frame->format), fullRange));
    if (!desc || desc->nb_components < 3 || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE)))
        return std::nullopt;
    for (int c = 0; c < 3; ++c) {
        const AVComponentDescriptor &comp = desc->comp[c];
        if (comp.plane != c || comp.depth != 8 || comp.step != 1 || comp.shift != 0 ||
            comp.offset != 0 || !frame->data[c])
            return std::nullopt;
    }
    const int chromaWidth = AV_CEIL_RSHIFT(frame->width, desc->log2_chroma_w);
    const int chromaHeight = AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h);
    return yuvToRgb(planeMean(frame, 0, frame->width, frame->height),
                    planeMean(frame, 1, chromaWidth, chromaHeight),
                    planeMean(frame, 2, chromaWidth, chromaHeight), fullRange, frameMatrix(frame));
}
