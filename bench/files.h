// Writing the benchmark's images for the quality comparison.
#pragma once

#include <string>

#include "imglib/core/image.h"

namespace bench {

// Writes the image as a binary PPM (P6), palettes and grey levels expanded: the common ground on
// which the quality script compares every program's output with the original.
bool savePpm(const std::string& path, const imglib::Image& image);

}  // namespace bench
