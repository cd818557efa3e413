// Colour reduction: the palette's size, images with few colours, grey images, bad input, and a
// quality floor on photographs and gradients.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "imglib/ops/dither.h"
#include "imglib/ops/ops.h"
#include "imglib/ops/remap.h"
#include "tests/support/ops_images.h"

using namespace imglib;
using namespace opstest;

namespace {

std::set<std::tuple<int, int, int>> colourSet(const std::vector<Colour>& colours)
{
    std::set<std::tuple<int, int, int>> out;
    for (const Colour c : colours)
        out.insert({c.r, c.g, c.b});
    return out;
}

Image reduced(const Image& in, std::int32_t count, bool dither)
{
    Image out;
    const Status s = reduceColours(in, count, dither, out);
    EXPECT_TRUE(s.ok()) << s.detail;
    EXPECT_TRUE(isWellFormed(out));
    EXPECT_EQ(out.format, PixelFormat::indexed);
    EXPECT_EQ(out.width, in.width);
    EXPECT_EQ(out.height, in.height);
    return out;
}

// A band of an RGB image, dithered a row at a time into its own indices.
struct TestBand {
    TestBand(const Image& rgb, ops::NearestColour& nearest)
        : image(rgb), diffusion_(nearest, rgb.width), indices(std::size_t(rgb.width) * rgb.height)
    {}
    bool done() const { return y == image.height; }
    ops::ErrorDiffusion& diffusion() { return diffusion_; }
    const std::uint8_t* source() const { return image.row(y); }
    auto emit()
    {
        return
            [row = &indices[std::size_t(y) * image.width]](int x, std::uint8_t index, const int*) { row[x] = index; };
    }
    void advance() { ++y; }

    const Image& image;
    ops::ErrorDiffusion diffusion_;
    std::vector<std::uint8_t> indices;
    std::uint32_t y = 0;
};

}  // namespace

TEST(Reduce, PaletteNeverOverTheCount)
{
    const Image many = noise(97, 61);
    // Counts below 2 act as 2, counts above 256 as 256.
    const std::pair<std::int32_t, std::size_t> cases[] = {{2, 2},        {16, 16},       {255, 255},      {256, 256},
                                                          {1, 2},        {0, 2},         {-7, 2},         {257, 256},
                                                          {100000, 256}, {INT32_MIN, 2}, {INT32_MAX, 256}};
    for (const auto& [count, most] : cases)
        for (const bool dither : {false, true}) {
            SCOPED_TRACE(testing::Message() << "count " << count << (dither ? ", dithered" : ""));
            const Image out = reduced(many, count, dither);
            EXPECT_LE(out.palette.size(), most);
            EXPECT_GE(out.palette.size(), std::min<std::size_t>(most, 2));
            EXPECT_EQ(colourSet(out.palette).size(), out.palette.size()) << "a colour twice in the palette";
        }
}

TEST(Reduce, FewColoursAreKeptExactly)
{
    // Eleven colours in stripes, two of them one level apart.
    const Colour eleven[] = {{0, 0, 0},    {255, 255, 255}, {255, 0, 0},    {0, 255, 0}, {0, 0, 255}, {10, 20, 30},
                             {10, 20, 31}, {128, 128, 128}, {200, 100, 50}, {1, 1, 1},   {77, 0, 177}};
    Image image = blank(50, 31, PixelFormat::rgb);
    for (std::uint32_t y = 0; y < image.height; ++y)
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const Colour c = eleven[(x / 3 + y * 7) % 11];
            std::copy_n(&c.r, 3, image.row(y) + 3 * x);
        }
    for (const std::int32_t count : {11, 12, 255, 256})
        for (const bool dither : {false, true}) {
            SCOPED_TRACE(testing::Message() << "count " << count << (dither ? ", dithered" : ""));
            const Image out = reduced(image, count, dither);
            EXPECT_EQ(out.palette.size(), 11u);
            EXPECT_EQ(colourSet(out.palette), colourSet({std::begin(eleven), std::end(eleven)}));
            EXPECT_EQ(colours(out), colours(image)) << "every pixel keeps its colour";
        }
    // One colour fewer than the image has: a real choice, still at most the count.
    EXPECT_LE(reduced(image, 10, true).palette.size(), 10u);
}

TEST(Reduce, IndexedAndGreyInputs)
{
    // A palette of 8 entries, two of them the same colour and one never used: 6 colours in use.
    Image indexed = blank(40, 20, PixelFormat::indexed);
    indexed.palette = {{9, 9, 9}, {200, 0, 0}, {9, 9, 9}, {0, 200, 0}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {99, 99, 99}};
    for (std::size_t i = 0; i < indexed.pixels.size(); ++i)
        indexed.pixels[i] = std::uint8_t(i % 7);
    Image out = reduced(indexed, 6, true);
    EXPECT_EQ(out.palette.size(), 6u);
    EXPECT_EQ(colours(out), colours(indexed));
    // Reduced further, it is quantised like any image.
    out = reduced(indexed, 3, false);
    EXPECT_LE(out.palette.size(), 3u);

    Image grey = blank(64, 4, PixelFormat::grey);
    for (std::size_t i = 0; i < grey.pixels.size(); ++i)
        grey.pixels[i] = std::uint8_t(i * 4);  // 64 levels
    out = reduced(grey, 64, false);
    EXPECT_EQ(colours(out), colours(grey));
}

TEST(Reduce, GreyStaysGrey)
{
    // Grey images, and RGB images whose pixels are all grey: every colour chosen is a grey.
    Image grey = blank(256, 40, PixelFormat::grey);
    for (std::uint32_t y = 0; y < grey.height; ++y)
        for (std::uint32_t x = 0; x < grey.width; ++x)
            grey.row(y)[x] = std::uint8_t((x + 3 * y) % 256);
    Image greyRgb = blank(grey.width, grey.height, PixelFormat::rgb);
    for (std::size_t i = 0; i < grey.pixels.size(); ++i)
        std::fill_n(&greyRgb.pixels[3 * i], 3, grey.pixels[i]);
    for (const Image* image : {&grey, &greyRgb})
        for (const std::int32_t count : {2, 16, 255})
            for (const bool dither : {false, true}) {
                SCOPED_TRACE(testing::Message() << "count " << count << (dither ? ", dithered" : ""));
                const Image out = reduced(*image, count, dither);
                for (const Colour c : out.palette)
                    EXPECT_TRUE(c.r == c.g && c.g == c.b) << int(c.r) << " " << int(c.g) << " " << int(c.b);
            }
    // 256 levels into 255: one pair of neighbouring levels merges, nothing more.
    const Image out = reduced(grey, 255, false);
    EXPECT_EQ(out.palette.size(), 255u);
    EXPECT_GT(psnr(grey, out), 55.0);
}

TEST(Reduce, MalformedImagesFail)
{
    Image out;
    Image noPalette = blank(4, 4, PixelFormat::indexed);
    EXPECT_EQ(reduceColours(noPalette, 16, true, out).error, Error::badArgument);
    Image pastPalette = noPalette;
    pastPalette.palette = {{1, 2, 3}};
    pastPalette.pixels[5] = 1;
    EXPECT_EQ(reduceColours(pastPalette, 16, true, out).error, Error::badArgument);
    Image shortPixels = gradient(4, 4);
    shortPixels.pixels.pop_back();
    EXPECT_EQ(reduceColours(shortPixels, 16, false, out).error, Error::badArgument);
    EXPECT_EQ(reduceColours(Image{}, 16, false, out).error, Error::badArgument);
}

TEST(Reduce, OnePixelAndOneColour)
{
    const Image dot = gradient(1, 1);
    EXPECT_EQ(reduced(dot, 2, true).palette.size(), 1u);
    Image column = gradient(1, 300);
    EXPECT_LE(reduced(column, 16, true).palette.size(), 16u);
    Image row = gradient(300, 1);
    EXPECT_LE(reduced(row, 16, true).palette.size(), 16u);
}

// Floors well below what the quantiser measures (given beside each), so that only a broken
// quantiser fails them.
TEST(Reduce, QualityOnAGradient)
{
    const Image image = gradient(256, 256);
    EXPECT_GT(psnr(image, reduced(image, 256, false)), 32.0);        // measured 35.5
    EXPECT_GT(psnr(image, reduced(image, 16, false)), 21.0);         // measured 23.5
    EXPECT_GT(blurredPsnr(image, reduced(image, 256, true)), 41.0);  // measured 44.8
    EXPECT_GT(blurredPsnr(image, reduced(image, 16, true)), 25.0);   // measured 28.0
}

TEST(Reduce, NarrowRangesGetTheWholePalette)
{
    // A pale sky: 943 colours within 20 to 30 levels of each other. And a two-colour sky, deep
    // blue at the top to a pale haze at the bottom: about 400 colours on one line through the
    // cube, so close that they fill fewer bins of the histogram than colours are asked for. Every
    // colour asked for is used, however close together the image's colours are.
    Image pale = blank(400, 300, PixelFormat::rgb), twoColour = blank(512, 384, PixelFormat::rgb);
    for (std::uint32_t y = 0; y < pale.height; ++y)
        for (std::uint32_t x = 0; x < pale.width; ++x) {
            std::uint8_t* p = pale.row(y) + 3 * x;
            p[0] = std::uint8_t(100 + x * 20 / 400), p[1] = std::uint8_t(150 + y * 20 / 300);
            p[2] = std::uint8_t(200 + (x + y) * 30 / 700);
        }
    const int top[3] = {38, 84, 168}, bottom[3] = {242, 196, 162};
    for (std::uint32_t y = 0; y < twoColour.height; ++y)
        for (std::uint32_t x = 0; x < twoColour.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const double t = 0.85 * y / 383 + 0.15 * x / 511;
                twoColour.row(y)[3 * x + c] = std::uint8_t(std::lround(top[c] + t * (bottom[c] - top[c])));
            }
    struct Case {
        const char* name;
        const Image& image;
        double nearest, dithered;  // PSNR floors, and blurred PSNR when dithered
    };
    const Case cases[] = {{"pale sky", pale, 52, 60},              // measured 55.6, 66.1
                          {"two-colour sky", twoColour, 62, 70}};  // measured 66.7, 74.0
    for (const Case& c : cases)
        for (const bool dither : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (dither ? ", dithered" : ""));
            const Image out = reduced(c.image, 255, dither);
            EXPECT_EQ(out.palette.size(), 255u);
            if (dither)
                EXPECT_GT(blurredPsnr(c.image, out), c.dithered);
            else
                EXPECT_GT(psnr(c.image, out), c.nearest);
        }
}

// Dithering maps each pixel, with the error it received, to the colour truly nearest to it: a
// colour the palette has is kept as it is, so a grey ramp reduced to one colour fewer than it has
// keeps nearly all its levels, grey or RGB.
TEST(Reduce, DitheringKeepsWhatThePaletteHas)
{
    Image grey = blank(256, 64, PixelFormat::grey), greyRgb = blank(256, 64, PixelFormat::rgb);
    for (std::uint32_t y = 0; y < grey.height; ++y)
        for (std::uint32_t x = 0; x < grey.width; ++x) {
            grey.row(y)[x] = std::uint8_t(x);
            std::fill_n(greyRgb.row(y) + 3 * x, 3, std::uint8_t(x));
        }
    for (const Image* image : {&grey, &greyRgb}) {
        const auto levels = colourSet(colours(reduced(*image, 255, true))).size();
        EXPECT_GE(levels, 250u) << (image == &grey ? "grey" : "RGB") << " ramp";
    }

    // Pixels that are all palette colours come out unchanged, however crowded the palette.
    for (const int spread : {256, 12}) {
        SCOPED_TRACE(testing::Message() << "palette within " << spread << " levels");
        std::vector<Colour> palette(255);
        std::uint32_t seed = 5;
        for (Colour& c : palette)
            for (std::uint8_t* v : {&c.r, &c.g, &c.b})
                *v = std::uint8_t(((seed = seed * 1664525u + 1013904223u) >> 24) % unsigned(spread));
        Image image = blank(300, 40, PixelFormat::indexed);
        image.palette = palette;
        for (std::size_t i = 0; i < image.pixels.size(); ++i)
            image.pixels[i] = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24) % 255;
        Image out = blank(image.width, image.height, PixelFormat::indexed);
        out.palette = palette;
        ops::remapDithered(ops::RgbRows(image), out);
        const auto wanted = colours(image), got = colours(out);
        std::size_t changed = 0;
        for (std::size_t i = 0; i < wanted.size(); ++i)
            changed += !(got[i] == wanted[i]);
        EXPECT_EQ(changed, 0u) << "pixels given another colour";
    }
}

// Two bands dithered together on one thread, their pixels in turn and one search shared, come out
// as each dithered alone: neither takes the other's error, and the longer band's last rows follow.
TEST(Reduce, BandsDitheredTogetherAsAlone)
{
    const Image tall = noise(97, 9), short_ = gradient(97, 6);
    std::vector<Colour> palette;
    for (int i = 0; i < 16; ++i)
        palette.push_back({std::uint8_t(i * 17), std::uint8_t(255 - i * 17), std::uint8_t(i * 53 % 256)});
    for (const bool tallFirst : {true, false}) {
        ops::NearestColour own1(palette), own2(palette), shared(palette);
        TestBand aloneTall(tall, own1), aloneShort(short_, own2), withTall(tall, shared), withShort(short_, shared);
        for (TestBand* band : {&aloneTall, &aloneShort})
            for (; !band->done(); band->advance())
                band->diffusion().row(band->source(), band->emit());
        if (tallFirst)
            ops::ErrorDiffusion::together(withTall, withShort);
        else
            ops::ErrorDiffusion::together(withShort, withTall);
        EXPECT_EQ(withTall.indices, aloneTall.indices) << (tallFirst ? "tall band first" : "short band first");
        EXPECT_EQ(withShort.indices, aloneShort.indices) << (tallFirst ? "tall band first" : "short band first");
    }
}

TEST(Reduce, QualityOnPhotographs)
{
    struct Floor {
        const char* name;
        double at256, at16, dithered256, dithered16;
    };
    // Measured: cat 42.8, 33.1, 54.8, 39.3; progressive 42.0, 32.0, 54.1, 36.8; hopper 37.8, 28.0, 49.9, 34.8.
    const Floor floors[] = {{"jpeg/good/progressive_cat.jpg", 39, 29, 50, 36},
                            {"jpeg/good/progressive_3.jpg", 38, 28, 49, 33},
                            {"jpeg/good/hopper.jpg", 34, 25, 45, 31}};
    for (const Floor& floor : floors) {
        SCOPED_TRACE(floor.name);
        const auto photo = photograph(floor.name);
        if (!photo)
            GTEST_SKIP() << "skipped: the conformance photographs are not here (set TESSELO_CONFORMANCE)";
        EXPECT_GT(psnr(*photo, reduced(*photo, 256, false)), floor.at256);
        EXPECT_GT(psnr(*photo, reduced(*photo, 16, false)), floor.at16);
        EXPECT_GT(blurredPsnr(*photo, reduced(*photo, 256, true)), floor.dithered256);
        EXPECT_GT(blurredPsnr(*photo, reduced(*photo, 16, true)), floor.dithered16);
    }
}
