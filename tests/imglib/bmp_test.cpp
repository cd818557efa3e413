// The bitmap reader and writer: conformance files, files built field by field for the cases real
// files rarely show, files written by independent encoders, and the writer read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <sstream>
#include <tuple>

#include "imglib/formats/bmp/bmp.h"
#include "imglib/formats/registry.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
namespace fs = testkit::fs;

namespace {

using formattest::put16le;
using formattest::put32le;

// A bitmap put together field by field. Pixels are the stored bytes, rows padded by the caller.
struct Bmp {
    std::int32_t width = 4, height = 2;
    std::uint32_t infoSize = 40, compression = 0;
    std::uint16_t planes = 1, bits = 8;
    std::vector<Colour> palette = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
    std::optional<std::uint32_t> coloursUsed, fileSize, imageSize, dataOffset;
    std::int32_t xDensity = 2835, yDensity = 2835;
    std::vector<std::uint32_t> masks;  // after a 40-byte header, else inside it
    std::vector<std::uint8_t> pixels = {0, 1, 2, 3, 3, 2, 1, 0};

    std::vector<std::uint8_t> bytes() const
    {
        std::vector<std::uint8_t> info;
        if (infoSize == 12) {
            put16le(info, std::uint16_t(width)), put16le(info, std::uint16_t(height));
            put16le(info, planes), put16le(info, bits);
        } else {
            put32le(info, std::uint32_t(width)), put32le(info, std::uint32_t(height));
            put16le(info, planes), put16le(info, bits), put32le(info, compression);
            put32le(info, imageSize.value_or(std::uint32_t(pixels.size())));
            put32le(info, std::uint32_t(xDensity)), put32le(info, std::uint32_t(yDensity));
            put32le(info, coloursUsed.value_or(std::uint32_t(palette.size()))), put32le(info, 0);
            for (std::uint32_t m : masks)
                put32le(info, m);
            info.resize(std::max<std::size_t>(info.size(), infoSize - 4));
            info.resize(infoSize == 40 ? info.size() : infoSize - 4);
        }
        std::vector<std::uint8_t> entries;
        for (Colour c : palette) {
            entries.insert(entries.end(), {c.b, c.g, c.r});
            if (infoSize != 12)
                entries.push_back(0);
        }
        const auto offset = std::uint32_t(14 + 4 + info.size() + entries.size());
        std::vector<std::uint8_t> out = {'B', 'M'};
        put32le(out, fileSize.value_or(offset + std::uint32_t(pixels.size()))), put32le(out, 0);
        put32le(out, dataOffset.value_or(offset)), put32le(out, infoSize);
        out.insert(out.end(), info.begin(), info.end());
        out.insert(out.end(), entries.begin(), entries.end());
        out.insert(out.end(), pixels.begin(), pixels.end());
        return out;
    }
};

Image decoded(const std::vector<std::uint8_t>& file) { return testkit::decodeOk(bmp::decode, file); }
Error errorOf(const std::vector<std::uint8_t>& file) { return testkit::decodeError(bmp::decode, file); }

std::vector<std::uint8_t> pixelsOf(const Image& image) { return image.pixels; }

// The largest channel difference between our decoding of `file` and ImageMagick's.
std::optional<int> differenceFromImageMagick(const fs::path& file, const Image& ours)
{
    const auto png = file.string() + ".png";
    if (!testkit::run("convert '" + file.string() + "' -strip png24:'" + png + "'"))
        return std::nullopt;
    const auto theirs = testkit::loadPng(png);
    if (!theirs)
        return std::nullopt;
    const auto d = testkit::compare(testkit::toRgba(ours), *theirs, true);
    return d.sameSize ? std::optional(d.maxError) : std::nullopt;
}

}  // namespace

TEST(BmpRead, UncompressedLayoutsAndHeaders)
{
    Bmp b;  // 8 bits, bottom-up: the first stored row is the bottom one
    EXPECT_EQ(pixelsOf(decoded(b.bytes())), (std::vector<std::uint8_t>{3, 2, 1, 0, 0, 1, 2, 3}));
    b.height = -2;
    EXPECT_EQ(pixelsOf(decoded(b.bytes())), (std::vector<std::uint8_t>{0, 1, 2, 3, 3, 2, 1, 0}));

    Bmp packed;  // 1, 2 and 4 bits, leftmost pixel in the high bits, rows padded to 4 bytes
    packed.height = 1;
    packed.bits = 1, packed.pixels = {0b1011'0000, 0, 0, 0};
    packed.palette.resize(2);
    EXPECT_EQ(pixelsOf(decoded(packed.bytes())), (std::vector<std::uint8_t>{1, 0, 1, 1}));
    packed.bits = 2, packed.pixels = {0b11'01'10'00, 0, 0, 0};
    packed.palette.resize(4);
    EXPECT_EQ(pixelsOf(decoded(packed.bytes())), (std::vector<std::uint8_t>{3, 1, 2, 0}));
    packed.bits = 4, packed.pixels = {0x21, 0x03, 0, 0};
    EXPECT_EQ(pixelsOf(decoded(packed.bytes())), (std::vector<std::uint8_t>{2, 1, 0, 3}));

    Bmp rgb;  // 24 bits are stored blue, green, red; 2 pixels make 6 bytes padded to 8
    rgb.width = 2, rgb.height = 1, rgb.bits = 24, rgb.palette = {};
    rgb.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    EXPECT_EQ(pixelsOf(decoded(rgb.bytes())), (std::vector<std::uint8_t>{3, 2, 1, 6, 5, 4}));
    for (std::uint32_t size : {12u, 16u, 64u, 108u, 124u}) {  // OS/2 1.x and 2.x, v4, v5
        rgb.infoSize = size;
        EXPECT_EQ(pixelsOf(decoded(rgb.bytes())), (std::vector<std::uint8_t>{3, 2, 1, 6, 5, 4})) << size;
    }

    Bmp core;  // OS/2 1.x: 3-byte palette entries
    core.infoSize = 12;
    const Image image = decoded(core.bytes());
    EXPECT_EQ(image.palette, core.palette);

    // A packed DIB (the clipboard's form, no file header) decodes and is recognised by its own
    // sniff; the two sniffs never both accept a file.
    const auto file = Bmp{}.bytes();
    const std::vector<std::uint8_t> dib(file.begin() + 14, file.end());
    EXPECT_EQ(pixelsOf(decoded(dib)), pixelsOf(decoded(file)));
    EXPECT_TRUE(bmp::sniff(file));
    EXPECT_FALSE(bmp::sniffPacked(file));
    EXPECT_FALSE(bmp::sniff(dib));
    EXPECT_TRUE(bmp::sniffPacked(dib));
    Image any;
    ASSERT_TRUE(decodeAny(dib, any).ok());
    EXPECT_EQ(pixelsOf(any), pixelsOf(decoded(file)));
}

TEST(BmpRead, BitFieldsScaleEachChannelWithRounding)
{
    Bmp b;
    b.width = 2, b.height = 1, b.bits = 16, b.compression = 3, b.palette = {};
    b.masks = {0xF800, 0x07E0, 0x001F};   // 5-6-5
    b.pixels = {0xFF, 0xFF, 0x21, 0x08};  // white; then red 1, green 1, blue 1
    EXPECT_EQ(pixelsOf(decoded(b.bytes())), (std::vector<std::uint8_t>{255, 255, 255, 8, 4, 8}));

    b.masks = {0x0007, 0x0038, 0x8000};  // 3-bit red 5 → round(5·255/7); the 0x7FC0 bits dropped
    b.pixels = {0xFD, 0xFF, 0, 0};
    EXPECT_EQ(pixelsOf(decoded(b.bytes())), (std::vector<std::uint8_t>{182, 255, 255, 0, 0, 0}));

    b.infoSize = 124;  // masks inside a v5 header; 32 bits, an 18-bit green channel
    b.bits = 32, b.width = 1;
    b.masks = {0xFF, 0x3FFFF00, 0xFC000000};
    b.pixels = {0x10, 0x00, 0x00, 0x02};  // red 16, green 2^17, blue 0
    EXPECT_EQ(pixelsOf(decoded(b.bytes())), (std::vector<std::uint8_t>{16, 128, 0}));

    b.infoSize = 40, b.compression = 6;  // BI_ALPHABITFIELDS: a fourth mask, for the dropped alpha
    b.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    b.pixels = {1, 2, 3, 0x80};
    EXPECT_EQ(pixelsOf(decoded(b.bytes())), (std::vector<std::uint8_t>{3, 2, 1}));
}

TEST(BmpRead, RejectsWhatTheFormatForbids)
{
    const auto with = [](auto change) {
        Bmp b;
        change(b);
        return errorOf(b.bytes());
    };
    EXPECT_EQ(with([](Bmp& b) { b.planes = 2; }), Error::badHeader);
    EXPECT_EQ(with([](Bmp& b) { b.bits = 3; }), Error::badHeader);
    EXPECT_EQ(with([](Bmp& b) { b.bits = 64; }), Error::unsupported);
    EXPECT_EQ(with([](Bmp& b) { b.width = -4; }), Error::badHeader);
    EXPECT_EQ(with([](Bmp& b) { b.height = 0; }), Error::badHeader);
    EXPECT_EQ(with([](Bmp& b) { b.height = INT_MIN; }), Error::badHeader);
    EXPECT_EQ(with([](Bmp& b) { b.width = 70000; }), Error::tooLarge);
    EXPECT_EQ(with([](Bmp& b) { b.width = b.height = 60000; }), Error::tooLarge);
    EXPECT_EQ(with([](Bmp& b) { b.infoSize = 66; }), Error::badHeader);
    EXPECT_EQ(with([](Bmp& b) { b.compression = 4; }), Error::unsupported);  // JPEG inside
    EXPECT_EQ(with([](Bmp& b) { b.compression = 9; }), Error::badHeader);
    EXPECT_EQ(with([](Bmp& b) { b.compression = 2; }), Error::badHeader);                 // RLE4 of 8 bits
    EXPECT_EQ(with([](Bmp& b) { b.compression = 1, b.height = -2; }), Error::badHeader);  // top-down RLE
    EXPECT_EQ(with([](Bmp& b) { b.xDensity = 30000000, b.yDensity = 3; }), Error::badHeader);
    EXPECT_EQ(with([](Bmp& b) { b.fileSize = 1u << 31; }), Error::truncated);
    EXPECT_EQ(with([](Bmp& b) { b.imageSize = 1u << 31; }), Error::truncated);
    EXPECT_EQ(with([](Bmp& b) { b.pixels.pop_back(); }), Error::truncated);
    EXPECT_EQ(with([](Bmp& b) { b.dataOffset = 40; }), Error::badHeader);
    // A colour count whose palette would run into the pixels (bmpsuite's badpalettesize).
    EXPECT_EQ(with([](Bmp& b) { b.coloursUsed = 100000; }), Error::badHeader);
    // Bit fields only for 16 and 32 bits, each mask one run of bits, none shared, none empty.
    const auto masks = [&](std::vector<std::uint32_t> m, std::uint16_t bits = 16) {
        return with([&](Bmp& b) { b.bits = bits, b.compression = 3, b.masks = m, b.palette = {}; });
    };
    EXPECT_EQ(masks({0xF800, 0x07E0, 0x001F}, 24), Error::badHeader);
    EXPECT_EQ(masks({0xFF00, 0x00FF, 0}), Error::badHeader);
    EXPECT_EQ(masks({0xF800, 0x0FE0, 0x001F}), Error::badHeader);
    EXPECT_EQ(masks({0xF800, 0x07E0, 0x0015}), Error::badHeader);
    EXPECT_EQ(masks({0x1F0000, 0x07E0, 0x001F}), Error::badHeader);
}

TEST(BmpRead, PaletteEntriesAndIndicesPastThem)
{
    Bmp b;
    b.palette.resize(3);
    b.pixels = {0, 1, 2, 0, 0, 3, 2, 1};  // an index past a 3-entry palette names no colour: rejected
    EXPECT_EQ(errorOf(b.bytes()), Error::badData);
    b.pixels[5] = 2;
    EXPECT_EQ(decoded(b.bytes()).palette.size(), 3u);

    // A colour count of 0 means 2^bits, unless the pixels start sooner (OS/2's short palettes).
    b.coloursUsed = 0;
    EXPECT_EQ(decoded(b.bytes()).palette.size(), 3u);
    b.pixels[5] = 3;
    EXPECT_EQ(errorOf(b.bytes()), Error::badData);

    // More entries than the bit count can index (bmpsuite's pal8oversizepal) are dropped.
    b.bits = 1, b.width = 4, b.height = 1, b.pixels = {0x50, 0, 0, 0};
    b.palette.resize(5), b.coloursUsed.reset();
    EXPECT_EQ(decoded(b.bytes()).palette.size(), 2u);
}

TEST(BmpRead, RunLengthCodes)
{
    Bmp b;
    b.width = 5, b.height = 3, b.compression = 1, b.palette.resize(8);
    // Bottom row: run of 2 × 4, literal 7 6 5 (padded), end of line. Middle row: delta 1 right,
    // run of 1 × 3, end of line. Top row: run of 2 × 1, end of bitmap.
    b.pixels = {2, 4, 0, 3, 7, 6, 5, 0, 0, 0, 0, 2, 1, 0, 1, 3, 0, 0, 2, 1, 0, 1};
    // Pixels never written (skipped by the delta, or left by an early end) keep index 0.
    EXPECT_EQ(pixelsOf(decoded(b.bytes())), (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 0, 3, 0, 0, 0, 4, 4, 7, 6, 5}));

    b.compression = 2, b.bits = 4;  // RLE4: runs alternate nibbles; literal of 3 in 2 bytes
    b.pixels = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    EXPECT_EQ(pixelsOf(decoded(b.bytes())), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 3, 4, 5, 0, 0, 1, 2, 1, 2, 1}));

    // A row may hold its padding (a 5-pixel RLE4 row is stored in 4 bytes, 8 indices): dropped.
    b.pixels = {8, 0x12, 0, 1};
    EXPECT_EQ(pixelsOf(decoded(b.bytes()))[10], 1);
    const auto errorFor = [&](std::vector<std::uint8_t> codes) {
        b.pixels = codes;
        return errorOf(b.bytes());
    };
    EXPECT_EQ(errorFor({9, 0x12, 0, 1}), Error::badData);                    // run past the row
    EXPECT_EQ(errorFor({4, 0x12, 0, 9, 1, 2, 3, 4, 5, 0}), Error::badData);  // literal past it
    EXPECT_EQ(errorFor({0, 2, 0, 4}), Error::badData);                       // delta past the top
    EXPECT_EQ(errorFor({0, 2, 0, 2, 0, 0, 1, 1}), Error::badData);           // a run above the image
    EXPECT_EQ(errorFor({2, 0x11, 0, 0}), Error::truncated);                  // stops on the bottom row
    EXPECT_EQ(errorFor({0, 2, 0, 2, 5, 0x11}), Error::none);                 // last row, no end code
    EXPECT_EQ(errorFor({0, 5, 1}), Error::truncated);                        // literal cut short
}

TEST(BmpSniff, SignatureAndAValidHeader)
{
    auto file = Bmp{}.bytes();
    EXPECT_TRUE(bmp::sniff(file));
    Image image;
    EXPECT_TRUE(decodeAny(file, image).ok());
    file[26] = 2;  // planes
    EXPECT_FALSE(bmp::sniff(file));
    EXPECT_FALSE(bmp::sniff(std::vector<std::uint8_t>{'B', 'M'}));
    EXPECT_FALSE(bmp::sniff({}));
}

TEST(BmpConformance, FilesMatchTheirReferences)
{
    CONFORMANCE_OR_SKIP(dir);
    // Exact, 5- and 6-bit channels included: rounding v·255/max gives the references' levels.
    testkit::checkConformance(dir, "bmp", bmp::decode, {0, 0},
                              {// The reference expands 4-bit channels with v << 4; checked below.
                               "bmp/good/blauesglas_16_bitmask444.bmp",
                               // The reference keeps a peer's wrap-around in column 0; below.
                               "bmp/good/blauesglas_4.rle"});
}

TEST(BmpConformance, FilesWhoseReferencesDifferOnPurpose)
{
    CONFORMANCE_OR_SKIP(dir);
    const auto good = dir / "bmp/good";
    // 4-bit channels: our v·17 is the reference's v·16 plus v.
    auto ref = testkit::loadPng(good / "blauesglas_16_bitmask444.png");
    auto ours = testkit::toRgba(decoded(testkit::readBytes(good / "blauesglas_16_bitmask444.bmp")));
    ASSERT_TRUE(ref && ours.pixels.size() == ref->pixels.size());
    for (std::size_t i = 0; i < ours.pixels.size(); ++i) {
        if (i % 4 != 3) {
            ASSERT_EQ(ours.pixels[i], ref->pixels[i] + ref->pixels[i] / 16) << i;
        }
    }

    // RLE4 of an odd width with each row's padding index encoded: the reference's decoder let it
    // wrap into column 0 of the next row, where a delta then leaves it; ours keeps index 0 there.
    const Image image = decoded(testkit::readBytes(good / "blauesglas_4.rle"));
    ref = testkit::loadPng(good / "blauesglas_4.png");
    ours = testkit::toRgba(image);
    ASSERT_TRUE(ref && ours.pixels.size() == ref->pixels.size());
    int wrapped = 0;
    for (std::size_t i = 0; i < ours.pixels.size(); ++i) {
        if (ours.pixels[i] == ref->pixels[i])
            continue;
        const std::size_t pixel = i / 4;
        ASSERT_EQ(pixel % image.width, 0u) << "differs inside a row: " << pixel;
        ASSERT_EQ(image.pixels[pixel], 0);
        ++wrapped;
    }
    EXPECT_GT(wrapped, 0);
}

TEST(BmpConformance, QuestionableFilesWeDecodeMatchAReference)
{
    CONFORMANCE_OR_SKIP(dir);
    // Short and oversized palettes, OS/2 2.x headers, 2-bit pixels, RLE deltas and cuts, wide
    // bit fields. Alpha is dropped, so only opaque reference pixels are compared; channels wider
    // than 8 bits may differ by 1, where the references round them another way.
    const std::vector<std::string> differOnPurpose = {"rgb24prof2.bmp"};  // needs its ICC profile
    int compared = 0;
    for (const auto& entry : testkit::manifestSamples(dir, "bmp")) {
        const fs::path file = dir / entry.path;
        Image image;
        if (entry.group != "questionable" || entry.reference.empty() ||
            std::count(differOnPurpose.begin(), differOnPurpose.end(), file.filename().string()) ||
            !bmp::decode(testkit::readBytes(file), image).ok())
            continue;
        SCOPED_TRACE(entry.path);
        const auto ours = testkit::toRgba(image);
        int best = 256;
        std::stringstream refs(entry.reference);
        for (std::string name; refs >> name;) {
            const auto ref = testkit::loadPng(file.parent_path() / name);
            ASSERT_TRUE(ref && ref->pixels.size() == ours.pixels.size());
            int worst = 0;
            for (std::size_t i = 0; i < ours.pixels.size(); ++i)
                if (i % 4 != 3 && ref->pixels[i | 3] == 255)
                    worst = std::max(worst, std::abs(ours.pixels[i] - ref->pixels[i]));
            best = std::min(best, worst);
        }
        EXPECT_LE(best, 1);
        ++compared;
    }
    EXPECT_GE(compared, 30);
}

TEST(BmpDamaged, TruncatedAndFlippedFilesFailCleanly)
{
    std::vector<std::vector<std::uint8_t>> files;
    Bmp rle;
    rle.width = 5, rle.height = 3, rle.compression = 1, rle.palette.resize(8);
    rle.pixels = {2, 4, 0, 3, 7, 6, 5, 0, 0, 0, 0, 2, 1, 0, 1, 3, 0, 0, 2, 1, 0, 1};
    files.push_back(rle.bytes());
    for (const auto& entry : fs::directory_iterator(testkit::testData("bmp")))
        if (entry.path().extension() == ".bmp")
            files.push_back(testkit::readBytes(entry.path()));
    if (const auto dir = testkit::conformanceDir()) {
        for (const char* name : {"pal1.bmp", "pal4rle.bmp", "pal8rle.bmp", "rgb16-565.bmp", "pal8os2.bmp",
                                 "V5_A1_R5_G5_B5.bmp", "rgb32bf.bmp", "clipboard.dib"})
            files.push_back(testkit::readBytes(*dir / "bmp/good" / name));
    }
    for (auto file : files) {
        testkit::decodeDamaged(file, bmp::decode, 16384);
        // With the file and image sizes zeroed, cut files get past the header to the rows.
        if (file[0] == 'B' && file[14] >= 40) {
            std::fill_n(file.begin() + 2, 4, 0);
            std::fill_n(file.begin() + 34, 4, 0);
            testkit::decodeDamaged(file, bmp::decode, 16384);
        }
    }
}

using formattest::imageOfKind;

TEST(BmpWrite, ReadsBackOnOddSizesAndImageMagickAgrees)
{
    struct Case {
        PixelFormat format;
        unsigned colours, bits;
    };
    const bool haveConvert = testkit::haveTool("convert");
    testkit::ScratchDir scratch;
    for (const Case c :
         {Case{PixelFormat::indexed, 2, 1}, Case{PixelFormat::indexed, 16, 4}, Case{PixelFormat::indexed, 200, 8},
          Case{PixelFormat::grey, 0, 8}, Case{PixelFormat::rgb, 0, 24}}) {
        for (const auto& [w, h] : {std::pair{1u, 1u}, std::pair{47u, 33u}}) {
            SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.colours << " colours, " << w << "x" << h);
            const Image image = imageOfKind(c.format, w, h, c.colours);
            std::vector<std::uint8_t> file;
            ASSERT_TRUE(testkit::bmpBytes(image, file).ok());
            EXPECT_EQ(file[28], c.bits);
            const std::size_t rowBytes = (w * c.bits + 31) / 32 * 4;
            const std::size_t entries = c.format == PixelFormat::grey ? 256 : c.colours;
            EXPECT_EQ(file.size(), 54 + 4 * entries + rowBytes * h);
            const Image back = decoded(file);
            EXPECT_EQ(testkit::toRgba(back).pixels, testkit::toRgba(image).pixels);
            if (c.format == PixelFormat::indexed) {
                EXPECT_EQ(back.palette, image.palette);
            }
            if (haveConvert) {
                const auto path = scratch / "out.bmp";
                testkit::writeBytes(path, file);
                const auto difference = differenceFromImageMagick(path, image);
                ASSERT_TRUE(difference) << "ImageMagick could not read the file";
                EXPECT_EQ(*difference, 0);
            }
        }
    }
    Image one = imageOfKind(PixelFormat::indexed, 3, 1, 1);
    std::vector<std::uint8_t> file;
    ASSERT_TRUE(testkit::bmpBytes(one, file).ok());
    EXPECT_EQ(file[28], 1);
    EXPECT_EQ(decoded(file).palette.size(), 2u) << "a lone colour is written twice";
    one.pixels[0] = 1;  // an index past the palette: not an image the writer accepts
    EXPECT_EQ(testkit::bmpBytes(one, file).error, Error::badArgument);
    if (!haveConvert)
        GTEST_SKIP() << "ImageMagick's convert not found: our own reading was checked, not its";
}

TEST(BmpWrite, WritesInBandsAndLeavesNoPartialFile)
{
    testkit::ScratchDir scratch;
    const auto path = (scratch / "out.bmp").string();
    for (const auto& image :
         {imageOfKind(PixelFormat::rgb, 3000, 300), imageOfKind(PixelFormat::indexed, 999, 77, 16)}) {
        ASSERT_TRUE(bmp::write(image, path).ok());  // several bands of rows
        const Image back = decoded(testkit::readBytes(path));
        EXPECT_EQ(testkit::toRgba(back).pixels, testkit::toRgba(image).pixels);
    }
    Image broken = imageOfKind(PixelFormat::indexed, 4, 4, 2);
    broken.pixels[3] = 9;
    EXPECT_EQ(bmp::write(broken, path).error, Error::badArgument);
    EXPECT_FALSE(bmp::write(broken, (scratch / "missing/out.bmp").string()).ok());
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), {}), 1) << "only the earlier file";
}

TEST(BmpIndependent, FilesFromImageMagickAndNetpbm)
{
    if (!testkit::haveTool("convert") || !testkit::haveTool("ppmtobmp"))
        GTEST_SKIP() << "needs ImageMagick's convert and netpbm's ppmtobmp";
    testkit::ScratchDir s;
    const std::string d = s.path().string() + "/";
    ASSERT_TRUE(testkit::run("convert -size 61x37 -seed 7 plasma:fractal ppm:" + d + "rgb.ppm"));
    ASSERT_TRUE(testkit::run("convert " + d + "rgb.ppm +dither -colors 200 ppm:" + d + "200.ppm"));
    ASSERT_TRUE(testkit::run("convert " + d + "rgb.ppm +dither -colors 12 ppm:" + d + "12.ppm"));
    ASSERT_TRUE(testkit::run("convert " + d + "rgb.ppm -threshold 50% ppm:" + d + "2.ppm"));
    // Name, command, tolerance: ImageMagick widens 5- and 6-bit channels by repeating bits.
    const std::vector<std::tuple<std::string, std::string, int>> makers = {
        {"im-rle8.bmp", "convert 200.ppm -type Palette -compress RLE bmp3:im-rle8.bmp", 0},
        {"im-v5-rle8.bmp", "convert 12.ppm -type Palette -compress RLE bmp:im-v5-rle8.bmp", 0},
        {"im-core24.bmp", "convert rgb.ppm bmp2:im-core24.bmp", 0},
        {"im-info24.bmp", "convert rgb.ppm bmp3:im-info24.bmp", 0},
        {"im-565.bmp", "convert rgb.ppm -define bmp:subtype=RGB565 bmp:im-565.bmp", 1},
        {"im-555.bmp", "convert rgb.ppm -define bmp:subtype=RGB555 bmp:im-555.bmp", 1},
        {"im-grey8.bmp", "convert rgb.ppm -colorspace gray -type Palette bmp3:im-grey8.bmp", 0},
        {"nb-1.bmp", "ppmtobmp -bpp 1 2.ppm > nb-1.bmp", 0},
        {"nb-4.bmp", "ppmtobmp -bpp 4 12.ppm > nb-4.bmp", 0},
        {"nb-8.bmp", "ppmtobmp -bpp 8 200.ppm > nb-8.bmp", 0},
        {"nb-os2-8.bmp", "ppmtobmp -os2 -bpp 8 200.ppm > nb-os2-8.bmp", 0},
        {"nb-24.bmp", "ppmtobmp -bpp 24 rgb.ppm > nb-24.bmp", 0},
    };
    for (const auto& [name, command, tolerance] : makers) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(testkit::run("cd " + d + " && " + command + " 2>/dev/null"));
        const auto difference = differenceFromImageMagick(d + name, decoded(testkit::readBytes(d + name)));
        ASSERT_TRUE(difference) << "ImageMagick could not read the file";
        EXPECT_LE(*difference, tolerance);
    }
}

TEST(BmpIndependent, CommittedFilesMatchTheirReferences)
{
    // Made by ImageMagick and netpbm, with ImageMagick's rendering beside each (see the README).
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(testkit::testData("bmp"))) {
        if (entry.path().extension() != ".bmp")
            continue;
        SCOPED_TRACE(entry.path().filename());
        const auto ref = testkit::loadPng(fs::path(entry.path()).replace_extension(".png"));
        ASSERT_TRUE(ref);
        const auto ours = testkit::toRgba(decoded(testkit::readBytes(entry.path())));
        const auto d = testkit::compare(ours, *ref, true);
        EXPECT_TRUE(d.sameSize);
        EXPECT_EQ(d.maxError, 0);
        ++checked;
    }
    EXPECT_GE(checked, 3);
}
