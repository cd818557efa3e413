// Nearest-colour search in a palette of up to 256 colours (squared RGB distance; the lowest index
// wins a tie).
//
// RGB space is cut into cubes, and each cube keeps the few palette entries that can be nearest to
// some colour inside it: those no farther from the cube than the distance at which one entry
// covers the whole cube. A search then looks at a handful of colours. Each level of cubes is
// worked out from the larger cube around it, whose candidates are a superset of its own. All but
// the largest level are filled when first needed, so a search object is not shared between
// threads: each thread makes its own.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "imglib/core/image.h"

namespace imglib::ops {

class NearestColour {
public:
    // `palette` holds 1 to 256 colours.
    explicit NearestColour(std::span<const Colour> palette);
    // Searches another palette from now on, keeping the memory.
    void usePalette(std::span<const Colour> palette);

    // The nearest colour, exactly.
    std::uint8_t find(int r, int g, int b)
    {
        const std::uint32_t at = cellOf(r, g, b, kCellShift);
        if (cells_.empty() || cells_[at].count == 0)
            fillCell(at, r, g, b);
        const Entry* c = &entries_[cells_[at].start];
        const Entry* const end = c + cells_[at].count;
        // Distance and index in one number: the smallest is the nearest, ties to the lowest index.
        std::uint32_t best = UINT32_MAX;
        for (; c < end; ++c) {
            const int dr = r - c->r, dg = g - c->g, db = b - c->b;
            const auto key = std::uint32_t(dr * dr + dg * dg + db * db) << 8 | c->index;
            best = key < best ? key : best;
        }
        return static_cast<std::uint8_t>(best);
    }

    // The colour nearest to the centre of the 4 × 4 × 4 levels around the colour, packed with its
    // index as index << 24 | red << 16 | green << 8 | blue: one look-up in a table once known. For
    // error diffusion, which carries whatever this costs over to the next pixels.
    std::uint32_t findNearby(int r, int g, int b)
    {
        const std::uint32_t at = cellOf(r, g, b, kNearbyShift);
        if (nearby_.empty() || nearby_[at] == unknown_)
            fillNearby(at, r, g, b);
        return nearby_[at];
    }

private:
    struct Entry {
        std::uint8_t r, g, b, index;
    };
    struct Cell {
        std::uint32_t start = 0, count = 0;  // where its candidates are; none yet when count is 0
    };
    // Cubes of 64, 32 and 16 levels a side hold lists of candidates; cells of 8 inside them hold
    // the candidates' colours for find(), and cells of 4 the answer of findNearby().
    static constexpr int kCubeShifts[] = {6, 5, 4};
    static constexpr int kCellShift = 3;
    static constexpr int kNearbyShift = 2;

    static std::uint32_t cellOf(int r, int g, int b, int shift)
    {
        const int bits = 8 - shift;
        return std::uint32_t((r >> shift) << (2 * bits) | (g >> shift) << bits | (b >> shift));
    }
    // The candidates of the cube of the given size around the colour.
    std::span<const std::uint8_t> candidatesAround(std::size_t size, int r, int g, int b);
    void fillCell(std::uint32_t at, int r, int g, int b);
    void fillNearby(std::uint32_t at, int r, int g, int b);

    struct CubeLists {
        std::vector<Cell> cubes;
        std::vector<std::uint8_t> candidates;
    };

    std::vector<Colour> palette_;
    std::vector<std::uint8_t> everyIndex_;
    CubeLists cubeLists_[std::size(kCubeShifts)];
    std::vector<Cell> cells_;
    std::vector<Entry> entries_;
    // Index and colour packed, or unknown_: entry 255 with a colour the palette does not give it,
    // which no answer packs to.
    std::vector<std::uint32_t> nearby_;
    std::uint32_t unknown_ = 0xFFFFFFFF;
};

}  // namespace imglib::ops
