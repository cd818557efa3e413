// The PCX reader: the conformance files, hand-made files for the cases they miss, damaged files,
// and files written by two independent encoders compared with those tools' own reading.
#include <gtest/gtest.h>

#include "imglib/formats/pcx/pcx.h"
#include "tests/support/testkit.h"

using namespace imglib;

namespace {

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, unsigned v)
{
    bytes[at] = static_cast<std::uint8_t>(v);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A 128-byte header with an all-zero header palette; data and palettes are appended by the test.
std::vector<std::uint8_t> header(std::uint8_t version, std::uint8_t bits, std::uint8_t planes, unsigned width,
                                 unsigned height, unsigned bytesPerLine, std::uint8_t encoding = 1)
{
    std::vector<std::uint8_t> h(128, 0);
    h[0] = 0x0A;
    h[1] = version;
    h[2] = encoding;
    h[3] = bits;
    put16(h, 8, width - 1);
    put16(h, 10, height - 1);
    h[65] = planes;
    put16(h, 66, bytesPerLine);
    h[68] = 1;
    return h;
}

void append(std::vector<std::uint8_t>& bytes, std::initializer_list<std::uint8_t> more)
{
    bytes.insert(bytes.end(), more);
}

Image decoded(const std::vector<std::uint8_t>& file) { return testkit::decodeOk(pcx::decode, file); }
Error errorOf(const std::vector<std::uint8_t>& file) { return testkit::decodeError(pcx::decode, file); }

void expectSame(const testkit::Rgba& ours, const testkit::Rgba& theirs, const char* who)
{
    const auto d = testkit::compare(ours, theirs);
    EXPECT_TRUE(d.sameSize) << who << " reads another size";
    EXPECT_EQ(d.maxError, 0) << who << " reads other colours";
}

}  // namespace

TEST(Pcx, ConformanceFiles)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "pcx", pcx::decode, {0, 0});
}

TEST(Pcx, DamagedConformanceFilesFailCleanly)
{
    CONFORMANCE_OR_SKIP(dir);
    for (const auto& entry : testkit::manifestSamples(dir, "pcx")) {
        const auto bytes = testkit::readBytes(dir / entry.path);
        if (bytes.size() <= 6144 && entry.group != "bad") {
            SCOPED_TRACE(entry.path);
            testkit::decodeDamaged(bytes, pcx::decode);
        }
    }
}

TEST(Pcx, RunsCrossRowEndsWithOddBytesPerLine)
{
    // 8-bit grey, 3 × 3 with 3 bytes a row: one run of 4 spills into the second row, a run of
    // 5 fills the rest, and the run left over after the last row is cut.
    auto file = header(5, 8, 1, 3, 3, 3);
    append(file, {0xC4, 10, 0xC5, 20, 0xC3, 30, 0xC3, 99});
    const Image image = decoded(file);
    EXPECT_EQ(image.format, PixelFormat::grey) << "8 bits without an end palette are grey levels";
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{10, 10, 10, 10, 20, 20, 20, 20, 20}));
    testkit::decodeDamaged(file, pcx::decode);
}

TEST(Pcx, StoredRowsAndPlanes)
{
    // Encoding 0 stores rows as they are. Two planes of 1 bit, 5 pixels, 1 byte a plane:
    // plane 0 = 10110, plane 1 = 01100 → indices 1 2 3 1 0.
    auto file = header(5, 1, 2, 5, 1, 1, 0);
    append(file, {0b10110000, 0b01100000});
    const Image image = decoded(file);
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{1, 2, 3, 1, 0}));
    EXPECT_EQ(image.palette.size(), 4u);
}

TEST(Pcx, PaletteChoice)
{
    // Version 5 with a header palette uses it.
    auto file = header(5, 4, 1, 2, 1, 2);
    file[16 + 3 * 5] = 0x12;
    file[16 + 3 * 9 + 2] = 0x34;
    append(file, {0x59, 0x00});
    Image image = decoded(file);
    ASSERT_EQ(image.palette.size(), 16u);
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{5, 9}));
    EXPECT_EQ(image.palette[5], (Colour{0x12, 0, 0}));
    EXPECT_EQ(image.palette[9], (Colour{0, 0, 0x34}));

    // Version 3 gives none, whatever the header holds: the EGA start-up colours.
    file[1] = 3;
    image = decoded(file);
    EXPECT_EQ(image.palette[9], (Colour{0x55, 0x55, 0xFF}));
    EXPECT_EQ(image.palette[15], (Colour{0xFF, 0xFF, 0xFF}));

    // Two colours with an empty palette are black and white.
    file = header(5, 1, 1, 8, 1, 2);
    append(file, {0x0F, 0x00});
    image = decoded(file);
    EXPECT_EQ(image.palette, (std::vector<Colour>{{0, 0, 0}, {255, 255, 255}}));

    // 8 bits with the palette at the end: indexed, 256 entries; the data stops at the marker.
    file = header(5, 8, 1, 2, 1, 2);
    append(file, {0xC2, 7});
    file.push_back(12);
    for (unsigned i = 0; i < 256; ++i)
        append(file, {std::uint8_t(i), std::uint8_t(255 - i), 0});
    image = decoded(file);
    EXPECT_EQ(image.format, PixelFormat::indexed);
    ASSERT_EQ(image.palette.size(), 256u);
    EXPECT_EQ(image.palette[7], (Colour{7, 248, 0}));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{7, 7}));

    file.erase(file.begin() + 128, file.begin() + 130);  // no data before the palette
    EXPECT_EQ(errorOf(file), Error::truncated) << "the palette is not read as pixels";
}

TEST(Pcx, RefusesBadHeaders)
{
    EXPECT_EQ(errorOf(header(5, 8, 1, 10, 1, 9)), Error::badHeader) << "bytes per line < width";
    EXPECT_EQ(errorOf(header(1, 8, 1, 1, 1, 2)), Error::badHeader) << "version 1";
    EXPECT_EQ(errorOf(header(5, 3, 1, 1, 1, 2)), Error::badHeader) << "3 bits";
    EXPECT_EQ(errorOf(header(5, 8, 1, 1, 1, 2, 2)), Error::badHeader) << "encoding 2";
    EXPECT_EQ(errorOf(header(5, 4, 2, 1, 1, 2)), Error::unsupported) << "8 bits in 2 planes";
    EXPECT_EQ(errorOf(header(5, 8, 2, 1, 1, 2)), Error::unsupported);

    auto backwards = header(5, 8, 1, 1, 1, 2);
    put16(backwards, 4, 5);  // xmin past xmax
    EXPECT_EQ(errorOf(backwards), Error::badHeader);

    // 65535 × 65535 pixels: refused before anything is allocated.
    auto huge = header(5, 8, 3, 65535, 65535, 65535);
    EXPECT_EQ(errorOf(huge), Error::tooLarge);

    // A large image in a short file is refused before its pixels are allocated.
    auto tooShort = header(5, 8, 3, 8000, 8000, 8000);
    append(tooShort, {0xFF, 1, 0xFF, 2});
    Image image;
    const Status s = pcx::decode(tooShort, image);
    EXPECT_EQ(s.error, Error::truncated);
    EXPECT_STREQ(s.detail, "pcx: data too short for the image");

    auto cut = header(5, 8, 1, 4, 4, 4);
    append(cut, {0xC8, 1});
    EXPECT_EQ(errorOf(cut), Error::truncated);
    EXPECT_EQ(errorOf({0x0A, 5, 1, 8}), Error::truncated);
}

// Writes the crop of ImageMagick's built-in rose picture (an odd width) in several variants with
// netpbm's ppmtopcx and ImageMagick, and compares what we read with what each tool reads back.
TEST(Pcx, MatchesIndependentEncoders)
{
    for (const char* tool : {"convert", "ppmtopcx", "pcxtoppm", "pnmtopng"})
        if (!testkit::haveTool(tool))
            GTEST_SKIP() << "skipped: " << tool << " is not installed (see scripts/deps)";
    testkit::ScratchDir dir;
    const std::string d = dir.path().string() + "/";
    ASSERT_TRUE(testkit::run("convert rose: -crop 69x45+0+0 +repage " + d + "rose.ppm"));
    for (const char* colours : {"2", "4", "16", "200"})
        ASSERT_TRUE(testkit::run("convert " + d + "rose.ppm -colors " + colours + " " + d + "rose" + colours + ".ppm"));
    ASSERT_TRUE(testkit::run("convert " + d + "rose.ppm -colorspace gray " + d + "grey.pgm"));
    ASSERT_TRUE(testkit::run("convert " + d + "rose.ppm -monochrome " + d + "mono.pbm"));

    // Each file is compared with every tool that reads it: netpbm does not read stored (encoding
    // 0) rows, ImageMagick inverts 1-bit files.
    enum Readers { both, netpbmOnly, magickOnly };
    struct Case {
        const char* name;
        std::string encode;
        Readers readers;
    };
    const std::vector<Case> cases{
        {"netpbm-24bit", "ppmtopcx rose.ppm", both},
        {"netpbm-8bit", "ppmtopcx rose200.ppm", both},
        {"netpbm-grey", "ppmtopcx grey.pgm", both},
        {"netpbm-4planes", "ppmtopcx rose16.ppm", both},
        {"netpbm-4bit-packed", "ppmtopcx -packed rose16.ppm", both},
        {"netpbm-2planes", "ppmtopcx rose4.ppm", both},
        {"netpbm-2bit-packed", "ppmtopcx -packed rose4.ppm", both},
        {"netpbm-1bit", "ppmtopcx rose2.ppm", netpbmOnly},
        {"magick-24bit", "convert rose.ppm pcx:-", both},
        {"magick-24bit-stored", "convert rose.ppm -compress none pcx:-", magickOnly},
        {"magick-8bit", "convert rose.ppm -type palette pcx:-", both},
        {"magick-8bit-stored", "convert rose.ppm -type palette -compress none pcx:-", magickOnly},
        {"magick-1bit", "convert mono.pbm pcx:-", netpbmOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = d + c.name + ".pcx";
        ASSERT_TRUE(testkit::run("cd " + d + " && " + c.encode + " > " + file + " 2>/dev/null"));
        Image image;
        const Status s = pcx::decode(testkit::readBytes(file), image);
        ASSERT_TRUE(s.ok()) << s.detail;
        const auto ours = testkit::toRgba(image);

        if (c.readers != magickOnly) {
            ASSERT_TRUE(testkit::run("pcxtoppm " + file + " | pnmtopng > " + file + ".netpbm.png"));
            const auto netpbm = testkit::loadPng(file + ".netpbm.png");
            ASSERT_TRUE(netpbm);
            expectSame(ours, *netpbm, "netpbm");
        }
        if (c.readers != netpbmOnly) {
            ASSERT_TRUE(testkit::run("convert " + file + " " + file + ".magick.png"));
            const auto magick = testkit::loadPng(file + ".magick.png");
            ASSERT_TRUE(magick);
            expectSame(ours, *magick, "ImageMagick");
        }
    }
}
