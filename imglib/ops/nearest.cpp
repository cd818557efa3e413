#include "imglib/ops/nearest.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace imglib::ops {

namespace {

// A cube of colours, each channel from lo to lo + side - 1.
struct Cube {
    int r, g, b, side;
};

int nearestSquare(int v, int lo, int hi)
{
    const int d = v < lo ? lo - v : v > hi ? v - hi : 0;
    return d * d;
}

int farthestSquare(int v, int lo, int hi)
{
    const int d = std::max(v - lo, hi - v);
    return d * d;
}

int nearestDistance(Colour c, const Cube& q)
{
    const int e = q.side - 1;
    return nearestSquare(c.r, q.r, q.r + e) + nearestSquare(c.g, q.g, q.g + e) + nearestSquare(c.b, q.b, q.b + e);
}

int farthestDistance(Colour c, const Cube& q)
{
    const int e = q.side - 1;
    return farthestSquare(c.r, q.r, q.r + e) + farthestSquare(c.g, q.g, q.g + e) + farthestSquare(c.b, q.b, q.b + e);
}

// Calls take(i) for each entry of `from`, in order, that can be nearest to a colour in the cube.
template <typename Take>
void candidates(std::span<const Colour> palette, std::span<const std::uint8_t> from, const Cube& cube, Take take)
{
    int cover = std::numeric_limits<int>::max();
    for (const std::uint8_t i : from)
        cover = std::min(cover, farthestDistance(palette[i], cube));
    for (const std::uint8_t i : from)
        if (nearestDistance(palette[i], cube) <= cover)
            take(i);
}

Cube cubeOf(int r, int g, int b, int shift)
{
    const int mask = ~((1 << shift) - 1);
    return {r & mask, g & mask, b & mask, 1 << shift};
}

}  // namespace

NearestColour::NearestColour(std::span<const Colour> palette)
{
    for (std::size_t size = 0; size < std::size(kCubeShifts); ++size)
        cubeLists_[size].cubes.resize(std::size_t{1} << 3 * (8 - kCubeShifts[size]));
    usePalette(palette);
}

void NearestColour::usePalette(std::span<const Colour> palette)
{
    palette_.assign(palette.begin(), palette.end());
    everyIndex_.resize(palette_.size());
    for (std::size_t i = 0; i < everyIndex_.size(); ++i)
        everyIndex_[i] = static_cast<std::uint8_t>(i);
    for (CubeLists& lists : cubeLists_) {
        std::fill(lists.cubes.begin(), lists.cubes.end(), Cell{});
        lists.candidates.clear();
    }
    std::fill(cells_.begin(), cells_.end(), Cell{});
    entries_.clear();
    const bool lastIsWhite = palette_.size() == 256 && palette_[255] == Colour{255, 255, 255};
    unknown_ = lastIsWhite ? 0xFFFFFFFE : 0xFFFFFFFF;
    std::fill(nearby_.begin(), nearby_.end(), unknown_);
}

std::span<const std::uint8_t> NearestColour::candidatesAround(std::size_t size, int r, int g, int b)
{
    CubeLists& lists = cubeLists_[size];
    Cell& cube = lists.cubes[cellOf(r, g, b, kCubeShifts[size])];
    if (cube.count == 0) {
        // Worked out from the larger cube around it (different lists, so `from` stays valid).
        const auto from = size == 0 ? std::span<const std::uint8_t>(everyIndex_) : candidatesAround(size - 1, r, g, b);
        cube.start = static_cast<std::uint32_t>(lists.candidates.size());
        candidates(palette_, from, cubeOf(r, g, b, kCubeShifts[size]),
                   [&](std::uint8_t i) { lists.candidates.push_back(i); });
        cube.count = static_cast<std::uint32_t>(lists.candidates.size()) - cube.start;
    }
    return {lists.candidates.data() + cube.start, cube.count};
}

void NearestColour::fillCell(std::uint32_t at, int r, int g, int b)
{
    if (cells_.empty())
        cells_.resize(std::size_t{1} << 3 * (8 - kCellShift));
    const auto around = candidatesAround(std::size(kCubeShifts) - 1, r, g, b);
    Cell& cell = cells_[at];
    cell.start = static_cast<std::uint32_t>(entries_.size());
    candidates(palette_, around, cubeOf(r, g, b, kCellShift), [&](std::uint8_t i) {
        entries_.push_back({palette_[i].r, palette_[i].g, palette_[i].b, i});
    });
    cell.count = static_cast<std::uint32_t>(entries_.size()) - cell.start;
}

void NearestColour::fillNearby(std::uint32_t at, int r, int g, int b)
{
    if (nearby_.empty())
        nearby_.assign(std::size_t{1} << 3 * (8 - kNearbyShift), unknown_);
    // Distances to the cell's centre, in half levels so that they stay whole.
    const Cube cell = cubeOf(r, g, b, kNearbyShift);
    const int cr = 2 * cell.r + cell.side - 1, cg = 2 * cell.g + cell.side - 1, cb = 2 * cell.b + cell.side - 1;
    // The candidates of the larger cell around it hold the nearest colour to any point inside.
    const std::uint32_t around = cellOf(r, g, b, kCellShift);
    if (cells_.empty() || cells_[around].count == 0)
        fillCell(around, r, g, b);
    std::uint32_t best = UINT32_MAX;
    for (std::uint32_t k = 0; k < cells_[around].count; ++k) {
        const Entry& c = entries_[cells_[around].start + k];
        const int dr = cr - 2 * c.r, dg = cg - 2 * c.g, db = cb - 2 * c.b;
        best = std::min(best, std::uint32_t(dr * dr + dg * dg + db * db) << 8 | c.index);
    }
    const std::uint32_t index = best & 0xFF;
    const Colour c = palette_[index];
    nearby_[at] = index << 24 | std::uint32_t(c.r) << 16 | std::uint32_t(c.g) << 8 | c.b;
}

}  // namespace imglib::ops
