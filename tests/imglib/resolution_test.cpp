// The size a file states for printing: files of every reader that stores one, made by independent
// tools (or patched by hand), read, then written by both writers and checked with ImageMagick.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "imglib/api/images.h"
#include "tests/support/testkit.h"

using namespace imglib;

namespace {

namespace fs = testkit::fs;

// What ImageMagick reads in the files both writers made of an image that states `stated`: the
// bitmap's pixels per metre over 100, the TIFF's resolution in its own unit; 72 dpi for none.
void expectWritten(const fs::path& bmp, const fs::path& tif, const Resolution& stated)
{
    const Resolution r = stated.known() ? stated : Resolution{72, 72, false};
    const auto perCm = [&](double dpi) { return stated.known() ? std::round(dpi / 0.0254) / 100 : 28.35; };
    const double perUnit = r.metric ? 2.54 : 1;
    double x[2], y[2];
    char unit[2][32] = {};
    const std::string seen = testkit::outputOf("identify -format '%x %y %U ' " + bmp.string() + " " + tif.string());
    ASSERT_EQ(std::sscanf(seen.c_str(), "%lf %lf %31s %lf %lf %31s", &x[0], &y[0], unit[0], &x[1], &y[1], unit[1]), 6)
        << seen;
    EXPECT_NEAR(x[0], perCm(r.x), 0.001);
    EXPECT_NEAR(y[0], perCm(r.y), 0.001);
    EXPECT_NEAR(x[1], r.x / perUnit, 0.01);
    EXPECT_NEAR(y[1], r.y / perUnit, 0.01);
    EXPECT_STREQ(unit[1], r.metric ? "PixelsPerCentimeter" : "PixelsPerInch");
}

}  // namespace

TEST(Resolution, StatedByEachReaderAndWrittenByEachWriter)
{
    for (const char* tool : {"convert", "identify", "exiftool", "pnmtotiff", "tiffset", "pbmtogem"})
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
        {"jpeg, JFIF 300 x 150 dpi", "convert rose.ppm -density 300x150 -units PixelsPerInch jpg:in", inch(300, 150)},
        {"jpeg, JFIF 204 x 98 dpi by hand",
         "convert rose.ppm jpg:in && printf '\\001\\000\\314\\000\\142'" + patch + "13", inch(204, 98)},
        {"jpeg, JFIF aspect ratio only",
         "convert rose.ppm jpg:in && printf '\\000\\000\\001\\000\\002'" + patch + "13",
         {}},
        {"jpeg, Exif 200 x 100 dpi", exif + "plain", inch(200, 100)},
        {"jpeg, Exif turned a quarter", exif + "-exif:Orientation#=6 plain", inch(100, 200)},
        {"tiff, 204 x 98 dpi by netpbm",
         "pnmtotiff -xresolution 204 -yresolution 98 -resolutionunit inch rose.ppm > in 2>/dev/null", inch(204, 98)},
        {"tiff, per cm", "convert rose.ppm -density 118.11 -units PixelsPerCentimeter tif:in", cm(118.11, 118.11)},
        {"tiff, no unit by tiffset", "convert rose.ppm -density 300 tif:in && tiffset -s 296 1 in", {}},
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
