// The Sun raster reader: the conformance files, files written by independent encoders, cut and
// damaged files, and hand-made headers and streams for the variants and faults.
#include <gtest/gtest.h>

#include "imglib/formats/sunras/sunras.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
using formattest::put32be;

namespace {

struct SunHeader {
    std::uint32_t width = 1, height = 1, depth = 8, length = 0, type = 1, mapType = 0;
};

std::vector<std::uint8_t> sunFile(const SunHeader& h, const std::vector<std::uint8_t>& map,
                                  const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t v :
         {0x59A66A95u, h.width, h.height, h.depth, h.length, h.type, h.mapType, static_cast<std::uint32_t>(map.size())})
        put32be(out, v);
    out.insert(out.end(), map.begin(), map.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Image decoded(const std::vector<std::uint8_t>& file) { return testkit::decodeOk(sunras::decode, file); }
Error errorOf(const std::vector<std::uint8_t>& file) { return testkit::decodeError(sunras::decode, file); }

}  // namespace

TEST(SunRaster, ConformanceFiles)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "sunras", sunras::decode, {0, 0});
}

// The byte-encoded stream carries the rows' padding byte, as its writer meant; readers that
// expect no padding in the stream shift every row after the first.
TEST(SunRaster, EncodedStreamHoldsRowPadding)
{
    CONFORMANCE_OR_SKIP(dir);
    formattest::expectMatchesReference(dir / "sunras/questionable/gen_pal8_rle.ras",
                                       dir / "sunras/questionable/gen_pal8_rle.png", sunras::decode);
}

TEST(SunRaster, CutAndDamagedConformanceFiles)
{
    CONFORMANCE_OR_SKIP(dir);
    for (const auto& entry : testkit::manifestSamples(dir, "sunras")) {
        SCOPED_TRACE(entry.path);
        const auto bytes = testkit::readBytes(dir / entry.path);
        formattest::expectCutsFail(bytes, sunras::decode);
        testkit::decodeDamaged(bytes, sunras::decode, 64);  // the cuts are checked above
    }
}

TEST(SunRaster, OneBitWithoutMapIsWhiteOnZero)
{
    // 9 pixels a row: two bytes, already a multiple of 16 bits; 0x80 0x00 is a literal 0x80.
    const auto image =
        decoded(sunFile({.width = 9, .height = 2, .depth = 1, .type = 2}, {}, {0x80, 0x00, 0x00, 0x80, 0x01, 0xFF}));
    ASSERT_EQ(image.format, PixelFormat::indexed);
    ASSERT_EQ(image.palette.size(), 2u);
    EXPECT_EQ(image.palette[0], (Colour{255, 255, 255}));
    EXPECT_EQ(image.palette[1], (Colour{0, 0, 0}));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                                       1, 1, 1, 1, 1, 1, 1, 1, 1}));
}

TEST(SunRaster, EightBitGreyAndMapped)
{
    // Width 3: each row carries one padding byte.
    const std::vector<std::uint8_t> rows{0, 128, 255, 0xEE, 1, 2, 3, 0xEE};
    const auto grey = decoded(sunFile({.width = 3, .height = 2, .type = 0}, {}, rows));
    EXPECT_EQ(grey.format, PixelFormat::grey);
    EXPECT_EQ(grey.pixels, (std::vector<std::uint8_t>{0, 128, 255, 1, 2, 3}));
    const auto skipped = decoded(sunFile({.width = 3, .height = 2}, {9, 9, 9}, rows));
    EXPECT_EQ(skipped.pixels, grey.pixels) << "a map length without a map type is skipped";

    // A map of two entries, three planes of two bytes; indices past it are black.
    const std::vector<std::uint8_t> map{10, 20, 30, 40, 50, 60};
    const auto mapped = decoded(sunFile({.width = 3, .height = 2, .mapType = 1}, map, rows));
    ASSERT_EQ(mapped.format, PixelFormat::indexed);
    ASSERT_EQ(mapped.palette.size(), 256u);
    EXPECT_EQ(mapped.palette[0], (Colour{10, 30, 50}));
    EXPECT_EQ(mapped.palette[1], (Colour{20, 40, 60}));
    EXPECT_EQ(mapped.palette[2], (Colour{0, 0, 0}));
    EXPECT_EQ(mapped.pixels, (std::vector<std::uint8_t>{0, 128, 255, 1, 2, 3}));

    // Indices within a short map keep the map's size.
    const auto small = decoded(sunFile({.width = 1, .height = 2, .mapType = 1}, map, {1, 0, 0, 0}));
    EXPECT_EQ(small.palette.size(), 2u);
}

TEST(SunRaster, ChannelOrderOfEachTypeAndDepth)
{
    // One pixel a row; 24-bit rows padded to 4 bytes.
    const std::vector<std::uint8_t> pixels24{1, 2, 3, 0, 4, 5, 6, 0};
    const std::vector<std::uint8_t> pixels32{9, 1, 2, 3, 9, 4, 5, 6};
    const struct {
        std::uint32_t depth, type;
        const std::vector<std::uint8_t>& data;
        std::vector<std::uint8_t> rgb;
    } cases[] = {
        {24, 1, pixels24, {3, 2, 1, 6, 5, 4}},                                         // B, G, R
        {24, 0, pixels24, {3, 2, 1, 6, 5, 4}}, {24, 2, pixels24, {3, 2, 1, 6, 5, 4}},  // no escapes: encoded as it is
        {24, 3, pixels24, {1, 2, 3, 4, 5, 6}},                                         // R, G, B
        {32, 1, pixels32, {3, 2, 1, 6, 5, 4}},                                         // X, B, G, R
        {32, 2, pixels32, {3, 2, 1, 6, 5, 4}}, {32, 3, pixels32, {1, 2, 3, 4, 5, 6}},  // X, R, G, B
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << " type " << c.type);
        const auto image = decoded(sunFile({.height = 2, .depth = c.depth, .type = c.type}, {}, c.data));
        EXPECT_EQ(image.format, PixelFormat::rgb);
        EXPECT_EQ(image.pixels, c.rgb);
    }
    // A colour map beside direct colour is skipped.
    const auto withMap = decoded(sunFile({.height = 2, .depth = 24, .type = 3, .mapType = 1}, {7, 7, 7}, pixels24));
    EXPECT_EQ(withMap.pixels, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(SunRaster, RunsCrossRowsAndStopAtTheLastRow)
{
    // Width 2, 8-bit: a run of 5 fills row 0 and row 1 and goes on past the image; the excess is
    // dropped, and whatever follows the last row is not read.
    const auto image = decoded(sunFile({.width = 2, .height = 2, .type = 2}, {}, {0x80, 4, 7, 0x55}));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{7, 7, 7, 7}));
    // A run that ends within a row leaves the rest to what follows.
    const auto mixed = decoded(sunFile({.width = 4, .height = 1, .type = 2}, {}, {0x80, 1, 9, 3, 0x80, 0}));
    EXPECT_EQ(mixed.pixels, (std::vector<std::uint8_t>{9, 9, 3, 0x80}));
}

TEST(SunRaster, MalformedHeadersAndStreamsFailCleanly)
{
    const std::vector<std::uint8_t> oneRow{1, 2};
    EXPECT_EQ(errorOf(sunFile({.width = 0}, {}, oneRow)), Error::badHeader);
    EXPECT_EQ(errorOf(sunFile({.width = 70000, .height = 1}, {}, {})), Error::tooLarge);
    EXPECT_EQ(errorOf(sunFile({.width = 0xFFFFFFFF, .height = 0xFFFFFFFF, .depth = 32}, {}, {})), Error::tooLarge);
    EXPECT_EQ(errorOf(sunFile({.width = 60000, .height = 60000}, {}, {})), Error::tooLarge);
    EXPECT_EQ(errorOf(sunFile({.depth = 4}, {}, oneRow)), Error::unsupported);
    EXPECT_EQ(errorOf(sunFile({.depth = 16}, {}, oneRow)), Error::unsupported);
    EXPECT_EQ(errorOf(sunFile({.type = 4}, {}, oneRow)), Error::unsupported);
    EXPECT_EQ(errorOf(sunFile({.mapType = 2}, {1, 2, 3}, oneRow)), Error::unsupported);
    EXPECT_EQ(errorOf(sunFile({.mapType = 3}, {1, 2, 3}, oneRow)), Error::badHeader);
    // Colour maps must be three planes of 1 to 256 entries.
    EXPECT_EQ(errorOf(sunFile({.mapType = 1}, {1, 2, 3, 4}, oneRow)), Error::badHeader);
    EXPECT_EQ(errorOf(sunFile({.mapType = 1}, {}, oneRow)), Error::badHeader);
    EXPECT_EQ(errorOf(sunFile({.mapType = 1}, std::vector<std::uint8_t>(3 * 257), oneRow)), Error::badHeader);
    // A map length that runs past the file.
    auto cut = sunFile({.mapType = 1}, std::vector<std::uint8_t>(768), oneRow);
    cut.resize(200);
    EXPECT_EQ(errorOf(cut), Error::truncated);
    // Large declared sizes with little data fail as cut short, before anything is allocated.
    EXPECT_EQ(errorOf(sunFile({.width = 16000, .height = 16000}, {}, oneRow)), Error::truncated);
    EXPECT_EQ(errorOf(sunFile({.width = 16000, .height = 16000, .type = 2}, {}, {0x80, 0xFF, 0})), Error::truncated);
    // Escapes cut after 0x80 or after its count.
    EXPECT_EQ(errorOf(sunFile({.width = 4, .type = 2}, {}, {0x80})), Error::truncated);
    EXPECT_EQ(errorOf(sunFile({.width = 4, .type = 2}, {}, {0x80, 3})), Error::truncated);
    EXPECT_EQ(errorOf(sunFile({.width = 4, .type = 2}, {}, {})), Error::truncated);
}

TEST(SunRaster, SniffUsesTheHeaderChecks)
{
    EXPECT_TRUE(sunras::sniff(sunFile({}, {}, {1, 2})));
    EXPECT_TRUE(sunras::sniff(sunFile({}, {}, {}))) << "a cut file is still this format, to fail as cut";
    EXPECT_FALSE(sunras::sniff(sunFile({.depth = 5}, {}, {1, 2})));
    EXPECT_FALSE(sunras::sniff(sunFile({.height = 0}, {}, {1, 2})));
    auto other = sunFile({}, {}, {1, 2});
    other[0] = 0x95;
    EXPECT_FALSE(sunras::sniff(other));
    EXPECT_FALSE(sunras::sniff(std::vector<std::uint8_t>(other.begin(), other.begin() + 31)));
}

TEST(SunRaster, KeptFilesFromOtherEncoders) { formattest::checkKeptFiles("sunras", ".ras", sunras::decode); }

// Files written by netpbm and ImageMagick decode to the picture they were made from, and to the
// same pixels as those tools' own readers give.
TEST(SunRaster, FilesFromIndependentEncoders)
{
    if (!testkit::haveTool("pnmtorast") || !testkit::haveTool("pnmtopng"))
        GTEST_SKIP() << "skipped: netpbm not installed";
    const bool imageMagick = testkit::haveTool("convert");
    testkit::ScratchDir scratch;
    const auto colours = formattest::testPicture(37, 23, 100000);  // direct colour, odd width
    const auto fewColours = formattest::testPicture(37, 23, 40);   // colour-mapped (63 colours)
    const auto grey = formattest::greyPicture(35, 11);
    // pnmtorast drops the last bits of 1-bit rows whose width is not a multiple of 8.
    const auto bilevel = formattest::bilevelPicture(40, 9);
    const struct {
        const char* name;
        const testkit::Rgba& picture;
        std::string encode;        // {in} and {out} stand for the files
        std::uint8_t depth, type;  // what the encoder is expected to write
        bool imageMagickReads;
    } cases[] = {
        {"24-bit standard", colours, "pnmtorast -standard {in} > {out}", 24, 1, true},
        {"8-bit mapped standard", fewColours, "pnmtorast -standard {in} > {out}", 8, 1, true},
        // ImageMagick misplaces the rows of encoded 8-bit files of odd width (no padding byte).
        {"8-bit mapped encoded", fewColours, "pnmtorast -rle {in} > {out}", 8, 2, false},
        {"8-bit grey encoded", grey, "pnmtorast -rle {in} > {out}", 8, 2, false},
        {"1-bit encoded", bilevel, "pnmtorast {in} > {out}", 1, 2, true},
        {"1-bit standard", bilevel, "pnmtorast -standard {in} > {out}", 1, 1, true},
        {"24-bit RGB type", colours, imageMagick ? "convert {in} SUN:{out}" : "", 24, 3, true},
        {"8-bit mapped by ImageMagick", fewColours, imageMagick ? "convert {in} -type Palette SUN:{out}" : "", 8, 1,
         true},
        // Alpha first, then R, G, B; the alpha is dropped.
        {"32-bit RGB type", colours,
         imageMagick ? "convert {in} -alpha set -channel A -evaluate set 50% SUN:{out}" : "", 32, 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.encode.empty())
            continue;
        const auto file = formattest::encodeWithTool(scratch, c.picture, c.encode);
        ASSERT_TRUE(file) << "the encoder failed";
        const auto bytes = testkit::readBytes(*file);
        ASSERT_GE(bytes.size(), 32u);
        ASSERT_EQ(bytes[15], c.depth) << "the encoder wrote another depth";
        ASSERT_EQ(bytes[23], c.type) << "the encoder wrote another type";
        Image image;
        ASSERT_TRUE(sunras::decode(bytes, image).ok());
        const auto ours = testkit::toRgba(image);
        formattest::expectSame(ours, c.picture, "the source picture");
        formattest::expectSame(ours, formattest::decodeWithTool(scratch, *file, "rasttopnm {in} | pnmtopng > {out}"),
                               "rasttopnm");
        if (imageMagick && c.imageMagickReads)
            formattest::expectSame(ours, formattest::decodeWithTool(scratch, *file, "convert {in} png:{out}"),
                                   "ImageMagick");
    }
}
