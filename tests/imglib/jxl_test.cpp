// The JPEG XL reader: the conformance files against their references (animations frame by
// frame), what a file states beside its pixels, and damaged or hostile files.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <regex>
#include <string_view>

#include "imglib/core/colour.h"
#include "imglib/core/exif.h"
#include "imglib/formats/jpeg/jpeg.h"
#include "imglib/formats/jxl/jxl.h"
#include "imglib/formats/registry.h"
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
    if (!testkit::run("/usr/bin/python3 '" + program.string() + "' '" + apng.string() + "' '" +
                      scratch.path().string() + "'"))
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

// The reference as sRGB: one that carries a colour profile is read through the library's PNG
// reader, which applies it as the JPEG XL reader applies the file's own colour encoding.
std::optional<testkit::Rgba> referenceOf(const fs::path& png)
{
    const auto bytes = testkit::readBytes(png);
    if (std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()).find("iCCP") ==
        std::string_view::npos)
        return testkit::loadPng(png);
    Image image;
    if (!decodeAny(bytes, image).ok())
        return std::nullopt;
    return testkit::toRgba(image);
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
        const auto d = testkit::compare(testkit::toRgba(image), testkit::overWhite(check.reference));
        EXPECT_TRUE(d.sameSize) << "page " << check.page;
        EXPECT_LE(d.maxError, check.maxError) << "page " << check.page;
    }
}

}  // namespace

// The conformance cases decode to their references within their stated tolerance, every frame of
// an animation; libjxl's own test files to theirs; the fuzzer-found files decode or fail.
TEST(Jxl, Conformance)
{
    CONFORMANCE_FOLDER_OR_SKIP(jxlDir, "jxl");
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
        if (const auto png = referenceOf(entry.path() / "ref.png"))
            expected.push_back({*png, 0, allowed});
        else if (testkit::haveTool("/usr/bin/python3"))
            for (const auto& frame : apngFrames(scratch, entry.path() / "ref.apng"))
                expected.push_back({frame, std::uint32_t(expected.size()), allowed});
        if (expected.size() > 1)  // then back to the first frame, which starts the decoder again
            expected.push_back(expected.front());
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
    const auto recompressed =
        testkit::decodeOk(jxl::decode, testkit::readBytes(data / "jpeg_reconstruction/1x1_exif_xmp.jxl"));
    const auto original =
        testkit::decodeOk(jpeg::decode, testkit::readBytes(data / "jpeg_reconstruction/1x1_exif_xmp.jpg"));
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

namespace {

// A PGM or PAM of `channels` samples of `maxval`, from one function of the position.
std::vector<std::uint8_t> netpbm(std::uint32_t width, std::uint32_t height, unsigned channels, unsigned maxval,
                                 unsigned (*sample)(std::uint32_t x, std::uint32_t y, unsigned c))
{
    const char* tuple = channels == 1 ? "GRAYSCALE" : channels == 3 ? "RGB" : "RGB_ALPHA";
    const std::string header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                               "\nDEPTH " + std::to_string(channels) + "\nMAXVAL " + std::to_string(maxval) +
                               "\nTUPLTYPE " + tuple + "\nENDHDR\n";
    std::vector<std::uint8_t> out(header.begin(), header.end());
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (unsigned c = 0; c < channels; ++c) {
                const unsigned v = sample(x, y, c) % (maxval + 1);
                if (maxval > 255)
                    out.push_back(static_cast<std::uint8_t>(v >> 8));
                out.push_back(static_cast<std::uint8_t>(v));
            }
    return out;
}

unsigned pattern(std::uint32_t x, std::uint32_t y, unsigned c)
{
    return (x * 2477 + y * 7919 + c * 104729) * 40503u >> 4;
}

std::optional<fs::path> losslessJxl(const testkit::ScratchDir& scratch, const std::vector<std::uint8_t>& pam,
                                    const std::string& name)
{
    testkit::writeBytes(scratch / (name + ".pam"), pam);
    const auto out = scratch / (name + ".jxl");
    if (!testkit::run("cjxl -d 0 '" + (scratch / (name + ".pam")).string() + "' '" + out.string() +
                      "' >/dev/null 2>&1"))
        return std::nullopt;
    return out;
}

}  // namespace

// Lossless files give back their samples: grey stays grey, samples over 8 bits are scaled with
// rounding, alpha is composited over white.
TEST(Jxl, SamplesBecomeTheImageKind)
{
    if (!testkit::haveTool("cjxl"))
        GTEST_SKIP() << "skipped: cjxl missing";
    struct Case {
        const char* name;
        unsigned channels, maxval;
        PixelFormat format;
    };
    const Case cases[] = {{"grey8", 1, 255, PixelFormat::grey},
                          {"grey16", 1, 65535, PixelFormat::grey},
                          {"rgb8", 3, 255, PixelFormat::rgb},
                          {"rgb16", 3, 65535, PixelFormat::rgb},
                          {"rgba16", 4, 65535, PixelFormat::rgb}};
    const testkit::ScratchDir scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = losslessJxl(scratch, netpbm(37, 21, c.channels, c.maxval, pattern), c.name);
        ASSERT_TRUE(path);
        const Image image = testkit::decodeOk(jxl::decode, testkit::readBytes(*path));
        ASSERT_EQ(image.format, c.format);
        ASSERT_EQ(image.width, 37u);
        int wrong = 0;
        for (std::uint32_t y = 0; y < image.height; ++y)
            for (std::uint32_t x = 0; x < image.width; ++x)
                for (unsigned k = 0; k < image.channels(); ++k) {
                    const auto level = [&](unsigned channel) {
                        return scaleTo8(pattern(x, y, channel) % (c.maxval + 1), c.maxval);
                    };
                    const unsigned v = level(k), a = c.channels == 4 ? level(3) : 255;
                    const unsigned expected = (v * a + 255 * (255 - a) + 127) / 255;
                    wrong += image.row(y)[x * image.channels() + k] != expected;
                }
        EXPECT_EQ(wrong, 0);
    }
}

// The resolution comes from the Exif box, past the offset the box starts with: a container made
// by hand around cjxl's codestream.
TEST(Jxl, ResolutionComesFromTheExifBox)
{
    if (!testkit::haveTool("cjxl"))
        GTEST_SKIP() << "skipped: cjxl missing";
    const auto tiff = formattest::exifStating(300, 150);
    const Resolution stated = readExif(tiff).resolution;
    const testkit::ScratchDir scratch;
    const auto codestream = losslessJxl(scratch, netpbm(16, 8, 3, 255, pattern), "picture");
    ASSERT_TRUE(codestream);
    std::vector<std::uint8_t> file = {0,    0,   0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87,
                                      0x0A, 0,   0, 0,  20,  'f', 't', 'y', 'p',  'j',  'x',
                                      'l',  ' ', 0, 0,  0,   0,   'j', 'x', 'l',  ' '};
    const auto box = [&](const char* type, const std::vector<std::uint8_t>& content) {
        formattest::put32be(file, static_cast<std::uint32_t>(content.size() + 8));
        file.insert(file.end(), type, type + 4);
        file.insert(file.end(), content.begin(), content.end());
    };
    std::vector<std::uint8_t> exif = {0, 0, 0, 2, 0xAA, 0xBB};  // the TIFF structure 2 bytes on
    exif.insert(exif.end(), tiff.begin(), tiff.end());
    box("Exif", exif);
    box("jxlc", testkit::readBytes(*codestream));
    EXPECT_EQ(testkit::decodeOk(jxl::decode, file).resolution, stated);
}

TEST(Jxl, SniffWantsACodestreamOrContainerSignature)
{
    const std::vector<std::uint8_t> codestream = {0xFF, 0x0A, 0xFA, 0x1F};
    const std::vector<std::uint8_t> container = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    EXPECT_TRUE(jxl::sniff(codestream));
    EXPECT_TRUE(jxl::sniff(container));
    EXPECT_FALSE(jxl::sniff(std::span(container).first(8)));
    EXPECT_FALSE(jxl::sniff(std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xE0}));
    EXPECT_EQ(testkit::decodeError(jxl::decode, std::vector<std::uint8_t>{'B', 'M', 0, 0}), Error::badHeader);
}

// A side over the limits is refused from the header; cut and damaged files fail cleanly.
TEST(Jxl, OversizedCutAndDamagedFilesFail)
{
    if (!testkit::haveTool("cjxl") || !testkit::haveTool("convert"))
        GTEST_SKIP() << "skipped: cjxl or ImageMagick missing";
    const testkit::ScratchDir scratch;
    const auto wide = losslessJxl(scratch, netpbm(70000, 1, 1, 255, pattern), "wide");
    ASSERT_TRUE(wide);
    EXPECT_EQ(testkit::decodeError(jxl::decode, testkit::readBytes(*wide)), Error::tooLarge);

    const auto picture = formattest::testPicture(40, 24, 300);
    const auto lossy = formattest::encodeWithTool(scratch, picture, "cjxl -d 2 {in} {out} >/dev/null 2>&1");
    const auto lossless = losslessJxl(scratch, netpbm(40, 24, 4, 255, pattern), "alpha");
    const auto animated = formattest::encodeWithTool(
        scratch, picture,
        "convert {in} \\( +clone -negate \\) -loop 0 {out}.gif && cjxl -d 1 {out}.gif {out} >/dev/null 2>&1");
    ASSERT_TRUE(lossy && lossless && animated);
    for (const auto& path : {*lossy, *lossless, *animated}) {
        const auto file = testkit::readBytes(path);
        formattest::expectCutsFail(file, jxl::decode);
        testkit::decodeDamaged(file, jxl::decode);
    }
}
