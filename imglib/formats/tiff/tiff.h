#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imglib/core/image.h"

namespace imglib::tiff {

bool sniff(std::span<const std::uint8_t> file);
Status decode(std::span<const std::uint8_t> file, Image& out);

enum class Kind { lzw, uncompressed, ccittHuffman, packBits };

// Writes the image as a TIFF of the given kind to `path`, atomically: on failure no file is left
// and an earlier file of that name is kept. Indexed images become palette TIFFs, grey images grey,
// RGB images RGB. ccittHuffman writes a bilevel page: of two colours the darker is black; an image
// of one colour or of more than two is thresholded, Rec. 601 luma below 128 black.
Status write(const Image& image, Kind kind, const std::string& path);
}  // namespace imglib::tiff
