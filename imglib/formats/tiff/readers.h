// The two ways pixels leave a TIFF. Both allocate `out` themselves and fail cleanly on damaged
// data; the header has been validated for the route.
#pragma once

#include <tiffio.h>

#include "imglib/core/image.h"
#include "imglib/formats/tiff/header.h"
#include "imglib/formats/tiff/session.h"

namespace imglib::tiff {

// The image of the handle's current directory, upright, through whichever route reads it;
// `fileSize` bounds its strips or tiles. `out` is left empty on failure.
Status decodeDirectory(TIFF* tif, std::uint64_t fileSize, Messages& messages, Image& out);

// Grey, palette, RGB and CMYK of 1 to 16 bits, contiguous or planar, strips or tiles: decodes
// each chunk with libtiff and converts its samples here.
Status readSamples(TIFF* tif, const Header& header, Route route, Image& out);

// Any other colour model, through libtiff's RGBA interface, band by band.
Status readThroughRgba(TIFF* tif, const Header& header, Image& out);

}  // namespace imglib::tiff
