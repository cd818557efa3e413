// Exact nearest-colour search in a palette of up to 256 colours (squared RGB distance; the lowest
// index wins a tie).
//
// RGB space is cut into small cells, and each cell keeps the few palette entries that can be
// nearest to some colour inside it: those no farther from the cell than the distance at which one
// entry covers the whole cell. A search then looks at a handful of colours. Cells are filled when
// first searched, from the candidates of a larger cube around them, so a search object is not
// shared between threads: each thread makes its own (they are cheap until used).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imglib/core/image.h"

namespace imglib::ops {

class NearestColour {
public:
    // `palette` holds 1 to 256 colours.
    explicit NearestColour(std::span<const Colour> palette);

    std::uint8_t find(int r, int g, int b)
    {
        const std::uint32_t at = cellOf(r, g, b, kCellShift);
        if (cells_[at].count == 0)
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

private:
    struct Entry {
        std::uint8_t r, g, b, index;
    };
    static constexpr int kCellShift = 2;    // cells of 4 × 4 × 4 levels
    static constexpr int kCubeShift = 4;    // inside cubes of 16 × 16 × 16

    static std::uint32_t cellOf(int r, int g, int b, int shift)
    {
        const int bits = 8 - shift;
        return std::uint32_t((r >> shift) << (2 * bits) | (g >> shift) << bits | (b >> shift));
    }
    struct Cell {
        std::uint32_t start = 0, count = 0;  // its candidates in entries_; none yet when count is 0
    };
    void fillCell(std::uint32_t at, int r, int g, int b);

    std::vector<Colour> palette_;
    std::vector<Cell> cells_;
    std::vector<Entry> entries_;
    std::vector<std::vector<std::uint8_t>> cubes_;  // candidates of each cube, once needed
    std::vector<bool> cubeBuilt_;
};

}  // namespace imglib::ops
