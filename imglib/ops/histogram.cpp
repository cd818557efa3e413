#include "imglib/ops/histogram.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "imglib/core/parallel.h"

namespace imglib::ops {

namespace {

constexpr std::uint32_t kBins = 1u << (3 * kBinBits);

// Large images are counted on every n-th row, about this many pixels in all: a palette chosen
// from 4 megapixels is as good as one from all of an 18-megapixel photograph (measured), and
// counting is a third of the choosing.
constexpr double kMostCounted = 4e6;

std::uint32_t rowStep(const RgbRows& rows)
{
    const double pixels = double(rows.width()) * rows.height();
    return static_cast<std::uint32_t>(std::max(1.0, std::ceil(pixels / kMostCounted)));
}

// Calls count(row) for every counted row of [begin, end).
template <typename Count>
void countedRows(const RgbRows& rows, std::uint32_t step, std::size_t begin, std::size_t end, Count count)
{
    auto scratch = rows.scratch();
    for (auto y = static_cast<std::uint32_t>((begin + step - 1) / step * step); y < end; y += step)
        count(rows.row(y, scratch.data()));
}

using LevelCounts = std::array<std::array<std::uint64_t, 256>, 3>;

// Which step each level of each channel falls in.
struct ChannelSteps {
    std::array<std::array<std::uint8_t, 256>, 3> stepOf;

    std::uint32_t binOf(const std::uint8_t* rgb) const
    {
        return std::uint32_t(stepOf[0][rgb[0]]) << (2 * kBinBits) | std::uint32_t(stepOf[1][rgb[1]]) << kBinBits |
               stepOf[2][rgb[2]];
    }
};

LevelCounts levelCounts(const RgbRows& rows, std::uint32_t step)
{
    const std::size_t bands = bandCount(rows.height(), 16);
    std::vector<LevelCounts> partial(bands);
    parallelFor(rows.height(), 16, [&](std::size_t band, std::size_t begin, std::size_t end) {
        auto& counts = partial[band];
        counts = {};
        countedRows(rows, step, begin, end, [&](const std::uint8_t* p) {
            for (std::uint32_t x = 0; x < rows.width(); ++x, p += 3)
                ++counts[0][p[0]], ++counts[1][p[1]], ++counts[2][p[2]];
        });
    });
    for (std::size_t band = 1; band < bands; ++band)
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v)
                partial[0][c][v] += partial[band][c][v];
    return partial[0];
}

ChannelSteps channelSteps(const LevelCounts& counts)
{
    ChannelSteps steps;
    for (int c = 0; c < 3; ++c) {
        std::uint64_t total = 0;
        for (const std::uint64_t n : counts[c])
            total += n;
        std::uint64_t before = 0;
        for (int v = 0; v < 256; ++v) {
            // Where the level sits, from 0 to 1: the mean of its even place and its rank (the
            // middle of its pixels among all pixels).
            const double rank = (double(before) + double(counts[c][v]) / 2) / double(total);
            const double place = (v + 0.5) / 256;
            steps.stepOf[c][v] = static_cast<std::uint8_t>(std::min<double>(kBinsPerAxis - 1, (rank + place) / 2 * kBinsPerAxis));
            before += counts[c][v];
        }
    }
    return steps;
}

struct Bin {
    std::uint32_t count = 0;
    std::uint64_t r = 0, g = 0, b = 0;
};

}  // namespace

std::vector<BinSums> colourHistogram(const RgbRows& rows)
{
    const std::uint32_t step = rowStep(rows);
    const ChannelSteps steps = channelSteps(levelCounts(rows, step));
    const std::size_t bands = bandCount(rows.height(), 16);
    std::vector<std::vector<Bin>> partial(bands);
    parallelFor(rows.height(), 16, [&](std::size_t band, std::size_t begin, std::size_t end) {
        auto& bins = partial[band];
        bins.assign(kBins, Bin{});
        countedRows(rows, step, begin, end, [&](const std::uint8_t* p) {
            for (std::uint32_t x = 0; x < rows.width(); ++x, p += 3) {
                Bin& bin = bins[steps.binOf(p)];
                ++bin.count, bin.r += p[0], bin.g += p[1], bin.b += p[2];
            }
        });
    });
    std::vector<Bin>& bins = partial[0];
    for (std::size_t band = 1; band < bands; ++band)
        for (std::uint32_t i = 0; i < kBins; ++i) {
            const Bin& more = partial[band][i];
            bins[i].count += more.count, bins[i].r += more.r, bins[i].g += more.g, bins[i].b += more.b;
        }

    std::vector<BinSums> used;
    for (std::uint32_t i = 0; i < kBins; ++i)
        if (bins[i].count != 0)
            used.push_back({i, bins[i].count, bins[i].r, bins[i].g, bins[i].b});
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
