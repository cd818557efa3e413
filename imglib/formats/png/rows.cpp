#include "imglib/formats/png/rows.h"

#include "imglib/core/colour.h"

namespace imglib::png {

namespace {

template <unsigned kBytes>
std::uint32_t sampleAt(const std::uint8_t* p)
{
    if constexpr (kBytes == 1)
        return p[0];
    else
        return std::uint32_t{p[0]} << 8 | p[1];
}

// Grey or RGB pixels, opaque but for the one colour tRNS may name.
template <unsigned kBytes, unsigned kColours>
void opaquePixels(const RowConverter& c, const std::uint8_t* in, std::uint32_t count, std::uint8_t* out, unsigned step)
{
    for (std::uint32_t i = 0; i < count; ++i, in += kBytes * kColours, out += step * kColours) {
        bool transparent = c.keyed;
        for (unsigned k = 0; k < kColours; ++k)
            transparent = transparent && sampleAt<kBytes>(in + k * kBytes) == c.key[k];
        for (unsigned k = 0; k < kColours; ++k)
            out[k] = transparent ? 255 : c.levels[sampleAt<kBytes>(in + k * kBytes)];
    }
}

// Grey or RGB pixels followed by their alpha.
template <unsigned kBytes, unsigned kColours>
void alphaPixels(const RowConverter& c, const std::uint8_t* in, std::uint32_t count, std::uint8_t* out, unsigned step)
{
    for (std::uint32_t i = 0; i < count; ++i, in += kBytes * (kColours + 1), out += step * kColours) {
        const unsigned alpha = c.levels[sampleAt<kBytes>(in + kColours * kBytes)];
        for (unsigned k = 0; k < kColours; ++k)
            out[k] = overWhite(c.levels[sampleAt<kBytes>(in + k * kBytes)], alpha);
    }
}

template <unsigned kBytes>
void convertSamples(const RowConverter& c, const std::uint8_t* in, std::uint32_t count, std::uint8_t* out,
                    unsigned step)
{
    switch (c.layout) {
    case Layout::indexed:
        for (std::uint32_t i = 0; i < count; ++i)
            out[i * step] = in[i];
        break;
    case Layout::grey:
        opaquePixels<kBytes, 1>(c, in, count, out, step);
        break;
    case Layout::greyAlpha:
        alphaPixels<kBytes, 1>(c, in, count, out, step);
        break;
    case Layout::rgb:
        opaquePixels<kBytes, 3>(c, in, count, out, step);
        break;
    case Layout::rgba:
        alphaPixels<kBytes, 3>(c, in, count, out, step);
        break;
    }
}

}  // namespace

void RowConverter::convert(const std::uint8_t* stored, std::uint32_t count, std::uint8_t* out, unsigned step) const
{
    if (sampleBytes == 2)
        convertSamples<2>(*this, stored, count, out, step);
    else
        convertSamples<1>(*this, stored, count, out, step);
}

}  // namespace imglib::png
