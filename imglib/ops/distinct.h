// The colours an image really uses, when there are few of them.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "imglib/ops/rgb_rows.h"

namespace imglib::ops {

// The distinct colours of the image, or nothing when there are more than `limit`. Indexed images
// give their used palette entries in palette order, grey images their levels in increasing
// order, RGB images their colours in order of first appearance.
std::optional<std::vector<Colour>> distinctColours(const Image& image, std::size_t limit);

}  // namespace imglib::ops
