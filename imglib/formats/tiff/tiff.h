#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imglib/core/image.h"

namespace imglib::tiff {

bool sniff(std::span<const std::uint8_t> file);
Status decode(std::span<const std::uint8_t> file, Image& out);

enum class Kind { lzw, uncompressed, ccittHuffman, packBits };

// Writes the image as a TIFF of the given kind to `path`, atomically. Indexed images become
// palette TIFFs, grey images grey, RGB images RGB; ccittHuffman needs a two-colour image and
// writes it bilevel, the darker palette entry black.
Status write(const Image& image, Kind kind, const std::string& path);
}  // namespace imglib::tiff
