// Resizing: the new size, its limits, what each pixel format becomes, and the resampler's
// invariants (constant images, identity, averaging when shrinking).
#include <gtest/gtest.h>

#include "imglib/ops/ops.h"
#include "imglib/ops/resample.h"
#include "tests/support/ops_images.h"

using namespace imglib;
using namespace opstest;

namespace {

Image zoomed(const Image& in, std::int32_t x, std::int32_t y)
{
    Image out;
    const Status s = zoom(in, x, y, out);
    EXPECT_TRUE(s.ok()) << s.detail;
    EXPECT_TRUE(isWellFormed(out));
    return out;
}

}  // namespace

TEST(Zoom, NewSizeIsRoundedAndAtLeastOne)
{
    struct Case {
        std::uint32_t w, h;
        std::int32_t x, y;
        std::uint32_t newW, newH;
    };
    const Case cases[] = {
        {10, 7, 150, 150, 15, 11},                                                       // 10.5 rounds up
        {3, 3, 50, 50, 2, 2},                                                            // 1.5 rounds up
        {640, 480, 10, 10, 64, 48},   {641, 479, 10, 10, 64, 48}, {1, 1, 10, 10, 1, 1},  // never below one pixel
        {4, 9, 1, 1000, 1, 90},                                                          // each axis its own percentage
        {100, 100, 200, 37, 200, 37},
    };
    for (const Case& c : cases) {
        const Image out = zoomed(gradient(c.w, c.h), c.x, c.y);
        EXPECT_EQ(out.width, c.newW) << c.w << " at " << c.x << " %";
        EXPECT_EQ(out.height, c.newH) << c.h << " at " << c.y << " %";
    }
}

TEST(Zoom, BadPercentagesAndSizesFail)
{
    const Image image = gradient(8, 8);
    Image out;
    for (const auto& [x, y] : {std::pair{0, 100}, {100, 0}, {-50, -50}, {1001, 100}, {100, INT32_MAX}, {INT32_MIN, 10}})
        EXPECT_EQ(zoom(image, x, y, out).error, Error::badArgument) << x << " " << y;
    // 40000 pixels wide doubled is past the widest side allowed; 20000 × 20000 past the pixel count.
    EXPECT_EQ(zoom(blank(40000, 1, PixelFormat::grey), 200, 100, out).error, Error::tooLarge);
    EXPECT_EQ(zoom(blank(2000, 2000, PixelFormat::grey), 1000, 1000, out).error, Error::tooLarge);
    Image malformed = image;
    malformed.pixels.resize(5);
    EXPECT_EQ(zoom(malformed, 50, 50, out).error, Error::badArgument);
}

TEST(Zoom, ConstantImagesStayConstant)
{
    for (const PixelFormat format : {PixelFormat::rgb, PixelFormat::grey}) {
        Image image = blank(37, 23, format);
        for (std::size_t i = 0; i < image.pixels.size(); ++i)
            image.pixels[i] = std::uint8_t(format == PixelFormat::rgb ? 40 + 90 * (i % 3) : 201);
        for (const auto& [x, y] :
             {std::pair{10, 10}, {37, 37}, {50, 50}, {99, 101}, {173, 173}, {200, 200}, {1000, 3}}) {
            const Image out = zoomed(image, x, y);
            EXPECT_EQ(out.format, format);
            for (std::size_t i = 0; i < out.pixels.size(); ++i)
                ASSERT_EQ(out.pixels[i], image.pixels[i % image.channels()]) << x << " % by " << y << " %";
        }
    }
}

TEST(Zoom, IdentityAndBackAgain)
{
    const Image smooth = gradient(120, 80);
    EXPECT_EQ(zoomed(smooth, 100, 100).pixels, smooth.pixels) << "100 % changes nothing";
    const Image noisy = noise(33, 17);
    EXPECT_EQ(zoomed(noisy, 100, 100).pixels, noisy.pixels);
    // Doubled then halved, a smooth image comes back nearly unchanged.
    EXPECT_GT(psnr(smooth, zoomed(zoomed(smooth, 200, 200), 50, 50)), 40.0);
}

TEST(Zoom, ShrinkingAverages)
{
    // A checkerboard of black and white halves to mid-grey: every source pixel counts, none is
    // picked alone.
    Image board = blank(64, 64, PixelFormat::grey);
    for (std::uint32_t y = 0; y < 64; ++y)
        for (std::uint32_t x = 0; x < 64; ++x)
            board.row(y)[x] = (x + y) % 2 ? 255 : 0;
    for (const std::int32_t percent : {50, 25, 10}) {
        const Image out = zoomed(board, percent, percent);
        for (std::uint32_t y = 0; y < out.height; ++y)
            for (std::uint32_t x = 0; x < out.width; ++x) {
                // The edges weigh their outermost pixel a little more (taps past the edge fold
                // onto it), so they are a few levels off.
                const bool edge = x == 0 || y == 0 || x + 1 == out.width || y + 1 == out.height;
                ASSERT_NEAR(out.row(y)[x], 127.5, edge ? 6 : 1.5) << percent << " %, at " << x << ", " << y;
            }
    }
}

TEST(Zoom, PixelFormats)
{
    Image grey = blank(5, 4, PixelFormat::grey);
    EXPECT_EQ(zoomed(grey, 150, 150).format, PixelFormat::grey);
    EXPECT_EQ(zoomed(grey, 300, 300).format, PixelFormat::grey);

    Image indexed = blank(3, 2, PixelFormat::indexed);
    indexed.palette = {{255, 0, 0}, {0, 0, 255}, {9, 9, 9}};
    indexed.pixels = {0, 1, 2, 2, 1, 0};
    // Whole factors keep the palette: every pixel becomes a block.
    const Image blocks = zoomed(indexed, 300, 200);
    ASSERT_EQ(blocks.format, PixelFormat::indexed);
    EXPECT_EQ(blocks.palette, indexed.palette);
    ASSERT_EQ(blocks.width, 9u);
    ASSERT_EQ(blocks.height, 4u);
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 9; ++x)
            EXPECT_EQ(blocks.row(y)[x], indexed.row(y / 2)[x / 3]);
    // Any other scale needs colours the palette does not have.
    EXPECT_EQ(zoomed(indexed, 150, 150).format, PixelFormat::rgb);
    EXPECT_EQ(zoomed(indexed, 50, 50).format, PixelFormat::rgb);
    EXPECT_EQ(zoomed(indexed, 200, 150).format, PixelFormat::rgb);
}

TEST(Zoom, OnePixelSides)
{
    for (const auto& [w, h] : {std::pair{1u, 50u}, {50u, 1u}, {1u, 1u}})
        for (const std::int32_t percent : {10, 50, 150, 200, 1000}) {
            const Image out = zoomed(gradient(w, h), percent, percent);
            EXPECT_GE(out.width, 1u);
            EXPECT_GE(out.height, 1u);
        }
    // A single pixel enlarged is that colour everywhere.
    const Image dot = gradient(1, 1);
    const Image big = zoomed(dot, 700, 300);
    for (std::size_t i = 0; i < big.pixels.size(); ++i)
        ASSERT_EQ(big.pixels[i], dot.pixels[i % 3]);
}

TEST(Zoom, WeightsAreNormalisedAndClampedToTheEdges)
{
    for (const auto& [in, out] : {std::pair{100u, 37u}, {37u, 100u}, {1u, 5u}, {5u, 1u}, {3u, 1000u}, {2000u, 3u}}) {
        const auto axis = ops::axisWeights(in, out);
        ASSERT_EQ(axis.first.size(), out);
        for (std::uint32_t i = 0; i < out; ++i) {
            ASSERT_LE(axis.first[i] + axis.taps, in) << "taps past the edge";
            int sum = 0;
            for (int t = 0; t < axis.taps; ++t)
                sum += axis.weights[std::size_t(i) * axis.taps + t];
            ASSERT_EQ(sum, 1 << ops::kWeightBits);
        }
    }
}
