// The colour histogram the palette is chosen from: the top 6 bits of each channel name a bin, and
// each bin keeps its pixel count and the exact mean of its pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "imglib/ops/rgb_rows.h"

namespace imglib::ops {

inline constexpr unsigned kBinBits = 6;
inline constexpr unsigned kBinsPerAxis = 1u << kBinBits;
inline constexpr unsigned kLowBits = 8 - kBinBits;

inline constexpr std::uint32_t binOf(unsigned r, unsigned g, unsigned b)
{
    return (r >> kLowBits) << (2 * kBinBits) | (g >> kLowBits) << kBinBits | (b >> kLowBits);
}

struct Bin {
    std::uint32_t count = 0;
    // Sums of the channels' low bits only (the bin fixes the top bits): they fit 32 bits for any
    // image the library allows.
    std::uint32_t lowR = 0, lowG = 0, lowB = 0;
};

// A bin with pixels: where it is, how many, and the sums of their channels.
struct BinSums {
    std::uint32_t bin;
    std::uint32_t count;
    std::uint64_t r, g, b;
};

// The non-empty bins of the image, in bin order. Uses every pixel, on all threads.
std::vector<BinSums> colourHistogram(const RgbRows& rows);

// The grey levels' counts when every pixel is grey (r = g = b); empty otherwise.
std::vector<std::uint64_t> greyHistogram(const RgbRows& rows);

}  // namespace imglib::ops
