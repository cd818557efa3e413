// What is read of a JPEG 2000 file before openjpeg sees it: the JP2 boxes openjpeg does not
// expose, and the codestream's image and tile sizes, checked before the library allocates them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imglib/core/image.h"

namespace imglib::jp2 {

struct Component {
    std::uint8_t bits = 0;  // 1 to 38 as stored; read here up to 16
    bool isSigned = false;
    std::uint8_t dx = 1, dy = 1;  // one sample every dx columns and dy rows of the reference grid
};

struct Header {
    bool boxed = false;                            // a JP2 (or JPX, JPH) file, not a bare codestream
    std::span<const std::uint8_t> codestream;      // from its first marker to the end of its box or file
    std::uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the image area on the reference grid
    std::uint32_t tileX0 = 0, tileY0 = 0, tileWidth = 0, tileHeight = 0;
    std::vector<Component> components;
    Resolution resolution;  // the 'res ' box's display resolution, else its capture resolution

    std::uint32_t width() const { return x1 - x0; }
    std::uint32_t height() const { return y1 - y0; }
    std::uint64_t tileCount() const;
};

// The boxes up to the codestream (JP2 files), then the codestream's SIZ segment.
Status readHeader(std::span<const std::uint8_t> file, Header& header);
Status validate(const Header& header);

// The tile-parts the codestream's headers promise are all in the data, and the end marker after
// them, so that a file cut short fails before openjpeg allocates its tiles (it would otherwise
// decode what it finds, and its strict mode does not catch every cut).
Status holdsEnoughData(const Header& header);

}  // namespace imglib::jp2
