// The fields of a TIFF directory's image that decide how it is read, and the choice of reader.
#pragma once

#include <cstdint>
#include <span>

#include <tiffio.h>

#include "imglib/core/status.h"

namespace imglib::tiff {

struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    std::uint16_t planarConfig = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t inkSet = INKSET_CMYK;
    std::uint16_t inks = 4;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;  // applied after reading, whatever the route
    bool associatedAlpha = false;                     // the first extra sample is alpha the colours were multiplied by
    bool tiled = false;
    // The unit of stored data: a tile, or a strip (the image's width × rows per strip).
    std::uint32_t chunkWidth = 0;
    std::uint32_t chunkHeight = 0;
    std::span<const std::uint8_t> iccProfile;  // embedded; held by libtiff while the file is open

    bool separatePlanes() const { return planarConfig == PLANARCONFIG_SEPARATE && samplesPerPixel > 1; }
};

// How the samples become an image.
enum class Route {
    grey,          // grey levels of 2 to 16 bits → grey
    bilevel,       // 1-bit grey → indexed, two grey entries
    indexed,       // palette of up to 8 bits → indexed
    paletteToRgb,  // palette of 9 to 16 bits → rgb through the colour map
    rgb,           // 1 to 16 bits a channel → rgb, extra samples dropped
    cmyk,          // four inks → rgb, through the ICC profile or the naive conversion
    rgba,          // everything else libtiff's RGBA interface reads (YCbCr, CIE L*a*b*, LogLuv …)
};

// Reads the fields of the current directory's image and checks them with validate.
Status readHeader(TIFF* tif, Header& header);

// Checks the header against the size limits and that a route reads it.
Status validate(const Header& header);

// The route of a header that validates.
Route routeOf(const Header& header);

}  // namespace imglib::tiff
