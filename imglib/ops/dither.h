// Serpentine Floyd–Steinberg error diffusion, one row at a time: each pixel's error (what it
// wanted minus the palette colour it got) goes 7/16 ahead, 3/16 behind below, 5/16 below and 1/16
// ahead below, and rows alternate in direction so that the error does not drift one way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imglib/ops/nearest.h"

namespace imglib::ops {

class ErrorDiffusion {
public:
    // Looks colours up in `nearest`, which two diffusions on one thread may share.
    ErrorDiffusion(NearestColour& nearest, std::uint32_t width)
        : nearest_(nearest), width_(int(width)), errors_(std::size_t(width + 2) * 3)
    {}

    // Starts again from the first row (after the search was given another palette, say).
    void restart()
    {
        std::fill(errors_.begin(), errors_.end(), 0);
        leftToRight_ = true;
    }

    // Maps the next row: `width` pixels of 3 bytes from `src`. For each pixel calls emit(x, index,
    // wanted), wanted being the source colour plus the error it received, clamped to 0…255.
    template <typename Emit>
    void row(const std::uint8_t* src, Emit emit)
    {
        Cursor cursor = startRow(src);
        for (int n = 0; n < width_; ++n)
            cursor.next(emit);
        endRow(cursor);
    }

    // Dithers two bands of rows of the same width on one thread: their next rows at once, their
    // pixels in turn, while both have rows left, then the rest of the longer band. Each pixel
    // waits on the one before it, so one search's latency hides the other's. A band gives done(),
    // diffusion(), source() (its current row), emit() (what takes that row's indices) and
    // advance().
    template <typename Band>
    static void together(Band& a, Band& b)
    {
        for (; !a.done() && !b.done(); a.advance(), b.advance()) {
            auto emitA = a.emit();
            auto emitB = b.emit();
            Cursor ca = a.diffusion().startRow(a.source()), cb = b.diffusion().startRow(b.source());
            for (int n = 0; n < a.diffusion().width_; ++n) {
                ca.next(emitA);
                cb.next(emitB);
            }
            a.diffusion().endRow(ca);
            b.diffusion().endRow(cb);
        }
        for (Band* band : {&a, &b})
            for (; !band->done(); band->advance())
                band->diffusion().row(band->source(), band->emit());
    }

private:
    // Where a row stands. One buffer serves both rows: ahead of the pixel it holds what the row
    // above left for this row, behind it what this row leaves for the next. Errors are in
    // sixteenths.
    struct Cursor {
        ErrorDiffusion& owner;
        const std::uint8_t* src;
        int x, step, left;
        int* e;
        int nextR = 0, nextG = 0, nextB = 0;  // 7/16 of the last error, for the next pixel
        int diagR = 0, diagG = 0, diagB = 0;  // 1/16 of it, for the pixel below the next

        template <typename Emit>
        [[gnu::always_inline]] void next(Emit& emit)
        {
            const int ahead = 3 * step;
            const std::uint8_t* p = src + 3 * x;
            const int wanted[3] = {std::clamp(p[0] + ((e[0] + nextR + 8) >> 4), 0, 255),
                                   std::clamp(p[1] + ((e[1] + nextG + 8) >> 4), 0, 255),
                                   std::clamp(p[2] + ((e[2] + nextB + 8) >> 4), 0, 255)};
            if (--left > 0)
                owner.prefetchNext(p + ahead, e + ahead);
            const std::uint8_t index = owner.nearest_.find(wanted[0], wanted[1], wanted[2]);
            emit(x, index, wanted);
            const Colour got = owner.nearest_.colour(index);
            const int errR = wanted[0] - got.r, errG = wanted[1] - got.g, errB = wanted[2] - got.b;
            e[-ahead] += 3 * errR, e[1 - ahead] += 3 * errG, e[2 - ahead] += 3 * errB;
            e[0] = diagR + 5 * errR, e[1] = diagG + 5 * errG, e[2] = diagB + 5 * errB;
            nextR = 7 * errR, nextG = 7 * errG, nextB = 7 * errB;
            diagR = errR, diagG = errG, diagB = errB;
            x += step, e += ahead;
        }
    };

    Cursor startRow(const std::uint8_t* src)
    {
        const int x = leftToRight_ ? 0 : width_ - 1;
        return {*this,  src,
                x,      leftToRight_ ? 1 : -1,
                width_, errors_.data() + 3 * (x + 1)};  // one pixel of margin at each end
    }

    void endRow(const Cursor& cursor)
    {
        // What falls past the ends is dropped.
        cursor.e[0] = cursor.e[1] = cursor.e[2] = 0;
        leftToRight_ = !leftToRight_;
    }

    // Every pixel waits for the error of the one before it, so the search's memory is fetched a
    // pixel ahead: the next pixel with what the row above left it is close to what it will ask.
    void prefetchNext(const std::uint8_t* p, const int* e) const
    {
        nearest_.prefetch(std::clamp(p[0] + ((e[0] + 8) >> 4), 0, 255), std::clamp(p[1] + ((e[1] + 8) >> 4), 0, 255),
                          std::clamp(p[2] + ((e[2] + 8) >> 4), 0, 255));
    }

    NearestColour& nearest_;
    int width_;
    std::vector<int> errors_;
    bool leftToRight_ = true;
};

}  // namespace imglib::ops
