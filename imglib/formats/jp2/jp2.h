#pragma once

#include <cstdint>
#include <span>

#include "imglib/core/image.h"

namespace imglib::jp2 {

// JPEG 2000: JP2 files and bare codestreams.
bool sniff(std::span<const std::uint8_t> file);
Status decode(std::span<const std::uint8_t> file, Image& out);

}  // namespace imglib::jp2
