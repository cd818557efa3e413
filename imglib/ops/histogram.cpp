#include "imglib/ops/histogram.h"

#include <atomic>

#include "imglib/core/parallel.h"

namespace imglib::ops {

namespace {

constexpr std::uint32_t kBins = 1u << (3 * kBinBits);
constexpr unsigned kLowMask = (1u << kLowBits) - 1;

void addRows(const RgbRows& rows, std::size_t begin, std::size_t end, std::vector<Bin>& bins)
{
    auto scratch = rows.scratch();
    for (auto y = static_cast<std::uint32_t>(begin); y < end; ++y) {
        const std::uint8_t* p = rows.row(y, scratch.data());
        for (std::uint32_t x = 0; x < rows.width(); ++x, p += 3) {
            Bin& bin = bins[binOf(p[0], p[1], p[2])];
            ++bin.count;
            bin.lowR += p[0] & kLowMask;
            bin.lowG += p[1] & kLowMask;
            bin.lowB += p[2] & kLowMask;
        }
    }
}

std::uint64_t channelSum(std::uint32_t top, const Bin& bin, std::uint32_t low)
{
    return (std::uint64_t{top} << kLowBits) * bin.count + low;
}

}  // namespace

std::vector<BinSums> colourHistogram(const RgbRows& rows)
{
    const std::size_t bands = bandCount(rows.height(), 16);
    std::vector<std::vector<Bin>> partial(bands);
    parallelFor(rows.height(), 16, [&](std::size_t band, std::size_t begin, std::size_t end) {
        partial[band].assign(kBins, Bin{});
        addRows(rows, begin, end, partial[band]);
    });
    std::vector<Bin>& bins = partial[0];
    for (std::size_t band = 1; band < bands; ++band)
        for (std::uint32_t i = 0; i < kBins; ++i) {
            bins[i].count += partial[band][i].count;
            bins[i].lowR += partial[band][i].lowR;
            bins[i].lowG += partial[band][i].lowG;
            bins[i].lowB += partial[band][i].lowB;
        }

    std::vector<BinSums> used;
    for (std::uint32_t i = 0; i < kBins; ++i) {
        const Bin& bin = bins[i];
        if (bin.count == 0)
            continue;
        const std::uint32_t r = i >> (2 * kBinBits), g = (i >> kBinBits) % kBinsPerAxis, b = i % kBinsPerAxis;
        used.push_back({i, bin.count, channelSum(r, bin, bin.lowR), channelSum(g, bin, bin.lowG),
                        channelSum(b, bin, bin.lowB)});
    }
    return used;
}

std::vector<std::uint64_t> greyHistogram(const RgbRows& rows)
{
    const std::size_t bands = bandCount(rows.height(), 64);
    std::vector<std::vector<std::uint64_t>> partial(bands);
    std::atomic<bool> colour{false};
    parallelFor(rows.height(), 64, [&](std::size_t band, std::size_t begin, std::size_t end) {
        auto& counts = partial[band];
        counts.assign(256, 0);
        auto scratch = rows.scratch();
        for (auto y = static_cast<std::uint32_t>(begin); y < end && !colour; ++y) {
            const std::uint8_t* p = rows.row(y, scratch.data());
            for (std::uint32_t x = 0; x < rows.width(); ++x, p += 3) {
                if (p[0] != p[1] || p[1] != p[2]) {
                    colour = true;
                    return;
                }
                ++counts[p[0]];
            }
        }
    });
    if (colour)
        return {};
    for (std::size_t band = 1; band < bands; ++band)
        for (unsigned i = 0; i < 256; ++i)
            partial[0][i] += partial[band][i];
    return std::move(partial[0]);
}

}  // namespace imglib::ops
