#include "media/Thumbnail.h"

#include <algorithm>
#include <cmath>

namespace trimora {

Rgb averagePixel(const Thumbnail &image)
{
    const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    if (pixels == 0 || image.rgb.size() < pixels * 3)
        return {128, 128, 128};
    std::uint64_t sum[3] = {0, 0, 0};
    for (std::size_t i = 0; i < pixels; ++i) {
        sum[0] += image.rgb[i * 3];
        sum[1] += image.rgb[i * 3 + 1];
        sum[2] += image.rgb[i * 3 + 2];
    }
    auto mean = [pixels](std::uint64_t s) {
        return static_cast<std::uint8_t>((s + pixels / 2) / pixels);
    };
    return {mean(sum[0]), mean(sum[1]), mean(sum[2])};
}

Rgb yuvToRgb(double y, double cb, double cr, bool fullRange, const YuvMatrix &m)
{
    double luma = y;
    double blue = cb - 128.0;
    double red = cr - 128.0;
    if (!fullRange) {
        luma = (y - 16.0) * 255.0 / 219.0;
        blue = blue * 255.0 / 224.0;
        red = red * 255.0 / 224.0;
    }
    const double kg = 1.0 - m.kr - m.kb;
    const double r = luma + 2.0 * (1.0 - m.kr) * red;
    const double b = luma + 2.0 * (1.0 - m.kb) * blue;
    const double g = (luma - m.kr * r - m.kb * b) / kg;
    // Rounding to nearest absorbs the last-bit error of the division for grey.
    auto toByte = [](double v) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    };
    return {toByte(r), toByte(g), toByte(b)};
}

} // namespace trimora
