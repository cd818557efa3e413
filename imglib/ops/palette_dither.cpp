#include <algorithm>
#include <cmath>
#include <deque>

#include "imglib/core/parallel.h"
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
    std::int64_t blurredError = 0;   // of the sample's error after a small blur, in 1/256
    std::vector<WantedSums> wanted;  // what each palette colour was asked for
};

// The sum of squares of the error image after a 3 × 3 binomial blur ([1 2 1] across, then
// down), borders left out: what the eye sees of the error from a little further away.
std::int64_t blurredSquares(const std::vector<std::int16_t>& error, std::size_t w, std::size_t h)
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
    return total;
}

// Every step-th pixel of every step-th row of a band of the image, copied once and dithered again
// and again with one palette after another, a row at a time.
class SampleBand {
public:
    SampleBand(const RgbRows& rows, std::uint32_t step, std::uint32_t firstRow, std::uint32_t rowCount,
               NearestColour& nearest)
        : width_((rows.width() + step - 1) / step),
          height_(rowCount),
          pixels_(std::size_t(width_) * height_ * 3),
          error_(pixels_.size()),
          diffusion_(nearest, width_)
    {
        auto scratch = rows.scratch();
        std::uint8_t* out = pixels_.data();
        for (std::uint32_t y = 0; y < height_; ++y) {
            const std::uint8_t* src = rows.row((firstRow + y) * step, scratch.data());
            for (std::uint32_t x = 0; x < width_; ++x, out += 3)
                std::copy_n(src + std::size_t(x) * step * 3, 3, out);
        }
    }

    // Starts a pass with the palette the search was given, adding to `trial` what each colour is
    // asked for.
    void restart(std::span<const Colour> palette, Trial& trial)
    {
        diffusion_.restart();
        palette_ = palette, trial_ = &trial, y_ = 0;
    }
    bool done() const { return y_ == height_; }
    ErrorDiffusion& diffusion() { return diffusion_; }
    const std::uint8_t* source() const { return &pixels_[std::size_t(y_) * width_ * 3]; }
    auto emit()
    {
        return [this, src = source(), errorRow = &error_[std::size_t(y_) * width_ * 3]](int x, std::uint8_t index,
                                                                                        const int* wanted) {
            WantedSums& s = trial_->wanted[index];
            ++s.count, s.r += wanted[0], s.g += wanted[1], s.b += wanted[2];
            const std::uint8_t* p = src + std::size_t(x) * 3;
            const Colour got = palette_[index];
            errorRow[3 * x] = std::int16_t(got.r - p[0]);
            errorRow[3 * x + 1] = std::int16_t(got.g - p[1]);
            errorRow[3 * x + 2] = std::int16_t(got.b - p[2]);
        };
    }
    void advance() { ++y_; }
    // Once done.
    std::int64_t blurredError() const { return blurredSquares(error_, width_, height_); }

private:
    std::uint32_t width_, height_;
    std::vector<std::uint8_t> pixels_;
    std::vector<std::int16_t> error_;
    ErrorDiffusion diffusion_;
    std::span<const Colour> palette_;
    Trial* trial_ = nullptr;
    std::uint32_t y_ = 0;
};

// Two bands dithered together on one thread, sharing a search.
class SamplePair {
public:
    SamplePair(const RgbRows& rows, std::uint32_t step, std::uint32_t first, std::uint32_t middle, std::uint32_t end,
               std::span<const Colour> palette)
        : nearest_(palette),
          top_(rows, step, first, middle - first, nearest_),
          bottom_(rows, step, middle, end - middle, nearest_)
    {}

    Trial dither(std::span<const Colour> palette)
    {
        nearest_.usePalette(palette);
        Trial trial;
        trial.wanted.resize(palette.size());
        top_.restart(palette, trial);
        bottom_.restart(palette, trial);
        ErrorDiffusion::together(top_, bottom_);
        trial.blurredError = top_.blurredError() + bottom_.blurredError();
        return trial;
    }

private:
    NearestColour nearest_;
    SampleBand top_, bottom_;
};

// The sample is dithered in four bands, each pair on a thread when there are two: always four, so
// that the result is the same on one.
class Sample {
public:
    Sample(const RgbRows& rows, std::uint32_t step, std::span<const Colour> palette)
    {
        const std::uint32_t h = (rows.height() + step - 1) / step;
        const auto bound = [h](std::uint32_t band) { return h * band / (2 * kPairs); };
        for (std::uint32_t pair = 0; pair < kPairs; ++pair)
            pairs_.emplace_back(rows, step, bound(2 * pair), bound(2 * pair + 1), bound(2 * pair + 2), palette);
    }

    Trial dither(std::span<const Colour> palette)
    {
        Trial trials[kPairs];
        parallelFor(kPairs, 1, [&](std::size_t, std::size_t begin, std::size_t end) {
            for (std::size_t pair = begin; pair < end; ++pair)
                trials[pair] = pairs_[pair].dither(palette);
        });
        Trial& trial = trials[0];
        for (const Trial& other : std::span(trials).subspan(1)) {
            trial.blurredError += other.blurredError;
            for (std::size_t k = 0; k < trial.wanted.size(); ++k) {
                WantedSums& s = trial.wanted[k];
                const WantedSums& more = other.wanted[k];
                s.count += more.count, s.r += more.r, s.g += more.g, s.b += more.b;
            }
        }
        return std::move(trial);
    }

private:
    static constexpr std::uint32_t kPairs = 2;
    std::deque<SamplePair> pairs_;  // never moved: their bands refer to their searches
};

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
    Sample sample(rows, step, palette);
    std::vector<Colour> best = palette;
    std::int64_t bestError = INT64_MAX;
    for (int round = 0;; ++round) {
        const Trial trial = sample.dither(palette);
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
