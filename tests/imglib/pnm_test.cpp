// The Netpbm reader: conformance files, headers and rasters written out by hand, and files from
// netpbm and ImageMagick compared with those tools' own reading.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "imglib/formats/pnm/pnm.h"
#include "tests/support/testkit.h"

using namespace imglib;
namespace fs = testkit::fs;

namespace {

std::vector<std::uint8_t> bytes(std::string_view text, std::vector<std::uint8_t> raster = {})
{
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.insert(out.end(), raster.begin(), raster.end());
    return out;
}

Image decoded(const std::vector<std::uint8_t>& file) { return testkit::decodeOk(pnm::decode, file); }
Error errorOf(const std::vector<std::uint8_t>& file) { return testkit::decodeError(pnm::decode, file); }

using Pixels = std::vector<std::uint8_t>;

// The largest channel difference between our reading of `file` and a tool's, given as a command
// that turns {} into {}.png.
std::optional<int> differenceFrom(const std::string& command, const fs::path& file)
{
    std::string line = command;
    for (auto at = line.find("{}"); at != std::string::npos; at = line.find("{}", at + 1))
        line.replace(at, 2, file.string());
    if (!testkit::run(line + " 2>/dev/null"))
        return std::nullopt;
    const auto png = testkit::loadPng(file.string() + ".png");
    if (!png)
        return std::nullopt;
    const auto d = testkit::compare(testkit::toRgba(decoded(testkit::readBytes(file))), *png, true);
    return d.sameSize ? std::optional(d.maxError) : std::nullopt;
}

}  // namespace

TEST(PnmRead, KindsScalingAndComments)
{
    // Bitmaps are indexed white, black: index = bit. Plain bitmap digits need no separators.
    Image bits = decoded(bytes("P1\n# c\n3 2\n101\n0 1\n0"));
    EXPECT_EQ(bits.format, PixelFormat::indexed);
    EXPECT_EQ(bits.palette, (std::vector<Colour>{{255, 255, 255}, {0, 0, 0}}));
    EXPECT_EQ(bits.pixels, (Pixels{1, 0, 1, 0, 1, 0}));
    // P4 rows start on a byte: 10 pixels take 2 bytes.
    EXPECT_EQ(decoded(bytes("P4 10 2\n", {0xFF, 0xC0, 0x00, 0x40})).pixels,
              (Pixels{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));

    // Samples scale as v·255/maxval, rounded; comments may come anywhere between numbers.
    Image grey = decoded(bytes("P2#a\n3#b\n1 15#c\n0 7\n#d\n15"));
    EXPECT_EQ(grey.format, PixelFormat::grey);
    EXPECT_EQ(grey.pixels, (Pixels{0, 119, 255}));
    EXPECT_EQ(decoded(bytes("P5 3 1 100\n", {0, 50, 100})).pixels, (Pixels{0, 128, 255}));
    EXPECT_EQ(decoded(bytes("P5 3 1 255\n", {0, 50, 100})).pixels, (Pixels{0, 50, 100}));
    EXPECT_EQ(decoded(bytes("P5 3 1 1000\n", {0, 0, 1, 0xF4, 3, 0xE8})).pixels, (Pixels{0, 128, 255}));
    EXPECT_EQ(decoded(bytes("P5 2 1 65535\n", {0x01, 0x01, 0xAC, 0x93})).pixels, (Pixels{1, 172}));
    Image rgb = decoded(bytes("P3\n# c\n2 1\n#c\n255\n1 2 3 # trailing\n4 5 6"));
    EXPECT_EQ(rgb.format, PixelFormat::rgb);
    EXPECT_EQ(rgb.pixels, (Pixels{1, 2, 3, 4, 5, 6}));
    // A comment straight after the maxval ends with its line, which is then the separator.
    EXPECT_EQ(decoded(bytes("P6 1 1 255#c\n", {7, 8, 9})).pixels, (Pixels{7, 8, 9}));
    // Only the first image of a file is read.
    EXPECT_EQ(decoded(bytes("P5 1 1 255\n\x05P5 1 1 255\n\x06")).pixels, Pixels{5});
}

TEST(PnmRead, RejectsBadHeadersSamplesAndShortFiles)
{
    for (const char* header : {"P5 2 1 0\n", "P5 2 1 65536\n", "P5 2 1 -1\n", "P6 -1 1 255\n", "P5 0 1 255\n",
                               "P7 2 1 255\n", "P5 2x 1 255\n", "P5 2 1 255X", "Q5 2 1 255\n"}) {
        EXPECT_EQ(errorOf(bytes(header, {1, 2, 3, 4, 5, 6})), Error::badHeader) << header;
        EXPECT_FALSE(pnm::sniff(bytes(header, {1, 2, 3, 4, 5, 6}))) << header;
    }
    // A sample above maxval is bad data, in every encoding.
    EXPECT_EQ(errorOf(bytes("P2 2 1 15 3 16")), Error::badData);
    EXPECT_EQ(errorOf(bytes("P5 2 1 100\n", {3, 101})), Error::badData);
    EXPECT_EQ(errorOf(bytes("P5 1 1 1000\n", {0x03, 0xE9})), Error::badData);
    EXPECT_EQ(errorOf(bytes("P3 1 1 255 1 2 3a")), Error::badData);
    EXPECT_EQ(errorOf(bytes("P1 2 1 1 2")), Error::badData);
    // Short rasters; a header announcing more than the file can hold fails before allocating.
    EXPECT_EQ(errorOf(bytes("P6 2 1 255\n", {1, 2, 3, 4, 5})), Error::truncated);
    EXPECT_EQ(errorOf(bytes("P2 3 1 15 1 2")), Error::truncated);
    EXPECT_EQ(errorOf(bytes("P2 2 1 15 1     ")), Error::truncated);
    EXPECT_EQ(errorOf(bytes("P6 65535 4096 255\n", {1, 2, 3})), Error::truncated);
    EXPECT_EQ(errorOf(bytes("P1 60000 60000 0")), Error::tooLarge);
    EXPECT_EQ(errorOf(bytes("P1 99999999999999999999 1 0")), Error::tooLarge);
    EXPECT_EQ(errorOf(bytes("P5 2 1")), Error::truncated);
}

TEST(PnmSniff, SignatureAndAValidHeader)
{
    EXPECT_TRUE(pnm::sniff(bytes("P1 1 1 0")));
    EXPECT_TRUE(pnm::sniff(bytes("P6 1 1 255\n", {1, 2, 3})));
    EXPECT_FALSE(pnm::sniff(bytes("\x89PNG\r\n\x1a\n")));
    EXPECT_FALSE(pnm::sniff(bytes("P")));
    EXPECT_FALSE(pnm::sniff({}));
}

TEST(PnmConformance, FilesMatchTheirReferences)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "pnm", pnm::decode, {0, 0});  // lossless: exact
}

TEST(PnmDamaged, TruncatedAndFlippedFilesFailCleanly)
{
    std::vector<std::vector<std::uint8_t>> files = {bytes("P3\n# c\n2 1\n#c\n255\n1 2 3 # x\n4 5 6")};
    for (const auto& entry : fs::directory_iterator(testkit::testData("pnm")))
        if (entry.path().extension() != ".png" && entry.path().extension() != ".md")
            files.push_back(testkit::readBytes(entry.path()));
    if (const auto dir = testkit::conformanceDir()) {
        for (const char* name : {"feep.pgm", "feep16.pgm", "j.pbm", "issue-794.pbm", "colors.ppm", "rays2.pnm"})
            files.push_back(testkit::readBytes(*dir / "pnm/good" / name));
    }
    for (const auto& file : files)
        testkit::decodeDamaged(file, pnm::decode, 8192);
}

TEST(PnmIndependent, CommittedFilesMatchNetpbm)
{
    // Made by netpbm and ImageMagick, with netpbm's rendering beside each (see the README).
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(testkit::testData("pnm"))) {
        if (entry.path().extension() == ".png" || entry.path().extension() == ".md")
            continue;
        SCOPED_TRACE(entry.path().filename());
        const auto ref = testkit::loadPng(fs::path(entry.path()).replace_extension(".png"));
        ASSERT_TRUE(ref);
        const auto ours = testkit::toRgba(decoded(testkit::readBytes(entry.path())));
        const auto d = testkit::compare(ours, *ref, true);
        EXPECT_TRUE(d.sameSize);
        EXPECT_EQ(d.maxError, 0);
        ++checked;
    }
    EXPECT_GE(checked, 5);
}

TEST(PnmIndependent, FilesFromNetpbmAndImageMagick)
{
    for (const char* tool : {"convert", "pnmtoplainpnm", "pamtopnm", "pamdepth", "pnmtopng", "pamditherbw"})
        if (!testkit::haveTool(tool))
            GTEST_SKIP() << "needs ImageMagick and netpbm: " << tool << " not found";
    testkit::ScratchDir s;
    const std::string d = s.path().string() + "/";
    const std::vector<std::pair<std::string, std::string>> makers = {
        {"p6-16.ppm", "convert -size 37x23 -seed 9 plasma:fractal ppm:p6-16.ppm"},
        {"p6.ppm", "pamdepth 255 p6-16.ppm > p6.ppm"},
        {"p3.ppm", "pnmtoplainpnm p6.ppm > p3.ppm"},
        {"p5-16.pgm", "ppmtopgm p6-16.ppm > p5-16.pgm"},
        {"p2-300.pgm", "pamdepth 300 p5-16.pgm | pnmtoplainpnm > p2-300.pgm"},
        {"p4.pbm", "pamditherbw p5-16.pgm | pamtopnm > p4.pbm"},
        {"p1.pbm", "pnmtoplainpnm p4.pbm > p1.pbm"},
        {"from-pam.ppm", "convert p6.ppm pam:- | pamtopnm > from-pam.ppm"},
        {"im-plain.ppm", "convert p6.ppm -compress none ppm:im-plain.ppm"},
        {"im-3.pgm", "convert p5-16.pgm -depth 2 pgm:im-3.pgm"},
    };
    for (const auto& [name, command] : makers) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(testkit::run("cd " + d + " && " + command + " 2>/dev/null"));
        const bool bitmap = name.ends_with(".pbm");
        // netpbm rounds v·255/maxval as we do.
        const char* viaNetpbm = bitmap ? "pnmtopng {} > {}.png" : "pamdepth 255 {} | pnmtopng > {}.png";
        const auto netpbm = differenceFrom(viaNetpbm, d + name);
        ASSERT_TRUE(netpbm) << "netpbm could not read the file";
        EXPECT_EQ(*netpbm, 0);
        // ImageMagick 6 truncates where it brings samples of other maxvals to 8 bits.
        const auto magick = differenceFrom("convert {} -strip png24:{}.png", d + name);
        ASSERT_TRUE(magick) << "ImageMagick could not read the file";
        EXPECT_LE(*magick, 1);
    }
}
