// The WebP reader: the conformance files against their references, animations against
// ImageMagick's composition of the GIF they were made from, what a file states beside its pixels,
// and damaged or hostile files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "imglib/core/exif.h"
#include "imglib/formats/webp/webp.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
namespace fs = std::filesystem;

namespace {

testkit::Rgba decodedPage(std::span<const std::uint8_t> file, std::uint32_t page)
{
    std::unique_ptr<Pages> pages;
    Image image;
    const auto opened = webp::openPages(file, pages);
    EXPECT_TRUE(opened.ok()) << opened.detail;
    if (!opened)
        return {};
    const auto status = pages->read(page, image);
    EXPECT_TRUE(status.ok()) << "page " << page << ": " << status.detail;
    return testkit::toRgba(image);
}

// A binary PPM (P6) or PAM (P7) of 8-bit samples, as dwebp writes them.
std::optional<testkit::Rgba> readNetpbm(const std::vector<std::uint8_t>& bytes)
{
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string magic, word;
    testkit::Rgba out;
    unsigned depth = 3, maxval = 0;
    in >> magic;
    if (magic == "P6") {
        in >> out.width >> out.height >> maxval;
    } else if (magic == "P7") {
        while (in >> word && word != "ENDHDR")
            if (word == "WIDTH")
                in >> out.width;
            else if (word == "HEIGHT")
                in >> out.height;
            else if (word == "DEPTH")
                in >> depth;
            else if (word == "MAXVAL")
                in >> maxval;
    }
    in.get();
    const std::size_t start = static_cast<std::size_t>(in.tellg());
    const std::size_t pixels = std::size_t{out.width} * out.height;
    if (maxval != 255 || (depth != 3 && depth != 4) || bytes.size() - start != pixels * depth)
        return std::nullopt;
    out.pixels.assign(pixels * 4, 255);
    for (std::size_t i = 0; i < pixels; ++i)
        std::copy_n(&bytes[start + i * depth], depth, &out.pixels[i * 4]);
    return out;
}

std::string md5Of(const fs::path& file)
{
    std::FILE* pipe = ::popen(("md5sum '" + file.string() + "'").c_str(), "r");
    char sum[33] = {};
    const bool read = pipe && std::fscanf(pipe, "%32s", sum) == 1;
    if (pipe)
        ::pclose(pipe);
    return read ? sum : "";
}

// libwebp_tests.md5: dwebp's output of each test vector, by output file name.
std::map<std::string, std::string> dwebpSums(const fs::path& folder)
{
    std::map<std::string, std::string> sums;
    std::ifstream in(folder / "libwebp_tests.md5");
    for (std::string sum, name; in >> sum >> name;)
        sums[name] = sum;
    return sums;
}

// dwebp's decoding of a test vector, checked against the sum its folder lists for it.
std::optional<testkit::Rgba> dwebpReference(const testkit::ScratchDir& scratch, const fs::path& file,
                                            const std::string& sum)
{
    const auto pam = scratch / (file.filename().string() + ".pam");
    if (!testkit::run("dwebp -quiet -pam '" + file.string() + "' -o '" + pam.string() + "'"))
        return std::nullopt;
    EXPECT_EQ(md5Of(pam), sum) << "dwebp's output differs from the test vector's sum";
    return readNetpbm(testkit::readBytes(pam));
}

struct Reference {
    fs::path path;                   // a PNG or PPM; empty: dwebp's output, checked by its sum
    std::uint32_t page = 0;          // the animation frame it shows
    testkit::Tolerance tolerance{};  // exact unless made by another decoder of lossy data
};

// Animation frames blended by other decoders round differently; lossy data decoded by them
// differs in chroma upsampling too. Lossy encodings of a picture are only roughly like it.
constexpr testkit::Tolerance kOtherBlending{1, 1.0};
constexpr testkit::Tolerance kOtherDecoder{24, 1.5};
constexpr testkit::Tolerance kLossyEncoding{96, 8.0};

// Where each folder keeps the references of its files (SOURCES.txt).
std::vector<Reference> referencesOf(const fs::path& dir, const fs::path& file,
                                    const std::map<std::string, std::string>& sums)
{
    const std::string folder = file.parent_path().lexically_relative(dir).begin()->string();
    const fs::path relative = file.lexically_relative(dir / folder);
    const std::string name = file.filename().string(), stem = file.stem().string();
    std::vector<Reference> found;
    const auto addIfThere = [&](const fs::path& path, std::uint32_t page, testkit::Tolerance tolerance) {
        if (fs::exists(path))
            found.push_back({path, page, tolerance});
    };
    if (folder == "libwebp-test-data") {
        if (name.starts_with("lossless_vec_")) {
            found.push_back({dir / folder / (name[13] == '1' ? "grid.png" : "peak.png")});
        } else if (sums.contains(name + ".pam")) {
            found.push_back({});
        }
    } else if (folder == "image-webp") {
        const auto reference = dir / folder / "reference" / relative.parent_path();
        const bool lossy = stem.find("lossy") != std::string::npos;
        addIfThere(reference / (stem + ".png"), 0, {});
        for (std::uint32_t frame = 1; frame <= 4; ++frame)
            addIfThere(reference / (stem + "-" + std::to_string(frame) + ".png"), frame - 1,
                       lossy ? kOtherDecoder : kOtherBlending);
    } else if (folder == "image-rs") {
        const bool lossy = name.find("lossy") != std::string::npos || name.starts_with("simple-");
        const bool animated = relative.parent_path() == "extended_images";
        addIfThere(dir / folder / "reference" / (relative.string() + ".png"), 0,
                   lossy      ? kOtherDecoder
                   : animated ? kOtherBlending
                              : testkit::Tolerance{});
    } else if (folder == "pillow" && name == "hopper.webp") {
        found.push_back({dir / folder / "reference/hopper_webp_bits.ppm"});
    } else if (folder == "wuffs") {
        const std::string picture = stem.substr(0, stem.find('.'));
        const auto tolerance = name.find(".lossy.") != std::string::npos ? kLossyEncoding : testkit::Tolerance{};
        addIfThere(dir / folder / (picture + ".png"), 0, tolerance);
        addIfThere(dir / folder / (picture + ".regular.png"), 0, tolerance);
    }
    return found;
}

std::optional<testkit::Rgba> load(const fs::path& path)
{
    return path.extension() == ".ppm" ? readNetpbm(testkit::readBytes(path)) : testkit::loadPng(path);
}

}  // namespace

// Every file decodes, page by page, with page 0 the picture decode() gives; those with a
// reference match it, exactly where it was made by libwebp.
TEST(Webp, Conformance)
{
    CONFORMANCE_FOLDER_OR_SKIP(webpDir, "webp");
    const auto sums = dwebpSums(webpDir / "libwebp-test-data");
    const bool haveDwebp = testkit::haveTool("dwebp");
    const testkit::ScratchDir scratch;
    int files = 0, compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(webpDir)) {
        if (entry.path().extension() != ".webp")
            continue;
        SCOPED_TRACE(entry.path().lexically_relative(webpDir).string());
        ++files;
        const auto file = testkit::readBytes(entry.path());
        ASSERT_TRUE(webp::sniff(file));
        const Image image = testkit::decodeOk(webp::decode, file);
        std::unique_ptr<Pages> pages;
        ASSERT_TRUE(webp::openPages(file, pages).ok());
        ASSERT_GE(pages->count(), 1u);
        for (std::uint32_t page = pages->count(); page-- > 0;) {  // backwards: each read starts again
            Image frame;
            ASSERT_TRUE(pages->read(page, frame).ok()) << "page " << page;
            EXPECT_TRUE(page != 0 || frame.pixels == image.pixels) << "page 0 differs from decode()";
        }
        for (const Reference& reference : referencesOf(webpDir, entry.path(), sums)) {
            if (reference.path.empty() && !haveDwebp)
                continue;
            const auto expected =
                reference.path.empty()
                    ? dwebpReference(scratch, entry.path(), sums.at(entry.path().filename().string() + ".pam"))
                    : load(reference.path);
            ASSERT_TRUE(expected) << reference.path;
            const auto d = testkit::compare(decodedPage(file, reference.page), testkit::overWhite(*expected));
            EXPECT_TRUE(d.sameSize) << reference.path;
            EXPECT_LE(d.maxError, reference.tolerance.maxError) << reference.path << " page " << reference.page;
            EXPECT_LE(d.meanError, reference.tolerance.meanError) << reference.path << " page " << reference.page;
            ++compared;
        }
    }
    EXPECT_GE(files, 160);
    EXPECT_GE(compared, haveDwebp ? 150 : 60);
}

// gif2webp turns each way a GIF frame is disposed of into WebP's blending and disposal; every page
// must show what ImageMagick composes from the GIF, over white. Pages are read out of order too.
TEST(Webp, AnimationPagesShowTheComposedFrames)
{
    if (!testkit::haveTool("convert") || !testkit::haveTool("gif2webp"))
        GTEST_SKIP() << "skipped: ImageMagick or gif2webp missing";
    struct Case {
        const char* dispose;
        const char* encoding;
        testkit::Tolerance tolerance;
    };
    // Lossy frames: chroma at half resolution blurs the small squares' edges.
    const Case cases[] = {
        {"None", "", {}}, {"Background", "", {}}, {"Previous", "", {}}, {"Background", "-lossy -q 90", {128, 4.0}}};
    const testkit::ScratchDir scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dispose) + " " + c.encoding);
        const auto gif = scratch / (std::string(c.dispose) + ".gif"), webpFile = scratch / "animation.webp";
        // A half-transparent first frame, then three smaller ones at offsets, one of them round.
        ASSERT_TRUE(testkit::run(
            std::string("convert -delay 10 -dispose ") + c.dispose +
            " \\( -size 48x32 xc:none -fill skyblue -draw 'rectangle 0,0 23,31' \\)"
            " \\( -size 16x12 xc:red -repage +4+4 \\) \\( -size 16x12 xc:green -repage +20+10 \\)"
            " \\( -size 10x10 xc:none -fill blue -draw 'circle 5,5 5,1' -repage +30+18 \\) -loop 0 '" +
            gif.string() + "' && convert '" + gif.string() + "' -coalesce '" + (scratch / "frame-%d.png").string() +
            "' && gif2webp -quiet " + c.encoding + " '" + gif.string() + "' -o '" + webpFile.string() + "'"));
        const auto file = testkit::readBytes(webpFile);
        std::unique_ptr<Pages> pages;
        ASSERT_TRUE(webp::openPages(file, pages).ok());
        ASSERT_EQ(pages->count(), 4u);
        for (std::uint32_t page : {0u, 1u, 2u, 3u, 1u, 3u}) {
            const auto expected = testkit::loadPng(scratch / ("frame-" + std::to_string(page) + ".png"));
            ASSERT_TRUE(expected);
            Image image;
            ASSERT_TRUE(pages->read(page, image).ok());
            const auto d = testkit::compare(testkit::toRgba(image), testkit::overWhite(*expected));
            EXPECT_TRUE(d.sameSize);
            EXPECT_LE(d.maxError, c.tolerance.maxError) << "page " << page;
            EXPECT_LE(d.meanError, c.tolerance.meanError) << "page " << page;
        }
        Image image;
        EXPECT_EQ(pages->read(4, image).error, Error::badArgument);
    }
}

// The resolution comes from the Exif chunk.
TEST(Webp, ResolutionComesFromTheExifChunk)
{
    if (!testkit::haveTool("cwebp") || !testkit::haveTool("webpmux"))
        GTEST_SKIP() << "skipped: cwebp or webpmux missing";
    const auto tiff = formattest::exifStating(300, 150);
    const Resolution stated = readExif(tiff).resolution;
    const testkit::ScratchDir scratch;
    testkit::writeBytes(scratch / "exif.bin", tiff);
    const auto picture = formattest::encodeWithTool(scratch, formattest::testPicture(20, 10, 300),
                                                    "cwebp -quiet -lossless {in} -o {out}.webp && webpmux -set exif '" +
                                                        (scratch / "exif.bin").string() + "' {out}.webp -o {out}");
    ASSERT_TRUE(picture);
    EXPECT_EQ(testkit::decodeOk(webp::decode, testkit::readBytes(*picture)).resolution, stated);
}

TEST(Webp, SniffWantsRiffAndWebp)
{
    std::vector<std::uint8_t> header = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'E', 'B', 'P'};
    EXPECT_TRUE(webp::sniff(header));
    EXPECT_FALSE(webp::sniff(std::span(header).first(11)));
    header[8] = 'A';  // a WAVE or AVI file
    EXPECT_FALSE(webp::sniff(header));
    EXPECT_EQ(testkit::decodeError(webp::decode, header), Error::badHeader);
}

// A canvas over the limits is refused from the header; cut and damaged files fail cleanly.
TEST(Webp, OversizedCutAndDamagedFilesFail)
{
    if (!testkit::haveTool("cwebp") || !testkit::haveTool("gif2webp") || !testkit::haveTool("convert"))
        GTEST_SKIP() << "skipped: cwebp, gif2webp or ImageMagick missing";
    const testkit::ScratchDir scratch;
    const auto picture = formattest::testPicture(40, 24, 300);
    const auto lossy = formattest::encodeWithTool(scratch, picture, "cwebp -quiet -q 80 -alpha_q 50 {in} -o {out}");
    const auto lossless = formattest::encodeWithTool(scratch, picture, "cwebp -quiet -lossless {in} -o {out}");
    const auto animated = formattest::encodeWithTool(
        scratch, picture,
        "convert {in} \\( +clone -negate \\) -loop 0 {out}.gif && gif2webp -quiet {out}.gif -o {out}");
    ASSERT_TRUE(lossy && lossless && animated);
    for (const auto& path : {*lossy, *lossless, *animated}) {
        const auto file = testkit::readBytes(path);
        formattest::expectCutsFail(file, webp::decode);
        testkit::decodeDamaged(file, webp::decode);
    }
    // The animation's VP8X chunk states the canvas: 70000 wide, then 65535 × 65535.
    auto file = testkit::readBytes(*animated);
    ASSERT_EQ(std::string(file.begin() + 12, file.begin() + 16), "VP8X");
    const auto setCanvas = [&](std::uint32_t width, std::uint32_t height) {
        for (int i = 0; i < 3; ++i) {
            file[24 + i] = static_cast<std::uint8_t>((width - 1) >> (8 * i));
            file[27 + i] = static_cast<std::uint8_t>((height - 1) >> (8 * i));
        }
    };
    setCanvas(70000, 24);
    EXPECT_EQ(testkit::decodeError(webp::decode, file), Error::tooLarge);
    setCanvas(65535, 65535);
    EXPECT_EQ(testkit::decodeError(webp::decode, file), Error::tooLarge);
}
