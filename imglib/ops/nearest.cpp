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

// Whether palette entry q is nearer than entry p to every colour of the cube, or as near with
// the lower index. The set where q is nearer is a half-space (2c·(p − q) < |p|² − |q|²), so the
// cube is inside it when its corner farthest into p's side is.
bool winsEverywhere(std::span<const Colour> palette, std::uint8_t q, std::uint8_t p, const Cube& cube)
{
    const Colour a = palette[p], b = palette[q];
    const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    const auto corner = [&](int lo, int d) { return d > 0 ? lo + cube.side - 1 : lo; };
    const int reach = 2 * (corner(cube.r, dr) * dr + corner(cube.g, dg) * dg + corner(cube.b, db) * db);
    const int gap = (a.r * a.r + a.g * a.g + a.b * a.b) - (b.r * b.r + b.g * b.g + b.b * b.b);
    return q < p ? reach <= gap : reach < gap;
}

// Calls take(i) for each entry of `from`, in order, that can be nearest to a colour in the cube:
// those no farther from it than the distance at which one entry covers all of it, less those
// another entry beats everywhere in it. A list of at most `keptWhole` entries is kept as it is:
// a search weighs that many at once anyway.
template <typename Take>
void candidates(std::span<const Colour> palette, std::span<const std::uint8_t> from, const Cube& cube,
                std::size_t keptWhole, Take take)
{
    if (from.size() <= keptWhole) {
        std::for_each(from.begin(), from.end(), take);
        return;
    }
    int cover = std::numeric_limits<int>::max();
    std::uint8_t covering = from.empty() ? 0 : from[0];
    for (const std::uint8_t i : from) {
        const int d = farthestDistance(palette[i], cube);
        if (d < cover)
            cover = d, covering = i;
    }
    for (const std::uint8_t i : from)
        if (nearestDistance(palette[i], cube) <= cover &&
            (i == covering || !winsEverywhere(palette, covering, i, cube)))
            take(i);
}

// Keeps, in order, the candidates (each with an `index`) that no other of them beats everywhere in
// the cube, and returns how many. Every pair is weighed: too slow for the long lists of the large
// cubes, worth it for a cell's few, which every search falling into the cell weighs.
template <typename Entry>
std::uint32_t withoutBeaten(std::span<const Colour> palette, Entry* found, std::uint32_t count, const Cube& cube)
{
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        bool beaten = false;
        for (std::uint32_t j = 0; j < count && !beaten; ++j)
            beaten = j != i && winsEverywhere(palette, found[j].index, found[i].index, cube);
        if (!beaten)
            found[kept++] = found[i];
    }
    return kept;
}

Cube cubeOf(int r, int g, int b, int shift)
{
    const int mask = ~((1 << shift) - 1);
    return {r & mask, g & mask, b & mask, 1 << shift};
}

}  // namespace

NearestColour::Cells NearestColour::cellsFor(std::span<const Colour> palette)
{
    // The median distance from a colour to the nearest other.
    std::vector<int> nearest(palette.size(), std::numeric_limits<int>::max());
    for (std::size_t i = 0; i < palette.size(); ++i)
        for (std::size_t j = i + 1; j < palette.size(); ++j) {
            const int dr = palette[i].r - palette[j].r, dg = palette[i].g - palette[j].g,
                      db = palette[i].b - palette[j].b;
            const int d = dr * dr + dg * dg + db * db;
            nearest[i] = std::min(nearest[i], d);
            nearest[j] = std::min(nearest[j], d);
        }
    const auto middle = nearest.begin() + std::ptrdiff_t(nearest.size() / 2);
    std::nth_element(nearest.begin(), middle, nearest.end());
    return *middle >= 8 * 8 ? Cells::coarse : Cells::fine;
}

NearestColour::NearestColour(std::span<const Colour> palette, Cells cells)
    : cellShift_(cells == Cells::fine ? 2 : 3), levels_(cells == Cells::fine ? 4 : 3)
{
    for (std::size_t level = 0; level < levels_; ++level)
        cubeLists_[level].cubes.resize(std::size_t{1} << 3 * (8 - kCubeShifts[level]));
    usePalette(palette);
}

void NearestColour::usePalette(std::span<const Colour> palette)
{
    palette_.assign(palette.begin(), palette.end());
    everyIndex_.resize(palette_.size());
    for (std::size_t i = 0; i < everyIndex_.size(); ++i)
        everyIndex_[i] = static_cast<std::uint8_t>(i);
    for (CubeLists& lists : cubeLists_) {
        std::fill(lists.cubes.begin(), lists.cubes.end(), CubeLists::Cube{});
        lists.candidates.clear();
    }
    forgetCells();
}

void NearestColour::forgetCells()
{
    std::fill(more_.begin(), more_.end(), kUnknown);
    entries_.clear();
}

std::span<const std::uint8_t> NearestColour::candidatesAround(std::size_t level, int r, int g, int b)
{
    CubeLists& lists = cubeLists_[level];
    CubeLists::Cube& cube = lists.cubes[cellOf(r, g, b, kCubeShifts[level])];
    if (cube.count == 0) {
        // Worked out from the larger cube around it (different lists, so `from` stays valid).
        const auto from =
            level == 0 ? std::span<const std::uint8_t>(everyIndex_) : candidatesAround(level - 1, r, g, b);
        cube.start = static_cast<std::uint32_t>(lists.candidates.size());
        candidates(palette_, from, cubeOf(r, g, b, kCubeShifts[level]), kGroup,
                   [&](std::uint8_t i) { lists.candidates.push_back(i); });
        cube.count = static_cast<std::uint32_t>(lists.candidates.size()) - cube.start;
    }
    return {lists.candidates.data() + cube.start, cube.count};
}

void NearestColour::fillCell(std::uint32_t at, int r, int g, int b)
{
    if (more_.empty()) {
        const std::size_t count = std::size_t{1} << 3 * (8 - cellShift_);
        cells_ = std::make_unique_for_overwrite<Group[]>(count);
        more_.assign(count, kUnknown);
    }
    if (entries_.size() + 256 > kMostEntries)
        forgetCells();
    const auto around = candidatesAround(levels_ - 1, r, g, b);
    // The cell's candidates, filled up to whole groups with copies of the last.
    Entry found[256 + kGroup]{};
    std::uint32_t count = 0;
    const auto take = [&](std::uint8_t i) { found[count++] = {palette_[i].r, palette_[i].g, palette_[i].b, i}; };
    const Cube cell = cubeOf(r, g, b, cellShift_);
    candidates(palette_, around, cell, kGroup, take);
    if (count > kGroup)
        count = withoutBeaten(palette_, found, count, cell);
    for (; count % kGroup != 0; ++count)
        found[count] = found[count - 1];
    std::copy_n(found, kGroup, cells_[at].entries);
    const auto start = static_cast<std::uint32_t>(entries_.size());
    entries_.insert(entries_.end(), found + kGroup, found + count);
    more_[at] = count == kGroup ? 0 : start << 8 | (count - kGroup - 1);
}

}  // namespace imglib::ops
