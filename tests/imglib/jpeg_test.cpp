// The JPEG reader: the conformance files, the kinds of stream it maps to each image kind, and
// the ways a damaged or hostile stream must fail.
//
// tests/data/jpeg: a 48 × 32 picture written by cjpeg (baseline, progressive, grey, restart
// markers every row) with djpeg's decoding as reference, and by ImageMagick as Adobe YCCK with
// ImageMagick's decoding as reference; many-scans.jpg is a valid 16 × 16 progressive grey file of
// 694 scans (each AC coefficient refined bit by bit), which djpeg decodes.
#include <gtest/gtest.h>

#include "imglib/formats/jpeg/jpeg.h"
#include "tests/support/testkit.h"

using namespace imglib;
using testkit::testData;

namespace {

// The references come from libjpeg-turbo with the islow IDCT and fancy upsampling, or from a
// decoder that differs by rounding in the IDCT and the chroma upsampling.
constexpr testkit::Tolerance kLossy{16, 1.5};

std::vector<std::uint8_t> dataFile(const std::string& name) { return testkit::readBytes(testData("jpeg/" + name)); }

// Decodes `name` from tests/data/jpeg and compares it with the PNG of the same name.
testkit::Difference differenceFromReference(const std::string& name, PixelFormat expected)
{
    Image image;
    const auto status = jpeg::decode(dataFile(name + ".jpg"), image);
    EXPECT_TRUE(status.ok()) << name << ": " << status.detail;
    EXPECT_EQ(image.format, expected) << name;
    const auto reference = testkit::loadPng(testData("jpeg/" + name + ".png"));
    EXPECT_TRUE(reference.has_value()) << name;
    return reference ? testkit::compare(testkit::toRgba(image), *reference, true) : testkit::Difference{};
}

// The byte offset of the first marker `code` (FF code), or 0.
std::size_t markerAt(const std::vector<std::uint8_t>& file, std::uint8_t code)
{
    for (std::size_t i = 2; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == code)
            return i;
    return 0;
}

}  // namespace

TEST(Jpeg, Conformance)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "jpeg", jpeg::decode, kLossy);
}

// Questionable files may fail; those that decode must look like their reference.
TEST(Jpeg, QuestionableFilesThatDecodeMatchTheirReference)
{
    CONFORMANCE_OR_SKIP(dir);
    int decoded = 0;
    for (const auto& entry : testkit::manifestSamples(dir, "jpeg")) {
        if (entry.group != "questionable" || entry.reference.empty())
            continue;
        SCOPED_TRACE(entry.path);
        Image image;
        if (!jpeg::decode(testkit::readBytes(dir / entry.path), image))
            continue;
        ++decoded;
        auto reference = testkit::loadPng((dir / entry.path).parent_path() / entry.reference);
        ASSERT_TRUE(reference.has_value());
        // Its reference is in stored order; Exif asks for a quarter turn clockwise.
        if (entry.path == "jpeg/questionable/hopper_orientation_6.jpg")
            reference = testkit::turnedClockwise(*reference);
        const auto d = testkit::compare(testkit::toRgba(image), *reference, true);
        EXPECT_TRUE(d.sameSize);
        EXPECT_LE(d.maxError, kLossy.maxError);
        EXPECT_LE(d.meanError, kLossy.meanError);
    }
    EXPECT_GE(decoded, 6) << "CMYK, stray bytes between header segments, EXIF orientation …";
}

TEST(Jpeg, EachColourSpaceBecomesItsImageKind)
{
    // The same decoder as the reference: exactly its pixels.
    for (const char* name : {"rgb-baseline", "rgb-progressive", "rgb-restarts"}) {
        const auto d = differenceFromReference(name, PixelFormat::rgb);
        EXPECT_TRUE(d.sameSize) << name;
        EXPECT_EQ(d.maxError, 0) << name;
    }
    const auto grey = differenceFromReference("grey", PixelFormat::grey);
    EXPECT_EQ(grey.maxError, 0);
    // Adobe YCCK with inverted inks, against ImageMagick's naive conversion.
    const auto inks = differenceFromReference("cmyk-adobe", PixelFormat::rgb);
    EXPECT_TRUE(inks.sameSize);
    EXPECT_LE(inks.maxError, 2);
    EXPECT_LE(inks.meanError, 0.5);
}

TEST(Jpeg, SniffWantsTheStartOfImageMarker)
{
    const std::vector<std::uint8_t> soi = {0xFF, 0xD8, 0xFF, 0xE0};
    EXPECT_TRUE(jpeg::sniff(soi));
    EXPECT_FALSE(jpeg::sniff(std::span(soi).first(2)));
    EXPECT_FALSE(jpeg::sniff(std::vector<std::uint8_t>{0xFF, 0xD8, 0x00, 0xE0}));
    EXPECT_TRUE(jpeg::sniff(dataFile("grey.jpg")));
    Image image;
    EXPECT_EQ(jpeg::decode(std::vector<std::uint8_t>{'B', 'M', 0, 0}, image).error, Error::badHeader);
}

// libjpeg would paper over a cut stream with grey rows, with only a warning; it is a failure here.
TEST(Jpeg, EveryTruncationFails)
{
    for (const char* name : {"rgb-baseline.jpg", "rgb-progressive.jpg", "grey.jpg", "cmyk-adobe.jpg"}) {
        const auto file = dataFile(name);
        for (std::size_t length = 0; length < file.size(); ++length) {
            Image image;
            const auto status = jpeg::decode(std::span(file).first(length), image);
            ASSERT_FALSE(status.ok()) << name << " cut to " << length << " bytes";
            EXPECT_TRUE(image.pixels.empty());
        }
    }
}

TEST(Jpeg, CorruptEntropyDataFails)
{
    // A restart marker out of sequence, then bytes that are no Huffman code at all.
    auto file = dataFile("rgb-restarts.jpg");
    const std::size_t restart = markerAt(file, 0xD0);
    ASSERT_GT(restart, 0u);
    file[restart + 1] = 0xD5;
    Image image;
    EXPECT_FALSE(jpeg::decode(file, image).ok());

    file = dataFile("rgb-baseline.jpg");
    const std::size_t scan = markerAt(file, 0xDA);
    ASSERT_GT(scan, 0u);
    for (std::size_t i = scan + 20; i < scan + 60; ++i)
        file[i] = 0xFF;
    EXPECT_FALSE(jpeg::decode(file, image).ok());
}

TEST(Jpeg, OverLimitSizesAreRefusedBeforeDecoding)
{
    auto file = dataFile("grey.jpg");
    const std::size_t frame = markerAt(file, 0xC0);
    ASSERT_GT(frame, 0u);
    const auto setSize = [&](std::uint16_t width, std::uint16_t height) {
        file[frame + 5] = static_cast<std::uint8_t>(height >> 8);
        file[frame + 6] = static_cast<std::uint8_t>(height);
        file[frame + 7] = static_cast<std::uint8_t>(width >> 8);
        file[frame + 8] = static_cast<std::uint8_t>(width);
    };
    Image image;
    setSize(65500, 65500);  // the largest side libjpeg takes, and over the pixel count
    EXPECT_EQ(jpeg::decode(file, image).error, Error::tooLarge);
    setSize(65500, 4099);  // 2^28 pixels and a few more
    EXPECT_EQ(jpeg::decode(file, image).error, Error::tooLarge);
    // Within the limits, but 822 bytes cannot hold 4 million blocks: refused, not allocated.
    setSize(65500, 4098);
    EXPECT_EQ(jpeg::decode(file, image).error, Error::truncated);
    EXPECT_TRUE(image.pixels.empty());
}

TEST(Jpeg, TooManyScansFail)
{
    Image image;
    EXPECT_EQ(jpeg::decode(dataFile("many-scans.jpg"), image).error, Error::badData);
}

TEST(Jpeg, DamagedFilesNeverCrash)
{
    for (const char* name :
         {"rgb-baseline.jpg", "rgb-progressive.jpg", "rgb-restarts.jpg", "grey.jpg", "cmyk-adobe.jpg"})
        testkit::decodeDamaged(dataFile(name), jpeg::decode);
}
