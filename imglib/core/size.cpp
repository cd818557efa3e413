#include "imglib/core/size.h"

namespace imglib {

bool withinLimits(std::uint64_t width, std::uint64_t height)
{
    return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
}

std::optional<Layout> layoutOf(std::uint64_t width, std::uint64_t height, std::uint32_t bitsPerPixel,
                               std::uint32_t rowAlign)
{
    if (!withinLimits(width, height) || bitsPerPixel == 0 || bitsPerPixel > 128 || rowAlign == 0)
        return std::nullopt;
    // With the limits above every product fits in 64 bits: 65535 × 128 bits per row, 2^28 pixels.
    const std::uint64_t rowBits = width * bitsPerPixel;
    const std::uint64_t rowBytes = (rowBits + 7) / 8;
    const std::uint64_t padded = (rowBytes + rowAlign - 1) / rowAlign * rowAlign;
    const std::uint64_t total = padded * height;
    if (total > SIZE_MAX)
        return std::nullopt;
    return Layout{static_cast<std::size_t>(padded), static_cast<std::size_t>(total)};
}

}  // namespace imglib
