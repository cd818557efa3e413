// Embedded colour profiles: one photograph tagged with profiles from Debian (Adobe RGB, ProPhoto,
// CMYK, grey) by ImageMagick or exiftool, read by us and by LittleCMS's own tools to sRGB; a
// damaged profile reads as stored, and so do JPEG profile segments missing or repeated.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "imglib/api/images.h"
#include "imglib/formats/jpeg/jpeg.h"
#include "tests/support/testkit.h"

using namespace imglib;

namespace {

namespace fs = testkit::fs;

const std::string kProfiles = "/usr/share/color/icc/";

// The share of pixels whose channels all lie within `levels` of the other picture's.
double shareWithin(const testkit::Rgba& a, const testkit::Rgba& b, int levels)
{
    if (a.width != b.width || a.height != b.height)
        return 0;
    std::size_t close = 0;
    for (std::size_t i = 0; i < a.pixels.size(); i += 4)
        close += std::abs(a.pixels[i] - b.pixels[i]) <= levels &&
                 std::abs(a.pixels[i + 1] - b.pixels[i + 1]) <= levels &&
                 std::abs(a.pixels[i + 2] - b.pixels[i + 2]) <= levels;
    return double(close) / double(a.pixels.size() / 4);
}

testkit::Rgba read(const fs::path& file, PixelFormat* format = nullptr)
{
    Image image;
    EXPECT_TRUE(readImage(file.c_str(), image)) << file;
    if (format)
        *format = image.format;
    return testkit::toRgba(image);
}

// The photograph with the APP2 segments numbered `numbers` of a profile cut into `count` shares.
std::vector<std::uint8_t> withSegments(const std::vector<std::uint8_t>& jpeg, const std::vector<std::uint8_t>& icc,
                                       std::vector<unsigned> numbers, unsigned count)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // SOI
    const std::size_t share = (icc.size() + count - 1) / count;
    for (const unsigned n : numbers) {
        const auto shareAt = [&](std::size_t i) { return icc.begin() + std::min(icc.size(), i * share); };
        const auto begin = shareAt(n - 1), end = shareAt(n);
        const std::size_t length = 2 + 14 + (end - begin);
        const char tag[] = "ICC_PROFILE";
        out.insert(out.end(), {0xFF, 0xE2, std::uint8_t(length >> 8), std::uint8_t(length)});
        out.insert(out.end(), tag, tag + sizeof tag);
        out.insert(out.end(), {std::uint8_t(n), std::uint8_t(count)});
        out.insert(out.end(), begin, end);
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

bool haveToolsAndProfiles()
{
    for (const char* tool : {"convert", "exiftool", "jpgicc", "tificc"})
        if (!testkit::haveTool(tool))
            return false;
    return fs::exists(kProfiles + "colord/ProPhotoRGB.icc") && fs::exists(kProfiles + "ghostscript/ps_cmyk.icc") &&
           fs::exists(kProfiles + "Gray-CIE_L.icc");
}

}  // namespace

TEST(Profile, ReadAsLittleCmsToolsReadIt)
{
    if (!haveToolsAndProfiles())
        GTEST_SKIP() << "skipped: tools or profiles missing (see scripts/deps)";
    const std::string toSrgb = " -profile " + kProfiles + "colord/sRGB.icc -profile " + kProfiles;
    const std::string jpgicc = "jpgicc -t0 -b -q100 in ref.jpg >/dev/null 2>&1 && convert ref.jpg ref.png";
    const std::string tificc = "tificc -t0 -b in ref.tif >/dev/null 2>&1 && convert ref.tif ref.png";
    const struct {
        const char* name;
        std::string make;  // "in", from photo.jpg
        std::string reference;
        PixelFormat format;
    } files[] = {
        {"jpeg, Adobe RGB", "exiftool -q -q -o in -icc_profile'<='" + kProfiles + "colord/AdobeRGB1998.icc photo.jpg",
         jpgicc, PixelFormat::rgb},
        {"tiff, ProPhoto", "convert photo.jpg -profile " + kProfiles + "colord/ProPhotoRGB.icc tif:in", tificc,
         PixelFormat::rgb},
        {"jpeg, CMYK", "convert photo.jpg" + toSrgb + "ghostscript/default_cmyk.icc -quality 95 jpg:in", jpgicc,
         PixelFormat::rgb},
        {"tiff, CMYK", "convert photo.jpg" + toSrgb + "ghostscript/ps_cmyk.icc tif:in", tificc, PixelFormat::rgb},
        {"tiff, palette", "convert photo.jpg -colors 200 -profile " + kProfiles + "colord/AdobeRGB1998.icc tif:in",
         "convert in -type TrueColor tif:rgb && tificc -t0 -b rgb ref.tif >/dev/null 2>&1 && convert ref.tif ref.png",
         PixelFormat::indexed},
        {"jpeg, grey stays grey",
         "convert photo.jpg -colorspace gray jpg:grey && exiftool -q -q -o in -icc_profile'<='" + kProfiles +
             "Gray-CIE_L.icc grey",
         jpgicc, PixelFormat::grey},
    };
    const testkit::ScratchDir dir;
    const std::string here = "cd " + dir.path().string() + " && ";
    ASSERT_TRUE(testkit::run(here + "convert rose: -resize 300% photo.jpg"));
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        ASSERT_TRUE(testkit::run(here + "rm -f in plain grey rgb && " + file.make + " && " + file.reference +
                                 " && exiftool -q -q -o plain -icc_profile= in"));
        PixelFormat format{};
        const testkit::Rgba ours = read(dir / "in", &format), stored = read(dir / "plain");
        EXPECT_EQ(format, file.format);
        EXPECT_GE(shareWithin(ours, *testkit::loadPng(dir / "ref.png"), 2), 0.99);
        EXPECT_GT(testkit::compare(ours, stored).meanError, 1.0) << "the profile changed nothing";

        // A profile LittleCMS refuses is ignored: the file reads as stored.
        auto damaged = testkit::readBytes(dir / "in");
        const std::string magic = "acsp";
        const auto at = std::search(damaged.begin(), damaged.end(), magic.begin(), magic.end());
        ASSERT_NE(at, damaged.end());
        *at = 'x';
        testkit::writeBytes(dir / "damaged", damaged);
        EXPECT_EQ(testkit::compare(read(dir / "damaged"), stored).maxError, 0);
    }
}

// A profile in JPEG segments is whole only with every share once, in any order.
TEST(Profile, JpegSegmentsJoinedInTheirOrder)
{
    if (!testkit::haveTool("convert") || !fs::exists(kProfiles + "colord/AdobeRGB1998.icc"))
        GTEST_SKIP() << "skipped: ImageMagick or the profile missing (see scripts/deps)";
    const testkit::ScratchDir dir;
    ASSERT_TRUE(testkit::run("convert rose: " + (dir / "photo.jpg").string()));
    const auto jpeg = testkit::readBytes(dir / "photo.jpg");
    const auto icc = testkit::readBytes(kProfiles + "colord/AdobeRGB1998.icc");
    const auto decoded = [](const std::vector<std::uint8_t>& file) {
        return testkit::toRgba(testkit::decodeOk(jpeg::decode, file));
    };
    const testkit::Rgba applied = decoded(withSegments(jpeg, icc, {1}, 1)), stored = decoded(jpeg);
    ASSERT_GT(testkit::compare(applied, stored).maxError, 0);
    const struct {
        const char* name;
        std::vector<unsigned> numbers;
        unsigned count;
        const testkit::Rgba& expected;
    } cases[] = {
        {"in order", {1, 2, 3}, 3, applied},
        {"out of order", {3, 1, 2}, 3, applied},
        {"one missing", {1, 3}, 3, stored},
        {"one repeated", {1, 2, 2, 3}, 3, stored},
        {"numbered past the count", {1, 4}, 3, stored},
    };
    for (const auto& c : cases)
        EXPECT_EQ(testkit::compare(decoded(withSegments(jpeg, icc, c.numbers, c.count)), c.expected).maxError, 0)
            << c.name;
}
