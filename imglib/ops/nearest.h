// Nearest-colour search in a palette of up to 256 colours (squared RGB distance; the lowest index
// wins a tie).
//
// RGB space is cut into cubes, and each cube keeps the few palette entries that can be nearest to
// some colour inside it: those no farther from the cube than the distance at which one entry
// covers the whole cube, less those that entry beats everywhere in it. A search then looks at a
// handful of colours, and at none in a cell that one colour covers. Each level of cubes is worked
// out from the larger cube around it, whose candidates are a superset of its own. All but the
// largest level are filled when first needed, so a search object is not shared between threads:
// each thread makes its own.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "imglib/core/image.h"

namespace imglib::ops {

class NearestColour {
public:
    // How finely colour space is cut where the answers are kept: fine cells answer faster, coarse
    // ones are filled eight times less often, the better choice for a few hundred thousand
    // searches.
    enum class Cells { fine, coarse };

    // `palette` holds 1 to 256 colours.
    explicit NearestColour(std::span<const Colour> palette, Cells cells = Cells::fine);
    // Searches another palette from now on, keeping the memory.
    void usePalette(std::span<const Colour> palette);

    Colour colour(std::uint8_t index) const { return palette_[index]; }

    // The nearest colour, exactly.
    std::uint8_t find(int r, int g, int b)
    {
        const std::uint32_t at = cellOf(r, g, b, cellShift_);
        if (cells_.empty() || cells_[at] == kUnknown)
            fillCell(at, r, g, b);
        const std::uint32_t cell = cells_[at];
        if (cell & kOneColour)
            return static_cast<std::uint8_t>(cell);
        const Entry* c = &entries_[cell >> 8];
        const Entry* const end = c + (cell & 0xFF) + 1;
        // Distance and index in one number: the smallest is the nearest, ties to the lowest index.
        std::uint32_t best = UINT32_MAX;
        for (; c < end; ++c) {
            const int dr = r - c->r, dg = g - c->g, db = b - c->b;
            const auto key = std::uint32_t(dr * dr + dg * dg + db * db) << 8 | c->index;
            best = key < best ? key : best;
        }
        return static_cast<std::uint8_t>(best);
    }

    // Starts fetching the cell of a colour that is likely to be searched next.
    void prefetch(int r, int g, int b) const
    {
        if (!cells_.empty())
            __builtin_prefetch(&cells_[cellOf(r, g, b, cellShift_)]);
    }

private:
    struct Entry {
        std::uint8_t r, g, b, index;
    };
    // Cubes of 64, 32, 16 and (with fine cells) 8 levels a side hold lists of candidates; the
    // cells inside the smallest cubes, of 4 or 8 levels, hold their one colour's index with
    // kOneColour, or where their candidates' colours are in entries_ (start << 8 | count - 1),
    // or kUnknown until first needed.
    static constexpr int kCubeShifts[] = {6, 5, 4, 3};
    static constexpr std::uint32_t kOneColour = 1u << 31, kUnknown = 0xFFFFFFFF;
    // The cells' lists are dropped and made again as needed when they would outgrow this many
    // entries, so that every start fits below kOneColour (images need far fewer).
    static constexpr std::size_t kMostEntries = std::size_t{1} << 23;

    static std::uint32_t cellOf(int r, int g, int b, int shift)
    {
        const int bits = 8 - shift;
        return std::uint32_t((r >> shift) << (2 * bits) | (g >> shift) << bits | (b >> shift));
    }
    // The candidates of the cube of the given level around the colour.
    std::span<const std::uint8_t> candidatesAround(std::size_t level, int r, int g, int b);
    void fillCell(std::uint32_t at, int r, int g, int b);
    void forgetCells();

    struct CubeLists {
        struct Cube {
            std::uint32_t start = 0, count = 0;  // where its candidates are; none yet when count is 0
        };
        std::vector<Cube> cubes;
        std::vector<std::uint8_t> candidates;
    };

    int cellShift_;
    std::size_t levels_;  // of kCubeShifts, those larger than the cells
    std::vector<Colour> palette_;
    std::vector<std::uint8_t> everyIndex_;
    CubeLists cubeLists_[std::size(kCubeShifts)];
    std::vector<std::uint32_t> cells_;
    std::vector<Entry> entries_;
};

}  // namespace imglib::ops
