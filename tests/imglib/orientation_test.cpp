// Readers hand on the picture upright, whatever orientation the file records: a real photograph
// tagged at test time by independent tools, compared with its stored pixels turned by another.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "imglib/core/exif.h"
#include "imglib/core/orientation.h"
#include "imglib/formats/jpeg/jpeg.h"
#include "imglib/formats/pnm/pnm.h"
#include "imglib/formats/tiff/tiff.h"
#include "tests/support/testkit.h"

using namespace imglib;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPhotograph = "jpeg/good/progressive_cat.jpg";  // 320 × 240, no orientation

// How each recorded value shows the stored picture, as pamflip options (pamflip's -r90 turns
// counter-clockwise). Out of range: as stored.
std::string shownBy(unsigned orientation)
{
    switch (orientation) {
    case 2:
        return "pamflip -lr";
    case 3:
        return "pamflip -r180";
    case 4:
        return "pamflip -tb";
    case 5:
        return "pamflip -transpose";
    case 6:
        return "pamflip -r270";
    case 7:
        return "pamflip -transpose | pamflip -r180";
    case 8:
        return "pamflip -r90";
    default:
        return "cat";
    }
}

void writePpm(const fs::path& path, const Image& rgb)
{
    const std::string header = "P6\n" + std::to_string(rgb.width) + " " + std::to_string(rgb.height) + "\n255\n";
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), rgb.pixels.begin(), rgb.pixels.end());
    testkit::writeBytes(path, bytes);
}

// The photograph's stored pixels, and a scratch folder holding them as stored.ppm.
struct Photograph {
    explicit Photograph(const fs::path& file) : stored(testkit::decodeOk(jpeg::decode, testkit::readBytes(file)))
    {
        writePpm(scratch / "stored.ppm", stored);
    }
    testkit::ScratchDir scratch;
    Image stored;
};

// The stored pixels turned as `orientation` shows them, by pamflip.
Image expectedFor(const Photograph& s, unsigned orientation)
{
    const fs::path out = s.scratch / ("shown" + std::to_string(orientation) + ".ppm");
    EXPECT_TRUE(testkit::run("< '" + (s.scratch / "stored.ppm").string() + "' " + shownBy(orientation) + " > '" +
                             out.string() + "'"));
    return testkit::decodeOk(pnm::decode, testkit::readBytes(out));
}

void expectSame(const Image& got, const Image& expected)
{
    EXPECT_EQ(got.width, expected.width);
    EXPECT_EQ(got.height, expected.height);
    EXPECT_TRUE(got.pixels == expected.pixels);
}

}  // namespace

TEST(Orientation, JpegExifInEitherByteOrderTurnsThePhotographUpright)
{
    CONFORMANCE_OR_SKIP(dir);
    if (!testkit::haveTool("exiftool") || !testkit::haveTool("pamflip"))
        GTEST_SKIP() << "skipped: exiftool or pamflip not found";
    const Photograph s(dir / kPhotograph);
    // One file per value and byte order, tagged by one exiftool run from a copy with no metadata.
    const fs::path bare = s.scratch / "bare.jpg";
    ASSERT_TRUE(testkit::run("exiftool -q -q -all= -o '" + bare.string() + "' '" + (dir / kPhotograph).string() + "'"));
    const auto taggedName = [&](unsigned orientation, const std::string& order) {
        return s.scratch / ("tagged" + std::to_string(orientation) + order + ".jpg");
    };
    std::string commands;
    for (unsigned orientation = 0; orientation <= 9; ++orientation)
        for (const char* order : {"II", "MM"}) {
            fs::copy_file(bare, taggedName(orientation, order));
            commands += "-q\n-q\n-overwrite_original\n-n\n-ExifByteOrder=" + std::string(order) +
                        "\n-Orientation=" + std::to_string(orientation) + "\n" +
                        taggedName(orientation, order).string() + "\n-execute\n";
        }
    const fs::path arguments = s.scratch / "arguments";
    testkit::writeBytes(arguments, std::vector<std::uint8_t>(commands.begin(), commands.end()));
    ASSERT_TRUE(testkit::run("exiftool -@ '" + arguments.string() + "'"));

    for (unsigned orientation = 0; orientation <= 9; ++orientation) {
        const Image expected = expectedFor(s, orientation);
        for (const char* order : {"II", "MM"}) {
            SCOPED_TRACE("Orientation " + std::to_string(orientation) + ", byte order " + order);
            expectSame(testkit::decodeOk(jpeg::decode, testkit::readBytes(taggedName(orientation, order))), expected);
        }
    }
}

TEST(Orientation, TiffTagTurnsThePhotographUpright)
{
    CONFORMANCE_OR_SKIP(dir);
    if (!testkit::haveTool("tiffset") || !testkit::haveTool("pnmtotiff") || !testkit::haveTool("pamflip"))
        GTEST_SKIP() << "skipped: tiffset, pnmtotiff or pamflip not found";
    const Photograph s(dir / kPhotograph);
    const std::string tiff = (s.scratch / "tagged.tif").string();
    const auto tagged = [&](unsigned orientation) {
        EXPECT_TRUE(testkit::run("pnmtotiff '" + (s.scratch / "stored.ppm").string() + "' > '" + tiff +
                                 "' 2>/dev/null && tiffset -s 274 " + std::to_string(orientation) + " '" + tiff + "'"));
        return testkit::readBytes(tiff);
    };
    for (unsigned orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("Orientation " + std::to_string(orientation));
        expectSame(testkit::decodeOk(tiff::decode, tagged(orientation)), expectedFor(s, orientation));
    }
    // libtiff will not write a value out of range: patch the tag's value in place.
    auto bytes = tagged(3);
    const std::vector<std::uint8_t> entry{0x12, 0x01, 3, 0, 1, 0, 0, 0, 3, 0};
    const auto at = std::search(bytes.begin(), bytes.end(), entry.begin(), entry.end());
    ASSERT_NE(at, bytes.end()) << "no little-endian Orientation entry";
    for (const int outOfRange : {0, 9, 255}) {
        SCOPED_TRACE("Orientation " + std::to_string(outOfRange));
        at[8] = static_cast<std::uint8_t>(outOfRange);
        expectSame(testkit::decodeOk(tiff::decode, bytes), s.stored);
    }
}

// Exif blocks that name no orientation, or one that cannot be read, leave the stored order.
TEST(Orientation, UnreadableExifCountsAsStoredOrder)
{
    // "Exif\0\0", a big-endian TIFF header pointing at the directory, one entry: Orientation 6.
    const std::vector<std::uint8_t> good{'E', 'x', 'i',  'f',  0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8,
                                         0,   1,   0x01, 0x12, 0, 3, 0,   0,   0, 1,  0, 6, 0, 0};
    ASSERT_EQ(readExif(good).orientation, Orientation::rightTop);
    struct Damage {
        const char* what;
        std::size_t at;
        std::uint8_t value;
    };
    for (const Damage& d :
         {Damage{"not Exif", 0, 'e'}, Damage{"no byte order", 6, 'X'}, Damage{"bad magic", 9, 43},
          Damage{"directory past the end", 13, 200}, Damage{"no entries", 15, 0}, Damage{"a LONG, not a SHORT", 19, 4},
          Damage{"two values", 23, 2}, Damage{"value 0", 25, 0}, Damage{"value 9", 25, 9}}) {
        SCOPED_TRACE(d.what);
        auto damaged = good;
        damaged[d.at] = d.value;
        EXPECT_EQ(readExif(damaged).orientation, Orientation::topLeft);
    }
    for (std::size_t size = 0; size < good.size(); ++size)
        EXPECT_EQ(readExif(std::span(good).first(size)).orientation, Orientation::topLeft) << "cut at " << size;
}
