// Mapping an image's pixels to a palette: into `out`, an indexed image of the same size whose
// palette is already set.
#pragma once

#include "imglib/ops/rgb_rows.h"

namespace imglib::ops {

// Each pixel to its nearest colour, on all threads.
void remapNearest(const RgbRows& rows, Image& out);

// By error diffusion (dither.h). Serial: every pixel waits for its neighbours' errors.
void remapDithered(const RgbRows& rows, Image& out);

}  // namespace imglib::ops
