#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/image.h"

namespace imglib::heif {

// HEIF (HEIC) and AVIF files: the primary image.
bool sniff(std::span<const std::uint8_t> file);
Status decode(std::span<const std::uint8_t> file, Image& out);

}  // namespace imglib::heif
