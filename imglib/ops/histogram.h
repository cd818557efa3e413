// The colour histogram the palette is chosen from: each channel's levels are grouped into 64
// steps, and the three steps of a colour name its bin. Each bin keeps its pixel count and the
// exact sums of its pixels' channels. The steps are finer where a channel has many pixels: half
// evenly spread, half following the channel's own distribution, so that an image of few levels
// still gets a step for each, while no range becomes coarser than twice the even step.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "imglib/ops/rgb_rows.h"

namespace imglib::ops {

inline constexpr unsigned kBinBits = 6;
inline constexpr unsigned kBinsPerAxis = 1u << kBinBits;

// A bin with pixels: where it is, how many, and the sums of their channels.
struct BinSums {
    std::uint32_t bin;
    std::uint32_t count;
    std::uint64_t r, g, b;
};

// The red, green and blue steps of a bin.
inline std::array<unsigned, 3> stepsOfBin(std::uint32_t bin)
{
    return {bin >> (2 * kBinBits), (bin >> kBinBits) % kBinsPerAxis, bin % kBinsPerAxis};
}

// The non-empty bins of the image, in bin order, on all threads. Large images are sampled by rows.
std::vector<BinSums> colourHistogram(const RgbRows& rows);

// The image's distinct colours with their counts, counted on the same rows as colourHistogram,
// each as a bin of its own whose `bin` is the colour (red << 16 | green << 8 | blue), in that
// order; nothing when there are more than `limit`.
std::optional<std::vector<BinSums>> exactColours(const RgbRows& rows, std::size_t limit);

// The grey levels' counts when every pixel is grey (r = g = b); empty otherwise.
std::vector<std::uint64_t> greyHistogram(const RgbRows& rows);

}  // namespace imglib::ops
