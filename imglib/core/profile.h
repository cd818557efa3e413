// Colour profiles. The library hands on sRGB: a reader that finds an embedded ICC profile gives
// its decoded samples here, and they come back as sRGB.
#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/image.h"

namespace imglib {

// Converts `image` (grey, RGB, or the palette of an indexed image) from `iccProfile` to sRGB. A
// grey image with a grey profile stays grey. A profile that cannot be used (damaged, or of
// another colour space than the samples) is ignored: the image stays as stored. Fails only when
// there is no memory, leaving the image as it was.
Status toSrgb(Image& image, std::span<const std::uint8_t> iccProfile);

}  // namespace imglib
