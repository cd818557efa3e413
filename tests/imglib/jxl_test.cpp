// The JPEG XL reader: the conformance files against their references (animations frame by
// frame), what a file states beside its pixels, and damaged or hostile files.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>

#include "imglib/formats/jpeg/jpeg.h"
#include "imglib/formats/jxl/jxl.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
namespace fs = std::filesystem;

namespace {

// The largest peak_error a conformance case's test.json allows (0 to 1), as 8-bit levels: that,
// plus a level for the reference PNG's own rounding and one for ours.
int levelsAllowed(const fs::path& testJson)
{
    std::ifstream in(testJson);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::regex peak(R"re("peak_error":\s*([0-9.eE+-]+))re");
    double largest = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), peak), end; it != end; ++it)
        largest = std::max(largest, std::stod((*it)[1]));
    return static_cast<int>(std::ceil(largest * 255)) + 2;
}

// The frames of an animated PNG, as Pillow composes them, each written to a PNG of its own.
std::vector<testkit::Rgba> apngFrames(const testkit::ScratchDir& scratch, const fs::path& apng)
{
    const std::string script = "import sys\nfrom PIL import Image, ImageSequence\n"
                               "for n, f in enumerate(ImageSequence.Iterator(Image.open(sys.argv[1]))):\n"
                               "    f.convert('RGBA').save('%s/frame-%03d.png' % (sys.argv[2], n))\n";
    const auto program = scratch / "frames.py";
    std::ofstream(program) << script;
    std::vector<testkit::Rgba> frames;
    if (!testkit::run("/usr/bin/python3 '" + program.string() + "' '" + apng.string() + "' '" + scratch.path().string() + "'"))
        return frames;
    for (int n = 0;; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%03d.png", n);
        const auto frame = testkit::loadPng(scratch / name);
        if (!frame)
            return frames;
        frames.push_back(*frame);
    }
}

bool mentions(const fs::path& path, const std::string& text)
{
    std::ifstream in(path);
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}.find(text) !=
           std::string::npos;
}

struct Checked {
    testkit::Rgba reference;
    std::uint32_t page = 0;
    int maxError = 0;
};

void expectPages(const std::vector<std::uint8_t>& file, const std::vector<Checked>& expected)
{
    std::unique_ptr<Pages> pages;
    ASSERT_TRUE(jxl::openPages(file, pages).ok());
    for (const Checked& check : expected) {
        Image image;
        const auto status = pages->read(check.page, image);
        ASSERT_TRUE(status.ok()) << "page " << check.page << ": " << status.detail;
        const auto d = testkit::compare(testkit::toRgba(image), formattest::overWhite(check.reference));
        EXPECT_TRUE(d.sameSize) << "page " << check.page;
        EXPECT_LE(d.maxError, check.maxError) << "page " << check.page;
        std::fprintf(stderr, "  page %u: max %d mean %.4f (allowed %d)\n", check.page, d.maxError, d.meanError,
                     check.maxError);
    }
}

}  // namespace

// The conformance cases decode to their references within their stated tolerance, every frame of
// an animation; libjxl's own test files to theirs; the fuzzer-found files decode or fail.
TEST(Jxl, Conformance)
{
    CONFORMANCE_OR_SKIP(dir);
    const fs::path jxlDir = dir / "jxl";
    if (!fs::is_directory(jxlDir))
        GTEST_SKIP() << "skipped: no jxl conformance folder";
    const testkit::ScratchDir scratch;
    int cases = 0;
    for (const auto& entry : fs::directory_iterator(jxlDir / "conformance")) {
        if (!entry.is_directory())
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++cases;
        const auto file = testkit::readBytes(entry.path() / "input.jxl");
        ASSERT_TRUE(jxl::sniff(file));
        if (mentions(entry.path() / "test.json", "\"Black\"")) {  // CMYK: refused, not drawn wrong
            EXPECT_EQ(testkit::decodeError(jxl::decode, file), Error::unsupported);
            continue;
        }
        const int allowed = levelsAllowed(entry.path() / "test.json");
        std::vector<Checked> expected;
        if (const auto png = testkit::loadPng(entry.path() / "ref.png"))
            expected.push_back({*png, 0, allowed});
        else if (testkit::haveTool("/usr/bin/python3"))
            for (const auto& frame : apngFrames(scratch, entry.path() / "ref.apng"))
                expected.push_back({frame, std::uint32_t(expected.size()), allowed});
        expectPages(file, expected);
    }
    EXPECT_GE(cases, 11);

    const fs::path data = jxlDir / "testdata";
    std::vector<Checked> traffic;  // every frame's canvas, required identical
    for (std::uint32_t frame = 0; frame < 4; ++frame)
        traffic.push_back(
            {*testkit::loadPng(data / ("blending/cropped_traffic_light_frame-" + std::to_string(frame) + ".png")),
             frame, 0});
    expectPages(testkit::readBytes(data / "blending/cropped_traffic_light.jxl"), traffic);
    // Splines are drawn in floating point: a peak error of 0.1 is allowed.
    expectPages(testkit::readBytes(data / "spline_on_first_frame.jxl"),
                {{*testkit::loadPng(data / "spline_on_first_frame.png"), 0, 26}});
    // A recompressed JPEG gives the JPEG's pixels, up to the rounding of the two transforms.
    const auto recompressed = testkit::decodeOk(jxl::decode, testkit::readBytes(data / "jpeg_reconstruction/1x1_exif_xmp.jxl"));
    const auto original = testkit::decodeOk(jpeg::decode, testkit::readBytes(data / "jpeg_reconstruction/1x1_exif_xmp.jpg"));
    EXPECT_LE(testkit::compare(testkit::toRgba(recompressed), testkit::toRgba(original)).maxError, 2);
    testkit::decodeOk(jxl::decode, testkit::readBytes(data / "pq_gradient.jxl"));
    // libjxl 0.7 refuses these two (too many pixels under splines; a 64-bit box size), as do the
    // fuzzer's finds mostly: each decodes or fails, without a crash.
    std::vector<fs::path> either = {data / "splines.jxl", data / "boxes/square-extended-size-container.jxl"};
    for (const auto& entry : fs::directory_iterator(data / "oss-fuzz"))
        either.push_back(entry.path());
    for (const auto& path : either) {
        Image image;
        const auto status = jxl::decode(testkit::readBytes(path), image);
        EXPECT_TRUE(status.ok() ? isWellFormed(image) : *status.detail != 0) << path;
    }
}
