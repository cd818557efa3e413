// The TGA reader: the conformance files, hand-made files for the cases they miss, damaged files,
// files written by two independent encoders, and the sniff, which has no signature to go on.
#include <gtest/gtest.h>

#include <string_view>

#include "imglib/formats/pcx/pcx.h"
#include "imglib/formats/registry.h"
#include "imglib/formats/tga/tga.h"
#include "tests/support/testkit.h"

using namespace imglib;

namespace {

struct Header {
    std::uint8_t idLength = 0, mapType = 0, type = 2;
    std::uint16_t mapFirst = 0, mapLength = 0;
    std::uint8_t mapBits = 0;
    std::uint16_t width = 1, height = 1;
    std::uint8_t bits = 24, descriptor = 0x20;  // top-left

    // The 18 header bytes, a zero-filled ID field, then `rest` (colour map and pixels).
    std::vector<std::uint8_t> file(std::initializer_list<std::uint8_t> rest = {}) const
    {
        std::vector<std::uint8_t> f{idLength,
                                    mapType,
                                    type,
                                    std::uint8_t(mapFirst),
                                    std::uint8_t(mapFirst >> 8),
                                    std::uint8_t(mapLength),
                                    std::uint8_t(mapLength >> 8),
                                    mapBits,
                                    0,
                                    0,
                                    0,
                                    0,
                                    std::uint8_t(width),
                                    std::uint8_t(width >> 8),
                                    std::uint8_t(height),
                                    std::uint8_t(height >> 8),
                                    bits,
                                    descriptor};
        f.resize(f.size() + idLength, 0);
        f.insert(f.end(), rest);
        return f;
    }
};

Image decoded(const std::vector<std::uint8_t>& file) { return testkit::decodeOk(tga::decode, file); }
Error errorOf(const std::vector<std::uint8_t>& file) { return testkit::decodeError(tga::decode, file); }

}  // namespace

// 5-bit channels are widened by repeating their top bits; peers that round v·255/31 differ by 1.
TEST(Tga, ConformanceFiles)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "tga", tga::decode, {1, 0.2});
}

TEST(Tga, DamagedConformanceFilesFailCleanly)
{
    CONFORMANCE_OR_SKIP(dir);
    for (const auto& entry : testkit::manifestSamples(dir, "tga")) {
        const auto bytes = testkit::readBytes(dir / entry.path);
        if (bytes.size() <= 6144 && entry.group != "bad") {
            SCOPED_TRACE(entry.path);
            testkit::decodeDamaged(bytes, tga::decode);
        }
    }
}

TEST(Tga, FourOrigins)
{
    // A 2 × 2 grey image stored as 1 2 / 3 4, stored and run-length encoded.
    const std::pair<std::uint8_t, std::vector<std::uint8_t>> origins[] = {
        {0x00, {3, 4, 1, 2}},  // bottom-left
        {0x10, {4, 3, 2, 1}},  // bottom-right
        {0x20, {1, 2, 3, 4}},  // top-left
        {0x30, {2, 1, 4, 3}},  // top-right
    };
    for (const auto& [descriptor, expected] : origins) {
        SCOPED_TRACE(int{descriptor});
        Header h{.type = 3, .width = 2, .height = 2, .bits = 8, .descriptor = descriptor};
        EXPECT_EQ(decoded(h.file({1, 2, 3, 4})).pixels, expected);
        h.type = 11;
        EXPECT_EQ(decoded(h.file({0x03, 1, 2, 3, 4})).pixels, expected);
    }
}

TEST(Tga, PixelDepthsDropAlpha)
{
    Header h{.width = 2, .bits = 16};
    Image image = decoded(h.file({0x00, 0x7C, 0x9F, 0x83}));  // red; attribute bit, green 28, blue 31
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{255, 0, 0, 0, 231, 255}));
    h.bits = 15;
    EXPECT_EQ(decoded(h.file({0x00, 0x7C, 0x9F, 0x83})).pixels, image.pixels);
    h.bits = 32;
    EXPECT_EQ(decoded(h.file({1, 2, 3, 0, 4, 5, 6, 255})).pixels, (std::vector<std::uint8_t>{3, 2, 1, 6, 5, 4}));
    h = {.type = 3, .width = 2, .bits = 16};
    image = decoded(h.file({10, 0, 20, 255}));  // grey, then alpha
    EXPECT_EQ(image.format, PixelFormat::grey);
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{10, 20}));
}

TEST(Tga, ColourMapFromItsFirstIndex)
{
    // Entries for values 2, 3 and 4; a value with no entry refuses the file.
    Header h{.mapType = 1, .type = 1, .mapFirst = 2, .mapLength = 3, .mapBits = 24, .width = 2, .bits = 8};
    const std::initializer_list<std::uint8_t> map{1, 2, 3, 4, 5, 6, 7, 8, 9};  // blue, green, red
    auto file = h.file(map);
    file.insert(file.end(), {2, 4});
    const Image image = decoded(file);
    EXPECT_EQ(image.format, PixelFormat::indexed);
    EXPECT_EQ(image.palette, (std::vector<Colour>{{3, 2, 1}, {6, 5, 4}, {9, 8, 7}}));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{0, 2}));
    file.back() = 5;
    EXPECT_EQ(errorOf(file), Error::badData) << "past the last entry";
    file.back() = 1;
    EXPECT_EQ(errorOf(file), Error::badData) << "below the first entry";

    // 15-bit entries; a map that reaches past index 255 keeps only the entries a byte can reach.
    h = {.mapType = 1, .type = 1, .mapFirst = 254, .mapLength = 5, .mapBits = 15, .bits = 8};
    const Image wide = decoded(h.file({0x1F, 0, 0xE0, 0x03, 0, 0, 0, 0, 0, 0, 255}));
    EXPECT_EQ(wide.palette, (std::vector<Colour>{{0, 0, 255}, {0, 255, 0}}));
    EXPECT_EQ(wide.pixels, (std::vector<std::uint8_t>{1}));
}

TEST(Tga, RunsMayCrossRowsButNotTheImageEnd)
{
    // 3 × 2 grey: a run of 4 crosses into the second row, then 2 literal pixels.
    Header h{.type = 11, .width = 3, .height = 2, .bits = 8};
    EXPECT_EQ(decoded(h.file({0x83, 7, 0x01, 8, 9})).pixels, (std::vector<std::uint8_t>{7, 7, 7, 7, 8, 9}));
    EXPECT_EQ(errorOf(h.file({0x83, 7, 0x02, 8, 9, 10})), Error::badData) << "a literal past the end";
    EXPECT_EQ(errorOf(h.file({0x86, 7})), Error::badData) << "a run past the end";
    EXPECT_EQ(errorOf(h.file({0x83, 7, 0x01, 8})), Error::truncated);
    testkit::decodeDamaged(h.file({0x83, 7, 0x01, 8, 9}), tga::decode);
}

TEST(Tga, StrictHeader)
{
    const Header good{.width = 1, .height = 1};
    EXPECT_TRUE(tga::sniff(good.file({1, 2, 3})));

    auto with = [&](auto change) {
        Header h = good;
        change(h);
        return errorOf(h.file({1, 2, 3}));
    };
    EXPECT_EQ(with([](Header& h) { h.type = 0; }), Error::badHeader) << "no image";
    EXPECT_EQ(with([](Header& h) { h.type = 4; }), Error::badHeader);
    EXPECT_EQ(with([](Header& h) { h.type = 32; }), Error::badHeader);
    EXPECT_EQ(with([](Header& h) { h.mapType = 2; }), Error::badHeader);
    EXPECT_EQ(with([](Header& h) { h.mapLength = 4; }), Error::badHeader) << "map fields without a map";
    EXPECT_EQ(with([](Header& h) { h.mapType = 1, h.mapLength = 1, h.mapBits = 8; }), Error::badHeader);
    EXPECT_EQ(with([](Header& h) { h.type = 1, h.bits = 8; }), Error::badHeader) << "mapped without a map";
    EXPECT_EQ(with([](Header& h) { h.type = 1, h.bits = 16, h.mapType = 1, h.mapLength = 1, h.mapBits = 24; }),
              Error::unsupported);
    EXPECT_EQ(with([](Header& h) {
                  h.type = 1, h.bits = 8, h.mapType = 1, h.mapFirst = 256, h.mapLength = 1, h.mapBits = 24;
              }),
              Error::badHeader)
        << "no index reaches the map";
    EXPECT_EQ(with([](Header& h) { h.bits = 8; }), Error::badHeader);
    EXPECT_EQ(with([](Header& h) { h.type = 3, h.bits = 24; }), Error::badHeader);
    EXPECT_EQ(with([](Header& h) { h.width = 0; }), Error::badHeader);
    EXPECT_EQ(with([](Header& h) { h.height = 0; }), Error::badHeader);
    EXPECT_EQ(with([](Header& h) { h.descriptor = 0x60; }), Error::unsupported) << "interleaved";
    EXPECT_EQ(with([](Header& h) { h.mapType = 1, h.mapLength = 2, h.mapBits = 24; }), Error::truncated)
        << "the colour map must be there";
    EXPECT_EQ(with([](Header& h) { h.width = 2; }), Error::truncated);
    EXPECT_EQ(with([](Header& h) { h.width = 65535, h.height = 65535; }), Error::tooLarge);

    // A large image in a short file is refused before its pixels are allocated.
    for (const std::uint8_t type : {std::uint8_t{2}, std::uint8_t{10}}) {
        const Header big{.type = type, .width = 8000, .height = 8000};
        Image image;
        const Status s = tga::decode(big.file({0xFF, 1, 2, 3, 0xFF, 1, 2, 3}), image);
        EXPECT_EQ(s.error, Error::truncated);
        EXPECT_STREQ(s.detail, "tga: data too short for the image");
    }
}

TEST(Tga, ReadsPastTheIdFieldExtensionAreaAndFooter)
{
    Header h{.idLength = 5, .width = 1};
    auto file = h.file({1, 2, 3});
    file.resize(file.size() + 495, 0);  // extension area
    file[file.size() - 495] = 0xEF;     // its size field, 495
    file[file.size() - 494] = 0x01;
    const std::string_view footer("\0\0\0\0\0\0\0\0TRUEVISION-XFILE.\0", 26);
    file.insert(file.end(), footer.begin(), footer.end());
    EXPECT_EQ(decoded(file).pixels, (std::vector<std::uint8_t>{3, 2, 1}));
}

TEST(Tga, SniffIsNotFooledByOtherFiles)
{
    auto bytesOf = [](std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    std::vector<std::vector<std::uint8_t>> blobs{
        bytesOf("Hello, world.\nThis is a plain text file of a few lines.\n\tIndented.\n"),
        bytesOf("\n\n\tstarts with blank lines and a tab\r\n"),
        bytesOf("#!/bin/sh\nset -e\necho \"not an image\"\n"),
        bytesOf("<!DOCTYPE html>\n<html><head><title>x</title></head><body></body></html>\n"),
        bytesOf("{\"width\": 1, \"height\": 1, \"pixels\": [0, 1, 2]}\n"),
        bytesOf(std::string_view("\x7F"
                                 "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3E\0\x01\0\0\0",
                                 24)),
        bytesOf(std::string_view("PK\x03\x04\x14\0\0\0\x08\0\0\0!\0\0\0\0\0\0\0\0\0\0\0", 24)),
        bytesOf("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n"),
        bytesOf(
            std::string_view("\x1F\x8B\x08\0\0\0\0\0\0\x03\xCB\x48\xCD\xC9\xC9\x07\0\x86\xA6\x10\x36\x05\0\0\0", 25)),
        bytesOf(std::string_view("\xFF\xFEH\0e\0l\0l\0o\0,\0 \0w\0o\0r\0l\0d\0\n\0", 28)),
        bytesOf(std::string_view("MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF\0\0\xB8\0\0\0\0\0\0\0", 24)),
        std::vector<std::uint8_t>(4096, 0),
        std::vector<std::uint8_t>(4096, 0xFF),
    };
    for (const auto& blob : blobs) {
        SCOPED_TRACE(std::string(blob.begin(), blob.begin() + std::min<std::size_t>(blob.size(), 12)));
        EXPECT_FALSE(tga::sniff(blob));
        EXPECT_FALSE(pcx::sniff(blob));
        Image image;
        EXPECT_FALSE(decodeAny(blob, image).ok()) << "no reader may take it";
    }

    // A TGA with a 10-byte ID field starts with the PCX manufacturer byte, and is still a TGA.
    const Header h{.idLength = 10, .mapType = 1, .type = 1, .mapLength = 1, .mapBits = 24, .bits = 8};
    const auto file = h.file({1, 2, 3, 0});
    EXPECT_FALSE(pcx::sniff(file));
    Image image;
    ASSERT_TRUE(decodeAny(file, image).ok());
    EXPECT_EQ(image.palette, (std::vector<Colour>{{3, 2, 1}}));
}

// Writes the crop of ImageMagick's built-in rose picture (an odd width) in several variants with
// netpbm's ppmtotga and ImageMagick, and compares what we read with what each tool reads back.
TEST(Tga, MatchesIndependentEncoders)
{
    for (const char* tool : {"convert", "ppmtotga", "tgatoppm", "pnmtopng"})
        if (!testkit::haveTool(tool))
            GTEST_SKIP() << "skipped: " << tool << " is not installed (see scripts/deps)";
    testkit::ScratchDir dir;
    const std::string d = dir.path().string() + "/";
    ASSERT_TRUE(testkit::run("convert rose: -crop 69x45+0+0 +repage " + d + "rose.ppm"));
    for (const char* colours : {"16", "200"})
        ASSERT_TRUE(testkit::run("convert " + d + "rose.ppm -colors " + colours + " " + d + "rose" + colours + ".ppm"));
    ASSERT_TRUE(testkit::run("convert " + d + "rose.ppm -colorspace gray " + d + "grey.pgm"));

    // Each file is compared with every tool that reads it right: ImageMagick misreads colour maps
    // of 15-bit entries, netpbm ignores the right-to-left origin bit. netpbm's 5-bit channels are
    // rounded, ours widened by repeating bits: 1 level apart at most.
    enum Readers { both, netpbmOnly, magickOnly };
    struct Case {
        const char* name;
        std::string encode;
        Readers readers;
        int tolerance = 0;
    };
    const std::vector<Case> cases{
        {"netpbm-24bit-rle", "ppmtotga rose.ppm", both},
        {"netpbm-24bit", "ppmtotga -norle rose.ppm", both},
        {"netpbm-mapped-rle", "ppmtotga -cmap rose200.ppm", both},
        {"netpbm-mapped", "ppmtotga -cmap -norle rose16.ppm", both},
        {"netpbm-mapped-15bit", "ppmtotga -cmap16 rose200.ppm", netpbmOnly, 1},
        {"netpbm-grey-rle", "ppmtotga -mono grey.pgm", both},
        {"netpbm-grey", "ppmtotga -norle grey.pgm", both},
        {"magick-24bit", "convert rose.ppm tga:-", both},
        {"magick-24bit-rle", "convert rose.ppm -compress rle tga:-", both},
        {"magick-32bit-rle", "convert rose.ppm -alpha set -channel A -fx 0.5 -compress rle tga:-", both},
        {"magick-mapped", "convert rose.ppm -type palette tga:-", both},
        {"magick-mapped-rle", "convert rose.ppm -type palette -compress rle tga:-", both},
        {"magick-grey", "convert grey.pgm -type grayscale tga:-", both},
        {"magick-grey-rle", "convert grey.pgm -type grayscale -compress rle tga:-", both},
        {"magick-top-left", "convert rose.ppm -orient TopLeft tga:-", both},
        {"magick-top-right", "convert rose.ppm -orient TopRight tga:-", magickOnly},
        {"magick-bottom-right", "convert rose.ppm -orient BottomRight tga:-", magickOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = d + c.name + ".tga";
        ASSERT_TRUE(testkit::run("cd " + d + " && " + c.encode + " > " + file + " 2>/dev/null"));
        Image image;
        const Status s = tga::decode(testkit::readBytes(file), image);
        ASSERT_TRUE(s.ok()) << s.detail;
        const auto ours = testkit::toRgba(image);

        auto expectSame = [&](const std::string& command, const std::string& png, const char* who) {
            ASSERT_TRUE(testkit::run(command)) << command;
            const auto theirs = testkit::loadPng(png);
            ASSERT_TRUE(theirs);
            const auto diff = testkit::compare(ours, *theirs, true);
            EXPECT_TRUE(diff.sameSize) << who << " reads another size";
            EXPECT_LE(diff.maxError, c.tolerance) << who << " reads other colours";
        };
        if (c.readers != magickOnly)
            expectSame("tgatoppm " + file + " 2>/dev/null | pnmtopng > " + file + ".netpbm.png", file + ".netpbm.png",
                       "netpbm");
        if (c.readers != netpbmOnly)
            expectSame("convert " + file + " -auto-orient " + file + ".magick.png", file + ".magick.png",
                       "ImageMagick");
    }
}
