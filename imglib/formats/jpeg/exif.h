// The orientation a camera records in a JPEG's Exif block (an APP1 segment holding a small TIFF
// structure, in either byte order).
#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/orientation.h"

namespace imglib::jpeg {

// The Orientation of the first image directory of an APP1 segment's payload. A payload that is
// not Exif, or whose Orientation is missing, out of range or unreadable, gives topLeft.
Orientation exifOrientation(std::span<const std::uint8_t> app1);

}  // namespace imglib::jpeg
