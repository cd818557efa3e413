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
    ErrorDiffusion(std::span<const Colour> palette, std::uint32_t width,
                   NearestColour::Cells cells = NearestColour::Cells::fine)
        : nearest_(palette, cells), width_(int(width)), errors_(std::size_t(width + 2) * 3)
    {}

    // Starts again from the first row with another palette, keeping the memory.
    void restart(std::span<const Colour> palette)
    {
        nearest_.usePalette(palette);
        std::fill(errors_.begin(), errors_.end(), 0);
        leftToRight_ = true;
    }

    // Maps the next row: `width` pixels of 3 bytes, `pixelStep` bytes apart from `src`. For each
    // pixel calls emit(x, index, wanted), wanted being the source colour plus the error it
    // received, clamped to 0…255.
    template <typename Emit>
    void row(const std::uint8_t* src, std::size_t pixelStep, Emit emit)
    {
        // One buffer serves both rows: ahead of the pixel it holds what the row above left for
        // this row, behind it what this row leaves for the next. Errors are in sixteenths.
        const int step = leftToRight_ ? 1 : -1;
        int x = leftToRight_ ? 0 : width_ - 1;
        int* e = errors_.data() + 3 * (x + 1);  // one pixel of margin at each end
        const int ahead = 3 * step;
        int nextR = 0, nextG = 0, nextB = 0;  // 7/16 of the last error, for the next pixel
        int diagR = 0, diagG = 0, diagB = 0;  // 1/16 of it, for the pixel below the next
        for (int n = 0; n < width_; ++n, x += step, e += ahead) {
            const std::uint8_t* p = src + std::size_t(x) * pixelStep;
            const int wanted[3] = {std::clamp(p[0] + ((e[0] + nextR + 8) >> 4), 0, 255),
                                   std::clamp(p[1] + ((e[1] + nextG + 8) >> 4), 0, 255),
                                   std::clamp(p[2] + ((e[2] + nextB + 8) >> 4), 0, 255)};
            if (n + 1 < width_)
                prefetchNext(p + step * std::ptrdiff_t(pixelStep), e + ahead);
            const std::uint8_t index = nearest_.find(wanted[0], wanted[1], wanted[2]);
            emit(x, index, wanted);
            const Colour got = nearest_.colour(index);
            const int errR = wanted[0] - got.r, errG = wanted[1] - got.g, errB = wanted[2] - got.b;
            e[-ahead] += 3 * errR, e[1 - ahead] += 3 * errG, e[2 - ahead] += 3 * errB;
            e[0] = diagR + 5 * errR, e[1] = diagG + 5 * errG, e[2] = diagB + 5 * errB;
            nextR = 7 * errR, nextG = 7 * errG, nextB = 7 * errB;
            diagR = errR, diagG = errG, diagB = errB;
        }
        // What falls past the ends is dropped.
        e[0] = e[1] = e[2] = 0;
        leftToRight_ = !leftToRight_;
    }

private:
    // Every pixel waits for the error of the one before it, so the search's memory is fetched a
    // pixel ahead: the next pixel with what the row above left it is close to what it will ask.
    void prefetchNext(const std::uint8_t* p, const int* e) const
    {
        nearest_.prefetch(std::clamp(p[0] + ((e[0] + 8) >> 4), 0, 255), std::clamp(p[1] + ((e[1] + 8) >> 4), 0, 255),
                          std::clamp(p[2] + ((e[2] + 8) >> 4), 0, 255));
    }

    NearestColour nearest_;
    int width_;
    std::vector<int> errors_;
    bool leftToRight_ = true;
};

}  // namespace imglib::ops
