// Reads an image of any pixel format row by row as RGB, so that the colour operations are
// written once.
#pragma once

#include <cstdint>
#include <vector>

#include "imglib/core/image.h"

namespace imglib::ops {

class RgbRows {
public:
    // An index past the image's palette reads as black (a well-formed image has none).
    explicit RgbRows(const Image& image) : image_(image)
    {
        if (image.format == PixelFormat::grey)
            for (unsigned i = 0; i < 256; ++i)
                palette_[i] = Colour{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
        for (std::size_t i = 0; i < image.palette.size() && i < 256; ++i)
            palette_[i] = image.palette[i];
    }

    std::uint32_t width() const { return image_.width; }
    std::uint32_t height() const { return image_.height; }
    // The colour of each byte value of a grey or indexed image.
    const FullPalette& palette() const { return palette_; }

    // Row y as width × 3 bytes: the image's own row when it is RGB, else expanded into
    // `scratch`, which must hold width × 3 bytes.
    const std::uint8_t* row(std::uint32_t y, std::uint8_t* scratch) const
    {
        if (image_.format == PixelFormat::rgb)
            return image_.row(y);
        const std::uint8_t* src = image_.row(y);
        std::uint8_t* dst = scratch;
        for (std::uint32_t x = 0; x < image_.width; ++x, dst += 3) {
            const Colour c = palette_[src[x]];
            dst[0] = c.r;
            dst[1] = c.g;
            dst[2] = c.b;
        }
        return scratch;
    }

    // A scratch buffer for row().
    std::vector<std::uint8_t> scratch() const
    {
        return std::vector<std::uint8_t>(image_.format == PixelFormat::rgb ? 0 : image_.stride() * 3);
    }

private:
    const Image& image_;
    FullPalette palette_{};
};

}  // namespace imglib::ops
