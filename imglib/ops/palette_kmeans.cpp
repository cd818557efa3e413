#include "imglib/core/parallel.h"
#include "imglib/ops/nearest.h"
#include "imglib/ops/palette.h"

namespace imglib::ops {

namespace {

std::uint8_t roundedMean(std::uint64_t sum, std::uint64_t count)
{
    return static_cast<std::uint8_t>((sum + count / 2) / count);
}

Colour meanOf(const BinSums& bin)
{
    return {roundedMean(bin.r, bin.count), roundedMean(bin.g, bin.count), roundedMean(bin.b, bin.count)};
}

struct ClusterSums {
    std::uint64_t count = 0, r = 0, g = 0, b = 0;
};

}  // namespace

std::vector<Colour> refinePalette(const std::vector<BinSums>& bins, std::vector<Colour> palette, int rounds)
{
    if (palette.empty())
        return palette;
    std::vector<std::uint8_t> nearestOf(bins.size());
    for (int round = 0; round < rounds; ++round) {
        parallelFor(bins.size(), 4096, [&](std::size_t, std::size_t begin, std::size_t end) {
            NearestColour nearest(palette, NearestColour::Cells::coarse);
            for (std::size_t i = begin; i < end; ++i) {
                const Colour c = meanOf(bins[i]);
                nearestOf[i] = nearest.find(c.r, c.g, c.b);
            }
        });
        std::vector<ClusterSums> clusters(palette.size());
        for (std::size_t i = 0; i < bins.size(); ++i) {
            ClusterSums& s = clusters[nearestOf[i]];
            s.count += bins[i].count, s.r += bins[i].r, s.g += bins[i].g, s.b += bins[i].b;
        }
        bool moved = false;
        for (std::size_t k = 0; k < palette.size(); ++k) {
            const ClusterSums& s = clusters[k];
            if (s.count == 0)
                continue;  // an emptied colour stays where it was
            const Colour mean{roundedMean(s.r, s.count), roundedMean(s.g, s.count), roundedMean(s.b, s.count)};
            moved |= !(mean == palette[k]);
            palette[k] = mean;
        }
        if (!moved)
            break;
    }
    return palette;
}

}  // namespace imglib::ops
