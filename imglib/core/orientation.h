// Upright images. A file may record that its stored rows are not the picture as it is meant to be
// seen (a camera held sideways, a scanner feeding upside down). The formats we write carry no
// such instruction, so readers hand on the picture upright.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imglib/core/image.h"

namespace imglib {

// Where the stored first row and first column lie in the upright picture, numbered as EXIF and
// TIFF number them.
enum class Orientation : std::uint8_t {
    topLeft = 1,  // stored as seen
    topRight,     // mirrored left to right
    bottomRight,  // upside down
    bottomLeft,   // mirrored top to bottom
    leftTop,      // transposed
    rightTop,     // seen after a quarter turn clockwise
    rightBottom,  // transposed across the other diagonal
    leftBottom,   // seen after a quarter turn counter-clockwise
};

// The orientation a file records; a value out of range counts as stored order.
Orientation orientationOf(std::uint32_t recorded);

// True when the upright picture is the stored one's height wide.
bool swapsSides(Orientation orientation);

// Where stored pixel (x, y) of a width × height image lands in the upright one, as a pixel index:
// start + x·dx + y·dy.
struct Placement {
    std::ptrdiff_t start, dx, dy;
};
Placement placementOf(Orientation orientation, std::uint32_t width, std::uint32_t height);

// Turns or mirrors `image` upright, its stated resolution with it. Fails only when there is no
// memory, leaving it as it was.
Status makeUpright(Image& image, Orientation orientation);

}  // namespace imglib
