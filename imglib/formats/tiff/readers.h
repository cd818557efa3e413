// The two ways pixels leave a TIFF. Both allocate `out` themselves and fail cleanly on damaged
// data; the header has been validated for the route.
#pragma once

#include <tiffio.h>

#include "imglib/core/image.h"
#include "imglib/formats/tiff/header.h"

namespace imglib::tiff {

// Grey, palette, RGB and CMYK of 1 to 16 bits, contiguous or planar, strips or tiles: decodes
// each chunk with libtiff and converts its samples here.
Status readSamples(TIFF* tif, const Header& header, Route route, Image& out);

// Any other colour model, through libtiff's RGBA interface, band by band.
Status readThroughRgba(TIFF* tif, const Header& header, Image& out);

}  // namespace imglib::tiff
