#include "imglib/ops/histogram.h"

#include <algorithm>
#include <atomic>
#include <bit>
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
    const auto countBand = [&](std::size_t begin, std::size_t end) {
        LevelCounts counts{};
        countedRows(rows, step, begin, end, [&](const std::uint8_t* p) {
            for (std::uint32_t x = 0; x < rows.width(); ++x, p += 3)
                ++counts[0][p[0]], ++counts[1][p[1]], ++counts[2][p[2]];
        });
        return counts;
    };
    const auto merge = [](LevelCounts& total, const LevelCounts& part) {
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v)
                total[c][v] += part[c][v];
    };
    return parallelSum(rows.height(), 16, countBand, merge);
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
            steps.stepOf[c][v] =
                static_cast<std::uint8_t>(std::min<double>(kBinsPerAxis - 1, (rank + place) / 2 * kBinsPerAxis));
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
    const auto countBand = [&](std::size_t begin, std::size_t end) {
        std::vector<Bin> bins(kBins);
        countedRows(rows, step, begin, end, [&](const std::uint8_t* p) {
            for (std::uint32_t x = 0; x < rows.width(); ++x, p += 3) {
                Bin& bin = bins[steps.binOf(p)];
                ++bin.count, bin.r += p[0], bin.g += p[1], bin.b += p[2];
            }
        });
        return bins;
    };
    const auto merge = [](std::vector<Bin>& total, const std::vector<Bin>& part) {
        for (std::uint32_t i = 0; i < kBins; ++i)
            total[i].count += part[i].count, total[i].r += part[i].r, total[i].g += part[i].g, total[i].b += part[i].b;
    };
    const std::vector<Bin> bins = parallelSum(rows.height(), 16, countBand, merge);

    std::vector<BinSums> used;
    for (std::uint32_t i = 0; i < kBins; ++i)
        if (bins[i].count != 0)
            used.push_back({i, bins[i].count, bins[i].r, bins[i].g, bins[i].b});
    return used;
}

std::optional<std::vector<BinSums>> exactColours(const RgbRows& rows, std::size_t limit)
{
    // Open addressing in a table kept at most half full; a slot holds its colour + 1, or 0.
    const std::size_t slots = std::bit_ceil(2 * limit + 2);
    std::vector<std::uint32_t> keys(slots), counts(slots);
    std::size_t used = 0;
    bool tooMany = false;
    countedRows(rows, rowStep(rows), 0, rows.height(), [&](const std::uint8_t* p) {
        for (std::uint32_t x = 0; x < rows.width() && !tooMany; ++x, p += 3) {
            const std::uint32_t key = (std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2]) + 1;
            std::size_t slot = (key * 2654435761u) & (slots - 1);
            while (keys[slot] != 0 && keys[slot] != key)
                slot = (slot + 1) & (slots - 1);
            if (keys[slot] == 0) {
                tooMany = ++used > limit;
                keys[slot] = key;
            }
            ++counts[slot];
        }
    });
    if (tooMany)
        return std::nullopt;
    std::vector<BinSums> colours;
    colours.reserve(used);
    for (std::size_t slot = 0; slot < slots; ++slot)
        if (keys[slot] != 0) {
            const std::uint32_t rgb = keys[slot] - 1, n = counts[slot];
            colours.push_back({rgb, n, std::uint64_t(n) * (rgb >> 16), std::uint64_t(n) * (rgb >> 8 & 0xFF),
                               std::uint64_t(n) * (rgb & 0xFF)});
        }
    std::sort(colours.begin(), colours.end(), [](const BinSums& a, const BinSums& b) { return a.bin < b.bin; });
    return colours;
}

std::vector<std::uint64_t> greyHistogram(const RgbRows& rows)
{
    std::atomic<bool> colour{false};
    const auto countBand = [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint64_t> counts(256);
        auto scratch = rows.scratch();
        for (auto y = static_cast<std::uint32_t>(begin); y < end && !colour; ++y) {
            const std::uint8_t* p = rows.row(y, scratch.data());
            for (std::uint32_t x = 0; x < rows.width(); ++x, p += 3) {
                if (p[0] != p[1] || p[1] != p[2]) {
                    colour = true;
                    return counts;
                }
                ++counts[p[0]];
            }
        }
        return counts;
    };
    const auto merge = [](std::vector<std::uint64_t>& total, const std::vector<std::uint64_t>& part) {
        for (unsigned i = 0; i < 256; ++i)
            total[i] += part[i];
    };
    auto counts = parallelSum(rows.height(), 64, countBand, merge);
    if (colour)
        return {};
    return counts;
}

}  // namespace imglib::ops
