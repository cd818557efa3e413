#include "imglib/ops/resample.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "imglib/core/parallel.h"

namespace imglib::ops {

namespace {

constexpr double kLobes = 3;

double lanczos(double x)
{
    x = std::abs(x);
    if (x < 1e-9)
        return 1;
    if (x >= kLobes)
        return 0;
    const double px = std::numbers::pi * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// Real weights to fixed point, keeping the sum exact: what rounding loses or adds goes to the
// largest weight.
void toFixedPoint(const std::vector<double>& real, std::int16_t* out)
{
    double sum = 0;
    for (const double w : real)
        sum += w;
    int total = 0;
    std::size_t largest = 0;
    for (std::size_t t = 0; t < real.size(); ++t) {
        out[t] = static_cast<std::int16_t>(std::lround(real[t] / sum * (1 << kWeightBits)));
        total += out[t];
        if (real[t] > real[largest])
            largest = t;
    }
    out[largest] = static_cast<std::int16_t>(out[largest] + ((1 << kWeightBits) - total));
}

}  // namespace

AxisWeights axisWeights(std::uint32_t inSize, std::uint32_t outSize)
{
    const double ratio = double(inSize) / outSize;
    const double widen = std::max(1.0, ratio);  // shrinking: the filter covers every source pixel
    const double support = kLobes * widen;
    AxisWeights axis;
    axis.taps = static_cast<int>(std::min<double>(inSize, std::ceil(2 * support) + 1));
    axis.first.resize(outSize);
    axis.weights.resize(std::size_t(outSize) * axis.taps);
    const auto last = static_cast<std::int64_t>(inSize) - 1;
    std::vector<double> real(axis.taps);
    for (std::uint32_t i = 0; i < outSize; ++i) {
        const double centre = (i + 0.5) * ratio - 0.5;  // pixel centres line up
        const auto lo = static_cast<std::int64_t>(std::ceil(centre - support));
        const auto hi = static_cast<std::int64_t>(std::floor(centre + support));
        const std::int64_t first = std::min(std::max<std::int64_t>(lo, 0), inSize - std::int64_t(axis.taps));
        std::fill(real.begin(), real.end(), 0.0);
        for (std::int64_t j = lo; j <= hi; ++j)
            real[std::clamp<std::int64_t>(j, 0, last) - first] += lanczos((double(j) - centre) / widen);
        axis.first[i] = static_cast<std::uint32_t>(first);
        toFixedPoint(real, &axis.weights[std::size_t(i) * axis.taps]);
    }
    return axis;
}

namespace {

// Intermediate rows keep 6 bits below the 8-bit level; the two passes' weights and these add up
// to 20 fractional bits, well inside 32-bit sums even with the filter's negative lobes.
constexpr int kMidBits = 6;
constexpr int kDownShift = kWeightBits - kMidBits;
constexpr int kAcrossShift = kWeightBits + kMidBits;

// sum[k] += w × src[k]. Written in blocks of 16 over buffers that never overlap, which is what
// lets the compiler use vector instructions at the project's optimisation level.
void addWeighted(std::int32_t* __restrict sum, const std::uint8_t* __restrict src, std::int32_t w, std::size_t n)
{
    constexpr std::size_t block = 16;
    std::size_t k = 0;
    for (; k + block <= n; k += block)
        for (std::size_t j = 0; j < block; ++j)
            sum[k + j] += w * src[k + j];
    for (; k < n; ++k)
        sum[k] += w * src[k];
}

std::uint8_t toLevel(std::int32_t sum) { return static_cast<std::uint8_t>(std::clamp(sum >> kAcrossShift, 0, 255)); }

// One output pixel of the pass along the row, each channel summed in a register of its own.
template <int C>
void filterAcross(const std::int16_t* mid, const std::int16_t* weights, int taps, std::uint8_t* dst);

template <>
void filterAcross<1>(const std::int16_t* mid, const std::int16_t* weights, int taps, std::uint8_t* dst)
{
    std::int32_t v = 1 << (kAcrossShift - 1);
    for (int t = 0; t < taps; ++t)
        v += weights[t] * mid[t];
    dst[0] = toLevel(v);
}

template <>
void filterAcross<3>(const std::int16_t* mid, const std::int16_t* weights, int taps, std::uint8_t* dst)
{
    std::int32_t r = 1 << (kAcrossShift - 1), g = r, b = r;
    for (int t = 0; t < taps; ++t, mid += 3) {
        r += weights[t] * mid[0];
        g += weights[t] * mid[1];
        b += weights[t] * mid[2];
    }
    dst[0] = toLevel(r), dst[1] = toLevel(g), dst[2] = toLevel(b);
}

template <int C>
void resampleRows(const Image& in, Image& out, const AxisWeights& across, const AxisWeights& down, std::size_t begin,
                  std::size_t end)
{
    const std::size_t width = in.stride();
    std::vector<std::int32_t> sum(width);
    std::vector<std::int16_t> mid(width);
    for (std::size_t y = begin; y < end; ++y) {
        const std::int16_t* wv = &down.weights[y * down.taps];
        std::fill(sum.begin(), sum.end(), 1 << (kDownShift - 1));
        for (int t = 0; t < down.taps; ++t) {
            if (wv[t] == 0)
                continue;
            addWeighted(sum.data(), in.row(down.first[y] + t), wv[t], width);
        }
        for (std::size_t k = 0; k < width; ++k)
            mid[k] = static_cast<std::int16_t>(sum[k] >> kDownShift);

        std::uint8_t* dst = out.row(static_cast<std::uint32_t>(y));
        for (std::uint32_t x = 0; x < out.width; ++x, dst += C)
            filterAcross<C>(&mid[std::size_t(across.first[x]) * C], &across.weights[std::size_t(x) * across.taps],
                            across.taps, dst);
    }
}

}  // namespace

void resample(const Image& in, Image& out)
{
    const AxisWeights across = axisWeights(in.width, out.width);
    const AxisWeights down = axisWeights(in.height, out.height);
    parallelFor(out.height, 8, [&](std::size_t, std::size_t begin, std::size_t end) {
        if (in.format == PixelFormat::rgb)
            resampleRows<3>(in, out, across, down, begin, end);
        else
            resampleRows<1>(in, out, across, down, begin, end);
    });
}

}  // namespace imglib::ops
