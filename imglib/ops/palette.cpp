#include "imglib/ops/palette.h"

namespace imglib::ops {

namespace {

// Rounds of k-means after Wu's cut. Measured on photographs at 255 and 16 colours: five rounds
// gain 0.25 dB, five more 0.03 dB.
constexpr int kRefineRounds = 5;

}  // namespace

std::vector<Colour> choosePalette(const std::vector<BinSums>& bins, std::size_t count)
{
    return refinePalette(bins, wuPalette(bins, count), kRefineRounds);
}

}  // namespace imglib::ops
