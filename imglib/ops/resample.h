// Separable resampling with a Lanczos-3 filter, widened when shrinking so that every source pixel
// counts. Each output row is filtered down its column first (source rows to one row of the
// source's width), then along the row; rows are shared out among the threads.
#pragma once

#include <cstdint>
#include <vector>

#include "imglib/core/image.h"

namespace imglib::ops {

// Fixed-point weights of one axis: output position i reads `taps` source positions from first[i]
// on, with weights in 1/16384 that add up to exactly 16384. Taps that fall past either edge are
// folded onto the edge pixel.
struct AxisWeights {
    int taps = 0;
    std::vector<std::uint32_t> first;
    std::vector<std::int16_t> weights;  // taps per output position
};

inline constexpr int kWeightBits = 14;

AxisWeights axisWeights(std::uint32_t inSize, std::uint32_t outSize);

// Resamples a grey or RGB image into `out`, already allocated at the new size in the same format.
void resample(const Image& in, Image& out);

}  // namespace imglib::ops
