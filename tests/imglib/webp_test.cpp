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
    fs::path path;               // a PNG or PPM; empty: dwebp's output, checked by its sum
    std::uint32_t page = 0;      // the animation frame it shows
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
                   lossy ? kOtherDecoder : animated ? kOtherBlending : testkit::Tolerance{});
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
    CONFORMANCE_OR_SKIP(dir);
    const fs::path webpDir = dir / "webp";
    if (!fs::is_directory(webpDir))
        GTEST_SKIP() << "skipped: no webp conformance folder";
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
            const auto expected = reference.path.empty()
                                      ? dwebpReference(scratch, entry.path(), sums.at(entry.path().filename().string() + ".pam"))
                                      : load(reference.path);
            ASSERT_TRUE(expected) << reference.path;
            const auto d = testkit::compare(decodedPage(file, reference.page), formattest::overWhite(*expected));
            EXPECT_TRUE(d.sameSize) << reference.path;
            EXPECT_LE(d.maxError, reference.tolerance.maxError) << reference.path << " page " << reference.page;
            EXPECT_LE(d.meanError, reference.tolerance.meanError) << reference.path << " page " << reference.page;
            ++compared;
        }
    }
    EXPECT_GE(files, 160);
    EXPECT_GE(compared, haveDwebp ? 150 : 60);
}
