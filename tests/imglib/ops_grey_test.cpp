// Grey levels: Rec. 601 luma, rounded, from every pixel format.
#include <gtest/gtest.h>

#include "imglib/ops/ops.h"
#include "tests/support/ops_images.h"

using namespace imglib;
using namespace opstest;

namespace {

Image grey(const Image& in)
{
    Image out;
    const Status s = toGrey(in, out);
    EXPECT_TRUE(s.ok()) << s.detail;
    EXPECT_EQ(out.format, PixelFormat::grey);
    EXPECT_EQ(out.width, in.width);
    EXPECT_EQ(out.height, in.height);
    return out;
}

}  // namespace

TEST(Grey, LumaRoundedForEveryColour)
{
    // Every colour with channels in steps of 3, plus the ones next to the extremes.
    std::vector<Colour> all;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 3)
                all.push_back({std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
    all.push_back({254, 254, 254});
    all.push_back({1, 0, 0});
    Image image = blank(4096, std::uint32_t(all.size() / 4096 + 1), PixelFormat::rgb);
    std::copy_n(&all[0].r, all.size() * 3, image.pixels.data());
    const Image out = grey(image);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const double luma = 0.299 * all[i].r + 0.587 * all[i].g + 0.114 * all[i].b;
        ASSERT_LE(std::abs(out.pixels[i] - luma), 0.5 + 1e-9)
            << int(all[i].r) << " " << int(all[i].g) << " " << int(all[i].b);
    }
    EXPECT_EQ(out.pixels[all.size() - 2], 254);
    // Pure red is 76.245, green 149.685, blue 29.07; blue 250 is 28.5 exactly, and a half rounds up.
    const Colour known[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 250}, {255, 255, 255}, {0, 0, 0}};
    const std::uint8_t expected[] = {76, 150, 29, 29, 255, 0};
    Image six = blank(6, 1, PixelFormat::rgb);
    std::copy_n(&known[0].r, 18, six.pixels.data());
    const Image sixGrey = grey(six);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sixGrey.pixels[i], expected[i]) << "colour " << i;
}

TEST(Grey, GreyAndIndexedInputs)
{
    Image levels = blank(256, 3, PixelFormat::grey);
    for (std::size_t i = 0; i < levels.pixels.size(); ++i)
        levels.pixels[i] = std::uint8_t(i * 7);
    EXPECT_EQ(grey(levels).pixels, levels.pixels) << "grey input is unchanged";

    Image indexed = blank(3, 2, PixelFormat::indexed);
    indexed.palette = {{255, 0, 0}, {0, 255, 0}, {10, 10, 10}};
    indexed.pixels = {0, 1, 2, 2, 1, 0};
    EXPECT_EQ(grey(indexed).pixels, (std::vector<std::uint8_t>{76, 150, 10, 10, 150, 76}));

    Image out;
    indexed.pixels[0] = 3;  // past the palette
    EXPECT_EQ(toGrey(indexed, out).error, Error::badArgument);
}
