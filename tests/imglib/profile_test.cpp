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

const std::string kProfiles = "/usr/share/color/icc/";

// The share of pixels whose channels all lie within `levels` of the other picture's.
double shareWithin(const testkit::Rgba& a, const testkit::Rgba& b, int levels)
{
    std::size_t close = 0;
    for (std::size_t i = 0; a.width == b.width && a.height == b.height && i < a.pixels.size(); i += 4)
        close += std::abs(a.pixels[i] - b.pixels[i]) <= levels &&
                 std::abs(a.pixels[i + 1] - b.pixels[i + 1]) <= levels &&
                 std::abs(a.pixels[i + 2] - b.pixels[i + 2]) <= levels;
    return double(close) / double(a.pixels.size() / 4);
}

Image read(const testkit::fs::path& file)
{
    Image image;
    EXPECT_TRUE(readImage(file.c_str(), image)) << file;
    return image;
}

// The photograph with APP2 segments numbered `numbers`, of a profile cut into `count` shares.
std::vector<std::uint8_t> withSegments(const std::vector<std::uint8_t>& jpeg, const std::vector<std::uint8_t>& icc,
                                       std::vector<unsigned> numbers, unsigned count)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // SOI
    const auto shareAt = [&](std::size_t n) {
        return icc.begin() + std::min(icc.size(), n * (icc.size() / count + 1));
    };
    const std::string tag("ICC_PROFILE", 12);
    for (const unsigned n : numbers) {
        const std::size_t length = 2 + 14 + (shareAt(n) - shareAt(n - 1));
        out.insert(out.end(), {0xFF, 0xE2, std::uint8_t(length >> 8), std::uint8_t(length)});
        out.insert(out.end(), tag.begin(), tag.end());
        out.insert(out.end(), {std::uint8_t(n), std::uint8_t(count)});
        out.insert(out.end(), shareAt(n - 1), shareAt(n));
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

}  // namespace

TEST(Profile, ReadAsLittleCmsToolsReadIt)
{
    for (const char* tool : {"convert", "exiftool", "jpgicc", "tificc"})
        if (!testkit::haveTool(tool))
            GTEST_SKIP() << "skipped: " << tool << " is not installed (see scripts/deps)";
    for (const char* profile : {"colord/ProPhotoRGB.icc", "ghostscript/ps_cmyk.icc", "Gray-CIE_L.icc"})
        if (!testkit::fs::exists(kProfiles + profile))
            GTEST_SKIP() << "skipped: " << profile << " is not installed (see scripts/deps)";
    const std::string toCmyk = " -profile " + kProfiles + "colord/sRGB.icc -profile " + kProfiles + "ghostscript/";
    const std::string tag = "exiftool -q -q -o in -icc_profile'<='" + kProfiles;
    const std::string jpgicc = "jpgicc -t0 -b -q100 in ref.jpg >/dev/null 2>&1 && convert ref.jpg ref.png";
    const std::string tificc = "tificc -t0 -b in ref.tif >/dev/null 2>&1 && convert ref.tif ref.png";
    const struct {
        const char* name;
        std::string make;  // "in", from photo.jpg
        std::string reference;
        PixelFormat format;
    } files[] = {
        {"jpeg, Adobe RGB", tag + "colord/AdobeRGB1998.icc photo.jpg", jpgicc, PixelFormat::rgb},
        {"tiff, ProPhoto", "convert photo.jpg -profile " + kProfiles + "colord/ProPhotoRGB.icc tif:in", tificc,
         PixelFormat::rgb},
        {"jpeg, CMYK", "convert photo.jpg" + toCmyk + "default_cmyk.icc -quality 95 jpg:in", jpgicc, PixelFormat::rgb},
        {"tiff, CMYK", "convert photo.jpg" + toCmyk + "ps_cmyk.icc tif:in", tificc, PixelFormat::rgb},
        {"tiff, palette", "convert photo.jpg -colors 200 -profile " + kProfiles + "colord/AdobeRGB1998.icc tif:in",
         "convert in -type TrueColor tif:rgb && tificc -t0 -b rgb ref.tif >/dev/null 2>&1 && convert ref.tif ref.png",
         PixelFormat::indexed},
        {"jpeg, grey stays grey", "convert photo.jpg -colorspace gray jpg:grey && " + tag + "Gray-CIE_L.icc grey",
         jpgicc, PixelFormat::grey},
    };
    const testkit::ScratchDir dir;
    const std::string here = "cd " + dir.path().string() + " && ";
    ASSERT_TRUE(testkit::run(here + "convert rose: -resize 300% photo.jpg"));
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        ASSERT_TRUE(testkit::run(here + "rm -f in plain grey rgb && " + file.make + " && " + file.reference +
                                 " && exiftool -q -q -o plain -icc_profile= in"));
        const Image ours = read(dir / "in");
        const testkit::Rgba stored = testkit::toRgba(read(dir / "plain"));
        EXPECT_EQ(ours.format, file.format);
        EXPECT_GE(shareWithin(testkit::toRgba(ours), *testkit::loadPng(dir / "ref.png"), 2), 0.99);
        EXPECT_GT(testkit::compare(testkit::toRgba(ours), stored).meanError, 1.0) << "the profile changed nothing";

        // A profile LittleCMS refuses is ignored: the file reads as stored.
        auto damaged = testkit::readBytes(dir / "in");
        const std::string magic = "acsp";
        const auto signature = std::search(damaged.begin(), damaged.end(), magic.begin(), magic.end());
        ASSERT_NE(signature, damaged.end());
        *signature = 'x';
        testkit::writeBytes(dir / "damaged", damaged);
        EXPECT_EQ(testkit::compare(testkit::toRgba(read(dir / "damaged")), stored).maxError, 0);
    }
}

// A profile in JPEG segments is whole only with every share once, in any order.
TEST(Profile, JpegSegmentsJoinedInTheirOrder)
{
    if (!testkit::haveTool("convert") || !testkit::fs::exists(kProfiles + "colord/AdobeRGB1998.icc"))
        GTEST_SKIP() << "skipped: ImageMagick or the profile missing (see scripts/deps)";
    const testkit::ScratchDir dir;
    ASSERT_TRUE(testkit::run("convert rose: " + (dir / "photo.jpg").string()));
    const auto jpeg = testkit::readBytes(dir / "photo.jpg");
    const auto icc = testkit::readBytes(kProfiles + "colord/AdobeRGB1998.icc");
    const auto decoded = [&](std::vector<unsigned> numbers, unsigned count) {
        return testkit::toRgba(testkit::decodeOk(jpeg::decode, withSegments(jpeg, icc, numbers, count)));
    };
    const testkit::Rgba applied = decoded({1}, 1), stored = decoded({}, 1);
    ASSERT_GT(testkit::compare(applied, stored).maxError, 0);
    const struct {
        std::vector<unsigned> numbers;
        const testkit::Rgba& expected;
    } cases[] = {
        {{1, 2, 3}, applied}, {{3, 1, 2}, applied}, {{1, 3}, stored}, {{1, 2, 2, 3}, stored}, {{1, 4}, stored}};
    for (const auto& c : cases)
        EXPECT_EQ(testkit::compare(decoded(c.numbers, 3), c.expected).maxError, 0) << testing::PrintToString(c.numbers);
}
