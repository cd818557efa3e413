// The size a file states for printing: files of every reader that stores one, made by independent
// tools (or patched by hand), read, then written by both writers and checked with tiffinfo,
// ImageMagick and the bitmap header's bytes; the C calls' operations keep it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "imglib/api/images.h"
#include "imglib/imglib.h"
#include "tests/support/testkit.h"

using namespace imglib;

namespace {

namespace fs = testkit::fs;

// Pixels per metre across and down, from a bitmap's header.
std::pair<std::uint32_t, std::uint32_t> bitmapDensity(const fs::path& bmp)
{
    const auto b = testkit::readBytes(bmp);
    const auto le32 = [&](std::size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
    };
    return {le32(38), le32(42)};
}

// What the writers should have written: the stated resolution, or 72 dpi.
void expectWritten(const fs::path& bmp, const fs::path& tif, const Resolution& stated)
{
    const Resolution r = stated.known() ? stated : Resolution{72, 72, false};
    const auto perMetre = [&](double dpi) { return std::uint32_t(stated.known() ? std::lround(dpi / 0.0254) : 2835); };
    EXPECT_EQ(bitmapDensity(bmp), std::make_pair(perMetre(r.x), perMetre(r.y)));

    const double perUnit = r.metric ? 2.54 : 1;
    double x = 0, y = 0;
    char unit[16] = {};
    const std::string info = testkit::outputOf("tiffinfo " + tif.string());
    const char* line = std::strstr(info.c_str(), "Resolution: ");
    ASSERT_TRUE(line && std::sscanf(line, "Resolution: %lf, %lf pixels/%15s", &x, &y, unit) == 3) << info;
    EXPECT_NEAR(x, r.x / perUnit, 0.01);
    EXPECT_NEAR(y, r.y / perUnit, 0.01);
    EXPECT_STREQ(unit, r.metric ? "cm" : "inch");
    char units[32] = {};
    const std::string seen = testkit::outputOf("identify -format '%x %y %U' " + tif.string());
    ASSERT_EQ(std::sscanf(seen.c_str(), "%lf %lf %31s", &x, &y, units), 3) << seen;
    EXPECT_NEAR(x, r.x / perUnit, 0.01);
    EXPECT_STREQ(units, r.metric ? "PixelsPerCentimeter" : "PixelsPerInch");
}

}  // namespace

TEST(Resolution, StatedByEachReaderAndWrittenByEachWriter)
{
    for (const char* tool : {"convert", "identify", "exiftool", "pnmtotiff", "tiffset", "tiffinfo", "pbmtogem"})
        if (!testkit::haveTool(tool))
            GTEST_SKIP() << "skipped: " << tool << " is not installed (see scripts/deps)";
    const auto cm = [](double x, double y) { return perCentimetre(x, y); };
    const auto inch = [](double x, double y) { return perInch(x, y); };
    // Each command writes `in` from rose.ppm; patches write big- or little-endian fields with
    // printf's octal escapes (the shell's printf knows no others) at a byte offset.
    const std::string patch = " | dd of=in bs=1 conv=notrunc status=none seek=";
    const std::string exif = "convert rose.ppm -units undefined jpg:plain && exiftool -q -q -o in "
                             "-exif:XResolution=200 -exif:YResolution=100 -exif:ResolutionUnit=inches ";
    const std::string gem = "ppmtopgm rose.ppm | pgmtopbm | pbmtogem > in";
    const struct {
        const char* name;
        std::string make;
        Resolution stated;
    } files[] = {
        {"bmp, 300 dpi", "convert rose.ppm -density 300 -units PixelsPerInch bmp3:in", cm(118.11, 118.11)},
        {"bmp, 80 x 40 per cm", "convert rose.ppm -density 80x40 -units PixelsPerCentimeter bmp3:in", cm(80, 40)},
        {"jpeg, JFIF 300 x 150 dpi", "convert rose.ppm -density 300x150 -units PixelsPerInch jpg:in", inch(300, 150)},
        {"jpeg, JFIF per cm", "convert rose.ppm -density 40 -units PixelsPerCentimeter jpg:in", cm(40, 40)},
        {"jpeg, JFIF 204 x 98 dpi by hand",
         "convert rose.ppm jpg:in && printf '\\001\\000\\314\\000\\142'" + patch + "13", inch(204, 98)},
        {"jpeg, JFIF aspect ratio only",
         "convert rose.ppm jpg:in && printf '\\000\\000\\001\\000\\002'" + patch + "13",
         {}},
        {"jpeg, Exif 200 x 100 dpi", exif + "plain", inch(200, 100)},
        {"jpeg, Exif turned a quarter", exif + "-exif:Orientation#=6 plain", inch(100, 200)},
        {"tiff, 300 dpi by netpbm",
         "pnmtotiff -xresolution 300 -yresolution 300 -resolutionunit inch rose.ppm > in 2>/dev/null", inch(300, 300)},
        {"tiff, per cm", "convert rose.ppm -density 118.11 -units PixelsPerCentimeter tif:in", cm(118.11, 118.11)},
        {"tiff, 204 x 98 dpi by tiffset",
         "pnmtotiff rose.ppm > in 2>/dev/null && tiffset -s 282 204 in && tiffset -s 283 98 in && tiffset -s 296 2 in",
         inch(204, 98)},
        {"tiff, no unit", "pnmtotiff -xresolution 2 -yresolution 1 -resolutionunit none rose.ppm > in 2>/dev/null", {}},
        {"pcx, 150 dpi", "convert rose.ppm -density 150 -units PixelsPerInch pcx:in", inch(150, 150)},
        {"pcx, a display mode for dpi", "convert rose.ppm -density 640x350 -units PixelsPerInch pcx:in", {}},
        {"gem, 372 microns", gem, cm(10000 / 372.0, 10000 / 372.0)},
        {"gem, 169 x 372 microns by hand", gem + " && printf '\\000\\251'" + patch + "8",
         cm(10000 / 169.0, 10000 / 372.0)},
        {"pnm, none", "cp rose.ppm in", {}},
    };
    const testkit::ScratchDir dir;
    ASSERT_TRUE(testkit::run("cd " + dir.path().string() + " && convert rose: rose.ppm"));
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        ASSERT_TRUE(testkit::run("cd " + dir.path().string() + " && rm -f in plain && " + file.make));
        Image image;
        ASSERT_TRUE(readImage((dir / "in").c_str(), image));
        EXPECT_EQ(image.resolution.known(), file.stated.known());
        EXPECT_NEAR(image.resolution.x, file.stated.x, 0.01);
        EXPECT_NEAR(image.resolution.y, file.stated.y, 0.01);
        EXPECT_EQ(image.resolution.metric, file.stated.metric);
        ASSERT_TRUE(writeImage(image, (dir / "out.bmp").c_str(), 0));
        ASSERT_TRUE(writeImage(image, (dir / "out.tif").c_str(), 16));
        expectWritten(dir / "out.bmp", dir / "out.tif", file.stated);
    }
}

// The window's path: through the C calls, each operation keeps what the file states.
TEST(Resolution, KeptByTheOperations)
{
    const testkit::ScratchDir dir;
    const std::string in = (dir / "in.bmp").string(), out = (dir / "out.bmp").string();
    Image image;
    ASSERT_TRUE(allocate(image, 40, 30, PixelFormat::rgb));
    image.resolution = perCentimetre(80.31, 38.58);  // a fax's 204 x 98 dpi, as a bitmap states it
    ASSERT_TRUE(writeImage(image, in.c_str(), 0));
    std::int32_t dib = ReadFileIntoDIB(in.c_str());
    for (const auto op :
         {+[](std::int32_t d) { return ZoomDIB(d, 50, 50); }, +[](std::int32_t d) { return ReduceDIB(d, 16, -1); },
          +[](std::int32_t d) { return GrayDIB(d); }})
        ASSERT_NE(dib = op(dib), 0);
    ASSERT_TRUE(WriteDIBToFile(dib, out.c_str(), 0));
    DIBFree(dib);
    EXPECT_EQ(bitmapDensity(out), std::make_pair(8031u, 3858u));
}
