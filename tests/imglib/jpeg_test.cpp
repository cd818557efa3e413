// The JPEG reader: the conformance files, the kinds of stream it maps to each image kind, and
// the ways a damaged or hostile stream must fail.
#include <gtest/gtest.h>

#include "imglib/formats/jpeg/jpeg.h"
#include "tests/support/testkit.h"

using namespace imglib;
using testkit::testData;

namespace {

// libjpeg-turbo's islow IDCT and fancy upsampling made the references; other decoders may differ
// by rounding in the IDCT and the chroma upsampling.
constexpr testkit::Tolerance kLossy{16, 1.5};

Image decodeFile(const testkit::fs::path& path)
{
    Image image;
    const auto status = jpeg::decode(testkit::readBytes(path), image);
    EXPECT_TRUE(status.ok()) << path << ": " << status.detail;
    return image;
}

}  // namespace

TEST(Jpeg, Conformance)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "jpeg", jpeg::decode, kLossy);
}
