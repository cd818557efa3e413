// The TIFF reader: the conformance files, each route from samples to pixels (on files libtiff
// writes here), and the ways a damaged or hostile file must fail.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "imglib/formats/tiff/tiff.h"
#include "tests/support/testkit.h"
#include "tests/support/tiff_files.h"

using namespace imglib;
using tifffiles::Recipe;

namespace {

namespace fs = testkit::fs;

constexpr testkit::Tolerance kExact{0, 0};
constexpr testkit::Tolerance kOneLevel{1, 1.0};
// JPEG inside TIFF: libjpeg-turbo made the references, or a decoder that rounds differently.
constexpr testkit::Tolerance kLossy{16, 1.5};

// Good files compared apart from the exact run, each with its reason.
struct Allowance {
    const char* path;
    testkit::Tolerance tolerance;
    const char* why;
};
const Allowance kAllowances[] = {
    {"tiff/good/hopper_jpg.tif", kLossy, "JPEG"},
    {"tiff/good/quad-tile.jpg.tiff", kLossy, "JPEG"},
    {"tiff/good/tiff_strip_ycbcr_jpeg_2x2_sampling.tif", kLossy, "JPEG"},
    {"tiff/good/tiff_tiled_ycbcr_jpeg_1x1_sampling.tif", kLossy, "JPEG"},
    {"tiff/good/flower-minisblack-06.tif", kOneLevel, "6-bit expansion"},
    // The references truncate 16-bit values (v >> 8 or v / 257); this reader rounds them.
    {"tiff/good/flower-palette-02.tif", kOneLevel, "16-bit colour map truncated"},
    {"tiff/good/flower-palette-04.tif", kOneLevel, "16-bit colour map truncated"},
    {"tiff/good/flower-palette-08.tif", kOneLevel, "16-bit colour map truncated"},
    {"tiff/good/palette-1c-4b.tiff", kOneLevel, "16-bit colour map truncated"},
    {"tiff/good/palette-1c-8b.tiff", kOneLevel, "16-bit colour map truncated"},
    {"tiff/good/tiff_16bit_RGB.tiff", kOneLevel, "16-bit samples truncated"},
    {"tiff/good/tiff_strip_planar_16bit_RGB.tiff", kOneLevel, "16-bit samples truncated"},
    {"tiff/good/tiff_tiled_planar_16bit_RGB.tiff", kOneLevel, "16-bit samples truncated"},
    // Associated alpha divided out: the straight reference rounds it the other way now and then.
    {"tiff/good/irs_hpredict.tiff", kOneLevel, "alpha divided out"},
    {"tiff/good/irs_hpredict_packbits.tiff", kOneLevel, "alpha divided out"},
};
// 16-bit associated alpha: the references divide alpha out after truncating to 8 bits, so where
// alpha is small they differ wildly; TiffReader.SixteenBitAlphaFilesMatchWhereAlphaIsNotSmall
// compares them.
const char* const kSixteenBitAlpha[] = {
    "tiff/good/tiff_16bit_RGBa.tiff",
    "tiff/good/tiff_strip_planar_16bit_RGBa.tiff",
    "tiff/good/tiff_tiled_planar_16bit_RGBa.tiff",
};
// Files whose Orientation tag turns the picture, and the quarter turns clockwise that bring their
// references, kept in stored order, upright. (pal1huff.tif says bottom-left, but its reference
// shows the picture upright already.)
const std::map<std::string, unsigned> kTurnedReferences{
    {"tiff/questionable/g4_orientation_3.tif", 2},
    {"tiff/questionable/g4_orientation_6.tif", 1},
};

Image decodeOrFail(const std::vector<std::uint8_t>& file)
{
    Image image;
    const Status status = imglib::tiff::decode(file, image);
    EXPECT_TRUE(status.ok()) << status.detail;
    EXPECT_TRUE(status.ok() && isWellFormed(image));
    return image;
}

testkit::Rgba referenceOf(const fs::path& file)
{
    auto reference = testkit::loadPng(fs::path(file).replace_extension(".png"));
    EXPECT_TRUE(reference.has_value()) << file;
    return reference ? *reference : testkit::Rgba{};
}

void expectWithin(const testkit::Difference& d, testkit::Tolerance t)
{
    EXPECT_TRUE(d.sameSize);
    EXPECT_LE(d.maxError, t.maxError);
    EXPECT_LE(d.meanError, t.meanError);
}

// Samples of `bits` bits packed most significant bit first, rows padded to bytes.
std::vector<std::uint8_t> packed(const std::vector<std::uint32_t>& values, unsigned bits, std::size_t perRow)
{
    std::vector<std::uint8_t> out;
    for (std::size_t start = 0; start < values.size(); start += perRow) {
        std::uint64_t held = 0;
        unsigned heldBits = 0;
        for (std::size_t i = start; i < start + perRow; ++i) {
            held = held << bits | values[i];
            heldBits += bits;
            for (; heldBits >= 8; heldBits -= 8)
                out.push_back(static_cast<std::uint8_t>(held >> (heldBits - 8)));
        }
        if (heldBits > 0)
            out.push_back(static_cast<std::uint8_t>(held << (8 - heldBits)));
    }
    return out;
}

std::vector<std::uint8_t> sixteenBit(const std::vector<std::uint16_t>& values)
{
    std::vector<std::uint8_t> out(values.size() * 2);
    std::memcpy(out.data(), values.data(), out.size());  // libtiff writes the machine's order
    return out;
}

// A 6 × 5 RGB picture, each pixel different.
std::vector<std::uint8_t> rgbPicture()
{
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            rgb.insert(rgb.end(), {std::uint8_t(40 * x), std::uint8_t(50 * y), std::uint8_t(255 - 20 * x - 10 * y)});
    return rgb;
}

}  // namespace

TEST(TiffReader, Conformance)
{
    CONFORMANCE_OR_SKIP(dir);
    std::vector<std::string> comparedApart;
    for (const auto& a : kAllowances)
        comparedApart.push_back(a.path);
    comparedApart.insert(comparedApart.end(), std::begin(kSixteenBitAlpha), std::end(kSixteenBitAlpha));
    testkit::checkConformance(dir, "tiff", imglib::tiff::decode, kExact, comparedApart);

    for (const auto& a : kAllowances) {
        SCOPED_TRACE(std::string(a.path) + " (" + a.why + ")");
        const Image image = decodeOrFail(testkit::readBytes(dir / a.path));
        expectWithin(testkit::compare(testkit::toRgba(image), referenceOf(dir / a.path), true), a.tolerance);
    }
}

// Questionable files may fail; those that decode and have a reference must match it.
TEST(TiffReader, QuestionableFilesThatDecodeMatchTheirReference)
{
    CONFORMANCE_OR_SKIP(dir);
    int decoded = 0;
    for (const auto& entry : testkit::manifestSamples(dir, "tiff")) {
        if (entry.group != "questionable" || entry.reference.empty())
            continue;
        SCOPED_TRACE(entry.path);
        Image image;
        if (!imglib::tiff::decode(testkit::readBytes(dir / entry.path), image))
            continue;
        ++decoded;
        // Old-style JPEG is lossy; the naive CMYK references truncate where this reader rounds.
        auto reference = referenceOf(dir / entry.path);
        if (const auto turns = kTurnedReferences.find(entry.path); turns != kTurnedReferences.end())
            reference = testkit::turnedClockwise(reference, turns->second);
        expectWithin(testkit::compare(testkit::toRgba(image), reference, true), kLossy);
    }
    EXPECT_GE(decoded, 14) << "CCITT oddities, CMYK, old-style JPEG, orientation tags …";
}

TEST(TiffReader, SixteenBitAlphaFilesMatchWhereAlphaIsNotSmall)
{
    CONFORMANCE_OR_SKIP(dir);
    for (const char* path : kSixteenBitAlpha) {
        SCOPED_TRACE(path);
        const auto decoded = testkit::toRgba(decodeOrFail(testkit::readBytes(dir / path)));
        const auto reference = referenceOf(dir / path);
        ASSERT_EQ(decoded.pixels.size(), reference.pixels.size());
        // Where alpha is at least 1/4, a truncated 8-bit value divided by alpha is within 4 levels.
        int compared = 0;
        for (std::size_t i = 0; i < decoded.pixels.size(); i += 4) {
            if (reference.pixels[i + 3] < 64)
                continue;
            ++compared;
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(decoded.pixels[i + c], reference.pixels[i + c], 5) << "pixel " << i / 4;
        }
        EXPECT_GT(compared, 100);
    }
}

TEST(TiffReader, AssociatedAlphaIsDividedOutAndUnassociatedDropped)
{
    // Straight from a premultiplied pixel: (50, 25, 0) at alpha 128 is (100, 50, 0).
    Recipe recipe{.width = 2,
                  .height = 1,
                  .samples = 4,
                  .photometric = PHOTOMETRIC_RGB,
                  .extraSamples = {EXTRASAMPLE_ASSOCALPHA}};
    Image image = decodeOrFail(tifffiles::make(recipe, {50, 25, 0, 128, 9, 9, 9, 0}));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{100, 50, 0, 0, 0, 0}));
    // Unassociated alpha is simply dropped.
    recipe.extraSamples = {EXTRASAMPLE_UNASSALPHA};
    image = decodeOrFail(tifffiles::make(recipe, {50, 25, 0, 128, 9, 9, 9, 0}));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{50, 25, 0, 9, 9, 9}));
}

TEST(TiffReader, GreyLevelsAreScaledWithRounding)
{
    Recipe recipe{.width = 4, .height = 1, .bits = 2};
    Image image = decodeOrFail(tifffiles::make(recipe, packed({0, 1, 2, 3}, 2, 4)));
    EXPECT_EQ(image.format, PixelFormat::grey);
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{0, 85, 170, 255}));

    recipe.bits = 12;  // 2047.5 is the middle: 2047 → 127, 2048 → 128
    image = decodeOrFail(tifffiles::make(recipe, packed({0, 2047, 2048, 4095}, 12, 4)));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{0, 127, 128, 255}));

    recipe.bits = 16;  // 128.5 / 257 is the first step
    image = decodeOrFail(tifffiles::make(recipe, sixteenBit({128, 129, 32767, 65535})));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{0, 1, 127, 255}));

    recipe.bits = 8;
    recipe.photometric = PHOTOMETRIC_MINISWHITE;
    image = decodeOrFail(tifffiles::make(recipe, {0, 1, 254, 255}));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{255, 254, 1, 0}));
}

TEST(TiffReader, BilevelImagesBecomeTwoColourIndexed)
{
    Recipe recipe{.width = 10,
                  .height = 2,
                  .bits = 1,
                  .photometric = PHOTOMETRIC_MINISWHITE,
                  .compression = COMPRESSION_CCITTFAX4};
    const std::vector<std::uint32_t> bits = {1, 0, 0, 1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const Image image = decodeOrFail(tifffiles::make(recipe, packed(bits, 1, 10)));
    EXPECT_EQ(image.format, PixelFormat::indexed);
    EXPECT_EQ(image.palette, (std::vector<Colour>{{255, 255, 255}, {0, 0, 0}})) << "MinIsWhite: 0 is white";
    EXPECT_EQ(image.pixels, std::vector<std::uint8_t>(bits.begin(), bits.end()));
}

TEST(TiffReader, PaletteImagesStayIndexed)
{
    // 4 bits, a 16-bit colour map rounded to 8 bits.
    std::vector<std::uint16_t> map(3 * 16, 0);
    map[1] = 0x1234;       // red of entry 1: 4660 / 257 = 18.1
    map[16 + 1] = 0xFFFF;  // green of entry 1
    map[32 + 15] = 385;    // blue of entry 15: 1.498 → 1
    Recipe recipe{.width = 3, .height = 1, .bits = 4, .photometric = PHOTOMETRIC_PALETTE, .colourMap = map};
    Image image = decodeOrFail(tifffiles::make(recipe, packed({1, 15, 0}, 4, 3)));
    EXPECT_EQ(image.format, PixelFormat::indexed);
    ASSERT_EQ(image.palette.size(), 16u);
    EXPECT_EQ(image.palette[1], (Colour{18, 255, 0}));
    EXPECT_EQ(image.palette[15], (Colour{0, 0, 1}));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{1, 15, 0}));

    // A map written with 8-bit values is taken as it is.
    std::vector<std::uint16_t> small(3 * 256, 0);
    small[7] = 200, small[256 + 7] = 100, small[512 + 7] = 50;
    recipe = {.width = 2, .height = 1, .bits = 8, .photometric = PHOTOMETRIC_PALETTE, .colourMap = small};
    image = decodeOrFail(tifffiles::make(recipe, {7, 0}));
    EXPECT_EQ(image.palette[7], (Colour{200, 100, 50}));

    // 16-bit indices need more than 256 entries: the image becomes RGB through the map.
    std::vector<std::uint16_t> wide(3 * 65536, 0);
    wide[40000] = 65535, wide[65536 + 40000] = 257 * 9;
    recipe = {.width = 2, .height = 1, .bits = 16, .photometric = PHOTOMETRIC_PALETTE, .colourMap = wide};
    image = decodeOrFail(tifffiles::make(recipe, sixteenBit({40000, 1})));
    EXPECT_EQ(image.format, PixelFormat::rgb);
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{255, 9, 0, 0, 0, 0}));
}

TEST(TiffReader, EveryLayoutOfRgbGivesTheSamePixels)
{
    const auto rgb = rgbPicture();
    std::vector<std::uint8_t> planes;  // the same picture, plane by plane
    for (int c = 0; c < 3; ++c)
        for (std::size_t i = c; i < rgb.size(); i += 3)
            planes.push_back(rgb[i]);
    std::vector<std::uint16_t> wide;
    for (std::uint8_t v : rgb)
        wide.push_back(static_cast<std::uint16_t>(v * 257));

    const Recipe contiguous{.width = 6, .height = 5, .samples = 3, .photometric = PHOTOMETRIC_RGB};
    Recipe recipe = contiguous;
    EXPECT_EQ(decodeOrFail(tifffiles::make(recipe, rgb)).pixels, rgb) << "contiguous strips";
    recipe.rowsPerStrip = 2;
    recipe.compression = COMPRESSION_LZW;
    EXPECT_EQ(decodeOrFail(tifffiles::make(recipe, rgb)).pixels, rgb) << "LZW, short strips";
    recipe = contiguous;
    recipe.planar = PLANARCONFIG_SEPARATE;
    recipe.compression = COMPRESSION_PACKBITS;
    EXPECT_EQ(decodeOrFail(tifffiles::make(recipe, planes)).pixels, rgb) << "separate planes";
    recipe = contiguous;
    recipe.tileSide = 16;
    recipe.compression = COMPRESSION_ADOBE_DEFLATE;
    EXPECT_EQ(decodeOrFail(tifffiles::make(recipe, rgb)).pixels, rgb) << "tiles wider than the image";
    recipe = contiguous;
    recipe.bits = 16;
    EXPECT_EQ(decodeOrFail(tifffiles::make(recipe, sixteenBit(wide))).pixels, rgb) << "16 bits";
    recipe = {.width = 40, .height = 37, .samples = 3, .photometric = PHOTOMETRIC_RGB, .tileSide = 16};
    std::vector<std::uint8_t> big(40 * 37 * 3);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_EQ(decodeOrFail(tifffiles::make(recipe, big)).pixels, big) << "partial tiles at the edges";
}

TEST(TiffReader, InksAreConvertedNaively)
{
    const Recipe recipe{.width = 3, .height = 1, .samples = 4, .photometric = PHOTOMETRIC_SEPARATED};
    const Image image = decodeOrFail(tifffiles::make(recipe, {0, 0, 0, 0, 255, 0, 0, 0, 0, 128, 255, 128}));
    EXPECT_EQ(image.format, PixelFormat::rgb);
    // (255 − ink) × (255 − black) / 255: 127 × 127 / 255 = 63.25
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{255, 255, 255, 0, 255, 255, 127, 63, 0}));
}

TEST(TiffReader, YCbCrGoesThroughLibtiff)
{
    std::vector<std::uint8_t> rgb(32 * 32 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<std::uint8_t>(i % 3 == 0 ? 200 : i % 3 == 1 ? 60 : 30);
    const Recipe recipe{.width = 32,
                        .height = 32,
                        .samples = 3,
                        .photometric = PHOTOMETRIC_YCBCR,
                        .compression = COMPRESSION_JPEG,
                        .rowsPerStrip = 16,
                        .jpegFromRgb = true};
    const Image image = decodeOrFail(tifffiles::make(recipe, rgb));
    EXPECT_EQ(image.format, PixelFormat::rgb);
    ASSERT_EQ(image.pixels.size(), rgb.size());
    for (std::size_t i = 0; i < rgb.size(); ++i)
        ASSERT_NEAR(image.pixels[i], rgb[i], 3) << "sample " << i;
}

// Both routes apply the Orientation tag: stored upside down, the picture comes out upright.
TEST(TiffReader, OrientationIsAppliedOnBothRoutes)
{
    std::vector<std::uint8_t> rgb(16 * 32 * 3, 0);
    std::fill(rgb.begin(), rgb.begin() + 16 * 16 * 3, 255);  // the top half white
    for (const bool ycbcr : {false, true}) {
        Recipe recipe{.width = 16,
                      .height = 32,
                      .samples = 3,
                      .photometric = PHOTOMETRIC_RGB,
                      .orientation = ORIENTATION_BOTRIGHT,
                      .rowsPerStrip = 16};
        if (ycbcr) {
            recipe.photometric = PHOTOMETRIC_YCBCR;
            recipe.compression = COMPRESSION_JPEG;
            recipe.jpegFromRgb = true;
        }
        const Image image = decodeOrFail(tifffiles::make(recipe, rgb));
        ASSERT_EQ(image.pixels.size(), rgb.size());
        EXPECT_LT(image.pixels[0], 15) << (ycbcr ? "YCbCr" : "RGB") << ": the last stored row comes first";
        EXPECT_GT(image.pixels.back(), 240) << (ycbcr ? "YCbCr" : "RGB");
    }
}

TEST(TiffReader, UnreadableSampleKindsFailCleanly)
{
    Recipe recipe{.width = 2, .height = 1, .bits = 32, .sampleFormat = SAMPLEFORMAT_IEEEFP};
    Image image;
    EXPECT_EQ(imglib::tiff::decode(tifffiles::make(recipe, std::vector<std::uint8_t>(8, 0)), image).error,
              Error::unsupported);
    recipe.bits = 24;
    recipe.sampleFormat = SAMPLEFORMAT_UINT;
    EXPECT_EQ(imglib::tiff::decode(tifffiles::make(recipe, std::vector<std::uint8_t>(6, 0)), image).error,
              Error::unsupported);
    recipe = {.width = 2, .height = 1, .bits = 8, .sampleFormat = SAMPLEFORMAT_INT};
    EXPECT_EQ(imglib::tiff::decode(tifffiles::make(recipe, {1, 2}), image).error, Error::unsupported);
    EXPECT_TRUE(image.pixels.empty());
}

TEST(TiffReader, SniffWantsATiffSignature)
{
    using Bytes = std::vector<std::uint8_t>;
    EXPECT_TRUE(imglib::tiff::sniff(Bytes{'I', 'I', 42, 0}));
    EXPECT_TRUE(imglib::tiff::sniff(Bytes{'M', 'M', 0, 42}));
    EXPECT_TRUE(imglib::tiff::sniff(Bytes{'I', 'I', 43, 0})) << "BigTIFF";
    EXPECT_TRUE(imglib::tiff::sniff(Bytes{'M', 'M', 0, 43})) << "BigTIFF";
    EXPECT_FALSE(imglib::tiff::sniff(Bytes{'I', 'I', 0, 42}));
    EXPECT_FALSE(imglib::tiff::sniff(Bytes{'M', 'I', 42, 0}));
    EXPECT_FALSE(imglib::tiff::sniff(Bytes{'I', 'I', 42}));
    Image image;
    EXPECT_EQ(imglib::tiff::decode(Bytes{'I', 'I', 42, 0, 8, 0, 0, 0}, image).error, Error::badHeader);
}

TEST(TiffReader, OverLimitSizesAreRefusedBeforeAllocating)
{
    Image image;
    Recipe recipe{.width = 70000, .height = 1};
    EXPECT_EQ(imglib::tiff::decode(tifffiles::make(recipe, std::vector<std::uint8_t>(70000, 0)), image).error,
              Error::tooLarge);

    // A tiny file that claims 60000 × 4000 grey pixels in one uncompressed strip of 10 bytes.
    recipe = {.width = 4, .height = 3};
    auto file = tifffiles::make(recipe, std::vector<std::uint8_t>(12, 1));
    const auto patch = [&](std::uint16_t tag, std::uint32_t value) {
        // Classic little-endian TIFF from libtiff: the IFD offset at 4, entries of 12 bytes.
        const std::uint32_t ifd = file[4] | file[5] << 8 | file[6] << 16 | std::uint32_t{file[7]} << 24;
        const std::uint16_t count = static_cast<std::uint16_t>(file[ifd] | file[ifd + 1] << 8);
        for (std::uint32_t e = ifd + 2; e < ifd + 2 + 12u * count; e += 12)
            if ((file[e] | file[e + 1] << 8) == tag) {
                const std::uint16_t type = static_cast<std::uint16_t>(file[e + 2] | file[e + 3] << 8);
                for (int b = 0; b < (type == TIFF_SHORT ? 2 : 4); ++b)
                    file[e + 8 + b] = static_cast<std::uint8_t>(value >> (8 * b));
                return;
            }
        ADD_FAILURE() << "no tag " << tag;
    };
    patch(TIFFTAG_IMAGEWIDTH, 60000);
    patch(TIFFTAG_IMAGELENGTH, 4000);
    patch(TIFFTAG_ROWSPERSTRIP, 4000);
    patch(TIFFTAG_STRIPBYTECOUNTS, 10);
    EXPECT_EQ(imglib::tiff::decode(file, image).error, Error::truncated);
    patch(TIFFTAG_STRIPBYTECOUNTS, 0x10000000);  // past the end of the file
    EXPECT_EQ(imglib::tiff::decode(file, image).error, Error::truncated);
    EXPECT_TRUE(image.pixels.empty());

    // The same size in 16-bit samples, compressed: one strip over the library's limit for a strip,
    // which is a size limit like the others.
    file = tifffiles::make({.width = 4, .height = 3, .bits = 16, .compression = COMPRESSION_LZW},
                           std::vector<std::uint8_t>(24, 1));
    patch(TIFFTAG_IMAGEWIDTH, 60000);
    patch(TIFFTAG_IMAGELENGTH, 4000);
    patch(TIFFTAG_ROWSPERSTRIP, 4000);
    EXPECT_EQ(imglib::tiff::decode(file, image).error, Error::tooLarge);
    EXPECT_TRUE(image.pixels.empty());
}

TEST(TiffReader, EveryTruncationFails)
{
    // libtiff writes the directory last: every prefix loses it, or the data it points to.
    const Recipe recipe{.width = 6,
                        .height = 5,
                        .samples = 3,
                        .photometric = PHOTOMETRIC_RGB,
                        .compression = COMPRESSION_LZW,
                        .rowsPerStrip = 2};
    const auto file = tifffiles::make(recipe, rgbPicture());
    for (std::size_t length = 0; length < file.size(); ++length) {
        Image image;
        EXPECT_FALSE(imglib::tiff::decode(std::span(file).first(length), image).ok()) << "cut to " << length;
    }
}

TEST(TiffReader, DamagedFilesNeverCrash)
{
    const auto rgb = rgbPicture();
    std::vector<std::vector<std::uint8_t>> files = {
        tifffiles::make({.width = 6,
                         .height = 5,
                         .samples = 3,
                         .photometric = PHOTOMETRIC_RGB,
                         .compression = COMPRESSION_LZW,
                         .rowsPerStrip = 2},
                        rgb),
        tifffiles::make({.width = 6,
                         .height = 5,
                         .samples = 3,
                         .photometric = PHOTOMETRIC_RGB,
                         .compression = COMPRESSION_PACKBITS,
                         .tileSide = 16},
                        rgb),
        tifffiles::make({.width = 30,
                         .height = 3,
                         .bits = 1,
                         .photometric = PHOTOMETRIC_MINISWHITE,
                         .compression = COMPRESSION_CCITTFAX3},
                        std::vector<std::uint8_t>(12, 0x3C)),
    };
    std::vector<std::uint8_t> ycbcr(32 * 16 * 3, 90);
    files.push_back(tifffiles::make({.width = 32,
                                     .height = 16,
                                     .samples = 3,
                                     .photometric = PHOTOMETRIC_YCBCR,
                                     .compression = COMPRESSION_JPEG,
                                     .rowsPerStrip = 16,
                                     .jpegFromRgb = true},
                                    ycbcr));
    if (const auto dir = testkit::conformanceDir())
        for (const char* name : {"palette-1c-4b.tiff", "group4.tif", "tiff_tiled_planar_lzw.tiff", "hopper_jpg.tif"})
            files.push_back(testkit::readBytes(*dir / "tiff/good" / name));
    for (const auto& file : files)
        testkit::decodeDamaged(file, imglib::tiff::decode, 1024);
}
