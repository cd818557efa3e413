// Reading and writing the benchmark's images.
#pragma once

#include <string>

#include "imglib/core/image.h"

namespace bench {

// Reads any image the library reads. While a reader is missing, binary PPM (P6, maxval 255) is
// read here, so that the operations can be measured on photographs converted to PPM.
imglib::Status loadImage(const std::string& path, imglib::Image& out);

// Writes the image as a binary PPM (P6), palettes and grey levels expanded: the common ground on
// which the quality script compares every program's output with the original.
bool savePpm(const std::string& path, const imglib::Image& image);

}  // namespace bench
