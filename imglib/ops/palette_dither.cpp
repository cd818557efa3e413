#include <cmath>

#include "imglib/ops/dither.h"
#include "imglib/ops/palette.h"

namespace imglib::ops {

namespace {

// Measured on the photographs of bench/ at 255 and 16 colours: a sample of about half a
// megapixel, six rounds and a pull of 0.4 give nearly all there is to gain (more rounds, a larger
// sample or another pull change the mean by under 0.2 dB; a full pull of 1 can oscillate).
constexpr double kSamplePixels = 5e5;
constexpr int kRounds = 6;
constexpr double kPull = 0.4;

struct WantedSums {
    std::uint64_t count = 0, r = 0, g = 0, b = 0;
};

struct Trial {
    double blurredError = 0;         // of the sample's error after a small blur
    std::vector<WantedSums> wanted;  // what each palette colour was asked for
};

// The sum of squares of the error image after a 3 × 3 binomial blur ([1 2 1] across, then
// down), borders left out: what the eye sees of the error from a little further away.
double blurredSquares(const std::vector<std::int16_t>& error, std::size_t w, std::size_t h)
{
    if (w < 3 || h < 3)
        return 0;
    const std::size_t rowLength = w * 3;
    std::vector<std::int32_t> across(error.size());
    for (std::size_t y = 0; y < h; ++y) {
        const std::int16_t* e = &error[y * rowLength];
        std::int32_t* a = &across[y * rowLength];
        for (std::size_t i = 3; i + 3 < rowLength; ++i)
            a[i] = e[i - 3] + 2 * e[i] + e[i + 3];
    }
    std::int64_t total = 0;
    for (std::size_t y = 1; y + 1 < h; ++y) {
        const std::int32_t* above = &across[(y - 1) * rowLength];
        const std::int32_t* here = above + rowLength;
        const std::int32_t* below = here + rowLength;
        for (std::size_t i = 3; i + 3 < rowLength; ++i) {
            const std::int64_t s = above[i] + 2 * here[i] + below[i];
            total += s * s;
        }
    }
    return double(total) / 256;
}

// Dithers every step-th pixel of every step-th row with the palette.
Trial ditherSample(const RgbRows& rows, std::span<const Colour> palette, std::uint32_t step)
{
    const std::uint32_t w = (rows.width() + step - 1) / step, h = (rows.height() + step - 1) / step;
    ErrorDiffusion diffusion(palette, w);
    Trial trial;
    trial.wanted.resize(palette.size());
    std::vector<std::int16_t> error(std::size_t(w) * h * 3);
    auto scratch = rows.scratch();
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint8_t* src = rows.row(y * step, scratch.data());
        std::int16_t* errorRow = &error[std::size_t(y) * w * 3];
        diffusion.row(src, std::size_t(step) * 3, [&](int x, std::uint8_t index, const int* wanted) {
            WantedSums& s = trial.wanted[index];
            ++s.count, s.r += wanted[0], s.g += wanted[1], s.b += wanted[2];
            const std::uint8_t* p = src + std::size_t(x) * step * 3;
            errorRow[3 * x] = std::int16_t(palette[index].r - p[0]);
            errorRow[3 * x + 1] = std::int16_t(palette[index].g - p[1]);
            errorRow[3 * x + 2] = std::int16_t(palette[index].b - p[2]);
        });
    }
    trial.blurredError = blurredSquares(error, w, h);
    return trial;
}

std::uint8_t stepToward(std::uint8_t from, std::uint64_t sum, std::uint64_t count)
{
    const double to = double(sum) / double(count);
    return static_cast<std::uint8_t>(std::clamp(std::lround(from + kPull * (to - from)), 0L, 255L));
}

}  // namespace

std::vector<Colour> tuneForDithering(const RgbRows& rows, std::vector<Colour> palette)
{
    const double pixels = double(rows.width()) * rows.height();
    const auto step = static_cast<std::uint32_t>(std::max(1.0, std::floor(std::sqrt(pixels / kSamplePixels))));
    std::vector<Colour> best = palette;
    double bestError = INFINITY;
    for (int round = 0;; ++round) {
        const Trial trial = ditherSample(rows, palette, step);
        if (trial.blurredError < bestError) {
            bestError = trial.blurredError;
            best = palette;
        }
        if (round == kRounds)
            break;
        for (std::size_t k = 0; k < palette.size(); ++k) {
            const WantedSums& s = trial.wanted[k];
            if (s.count > 0)
                palette[k] = {stepToward(palette[k].r, s.r, s.count), stepToward(palette[k].g, s.g, s.count),
                              stepToward(palette[k].b, s.b, s.count)};
        }
    }
    return best;
}

}  // namespace imglib::ops
