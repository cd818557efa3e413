#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imglib/core/image.h"

namespace imglib::bmp {

bool sniff(std::span<const std::uint8_t> file);
// A bitmap without its file header, as the clipboard stores it.
bool sniffPacked(std::span<const std::uint8_t> file);
Status decode(std::span<const std::uint8_t> file, Image& out);

// Writes the image as a Windows bitmap, band by band, without holding the whole file in memory:
// indexed images with the smallest of 1, 4 or 8 bits that holds their palette, grey images as 8
// bits with a grey palette, RGB images as 24 bits. `path` is replaced only by a complete file.
Status write(const Image& image, const std::string& path);
}  // namespace imglib::bmp
