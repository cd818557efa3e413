// Printing inks to light, the naive way: each ink takes away its share of its primary, black of
// all three. Used by every reader of CMYK data (JPEG, TIFF).
#pragma once

#include <cstdint>

namespace imglib {

// `ink` and `black` from 0 (none) to 255 (full); the light left, rounded.
constexpr std::uint8_t lightUnderInks(unsigned ink, unsigned black)
{
    const unsigned v = (255 - ink) * (255 - black) + 128;
    return static_cast<std::uint8_t>((v + (v >> 8)) >> 8);  // v / 255, rounded
}

}  // namespace imglib
