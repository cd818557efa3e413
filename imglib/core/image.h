// The image model: width × height pixels of one of three kinds, rows top-down, no padding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imglib/core/status.h"

namespace imglib {

enum class PixelFormat : std::uint8_t {
    indexed,  // one byte per pixel, an index below palette.size()
    grey,     // one byte per pixel, 0 black to 255 white
    rgb,      // three bytes per pixel: red, green, blue
};

struct Colour {
    std::uint8_t r = 0, g = 0, b = 0;
    friend constexpr bool operator==(Colour, Colour) = default;
};

// The size of a pixel as the file states it, for printing: the pixels never depend on it, and
// every operation keeps it as it is (a resize changes the pixel count, not the stated density).
struct Resolution {
    double x = 0, y = 0;  // pixels per inch across and down; 0 when the file states none
    bool metric = false;  // the file stated it per centimetre or per metre
    bool known() const { return x > 0 && y > 0; }
    friend bool operator==(const Resolution&, const Resolution&) = default;
};

// What a file states, as pixels per inch or per centimetre across and down. Zero, which formats
// write for "not given", and values no file format can hold (under one pixel per metre, over
// 2^31) give no resolution.
Resolution perInch(double x, double y);
Resolution perCentimetre(double x, double y);

struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    PixelFormat format = PixelFormat::rgb;
    std::vector<std::uint8_t> pixels;  // height rows of stride() bytes
    std::vector<Colour> palette;       // indexed images only: 1 to 256 entries
    Resolution resolution;             // what the file stated; unknown when nothing

    unsigned channels() const { return format == PixelFormat::rgb ? 3u : 1u; }
    std::size_t stride() const { return std::size_t{width} * channels(); }
    std::uint8_t* row(std::uint32_t y) { return pixels.data() + y * stride(); }
    const std::uint8_t* row(std::uint32_t y) const { return pixels.data() + y * stride(); }
};

// Gives `image` the size and format asked for, with zeroed pixels and an empty palette. Fails
// with tooLarge past the size limits and outOfMemory when the allocation fails.
Status allocate(Image& image, std::uint32_t width, std::uint32_t height, PixelFormat format);

// True when the image keeps the model's rules: sizes within limits, a pixel buffer of exactly the
// right size, and for indexed images a palette of 1 to 256 entries that every index falls within.
bool isWellFormed(const Image& image);

// Gives an indexed image `entries` as its palette, lengthened with black ones up to the highest
// index its pixels use: indices past a damaged file's palette show black.
void setPaletteCovering(Image& image, std::span<const Colour> entries);

// A 256-entry palette, so that any byte indexes it safely; decoders fill the entries a file
// gives and decide what the others mean.
using FullPalette = std::array<Colour, 256>;

}  // namespace imglib
