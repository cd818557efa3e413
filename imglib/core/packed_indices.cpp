#include "imglib/core/packed_indices.h"

#include <array>
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

namespace {

// Each byte of a 1-bit plane spread over 8 pixel bytes (leftmost pixel first), as 0 or 1 in each
// byte: planes of 1 bit, the common case, are gathered eight pixels at a time.
using Spread = std::array<std::uint64_t, 256>;
Spread makeSpread()
{
    Spread table{};
    for (unsigned v = 0; v < 256; ++v) {
        std::uint8_t bytes[8];
        for (unsigned i = 0; i < 8; ++i)
            bytes[i] = (v >> (7 - i)) & 1;
        std::memcpy(&table[v], bytes, 8);
    }
    return table;
}

void gatherBitPlane(const std::uint8_t* plane, unsigned p, std::uint8_t* dst, std::uint32_t width)
{
    static const Spread spread = makeSpread();
    const std::uint32_t whole = width / 8;
    for (std::uint32_t i = 0; i < whole; ++i) {
        std::uint64_t eight;
        std::memcpy(&eight, dst + 8 * std::size_t{i}, 8);
        eight |= spread[plane[i]] << p;
        std::memcpy(dst + 8 * std::size_t{i}, &eight, 8);
    }
    for (std::uint32_t x = 8 * whole; x < width; ++x)
        dst[x] = static_cast<std::uint8_t>(dst[x] | (plane[x / 8] >> (7 - x % 8) & 1) << p);
}

}  // namespace

void gatherPlanes(const std::uint8_t* planes, std::size_t planeBytes, unsigned planeCount, unsigned bits,
                  std::uint8_t* dst, std::uint32_t width)
{
    std::memset(dst, 0, width);
    const unsigned valueMask = (1u << bits) - 1;
    for (unsigned p = 0; p < planeCount; ++p) {
        const std::uint8_t* plane = planes + p * planeBytes;
        if (bits == 1) {
            gatherBitPlane(plane, p, dst, width);
            continue;
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t bit = std::size_t{x} * bits;
            const unsigned v = plane[bit >> 3] >> (8 - bits - (bit & 7)) & valueMask;
            dst[x] = static_cast<std::uint8_t>(dst[x] | v << (p * bits));
        }
    }
}

}  // namespace imglib
