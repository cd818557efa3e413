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

// The same of an Exif item of a HEIF file or the Exif box of a JPEG XL file, which start with the
// offset of the TIFF structure counted from the end of those four bytes.
ExifFacts readExifItem(std::span<const std::uint8_t> item);

// A resolution as TIFF and Exif state it: x and y per ResolutionUnit 2 (inch) or 3 (centimetre);
// unit 1 ("none": an aspect ratio only) and any other give none.
Resolution resolutionInUnit(std::uint16_t unit, double x, double y);

}  // namespace imglib
