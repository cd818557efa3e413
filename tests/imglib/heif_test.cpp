// The HEIF and AVIF reader: the conformance files, pictures of each depth and kind made by
// heif-enc, the rotation and mirror boxes, what a file states beside its pixels, and damaged or
// hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "imglib/core/exif.h"
#include "imglib/core/profile.h"
#include "imglib/formats/heif/heif.h"
#include "imglib/formats/jpeg/jpeg.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
namespace fs = testkit::fs;

namespace {

enum class Outcome { decodes, fails, notRead };

// What a conformance file is to give; a file not listed must decode. `notRead` files use what
// libheif 1.15.1 with Debian's decoders does not read, and must fail cleanly.
struct Expected {
    Outcome outcome = Outcome::decodes;
    std::uint32_t width = 0, height = 0;  // 0: not stated by the source
    bool grey = false;
    const char* reference = nullptr;  // a picture to compare with, beside the file
    unsigned quarterTurns = 0;        // clockwise, from the reference to the displayed picture
    double minPsnr = 0;
};

// Keys are paths under the conformance folder, or the start of several ("...uncompressed_"): a
// path's own entry comes first.
const std::map<std::string, Expected> kExpected = {
    {"heif/pillow_heif/corrupted.heic", {Outcome::fails}},
    {"heif/pillow_heif/empty.heic", {Outcome::fails}},
    {"heif/pillow_heif/truncated.heic", {Outcome::fails}},
    {"avif/libavif/sofa_grid1x5_420_dimg_repeat.avif", {Outcome::fails}},
    // Codings and boxes libheif 1.15.1 does not read.
    {"heif/libheif/avc32.heif", {Outcome::notRead}},
    {"heif/libheif/jpeg32.heif", {Outcome::notRead}},
    {"heif/libheif/j2k32.heif", {Outcome::notRead}},
    {"heif/libheif/vvc32.heif", {Outcome::notRead}},
    {"heif/libheif/unci32.heif", {Outcome::notRead}},
    {"heif/libheif/uncompressed_", {Outcome::notRead}},
    {"heif/libheif/rgb_generic_compressed_", {Outcome::notRead}},
    {"heif/libheif/hevc32-mini.heif", {Outcome::notRead}},  // the 'mini' box
    {"heif/libheif/avif32-mini.heif", {Outcome::notRead}},
    {"heif/libheif/lightning_mini.heif", {Outcome::notRead}},
    {"heif/libheif/simple_osm_tile_alpha.avif", {Outcome::notRead}},
    {"heif/libheif/seq_seed.heif", {Outcome::notRead}},                      // a sequence, no still image
    {"avif/libavif/draw_points_idat_metasize0.avif", {Outcome::notRead}},    // 'meta' of size 0
    {"avif/libavif/pyramid_pymd.avif", {Outcome::notRead}},                  // entity groups
    {"avif/libavif/clap_irot_imir_non_essential.avif", {Outcome::notRead}},  // mirrors 8 bits only
    {"avif/av1-avif/Xiph/quebec_3layer_op2.avif", {Outcome::notRead}},       // operating point
    // Sizes the sources state (colors-*-thumbnail and L_xmp_latin1 as their boxes say).
    {"heif/libheif/example.heic", {.width = 1280, .height = 854}},
    {"heif/libheif/rainbow-451x461.heic", {.width = 451, .height = 461}},
    {"heif/libheif/with-alpha-512x512.heic", {.width = 512, .height = 512}},
    {"heif/libheif/colors-no-alpha.heic", {.width = 64, .height = 64}},
    {"heif/libheif/colors-with-alpha.heic", {.width = 64, .height = 64}},
    {"heif/libheif/colors-no-alpha-thumbnail.heic", {.width = 72, .height = 72}},
    {"heif/libheif/colors-with-alpha-thumbnail.heic", {.width = 72, .height = 72}},
    {"heif/pillow_heif/L_", {.width = 29, .height = 100, .grey = true}},
    {"heif/pillow_heif/LA_8__29x100.heif", {.width = 29, .height = 100}},
    {"heif/pillow_heif/RGB_", {.width = 29, .height = 100}},
    {"heif/pillow_heif/RGBA_", {.width = 29, .height = 100}},
    {"heif/pillow_heif/L_exif_xmp_iptc.heic", {.width = 64, .height = 64, .grey = true}},
    {"heif/pillow_heif/L_xmp_latin1.heic", {.width = 16, .height = 16}},
    {"heif/pillow_heif/arrow.heic", {.width = 3024, .height = 4032}},
    {"avif/av1-avif/Microsoft/Monochrome.avif", {.width = 1280, .height = 720, .grey = true}},
    {"avif/av1-avif/Microsoft/Ronda_rotate90.avif", {.width = 1080, .height = 1920}},
    {"avif/av1-avif/Link-U/fox.profile0.8bpc.yuv420.monochrome.odd-width.odd-height.avif", {.grey = true}},
    {"avif/av1-avif/Xiph/fruits_2layer_thumbsize.avif", {.width = 1296, .height = 864}},
    {"avif/libavif/sofa_grid1x5_420.avif", {.width = 1024, .height = 770}},
    {"avif/libavif/white_1x1.avif", {.width = 1, .height = 1}},
    // Pictures to compare with: the encoders' inputs, or another decoder's output.
    {"avif/av1-avif/Link-U/kimono.avif", {.reference = "kimono.jpg", .minPsnr = 32}},
    {"avif/av1-avif/Link-U/kimono.rotate90.avif", {.reference = "kimono.jpg", .minPsnr = 32}},
    {"avif/av1-avif/Link-U/kimono.rotate270.avif", {.reference = "kimono.jpg", .minPsnr = 32}},
    {"avif/av1-avif/Link-U/kimono.mirror-horizontal.avif", {.reference = "kimono.jpg", .minPsnr = 32}},
    {"avif/av1-avif/Link-U/kimono.mirror-vertical.avif", {.reference = "kimono.jpg", .minPsnr = 32}},
    {"avif/av1-avif/Link-U/kimono.mirror-vertical.rotate270.avif", {.reference = "kimono.jpg", .minPsnr = 32}},
    {"avif/av1-avif/Link-U/kimono.crop.avif", {.reference = "kimono.crop.png", .minPsnr = 32}},
    {"avif/av1-avif/Link-U/kimono.mirror-vertical.rotate270.crop.avif",
     {.reference = "kimono.crop.png", .minPsnr = 32}},
    {"avif/pillow/hopper.avif", {.reference = "hopper_avif_write.png", .minPsnr = 30}},
    {"avif/libavif/draw_points_idat.avif", {.reference = "draw_points.png", .minPsnr = 30}},
    {"avif/libavif/draw_points_idat_progressive.avif", {.reference = "draw_points.png", .minPsnr = 30}},
    {"avif/libavif/circle_custom_properties.avif", {.reference = "circle-trns-after-plte.png", .minPsnr = 30}},
    {"avif/libavif/abc_color_irot_alpha_irot.avif", {.reference = "abc.png", .quarterTurns = 3, .minPsnr = 30}},
};

const Expected* expectationOf(const std::string& path)
{
    if (const auto own = kExpected.find(path); own != kExpected.end())
        return &own->second;
    for (const auto& [key, expected] : kExpected)
        if (key.back() == '_' && path.starts_with(key))
            return &expected;
    return nullptr;
}

std::optional<testkit::Rgba> loadReference(const fs::path& path)
{
    if (path.extension() == ".png")
        return testkit::loadPng(path);
    Image image;
    if (!jpeg::decode(testkit::readBytes(path), image))
        return std::nullopt;
    return testkit::toRgba(image);
}

void checkAgainstReference(const Image& image, const fs::path& folder, const Expected& expected)
{
    auto reference = loadReference(folder / expected.reference);
    ASSERT_TRUE(reference) << expected.reference;
    if (expected.quarterTurns)
        reference = testkit::turnedClockwise(*reference, expected.quarterTurns);
    const auto d = testkit::compare(testkit::toRgba(image), testkit::overWhite(*reference));
    EXPECT_TRUE(d.sameSize);
    EXPECT_GE(d.psnr, expected.minPsnr) << "against " << expected.reference;
}

bool isHeifFile(const fs::path& path)
{
    const auto e = path.extension();
    return e == ".heic" || e == ".heif" || e == ".avif" || e == ".avifs";
}

// Runs heif-enc on `picture` written as PNG by ImageMagick (with `convertOptions`, samples of
// `bits` 8 or 16), its alpha included.
std::vector<std::uint8_t> heifEncoded(const testkit::ScratchDir& scratch, const testkit::Rgba& picture,
                                      std::string convertOptions, const std::string& encodeOptions,
                                      const std::string& extension = ".heic", unsigned bits = 8)
{
    bool translucent = false;
    for (std::size_t i = 3; i < picture.pixels.size(); i += 4)
        translucent = translucent || picture.pixels[i] != 255;
    if (translucent) {
        // encodeWithTool writes a PNM, which has no alpha: ImageMagick takes it from a second one.
        testkit::Rgba alpha = picture;
        for (std::size_t i = 0; i < alpha.pixels.size(); i += 4)
            alpha.pixels[i] = alpha.pixels[i + 1] = alpha.pixels[i + 2] = alpha.pixels[i + 3];
        const auto mask = formattest::encodeWithTool(scratch, alpha, "cp {in} {out}");
        EXPECT_TRUE(mask);
        convertOptions += " '" + mask->string() + "' -alpha off -compose CopyOpacity -composite";
    }
    const std::string png = bits == 16 ? (translucent ? "PNG64:" : "PNG48:") : "";
    const auto file = formattest::encodeWithTool(scratch, picture,
                                                 "convert {in} " + convertOptions + " " + png +
                                                     "{out}.png && heif-enc -q 90 " + encodeOptions + " -o {out}" +
                                                     extension + " {out}.png && mv {out}" + extension + " {out}");
    EXPECT_TRUE(file) << "heif-enc " << encodeOptions;
    return file ? testkit::readBytes(*file) : std::vector<std::uint8_t>{};
}

bool haveEncoders() { return testkit::haveTool("heif-enc") && testkit::haveTool("convert"); }

// The offset of the first box of that type after `from`, 0 when there is none.
std::size_t boxAt(const std::vector<std::uint8_t>& file, const char* type, std::size_t from = 0)
{
    const auto at = std::search(file.begin() + static_cast<std::ptrdiff_t>(from), file.end(), type, type + 4);
    return at == file.end() ? 0 : static_cast<std::size_t>(at - file.begin()) - 4;
}

// A picture whose alpha runs through every level.
testkit::Rgba translucentPicture(std::uint32_t width, std::uint32_t height)
{
    auto picture = formattest::testPicture(width, height, 1000);
    for (std::size_t i = 0; i < picture.pixels.size(); i += 4)
        picture.pixels[i + 3] = static_cast<std::uint8_t>(i / 4 * 7);
    return picture;
}

}  // namespace

TEST(Heif, Conformance)
{
    CONFORMANCE_OR_SKIP(dir);
    int decoded = 0;
    for (const char* format : {"heif", "avif"}) {
        if (!fs::is_directory(dir / format))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(dir / format)) {
            if (!entry.is_regular_file() || !isHeifFile(entry.path()))
                continue;
            const std::string path = fs::relative(entry.path(), dir).string();
            SCOPED_TRACE(path);
            const Expected* listed = expectationOf(path);
            const Expected expected = listed                                        ? *listed
                                      : path.find("/invalid/") != std::string::npos ? Expected{Outcome::fails}
                                                                                    : Expected{};
            Image image;
            const Status status = heif::decode(testkit::readBytes(entry.path()), image);
            if (expected.outcome != Outcome::decodes) {
                EXPECT_FALSE(status.ok());
                EXPECT_TRUE(std::strncmp(status.detail, "heif: ", 6) == 0) << status.detail;
                EXPECT_TRUE(image.pixels.empty());
                continue;
            }
            ASSERT_TRUE(status.ok()) << status.detail;
            ++decoded;
            EXPECT_TRUE(isWellFormed(image));
            if (expected.width != 0) {
                EXPECT_EQ(image.width, expected.width);
                EXPECT_EQ(image.height, expected.height);
            }
            if (expected.grey) {
                EXPECT_EQ(image.format, PixelFormat::grey);
            }
            if (expected.reference)
                checkAgainstReference(image, entry.path().parent_path(), expected);
        }
    }
    EXPECT_GE(decoded, 70);
}

// Pillow's files hold one picture under each rotation and mirror; the mirror's axis is the one
// older readers got wrong. The stored picture is what the file gives with both boxes renamed.
TEST(Heif, RotationThenMirrorAsTheirOrientation)
{
    CONFORMANCE_OR_SKIP(dir);
    const std::map<std::string, Orientation> orientations = {
        {"rot0mir0", Orientation::bottomLeft},  {"rot0mir1", Orientation::topRight},
        {"rot1mir0", Orientation::leftTop},     {"rot1mir1", Orientation::rightBottom},
        {"rot2mir0", Orientation::topRight},    {"rot2mir1", Orientation::bottomLeft},
        {"rot3mir0", Orientation::rightBottom}, {"rot3mir1", Orientation::leftTop},
    };
    for (const auto& [name, orientation] : orientations) {
        SCOPED_TRACE(name);
        auto file = testkit::readBytes(dir / "avif/pillow" / (name + ".avif"));
        if (file.empty())
            GTEST_SKIP() << "skipped: Pillow's files not found";
        const Image shown = testkit::decodeOk(heif::decode, file);
        for (const char* box : {"irot", "imir"})  // a quarter turn of 0 may be left out
            if (const std::size_t at = boxAt(file, box); at > 0)
                std::memcpy(&file[at + 4], "xxxx", 4);
        Image stored = testkit::decodeOk(heif::decode, file);
        ASSERT_TRUE(makeUpright(stored, orientation));
        const auto d = testkit::compare(testkit::toRgba(shown), testkit::toRgba(stored));
        EXPECT_TRUE(d.sameSize);
        EXPECT_EQ(d.maxError, 0);
    }
}

// heif-enc's lossless RGB and grey keep every sample, so that each depth must give back the
// 8-bit picture it was made from (10 and 12 bits from 16-bit samples v·257, as the file's 'pixi'
// box states); alpha is composited over white.
TEST(Heif, EachDepthAndKindGivesBackItsPicture)
{
    if (!haveEncoders())
        GTEST_SKIP() << "skipped: heif-enc or ImageMagick not found";
    const testkit::ScratchDir scratch;
    const std::string lossless = "-L -p chroma=444 --matrix_coefficients=0";
    struct Case {
        const char* name;
        testkit::Rgba picture;
        unsigned bits;
        std::string encodeOptions, extension;
        PixelFormat format;
    };
    const Case cases[] = {
        {"8-bit RGB", formattest::testPicture(67, 45, 1000), 8, lossless, ".heic", PixelFormat::rgb},
        {"10-bit RGB", formattest::testPicture(67, 45, 1000), 10, lossless + " -b 10", ".heic", PixelFormat::rgb},
        {"12-bit RGB", formattest::testPicture(67, 45, 1000), 12, lossless + " -b 12", ".heic", PixelFormat::rgb},
        {"8-bit grey", formattest::greyPicture(67, 45), 8, "-L", ".avif", PixelFormat::grey},
        {"8-bit RGB with alpha", translucentPicture(67, 45), 8, lossless, ".heic", PixelFormat::rgb},
        {"10-bit RGB with alpha", translucentPicture(67, 45), 10, lossless + " -b 10", ".heic", PixelFormat::rgb},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = heifEncoded(scratch, c.picture, "", c.encodeOptions, c.extension, c.bits > 8 ? 16 : 8);
        const std::size_t pixi = boxAt(file, "pixi");
        ASSERT_GT(pixi, 0u);
        EXPECT_EQ(file[pixi + 13], c.bits) << "the encoder's depth";
        const Image image = testkit::decodeOk(heif::decode, file);
        EXPECT_EQ(image.format, c.format);
        const auto d = testkit::compare(testkit::toRgba(image), testkit::overWhite(c.picture));
        EXPECT_TRUE(d.sameSize);
        EXPECT_LE(d.maxError, 1);
    }
}

TEST(Heif, SniffReadsTheBrands)
{
    const auto ftyp = [](const char* major, std::vector<const char*> compatible) {
        std::vector<std::uint8_t> box;
        formattest::put32be(box, static_cast<std::uint32_t>(16 + 4 * compatible.size()));
        for (const char* brand : std::vector<const char*>{"ftyp", major, "\0\0\0\0"})
            box.insert(box.end(), brand, brand + 4);
        for (const char* brand : compatible)
            box.insert(box.end(), brand, brand + 4);
        return box;
    };
    EXPECT_TRUE(heif::sniff(ftyp("heic", {"mif1", "heic"})));
    EXPECT_TRUE(heif::sniff(ftyp("avif", {})));
    EXPECT_TRUE(heif::sniff(ftyp("msf1", {})));
    EXPECT_TRUE(heif::sniff(ftyp("MA1B", {"avif"})));  // a profile brand first
    EXPECT_FALSE(heif::sniff(ftyp("isom", {"iso2", "mp41"})));
    EXPECT_FALSE(heif::sniff(ftyp("qt  ", {})));
    const auto heic = ftyp("heic", {"mif1"});
    EXPECT_FALSE(heif::sniff(std::span(heic).first(heic.size() - 1)));
    auto notFirst = heic;
    std::memcpy(&notFirst[4], "free", 4);
    EXPECT_FALSE(heif::sniff(notFirst));
    Image image;
    EXPECT_EQ(heif::decode(ftyp("isom", {}), image).error, Error::unsupported);
}

TEST(Heif, CutAndDamagedFilesFail)
{
    if (!haveEncoders())
        GTEST_SKIP() << "skipped: heif-enc or ImageMagick not found";
    const testkit::ScratchDir scratch;
    for (const char* extension : {".heic", ".avif"}) {
        SCOPED_TRACE(extension);
        const auto file = heifEncoded(scratch, translucentPicture(40, 30), "", "", extension);
        ASSERT_FALSE(file.empty());
        formattest::expectCutsFail(file, heif::decode);
        testkit::decodeDamaged(file, heif::decode, 512);
    }
}

// libheif checks each side against our limit as it reads the boxes; the pixel count is checked
// before decoding. heif-enc writes a small picture as a grid of one tile: both sizes are set.
TEST(Heif, OverLimitSizesAreRefusedBeforeDecoding)
{
    if (!haveEncoders())
        GTEST_SKIP() << "skipped: heif-enc or ImageMagick not found";
    const testkit::ScratchDir scratch;
    auto file = heifEncoded(scratch, formattest::testPicture(16, 16, 4), "", "");
    ASSERT_GT(boxAt(file, "ispe"), 0u);
    for (const auto& [width, height] : {std::pair{65536u, 16u}, {16u, 70000u}, {65535u, 65535u}}) {
        for (std::size_t ispe = boxAt(file, "ispe"); ispe > 0; ispe = boxAt(file, "ispe", ispe + 8))
            for (int i = 0; i < 4; ++i) {
                file[ispe + 12 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
                file[ispe + 16 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
            }
        Image image;
        EXPECT_EQ(heif::decode(file, image).error, Error::tooLarge) << width << "x" << height;
    }
}

// heif-enc keeps an input's ICC profile and a JPEG's Exif block.
TEST(Heif, ColourProfileAndResolutionAreTakenFromTheFile)
{
    if (!haveEncoders() || !testkit::haveTool("exiftool"))
        GTEST_SKIP() << "skipped: heif-enc, ImageMagick or exiftool not found";
    const testkit::ScratchDir scratch;
    const auto picture = formattest::testPicture(32, 24, 1000);
    const std::string profile = "/usr/share/color/icc/colord/SwappedRedAndGreen.icc";
    if (fs::exists(profile)) {
        const std::string lossless = "-L -p chroma=444 --matrix_coefficients=0";
        Image expected = testkit::decodeOk(heif::decode, heifEncoded(scratch, picture, "", lossless));
        ASSERT_TRUE(toSrgb(expected, testkit::readBytes(profile)));
        const auto withProfile = heifEncoded(scratch, picture, "-profile " + profile, lossless);
        formattest::expectSame(testkit::toRgba(testkit::decodeOk(heif::decode, withProfile)), testkit::toRgba(expected),
                               "the picture through toSrgb");
    }

    const auto tagged = formattest::encodeWithTool(
        scratch, picture,
        "convert {in} {out}.jpg && exiftool -q -overwrite_original -XResolution=300 -YResolution=150 "
        "-ResolutionUnit=inches {out}.jpg && heif-enc -q 90 -o {out}.heic {out}.jpg && mv {out}.heic {out}");
    ASSERT_TRUE(tagged);
    const Image image = testkit::decodeOk(heif::decode, testkit::readBytes(*tagged));
    EXPECT_DOUBLE_EQ(image.resolution.x, 300);
    EXPECT_DOUBLE_EQ(image.resolution.y, 150);
}
