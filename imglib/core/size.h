// The one place where buffer sizes are computed, and the size policy of the whole library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace imglib {

// Images larger than this are refused before anything is allocated. The fuzz build refuses more:
// a small input that claims a large picture would otherwise spend each run filling it.
inline constexpr std::uint32_t kMaxSide = 65535;
#ifdef TESSELO_FUZZ_LIMITS
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 20;
#else
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;
#endif

struct Layout {
    std::size_t rowBytes;    // one row, padding included
    std::size_t totalBytes;  // all rows
};

// True when a width × height image is allowed: both sides from 1 to kMaxSide and at most
// kMaxPixels pixels.
bool withinLimits(std::uint64_t width, std::uint64_t height);

// The layout of `height` rows of `width` pixels of `bitsPerPixel` bits, each row padded to a
// multiple of `rowAlign` bytes (1, 2, 4 …). Every decoder and encoder sizes its rows and buffers
// with this, for stored data and decoded pixels alike. Empty when the image is outside the limits,
// the bit count is 0 or over 128, or rowAlign is 0.
std::optional<Layout> layoutOf(std::uint64_t width, std::uint64_t height, std::uint32_t bitsPerPixel,
                               std::uint32_t rowAlign = 1);

}  // namespace imglib
