// Choosing a palette for an image with more colours than asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imglib/core/image.h"
#include "imglib/ops/histogram.h"
#include "imglib/ops/rgb_rows.h"

namespace imglib::ops {

// Wu's method: the colour cube is cut into `count` boxes, each time splitting the box whose best
// plane cut removes the most squared error; the palette is the boxes' means.
std::vector<Colour> wuPalette(const std::vector<BinSums>& bins, std::size_t count);

// More colours for an image whose colours fill fewer bins than colours are asked for (a smooth
// gradient, say), from its exact colours (exactColours): the colours nearest to the palette entry
// with the most squared error are cut in two as Wu's method cuts a box, by the plane across one
// channel that leaves the least error, until the palette has `count` colours or none has two.
std::vector<Colour> splitFurther(const std::vector<BinSums>& colours, std::vector<Colour> palette, std::size_t count);

// Lloyd's k-means over the histogram's bins, starting from `palette`: each bin goes to its nearest
// colour, each colour moves to the mean of its bins, until nothing moves or `rounds` are done.
std::vector<Colour> refinePalette(const std::vector<BinSums>& bins, std::vector<Colour> palette, int rounds);

// A palette moved for error diffusion. Dithering mixes neighbouring colours, so the colours that
// count are those the diffusion asks for (a pixel plus the error it received), which reach past
// the cluster means toward the edges of the image's gamut. In rounds, a sample of the image is
// dithered and each colour pulled toward the mean of what it was asked for; the palette whose
// dithered sample shows the least blurred error is kept (the one given, if nothing beats it).
std::vector<Colour> tuneForDithering(const RgbRows& rows, std::vector<Colour> palette);

// The `count` grey levels with the least squared error for a histogram of 256 levels (more than
// `count` of them used): the best cut of the levels into runs, found by dynamic programming.
std::vector<Colour> greyPalette(const std::vector<std::uint64_t>& levels, std::size_t count);

}  // namespace imglib::ops
