// The TIFF reader: the conformance files, each route from samples to pixels, and the ways a
// damaged or hostile file must fail.
#include <gtest/gtest.h>

#include "imglib/formats/tiff/tiff.h"
#include "tests/support/testkit.h"

using namespace imglib;

namespace {

constexpr testkit::Tolerance kExact{0, 0};
// JPEG inside TIFF: libjpeg-turbo made the references, with the same IDCT and upsampling.
constexpr testkit::Tolerance kLossy{16, 1.5};

const std::vector<std::string> kJpegCompressed = {
    "tiff/good/hopper_jpg.tif",
    "tiff/good/quad-tile.jpg.tiff",
    "tiff/good/tiff_strip_ycbcr_jpeg_2x2_sampling.tif",
    "tiff/good/tiff_tiled_ycbcr_jpeg_1x1_sampling.tif",
};

}  // namespace

TEST(Tiff, Conformance)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "tiff", tiff::decode, kExact, kJpegCompressed);
}
