// Operations on images. Each reads `in` and builds `out`, which keeps `in`'s stated resolution;
// `in` is never changed, and on failure `out` is left in an unspecified state.
#pragma once

#include <cstdint>

#include "imglib/core/image.h"

namespace imglib {

// At most `count` colours (clamped to 2…256). An image that already has no more colours keeps
// exactly its colours; otherwise a palette is chosen from the image and the pixels mapped to it,
// by error diffusion when `dither` is set, to the nearest colour otherwise. The result is indexed.
Status reduceColours(const Image& in, std::int32_t count, bool dither, Image& out);

// 8-bit grey levels from Rec. 601 luma, rounded.
Status toGrey(const Image& in, Image& out);

// Resamples to round(width·xPercent/100) × round(height·yPercent/100), each at least 1 pixel.
Status zoom(const Image& in, std::int32_t xPercent, std::int32_t yPercent, Image& out);

}  // namespace imglib
