// Rows of packed indices of 1, 2, 4 or 8 bits, the leftmost in the high bits of a byte, as
// bitmaps, Netpbm bit maps and Sun rasters store them; and indices split over bit planes, as PCX
// and GEM files store them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imglib {

// Unpacks `width` indices of `bits` bits each into one byte each.
void unpackIndices(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width, unsigned bits);

// The reverse, into a zeroed row.
void packIndices(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width, unsigned bits);

// Gathers `width` indices from `planeCount` planes that start `planeBytes` apart, each a row of
// packed `bits`-bit values: plane p gives bits p·bits and up of every index.
void gatherPlanes(const std::uint8_t* planes, std::size_t planeBytes, unsigned planeCount, unsigned bits,
                  std::uint8_t* dst, std::uint32_t width);

}  // namespace imglib
