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
    ErrorDiffusion(std::span<const Colour> palette, std::uint32_t width)
        : palette_(palette), nearest_(palette), width_(int(width)), errorsA_(std::size_t(width + 2) * 3),
          errorsB_(errorsA_.size()), here_(errorsA_.data()), below_(errorsB_.data())
    {
    }
    ErrorDiffusion(const ErrorDiffusion&) = delete;  // it points into its own buffers
    ErrorDiffusion& operator=(const ErrorDiffusion&) = delete;

    // Maps the next row: `width` pixels of 3 bytes, `pixelStep` bytes apart from `src`. For each
    // pixel calls emit(x, index, wanted), wanted being the source colour plus the error it
    // received, clamped to 0…255.
    template <typename Emit>
    void row(const std::uint8_t* src, std::size_t pixelStep, Emit emit)
    {
        const int step = leftToRight_ ? 1 : -1;
        const int ahead = 3 * step;
        int x = leftToRight_ ? 0 : width_ - 1;
        for (int n = 0; n < width_; ++n, x += step) {
            int* e = here_ + 3 * (x + 1);  // one pixel of margin on both sides takes what falls off
            int* f = below_ + 3 * (x + 1);
            const std::uint8_t* p = src + std::size_t(x) * pixelStep;
            // Errors are kept in sixteenths.
            const int wanted[3] = {std::clamp(p[0] + ((e[0] + 8) >> 4), 0, 255),
                                   std::clamp(p[1] + ((e[1] + 8) >> 4), 0, 255),
                                   std::clamp(p[2] + ((e[2] + 8) >> 4), 0, 255)};
            const std::uint8_t index = nearest_.find(wanted[0], wanted[1], wanted[2]);
            emit(x, index, wanted);
            const Colour got = palette_[index];
            const int error[3] = {wanted[0] - got.r, wanted[1] - got.g, wanted[2] - got.b};
            for (int c = 0; c < 3; ++c) {
                e[ahead + c] += error[c] * 7;
                f[c - ahead] += error[c] * 3;
                f[c] += error[c] * 5;
                f[ahead + c] += error[c];
            }
        }
        std::swap(here_, below_);
        std::fill(below_, below_ + (width_ + 2) * 3, 0);
        leftToRight_ = !leftToRight_;
    }

private:
    std::span<const Colour> palette_;
    NearestColour nearest_;
    int width_;
    std::vector<int> errorsA_, errorsB_;
    int* here_;
    int* below_;
    bool leftToRight_ = true;
};

}  // namespace imglib::ops
