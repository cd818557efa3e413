// A Windows or OS/2 bitmap's headers as one plain struct, and the one check that sniff and decode
// share. Everything the pixel readers need is here, already resolved: where the palette and the
// pixels are, how many palette entries there are, and the bit masks of 16- and 32-bit pixels.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "imglib/core/status.h"

namespace imglib::bmp {

enum class Compression : std::uint8_t { none, rle8, rle4, bitFields };

struct Header {
    bool fileHeader = false;             // starts with "BM"; otherwise a packed DIB (clipboard)
    std::uint64_t declaredFileSize = 0;  // from the file header; 0 without one
    std::uint64_t dataOffset = 0;        // where the pixels start, from the start of the file
    std::uint32_t infoSize = 0;          // 12 (OS/2 1.x), 40, 52, 56, 108, 124, or 16–64 (OS/2 2.x)
    std::uint32_t width = 0, height = 0;
    bool topDown = false;
    std::uint16_t planes = 0, bitCount = 0;
    Compression compression = Compression::none;
    std::uint32_t imageSize = 0;    // bytes of pixel data; 0 = not given
    std::uint32_t coloursUsed = 0;  // 0 = the default for the bit count
    std::int32_t xDensity = 0, yDensity = 0;
    std::array<std::uint32_t, 3> masks{};  // red, green, blue of 16- and 32-bit pixels
    std::uint64_t paletteOffset = 0;
    std::uint32_t paletteEntrySize = 4;  // 3 after an OS/2 1.x header
    std::uint64_t paletteEntries = 0;    // bit counts up to 8 only

    bool indexed() const { return bitCount <= 8; }
};

// Reads the headers at the start of `file` and checks them against each other and against the
// file's size; the header is trustworthy only when this succeeds.
Status readHeader(std::span<const std::uint8_t> file, Header& header);

}  // namespace imglib::bmp
