// How the rows libpng hands over become image pixels: samples unpacked to a byte each (or two,
// big-endian, at 16 bits), scaled to 8 bits, transparency composited over white.
#pragma once

#include <cstdint>

namespace imglib::png {

enum class Layout : std::uint8_t { indexed, grey, greyAlpha, rgb, rgba };

struct RowConverter {
    Layout layout = Layout::rgb;
    unsigned sampleBytes = 1;              // 2 for 16-bit samples
    const std::uint8_t* levels = nullptr;  // each stored sample value as an 8-bit level
    bool keyed = false;                    // tRNS names one colour transparent
    std::uint16_t key[3] = {};             // that colour, as stored (grey uses key[0])

    // `count` pixels of a libpng row into `out`, whose pixels lie `step` pixels apart (1, or the
    // column spacing of an interlace pass).
    void convert(const std::uint8_t* stored, std::uint32_t count, std::uint8_t* out, unsigned step) const;
};

}  // namespace imglib::png
