#include "imglib/core/packed_indices.h"

#include <cstring>

namespace imglib {

void unpackIndices(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width, unsigned bits)
{
    if (bits == 8) {
        std::memcpy(dst, src, width);
        return;
    }
    const unsigned valueMask = (1u << bits) - 1;
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::size_t bit = std::size_t{x} * bits;
        const unsigned shift = 8 - bits - static_cast<unsigned>(bit & 7);
        dst[x] = static_cast<std::uint8_t>(src[bit >> 3] >> shift & valueMask);
    }
}

void packIndices(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width, unsigned bits)
{
    if (bits == 8) {
        std::memcpy(dst, src, width);
        return;
    }
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::size_t bit = std::size_t{x} * bits;
        dst[bit >> 3] |= static_cast<std::uint8_t>(src[x] << (8 - bits - (bit & 7)));
    }
}

}  // namespace imglib
