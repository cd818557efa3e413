// RLE8 and RLE4 pixel data: runs, literal (absolute) runs, end of line, delta and end of bitmap.
#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/image.h"
#include "imglib/formats/bmp/header.h"

namespace imglib::bmp {

// Decodes run-length pixel data, stored bottom-up, into `image`, an indexed image of the header's
// size whose pixels are all 0. Pixels the data never writes (skipped by a delta, or left by an
// early end of line or of bitmap) keep index 0, the first palette entry: the format leaves them
// undefined, and index 0 is what the image was cleared to. A run, literal or delta that would go
// past the stored row (padding included) or the image is bad data, not clipped.
Status decodeRle(std::span<const std::uint8_t> data, const Header& header, Image& image);

}  // namespace imglib::bmp
