// The GEM IMG reader: the conformance files, files from netpbm, cut and damaged files, the
// opcodes, palettes and plane counts on hand-made files, and the strict header check of the sniff.
#include <gtest/gtest.h>

#include <map>

#include "imglib/formats/gem/gem.h"
#include "imglib/formats/registry.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
using formattest::joined;
using formattest::put16be;

namespace {

struct GemHeader {
    std::uint16_t version = 1, planes = 1, patternLength = 2, width = 16, height = 1;
    std::uint16_t extraWords = 0;  // header words past the XIMG palette, which nothing reads
};

struct Palette {
    std::uint16_t model = 0;
    std::vector<std::array<std::uint16_t, 3>> entries;
};

std::vector<std::uint8_t> gemFile(const GemHeader& h, const std::optional<Palette>& ximg,
                                  const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint16_t> extension;
    if (ximg) {
        extension = {0x5849, 0x4D47, ximg->model};  // "XIMG"
        for (const auto& rgb : ximg->entries)
            extension.insert(extension.end(), rgb.begin(), rgb.end());
    }
    extension.resize(extension.size() + h.extraWords, 0xABCD);
    std::vector<std::uint8_t> out;
    for (std::uint16_t v : {h.version, static_cast<std::uint16_t>(8 + extension.size()), h.planes, h.patternLength,
                            std::uint16_t{85}, std::uint16_t{85}, h.width, h.height})
        put16be(out, v);
    for (std::uint16_t v : extension)
        put16be(out, v);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Image decoded(const std::vector<std::uint8_t>& file) { return testkit::decodeOk(gem::decode, file); }
Error errorOf(const std::vector<std::uint8_t>& file) { return testkit::decodeError(gem::decode, file); }

// A literal copy of `bytes` (the bit-string opcode).
std::vector<std::uint8_t> literal(std::initializer_list<std::uint8_t> bytes)
{
    std::vector<std::uint8_t> out(bytes.size() + 2);
    out[0] = 0x80;
    out[1] = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), out.begin() + 2);
    return out;
}

std::uint64_t pixelHash(const testkit::Rgba& picture)
{
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (std::uint8_t byte : picture.pixels)
        hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

}  // namespace

TEST(Gem, ConformanceFiles)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "gem", gem::decode, {0, 0});
}

// The 8- and 24-plane files have no reference rendering. Each was looked at once (textures and
// a gradient as their names suggest, no stray lines) and its pixels recorded here; a changed
// value means their rendering changed and must be looked at again. The questionable ones have
// no palette and show the grey levels the reader falls back to.
TEST(Gem, FilesWithoutReferenceKeepTheirPixels)
{
    CONFORMANCE_OR_SKIP(dir);
    const std::map<std::string, std::uint64_t> expected{
        {"gem/good/freemint_8b_dbox.img", 0x621d2fc8779b16ce},
        {"gem/good/freemint_8b_dbutton.img", 0x5e4f794a78af99e9},
        {"gem/good/freemint_8b_exterior.img", 0x0b7dd63a59c3ba01},
        {"gem/good/freemint_8b_popbkg.img", 0x46071adb31e4a3a7},
        {"gem/good/freemint_8b_slwtitle.img", 0x49fa52e475dc89b7},
        {"gem/good/freemint_hc_dbox.img", 0xf1701100a9a96d69},
        {"gem/good/freemint_hc_dbutton.img", 0x76a539316b576b2c},
        {"gem/good/freemint_hc_info.img", 0xc105dbd99031cd8c},
        {"gem/good/freemint_hc_popbkg.img", 0xd03c095b4f176756},
        {"gem/questionable/freemint_hc_exterior.img", 0xbbc5f93f767994c3},
        {"gem/questionable/freemint_hc_slide.img", 0x8964052c8e9f0a5e},
        {"gem/questionable/freemint_hc_wtitle.img", 0xbbc5f93f767994c3},
    };
    for (const auto& [path, hash] : expected) {
        SCOPED_TRACE(path);
        const auto bytes = testkit::readBytes(dir / path);
        ASSERT_GE(bytes.size(), 16u);
        Image image;
        ASSERT_TRUE(gem::decode(bytes, image).ok());
        EXPECT_EQ(image.width, std::uint32_t{bytes[12]} << 8 | bytes[13]);
        EXPECT_EQ(image.height, std::uint32_t{bytes[14]} << 8 | bytes[15]);
        EXPECT_EQ(pixelHash(testkit::toRgba(image)), hash);
    }
}

// The theme holds the same button as an 8-plane file with a palette and as a 24-plane file: both
// decode to nearly the same picture, which checks that pixel values index the XIMG palette
// directly, in the order the file gives it.
TEST(Gem, PalettedAndTrueColourCopiesAgree)
{
    CONFORMANCE_OR_SKIP(dir);
    Image paletted, trueColour;
    ASSERT_TRUE(gem::decode(testkit::readBytes(dir / "gem/good/freemint_8b_dbutton.img"), paletted).ok());
    ASSERT_TRUE(gem::decode(testkit::readBytes(dir / "gem/good/freemint_hc_dbutton.img"), trueColour).ok());
    const auto d = testkit::compare(testkit::toRgba(paletted), testkit::toRgba(trueColour));
    ASSERT_TRUE(d.sameSize);
    EXPECT_LT(d.meanError, 10.0);
}

TEST(Gem, CutAndDamagedConformanceFiles)
{
    CONFORMANCE_OR_SKIP(dir);
    for (const auto& entry : testkit::manifestSamples(dir, "gem")) {
        SCOPED_TRACE(entry.path);
        const auto bytes = testkit::readBytes(dir / entry.path);
        formattest::expectCutsFail(bytes, gem::decode);
        testkit::decodeDamaged(bytes, gem::decode, 64);  // the cuts are checked above
    }
}

TEST(Gem, Opcodes)
{
    // 16 pixels a line, 2 bytes. Line 0: a solid black byte, then a solid white one. Line 1: a
    // pattern run. Lines 2 and 3: one line replicated. Line 4: a bit string, after an empty
    // pattern run and an empty bit string.
    const auto data = joined({{0x81, 0x01},
                              {0x00, 0x01, 0xAA, 0x55},
                              {0x00, 0x00, 0xFF, 0x02, 0x82},
                              {0x00, 0x00, 0x12, 0x34, 0x80, 0x00},
                              literal({0xF0, 0x0F})});
    const auto image = decoded(gemFile({.height = 5}, std::nullopt, data));
    ASSERT_EQ(image.format, PixelFormat::indexed);
    EXPECT_EQ(image.palette, (std::vector<Colour>{{255, 255, 255}, {0, 0, 0}}));
    const auto bits = [](std::uint16_t v) {
        std::vector<std::uint8_t> out;
        for (int i = 15; i >= 0; --i)
            out.push_back((v >> i) & 1);
        return out;
    };
    const auto expected = joined({bits(0xFF00), bits(0xAA55), bits(0xFFFF), bits(0xFFFF), bits(0xF00F)});
    EXPECT_EQ(image.pixels, expected);
}

TEST(Gem, RunsPastTheLineAreCut)
{
    // Width 12 takes 2 bytes a line; every run below is longer and the next line starts afresh.
    const auto data = joined({{0x85}, {0x00, 0x03, 0x0F}, literal({0x01, 0x02, 0x03}), {0x00, 0x00, 0xFF, 0x09, 0x82}});
    const auto image = decoded(gemFile({.patternLength = 1, .width = 12, .height = 5}, std::nullopt, data));
    const std::vector<std::uint8_t> black(12, 1), stripes{0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0};
    const std::vector<std::uint8_t> bits12{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(image.pixels, joined({black, stripes, bits12, black, black}))
        << "replication past the last line is cut too";
}

TEST(Gem, PlanesMakeIndicesLowestPlaneFirst)
{
    // 3 planes, 8 pixels: pixel x has index x.
    const auto data = joined({literal({0x55}), literal({0x33}), literal({0x0F})});
    const auto image = decoded(gemFile({.planes = 3, .patternLength = 1, .width = 8}, std::nullopt, data));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    ASSERT_EQ(image.palette.size(), 8u);
    EXPECT_EQ(image.palette.front(), (Colour{255, 255, 255})) << "grey levels without a palette";
    EXPECT_EQ(image.palette.back(), (Colour{0, 0, 0}));
}

TEST(Gem, StandardColoursWithoutPalette)
{
    const auto four = decoded(gemFile({.planes = 2, .patternLength = 1, .width = 4}, std::nullopt,
                                      joined({literal({0x50}), literal({0x30})})));
    EXPECT_EQ(four.pixels, (std::vector<std::uint8_t>{0, 1, 2, 3}));
    EXPECT_EQ(four.palette, (std::vector<Colour>{{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 0}}));

    const auto sixteen = decoded(
        gemFile({.planes = 4, .patternLength = 1, .width = 8}, std::nullopt, joined({{0x01}, {0x01}, {0x01}, {0x01}})));
    ASSERT_EQ(sixteen.palette.size(), 16u);
    EXPECT_EQ(sixteen.palette[0], (Colour{255, 255, 255}));
    EXPECT_EQ(sixteen.palette[15], (Colour{0, 0, 0}));
}

TEST(Gem, XimgPaletteScaleAndShortPalette)
{
    const Palette palette{0, {{1000, 500, 0}, {0, 1, 1200}, {4, 3, 2}}};
    const auto image = decoded(
        gemFile({.planes = 2, .patternLength = 1, .width = 4}, palette, joined({literal({0x50}), literal({0x30})})));
    ASSERT_EQ(image.palette.size(), 4u);
    EXPECT_EQ(image.palette[0], (Colour{255, 128, 0}));
    EXPECT_EQ(image.palette[1], (Colour{0, 0, 255})) << "values past 1000 are full";
    EXPECT_EQ(image.palette[2], (Colour{1, 1, 1}));
    EXPECT_EQ(image.palette[3], (Colour{0, 0, 0})) << "entries the file does not give are black";

    // Words past the palette in a longer header are skipped; a palette longer than the planes
    // need is cut.
    const Palette longer{0, {{0, 0, 0}, {1000, 1000, 1000}, {500, 500, 500}}};
    const auto mono = decoded(gemFile({.patternLength = 1, .width = 8, .extraWords = 5}, longer, {0x8F}));
    EXPECT_EQ(mono.palette, (std::vector<Colour>{{0, 0, 0}, {255, 255, 255}}));
    EXPECT_EQ(mono.pixels, std::vector<std::uint8_t>(8, 1));
}

TEST(Gem, TrueColourLinesArePaddedToEightPixels)
{
    // 3 pixels a line; a 24-plane line holds 24 bytes, 9 of them pixels.
    const auto line = joined({literal({1, 2, 3}), {0x00, 0x02, 4, 5, 6}, {0x8F}});
    const auto image = decoded(gemFile({.planes = 24, .patternLength = 3, .width = 3, .height = 2}, Palette{},
                                       joined({line, {0x00, 0x00, 0xFF, 0x01}, line})));
    ASSERT_EQ(image.format, PixelFormat::rgb);
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 4, 5, 6, 1, 2, 3, 4, 5, 6, 4, 5, 6}));
}

TEST(Gem, MalformedHeadersAndStreamsFailCleanly)
{
    const std::vector<std::uint8_t> line{0x82};
    EXPECT_EQ(errorOf(gemFile({.version = 0}, std::nullopt, line)), Error::badHeader);
    EXPECT_EQ(errorOf(gemFile({.version = 3}, std::nullopt, line)), Error::badHeader);
    EXPECT_EQ(errorOf(gemFile({.planes = 0}, std::nullopt, line)), Error::badHeader);
    EXPECT_EQ(errorOf(gemFile({.planes = 9}, std::nullopt, line)), Error::unsupported);
    EXPECT_EQ(errorOf(gemFile({.planes = 16}, std::nullopt, line)), Error::unsupported);
    EXPECT_EQ(errorOf(gemFile({.patternLength = 0}, std::nullopt, line)), Error::badHeader);
    EXPECT_EQ(errorOf(gemFile({.patternLength = 9}, std::nullopt, line)), Error::badHeader);
    EXPECT_EQ(errorOf(gemFile({.width = 0}, std::nullopt, line)), Error::badHeader);
    EXPECT_EQ(errorOf(gemFile({.height = 0}, std::nullopt, line)), Error::badHeader);
    EXPECT_EQ(errorOf(gemFile({.width = 65535, .height = 65535}, std::nullopt, line)), Error::tooLarge);
    EXPECT_EQ(errorOf(gemFile({}, Palette{1, {}}, line)), Error::unsupported) << "colour model";

    auto shortHeader = gemFile({}, std::nullopt, line);
    shortHeader[3] = 7;
    EXPECT_EQ(errorOf(shortHeader), Error::badHeader);
    auto longHeader = gemFile({}, std::nullopt, line);
    longHeader[3] = 9;  // 18 bytes of header in a 17-byte file
    EXPECT_EQ(errorOf(longHeader), Error::badHeader);

    EXPECT_EQ(errorOf(gemFile({.height = 2}, std::nullopt, line)), Error::truncated);
    EXPECT_EQ(errorOf(gemFile({}, std::nullopt, {0x80, 0x05, 1, 2})), Error::truncated) << "bit string";
    EXPECT_EQ(errorOf(gemFile({}, std::nullopt, {0x00, 0x05, 1})), Error::truncated) << "pattern";
    EXPECT_EQ(errorOf(gemFile({}, std::nullopt, {0x00, 0x00, 0xFF, 0x05})), Error::truncated) << "replication";
    // A huge image of a few bytes: each line costs input, so decoding ends at once.
    EXPECT_EQ(errorOf(gemFile({.width = 16384, .height = 16384}, std::nullopt, {0x00, 0x00, 0xFF, 0xFF, 0xFF})),
              Error::truncated);
}

TEST(Gem, SniffIsStrict)
{
    EXPECT_TRUE(gem::sniff(gemFile({}, std::nullopt, {0x82})));
    EXPECT_FALSE(gem::sniff(gemFile({}, std::nullopt, {}))) << "no data after the header";
    EXPECT_FALSE(gem::sniff(gemFile({.version = 0x0100}, std::nullopt, {0x82})));
    EXPECT_FALSE(gem::sniff(gemFile({.planes = 5 * 256}, std::nullopt, {0x82})));

    // Headers of other formats that GEM is tried before: colour-mapped, true-colour and grey
    // TGA files, and a few text and binary files.
    const std::vector<std::vector<std::uint8_t>> others{
        {0, 1, 1, 0, 0, 0, 1, 24, 0, 0, 0, 0, 16, 0, 16, 0, 8, 0, 1, 2, 3, 4},
        {0, 1, 1, 0, 0, 8, 0, 24, 0, 0, 0, 0, 16, 0, 16, 0, 8, 0, 1, 2, 3, 4},
        {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 16, 0, 24, 32, 1, 2, 3, 4},
        {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 32, 8, 0x81, 1, 2, 3, 4},
        {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 8, 0, 1, 2, 3, 4},
        {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n', 'a', 'b', 'c', 'd', 'e', 'f', 'g'},
        std::vector<std::uint8_t>(64, 0),
        std::vector<std::uint8_t>(64, 0xFF),
    };
    for (const auto& file : others)
        EXPECT_FALSE(gem::sniff(file)) << "a file of " << file.size() << " bytes";
}

TEST(Gem, SniffTellsGemConformanceFilesFromOthers)
{
    CONFORMANCE_OR_SKIP(dir);
    for (const auto& entry : testkit::manifestSamples(dir, "gem"))
        EXPECT_TRUE(gem::sniff(testkit::readBytes(dir / entry.path))) << entry.path;
    // Only GEM files pass the GEM header check.
    for (const char* folder : {"bmp", "tga", "pcx", "pnm", "sunras", "pcd", "utah-rle", "tiff", "jpeg"})
        for (const auto& entry : testkit::manifestSamples(dir, folder))
            EXPECT_FALSE(gem::sniff(testkit::readBytes(dir / entry.path))) << entry.path;
}

TEST(Gem, KeptFilesAsNetpbmReadsThem) { formattest::checkKeptFiles("gem", ".img", gem::decode); }

// Monochrome files written by netpbm's pbmtogem decode to the picture they were made from and to
// what gemtopnm reads; a 4-plane file decodes to gemtopnm's standard colours.
TEST(Gem, FilesFromNetpbm)
{
    if (!testkit::haveTool("pbmtogem") || !testkit::haveTool("gemtopnm") || !testkit::haveTool("pnmtopng"))
        GTEST_SKIP() << "skipped: netpbm not installed";
    testkit::ScratchDir scratch;
    // Mostly white lines, which pbmtogem writes with vertical replication.
    auto sparse = formattest::bilevelPicture(64, 600);
    for (std::size_t i = 0; i < sparse.pixels.size(); ++i)
        if (i / 4 % 64 != 9 || i / 4 / 64 % 200 > 20)
            sparse.pixels[i] = 255;
    for (const auto& picture : {formattest::bilevelPicture(45, 7), formattest::bilevelPicture(640, 40), sparse}) {
        SCOPED_TRACE(testing::Message() << picture.width << "x" << picture.height);
        const auto file = formattest::encodeWithTool(scratch, picture, "pbmtogem {in} > {out}");
        ASSERT_TRUE(file);
        Image image;
        ASSERT_TRUE(gem::decode(testkit::readBytes(*file), image).ok());
        const auto ours = testkit::toRgba(image);
        formattest::expectSame(ours, picture, "the source picture");
        formattest::expectSame(ours, formattest::decodeWithTool(scratch, *file, "gemtopnm {in} | pnmtopng > {out}"),
                               "gemtopnm");
    }

    // Pixel x of the 4-plane file has index x.
    const auto fourPlanes =
        gemFile({.planes = 4, .patternLength = 1, .width = 16}, std::nullopt,
                joined({literal({0x55, 0x55}), literal({0x33, 0x33}), literal({0x0F, 0x0F}), literal({0x00, 0xFF})}));
    const auto path = scratch / "four.img";
    testkit::writeBytes(path, fourPlanes);
    formattest::expectSame(testkit::toRgba(decoded(fourPlanes)),
                           formattest::decodeWithTool(scratch, path, "gemtopnm {in} | pnmtopng > {out}"), "gemtopnm");
}
