// The sniff table: every format the library reads, in the order they are tried. A file's format
// is recognised from its content alone; the first codec whose sniff accepts the file decodes it.
// Every reader has the same shape, written down in README.md beside this file.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "imglib/core/image.h"

namespace imglib {

struct Codec {
    const char* name;
    // Cheap test of the file's signature or header; uses the same validation as decode.
    bool (*sniff)(std::span<const std::uint8_t> file);
    Status (*decode)(std::span<const std::uint8_t> file, Image& out);
};

// The codec of that name (the fuzz targets pick their reader by name); null when there is none.
const Codec* findCodec(std::string_view name);
// The first codec whose sniff takes the file; null when none does.
const Codec* recognise(std::span<const std::uint8_t> file);

// Decodes a file of any known format; unsupported when no codec recognises it.
Status decodeAny(std::span<const std::uint8_t> file, Image& out);

}  // namespace imglib
