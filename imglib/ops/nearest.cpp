#include "imglib/ops/nearest.h"

#include <algorithm>
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
    return nearestSquare(c.r, q.r, q.r + e) + nearestSquare(c.g, q.g, q.g + e) +
           nearestSquare(c.b, q.b, q.b + e);
}

int farthestDistance(Colour c, const Cube& q)
{
    const int e = q.side - 1;
    return farthestSquare(c.r, q.r, q.r + e) + farthestSquare(c.g, q.g, q.g + e) +
           farthestSquare(c.b, q.b, q.b + e);
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

}  // namespace

NearestColour::NearestColour(std::span<const Colour> palette)
    : palette_(palette.begin(), palette.end()),
      cells_(std::size_t{1} << 3 * (8 - kCellShift)),
      cubes_(std::size_t{1} << 3 * (8 - kCubeShift)),
      cubeBuilt_(cubes_.size())
{
}

void NearestColour::fillCell(std::uint32_t at, int r, int g, int b)
{
    constexpr int cubeMask = ~((1 << kCubeShift) - 1), cellMask = ~((1 << kCellShift) - 1);
    // The cube's candidates are a superset of the cell's: a colour in the cell is in the cube.
    const std::uint32_t cubeAt = cellOf(r, g, b, kCubeShift);
    auto& cube = cubes_[cubeAt];
    if (!cubeBuilt_[cubeAt]) {
        std::vector<std::uint8_t> all(palette_.size());
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = static_cast<std::uint8_t>(i);
        candidates(palette_, all, Cube{r & cubeMask, g & cubeMask, b & cubeMask, 1 << kCubeShift},
                   [&](std::uint8_t i) { cube.push_back(i); });
        cubeBuilt_[cubeAt] = true;
    }
    Cell& cell = cells_[at];
    cell.start = static_cast<std::uint32_t>(entries_.size());
    candidates(palette_, cube, Cube{r & cellMask, g & cellMask, b & cellMask, 1 << kCellShift},
               [&](std::uint8_t i) { entries_.push_back({palette_[i].r, palette_[i].g, palette_[i].b, i}); });
    cell.count = static_cast<std::uint32_t>(entries_.size()) - cell.start;
}

}  // namespace imglib::ops
