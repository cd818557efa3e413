// What an Exif block records of its picture: a small TIFF structure in either byte order, found
// in a JPEG's APP1 segment (behind "Exif\0\0") and in the Exif boxes or chunks of the newer
// formats (bare, or behind the same six bytes).
#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/image.h"
#include "imglib/core/orientation.h"

namespace imglib {

struct ExifFacts {
    Orientation orientation = Orientation::topLeft;  // missing, out of range or unreadable: stored order
    Resolution resolution;                           // unknown when missing or nonsense
};

// The facts of the first image directory of `block`. A block that is not Exif gives the defaults.
ExifFacts readExif(std::span<const std::uint8_t> block);

}  // namespace imglib
