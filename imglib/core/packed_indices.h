// Rows of packed indices of 1, 2, 4 or 8 bits, the leftmost in the high bits of a byte, as
// bitmaps, Netpbm bit maps and Sun rasters store them.
#pragma once

#include <cstdint>

namespace imglib {

// Unpacks `width` indices of `bits` bits each into one byte each.
void unpackIndices(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width, unsigned bits);

// The reverse, into a zeroed row.
void packIndices(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width, unsigned bits);

}  // namespace imglib
