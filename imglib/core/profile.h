// Colour profiles. The library hands on sRGB: a reader that finds an embedded ICC profile gives
// its decoded samples here, and they come back as sRGB. Profiles are applied with the perceptual
// intent and black point compensation, on both cores for large images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imglib/core/image.h"

namespace imglib {

// Converts `image` (grey, RGB, or the palette of an indexed image) from `iccProfile` to sRGB. A
// grey image with a grey profile stays grey. A profile that cannot be used (damaged, or of
// another colour space than the samples) is ignored: the image stays as stored. Fails only when
// there is no memory, leaving the image as it was.
Status toSrgb(Image& image, std::span<const std::uint8_t> iccProfile);

class Conversion;

// Four inks to sRGB through a CMYK profile: what readers of CMYK samples use instead of
// lightUnderInks when the file embeds a profile.
class InksToSrgb {
public:
    // `inverted`: 0 is full ink, as Adobe's JPEGs store inks. A profile that is not a CMYK
    // profile LittleCMS accepts gives an object that converts nothing (false).
    InksToSrgb(std::span<const std::uint8_t> iccProfile, bool inverted);
    ~InksToSrgb();
    InksToSrgb(const InksToSrgb&) = delete;
    InksToSrgb& operator=(const InksToSrgb&) = delete;

    explicit operator bool() const { return conversion_ != nullptr; }
    // `rows` rows of `width` pixels, inks[i] of four bytes a pixel to rgb[i] of three, over the
    // threads (a lone row cut along its length).
    void convert(const std::uint8_t* const* inks, std::uint8_t* const* rgb, std::size_t rows, std::size_t width) const;

private:
    std::unique_ptr<Conversion> conversion_;
};

}  // namespace imglib
