// Colour arithmetic shared by readers, writers and operations.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace imglib {

// Rec. 601 luma (0.299 R + 0.587 G + 0.114 B) rounded half up, in 20-bit fixed point: the
// weights are rounded to 2^-20 and the half nudged up by 524 / 2^20, which gives exactly
// (299 R + 587 G + 114 B + 500) / 1000 for every one of the 2^24 colours (checked one by one)
// without a division.
constexpr std::uint8_t luma601(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return static_cast<std::uint8_t>((313524 * r + 615514 * g + 119538 * b + (1 << 19) + 524) >> 20);
}

// Printing inks to light, the naive way: each ink takes away its share of its primary, black of
// all three. Used by every reader of CMYK data (JPEG, TIFF). `ink` and `black` run from 0 (none)
// to 255 (full); the result is the light left, rounded.
constexpr std::uint8_t lightUnderInks(unsigned ink, unsigned black)
{
    const unsigned v = (255 - ink) * (255 - black) + 128;
    return static_cast<std::uint8_t>((v + (v >> 8)) >> 8);  // v / 255, rounded
}

// A channel of a pixel with alpha composited over white: value·alpha/255 + 255·(1 − alpha/255),
// rounded. The newer formats' alpha is flattened this way, as the image model has none.
constexpr std::uint8_t overWhite(unsigned value, unsigned alpha)
{
    const unsigned v = (255 - value) * alpha + 128;
    return static_cast<std::uint8_t>(255 - ((v + (v >> 8)) >> 8));  // 255 − (255 − value)·alpha/255, rounded
}

// The same for a sample that may be premultiplied, alpha having weighed it already: then only
// white's share, 255 − alpha, is added.
constexpr std::uint8_t overWhite(unsigned value, unsigned alpha, bool premultiplied)
{
    return premultiplied ? static_cast<std::uint8_t>(std::min(255u, value + 255 - alpha)) : overWhite(value, alpha);
}

// A sample of 0 to `max` (at least 1) as an 8-bit level: value·255/max, rounded half up. Used by
// every reader whose samples have another range (bit fields, maxval, 16-bit TIFF, thousandths).
constexpr std::uint8_t scaleTo8(std::uint32_t value, std::uint32_t max)
{
    return static_cast<std::uint8_t>((std::uint64_t{value} * 510 + max) / (std::uint64_t{max} * 2));
}

// scaleTo8 of every value from 0 to `max`, for readers that look each sample up.
inline std::vector<std::uint8_t> scaledLevels(std::uint32_t max)
{
    std::vector<std::uint8_t> levels(std::size_t{max} + 1);
    for (std::uint32_t v = 0; v <= max; ++v)
        levels[v] = scaleTo8(v, max);
    return levels;
}

}  // namespace imglib
