#pragma once

#include <cstdint>
#include <vector>

namespace trimora {

// A small picture in packed 8-bit RGB, rows top to bottom, no padding.
struct Thumbnail
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

struct Rgb
{
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb &) const = default;
};

// The whole picture averaged into one pixel, rounded to nearest. An empty
// picture gives mid grey.
Rgb averagePixel(const Thumbnail &image);

// Colour matrix of a Y'CbCr source: the luma weights of red and blue.
struct YuvMatrix
{
    double kr = 0.2126;
    double kb = 0.0722;
};

// Converts one Y'CbCr sample (or a mean of samples) to RGB with full-range
// output. Limited-range black (16, 128, 128) and white (235, 128, 128) map
// exactly to 0 and 255, as do full-range 0 and 255.
Rgb yuvToRgb(double y, double cb, double cr, bool fullRange, const YuvMatrix &matrix);

} // namespace trimora
