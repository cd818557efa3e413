// Netpbm headers (P1–P6) as one plain struct, the one check that sniff and decode share, and the
// text scanner that reads both the header and the plain (ASCII) rasters.
#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/byte_reader.h"
#include "imglib/core/status.h"

namespace imglib::pnm {

struct Header {
    char kind = 0;  // '1' … '6'
    std::uint32_t width = 0, height = 0;
    std::uint32_t maxval = 1;  // 1 for bitmaps, which have none
    std::uint64_t rasterOffset = 0;

    bool plain() const { return kind <= '3'; }
    bool bitmap() const { return kind == '1' || kind == '4'; }
    unsigned channels() const { return kind == '3' || kind == '6' ? 3 : 1; }
};

// Reads the header at the start of `file` and checks it, including that the file is long enough
// to hold the raster it announces.
Status readHeader(std::span<const std::uint8_t> file, Header& header);

// Decimal numbers separated by whitespace and comments (from '#' to the end of the line), as in
// headers and plain rasters.
class Scanner {
public:
    explicit Scanner(ByteReader& r) : r_(r) {}
    // Skips whitespace and comments; false when the data ends first.
    bool skipSeparators();
    // A number up to `limit`; a larger one gives limit + 1. Fails on anything but digits.
    Status number(std::uint32_t limit, std::uint32_t& value);
    // One '0' or '1' of a plain bitmap, where the digits need not be separated.
    Status bit(std::uint8_t& value);

private:
    bool peek(std::uint8_t& c);
    void skipComment();
    ByteReader& r_;
};

}  // namespace imglib::pnm
