// Nearest-colour search in a palette of up to 256 colours (squared RGB distance; the lowest index
// wins a tie).
//
// RGB space is cut into cubes, and each cube keeps the few palette entries that can be nearest to
// some colour inside it: those no farther from the cube than the distance at which one entry
// covers the whole cube, less those that entry beats everywhere in it. A search then weighs a
// handful of colours, four at a time. Each level of cubes is worked out from the larger cube
// around it, whose candidates are a superset of its own. All but the largest level are filled
// when first needed, so a search object is not shared between threads: each thread makes its own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

#include "imglib/core/image.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace imglib::ops {

class NearestColour {
public:
    // How finely colour space is cut where the answers are kept: cells of 4 levels a side or of 8.
    // Cells about as wide as the palette's colours are apart hold a few candidates each: finer
    // ones take more memory and more filling, coarser ones more candidates to weigh. Coarse cells
    // are also the better choice for a few hundred thousand searches, being filled eight times
    // less often.
    enum class Cells { fine, coarse };
    static Cells cellsFor(std::span<const Colour> palette);

    // `palette` holds 1 to 256 colours.
    explicit NearestColour(std::span<const Colour> palette) : NearestColour(palette, cellsFor(palette)) {}
    NearestColour(std::span<const Colour> palette, Cells cells);
    // Searches another palette from now on, keeping the memory.
    void usePalette(std::span<const Colour> palette);

    Colour colour(std::uint8_t index) const { return palette_[index]; }

    // The nearest colour, exactly.
    [[gnu::always_inline]] std::uint8_t find(int r, int g, int b)
    {
        const std::uint32_t at = cellOf(r, g, b, cellShift_);
        if (more_.empty() || more_[at] == kUnknown)
            fillCell(at, r, g, b);
        // The first four candidates are in the cell, the rest (rarely many) elsewhere.
        const std::uint32_t more = more_[at];
        Best best = weigh(cells_[at].entries, kGroup, r, g, b, kNoneYet);
        if (more != 0)
            best = weigh(&entries_[more >> 8], (more & 0xFF) + 1, r, g, b, best);
        return indexOf(best);
    }

    // Starts fetching the cell of a colour that is likely to be searched next.
    void prefetch(int r, int g, int b) const
    {
        if (!more_.empty()) {
            const std::uint32_t at = cellOf(r, g, b, cellShift_);
            __builtin_prefetch(&more_[at]);
            __builtin_prefetch(&cells_[at]);
        }
    }

private:
    struct Entry {
        std::uint8_t r, g, b, index;
    };
    // Candidates are weighed four at a time: a cell holds its first four, copies of its last
    // filling up those it lacks, and the rest, a multiple of four too, are in entries_.
    static constexpr std::uint32_t kGroup = 4;
    struct alignas(16) Group {
        Entry entries[kGroup];
    };

    // The running minimum of distance << 8 | index over the candidates weighed: the smallest is
    // the nearest, ties to the lowest index.
#if defined(__SSE2__)
    using Best = __m128i;  // one minimum per lane
    static inline const Best kNoneYet = _mm_set1_epi32(INT32_MAX);

    static Best weigh(const Entry* c, std::uint32_t count, int r, int g, int b, Best best)
    {
        // Four candidates widened to 16 bits, their index masked out, less the colour;
        // multiply-add squares them into dr² + dg² and db² per candidate, paired up and summed
        // below. SSE2 has no 32-bit minimum: compare and blend.
        const __m128i colour = _mm_set_epi16(0, short(b), short(g), short(r), 0, short(b), short(g), short(r));
        const __m128i rgb = _mm_set1_epi32(0x00FFFFFF), zero = _mm_setzero_si128();
        for (const Entry* const end = c + count; c < end; c += kGroup) {
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
            const __m128i channels = _mm_and_si128(raw, rgb);
            const __m128i lo = _mm_sub_epi16(_mm_unpacklo_epi8(channels, zero), colour);
            const __m128i hi = _mm_sub_epi16(_mm_unpackhi_epi8(channels, zero), colour);
            const __m128 squaresLo = _mm_castsi128_ps(_mm_madd_epi16(lo, lo));
            const __m128 squaresHi = _mm_castsi128_ps(_mm_madd_epi16(hi, hi));
            const __m128i distance =
                _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(squaresLo, squaresHi, _MM_SHUFFLE(2, 0, 2, 0))),
                              _mm_castps_si128(_mm_shuffle_ps(squaresLo, squaresHi, _MM_SHUFFLE(3, 1, 3, 1))));
            best = lowest(best, _mm_or_si128(_mm_slli_epi32(distance, 8), _mm_srli_epi32(raw, 24)));
        }
        return best;
    }

    static std::uint8_t indexOf(Best best)
    {
        best = lowest(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(1, 0, 3, 2)));
        best = lowest(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(2, 3, 0, 1)));
        return static_cast<std::uint8_t>(_mm_cvtsi128_si32(best));
    }

    static __m128i lowest(__m128i x, __m128i y)
    {
        const __m128i lower = _mm_cmplt_epi32(x, y);
        return _mm_or_si128(_mm_and_si128(lower, x), _mm_andnot_si128(lower, y));
    }
#else
    using Best = std::uint32_t;
    static constexpr Best kNoneYet = UINT32_MAX;

    static Best weigh(const Entry* c, std::uint32_t count, int r, int g, int b, Best best)
    {
        for (const Entry* const end = c + count; c < end; ++c) {
            const int dr = r - c->r, dg = g - c->g, db = b - c->b;
            const auto key = std::uint32_t(dr * dr + dg * dg + db * db) << 8 | c->index;
            best = key < best ? key : best;
        }
        return best;
    }

    static std::uint8_t indexOf(Best best) { return static_cast<std::uint8_t>(best); }
#endif

    // Cubes of 64, 32, 16 and (with fine cells) 8 levels a side hold lists of candidates; the
    // cells inside the smallest cubes, of 4 or 8 levels, hold their first candidates in cells_,
    // and in more_ where the rest are in entries_ (start << 8 | count - 1), or none (0), or
    // kUnknown until first needed.
    static constexpr int kCubeShifts[] = {6, 5, 4, 3};
    static constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
    // The cells' lists are dropped and made again as needed when they would outgrow this many
    // entries, so that no start << 8 comes near kUnknown (images need far fewer).
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
    std::unique_ptr<Group[]> cells_;  // left unset, so that only the cells searched take memory
    std::vector<std::uint32_t> more_;
    std::vector<Entry> entries_;
};

}  // namespace imglib::ops
