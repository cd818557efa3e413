// The TIFF writer: every kind for every image kind at odd sizes, read back by libtiff itself and
// by ImageMagick, and the guarantee that a failed write leaves nothing behind.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include "imglib/api/handles.h"
#include "imglib/api/images.h"
#include "imglib/formats/tiff/tiff.h"
#include "imglib/imglib.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"
#include "tests/support/tiff_files.h"

using namespace imglib;

namespace {

namespace fs = testkit::fs;

struct Size {
    std::uint32_t width, height;
};
constexpr Size kSizes[] = {{1, 1}, {47, 33}};

Image picture(PixelFormat format, Size size, unsigned colours = 0)
{
    return formattest::imageOfKind(format, size.width, size.height, colours);
}

struct Case {
    const char* name;
    Image image;
};
std::vector<Case> everyImageKind(Size size)
{
    std::vector<Case> cases;
    cases.push_back({"indexed, 5 colours", picture(PixelFormat::indexed, size, 5)});
    cases.push_back({"indexed, 16 colours", picture(PixelFormat::indexed, size, 16)});
    cases.push_back({"indexed, 200 colours", picture(PixelFormat::indexed, size, 200)});
    cases.push_back({"grey", picture(PixelFormat::grey, size)});
    cases.push_back({"rgb", picture(PixelFormat::rgb, size)});
    return cases;
}

// Unpacks the samples of a stored row of `bits`-bit samples.
std::vector<std::uint8_t> samplesOf(const std::vector<std::uint8_t>& row, unsigned bits, std::size_t count)
{
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t bit = i * bits;
        out[i] = static_cast<std::uint8_t>(row[bit / 8] >> (8 - bits - bit % 8) & ((1u << bits) - 1));
    }
    return out;
}

std::vector<fs::path> filesIn(const fs::path& folder)
{
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(folder))
        out.push_back(entry.path().filename());
    return out;
}

const std::pair<imglib::tiff::Kind, std::uint16_t> kMultiLevelKinds[] = {
    {imglib::tiff::Kind::lzw, COMPRESSION_LZW},
    {imglib::tiff::Kind::uncompressed, COMPRESSION_NONE},
    {imglib::tiff::Kind::packBits, COMPRESSION_PACKBITS},
};

}  // namespace

TEST(TiffWriter, EveryKindOfEveryImageReadsBackWithLibtiff)
{
    const testkit::ScratchDir scratch;
    for (const auto& [kind, compression] : kMultiLevelKinds)
        for (const Size size : kSizes)
            for (const auto& [name, image] : everyImageKind(size)) {
                SCOPED_TRACE(testing::Message()
                             << name << ", " << size.width << " × " << size.height << ", compression " << compression);
                const std::string path = (scratch / "out.tif").string();
                ASSERT_TRUE(imglib::tiff::write(image, kind, path).ok());
                const auto c = tifffiles::inspect(path);
                EXPECT_EQ(c.width, size.width);
                EXPECT_EQ(c.height, size.height);
                EXPECT_EQ(c.compression, compression);
                EXPECT_EQ(c.planar, PLANARCONFIG_CONTIG);
                const bool indexed = image.format == PixelFormat::indexed;
                EXPECT_EQ(c.samples, image.channels());
                EXPECT_EQ(c.photometric, indexed                             ? PHOTOMETRIC_PALETTE
                                         : image.format == PixelFormat::grey ? PHOTOMETRIC_MINISBLACK
                                                                             : PHOTOMETRIC_RGB);
                const unsigned bits = indexed && image.palette.size() <= 16 ? 4 : 8;
                EXPECT_EQ(c.bits, bits);
                EXPECT_EQ(c.predictor,
                          kind == imglib::tiff::Kind::lzw && !indexed ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE);
                if (indexed) {
                    ASSERT_EQ(c.red.size(), std::size_t{1} << bits);
                    for (std::size_t i = 0; i < c.red.size(); ++i) {
                        const Colour expected = i < image.palette.size() ? image.palette[i] : Colour{};
                        EXPECT_EQ(c.red[i], expected.r * 257) << "entry " << i;
                        EXPECT_EQ(c.green[i], expected.g * 257) << "entry " << i;
                        EXPECT_EQ(c.blue[i], expected.b * 257) << "entry " << i;
                    }
                }
                ASSERT_EQ(c.rows.size(), size.height);
                for (std::uint32_t y = 0; y < size.height; ++y) {
                    const std::uint8_t* row = image.row(y);
                    ASSERT_EQ(samplesOf(c.rows[y], bits, image.stride()), std::vector(row, row + image.stride()))
                        << "row " << y;
                }

                // And the reader gives the picture back.
                Image back;
                ASSERT_TRUE(imglib::tiff::decode(testkit::readBytes(path), back).ok());
                EXPECT_EQ(back.format, image.format);
                EXPECT_EQ(back.pixels, image.pixels);
                EXPECT_EQ(testkit::toRgba(back).pixels, testkit::toRgba(image).pixels);
            }
}

// Compression 2: the darker of two colours black, otherwise Rec. 601 luma below 128 black.
TEST(TiffWriter, BilevelHuffmanPages)
{
    const testkit::ScratchDir scratch;
    const std::string path = (scratch / "page.tif").string();
    // Which pixels come out black (1 under MinIsWhite).
    const auto blackPixels = [&](const Image& image) {
        EXPECT_TRUE(imglib::tiff::write(image, imglib::tiff::Kind::ccittHuffman, path).ok());
        const auto c = tifffiles::inspect(path);
        EXPECT_EQ(c.compression, COMPRESSION_CCITTRLE);
        EXPECT_EQ(c.photometric, PHOTOMETRIC_MINISWHITE);
        EXPECT_EQ(c.bits, 1);
        EXPECT_EQ(c.samples, 1);
        std::vector<std::uint8_t> black;
        for (const auto& row : c.rows) {
            const auto bits = samplesOf(row, 1, image.width);
            black.insert(black.end(), bits.begin(), bits.end());
        }
        return black;
    };

    for (const Size size : kSizes) {
        SCOPED_TRACE(testing::Message() << size.width << " × " << size.height);
        // Two palette entries, the darker second; light grey and dark red (luma 76 × 0.299 …).
        Image two = picture(PixelFormat::indexed, size, 2);
        two.palette = {{200, 200, 200}, {150, 0, 0}};
        EXPECT_EQ(blackPixels(two), two.pixels);
        // Two RGB colours both above the threshold: still one black, one white.
        Image pale = picture(PixelFormat::rgb, size);
        std::vector<std::uint8_t> expected;
        for (std::size_t i = 0; i < std::size_t{size.width} * size.height; ++i) {
            const bool darker = i % 3 == 0;
            const Colour c = darker ? Colour{200, 180, 170} : Colour{250, 250, 250};
            pale.pixels[3 * i] = c.r, pale.pixels[3 * i + 1] = c.g, pale.pixels[3 * i + 2] = c.b;
            expected.push_back(darker);
        }
        if (size.width * size.height == 1)
            expected = {0};  // one colour, and light: thresholded white
        EXPECT_EQ(blackPixels(pale), expected);
        // A grey ramp: thresholded at 128.
        Image ramp = picture(PixelFormat::grey, size);
        expected.clear();
        for (auto& v : ramp.pixels)
            expected.push_back(v < 128);
        EXPECT_EQ(blackPixels(ramp), expected);
    }
    // More than two colours in RGB: luma rounded, (0, 218, 0) is 127.97 → 128, white.
    Image three;
    ASSERT_TRUE(allocate(three, 3, 1, PixelFormat::rgb).ok());
    three.pixels = {0, 217, 0, 0, 218, 0, 255, 0, 0};
    EXPECT_EQ(blackPixels(three), (std::vector<std::uint8_t>{1, 0, 1}));
}

TEST(TiffWriter, StripsHoldAbout64KiB)
{
    const testkit::ScratchDir scratch;
    const std::string path = (scratch / "wide.tif").string();
    ASSERT_TRUE(
        imglib::tiff::write(picture(PixelFormat::rgb, {1000, 100}), imglib::tiff::Kind::uncompressed, path).ok());
    EXPECT_EQ(tifffiles::inspect(path).rowsPerStrip, 65536u / 3000);
    ASSERT_TRUE(imglib::tiff::write(picture(PixelFormat::grey, {65535, 3}), imglib::tiff::Kind::packBits, path).ok());
    EXPECT_EQ(tifffiles::inspect(path).rowsPerStrip, 1u) << "a row longer than a strip gets a strip";
}

TEST(TiffWriter, OtherFormatNumbersFailAndCreateNothing)
{
    const testkit::ScratchDir scratch;
    const Image image = picture(PixelFormat::rgb, {3, 2});
    const std::int32_t handle = handleTable().add(image);
    ASSERT_NE(handle, 0);
    for (const int format : {1, 15, 20, -1, 256 + 16}) {
        const std::string path = (scratch / ("out" + std::to_string(format) + ".tif")).string();
        EXPECT_FALSE(writeImage(image, path.c_str(), format).ok()) << format;
        EXPECT_EQ(WriteDIBToFile(handle, path.c_str(), static_cast<std::int16_t>(format)), 0) << format;
    }
    EXPECT_TRUE(filesIn(scratch.path()).empty());
    const std::string good = (scratch / "good.tif").string();
    EXPECT_NE(WriteDIBToFile(handle, good.c_str(), 16), 0);
    handleTable().release(handle);
}

TEST(TiffWriter, AFailedWriteKeepsTheEarlierFileAndLeavesNoTemporary)
{
    const testkit::ScratchDir scratch;
    const fs::path target = scratch / "out.tif";
    const std::vector<std::uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    testkit::writeBytes(target, earlier);
    const auto nothingChanged = [&](const char* why) {
        EXPECT_EQ(testkit::readBytes(target), earlier) << why;
        EXPECT_EQ(filesIn(scratch.path()), std::vector<fs::path>{"out.tif"}) << why;
    };

    Image broken = picture(PixelFormat::indexed, {4, 4}, 3);
    broken.pixels[5] = 9;  // past the palette
    EXPECT_EQ(imglib::tiff::write(broken, imglib::tiff::Kind::lzw, target.string()).error, Error::badArgument);
    nothingChanged("an image that is not well formed");

    // The file system refuses the data half-way: a file size limit below the image's size.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Status status =
        imglib::tiff::write(picture(PixelFormat::rgb, {200, 200}), imglib::tiff::Kind::uncompressed, target.string());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(status.error, Error::io);
    nothingChanged("a write cut short by the file system");

    EXPECT_FALSE(imglib::tiff::write(picture(PixelFormat::grey, {4, 4}), imglib::tiff::Kind::lzw,
                                     (scratch / "no/such/folder.tif").string())
                     .ok());
    nothingChanged("a folder that does not exist");

    ASSERT_TRUE(imglib::tiff::write(picture(PixelFormat::grey, {4, 4}), imglib::tiff::Kind::lzw, target.string()).ok());
    EXPECT_NE(testkit::readBytes(target), earlier);
    EXPECT_EQ(filesIn(scratch.path()), std::vector<fs::path>{"out.tif"}) << "replaced, nothing left beside it";
}

// An independent reader: ImageMagick converts each file to PPM, which must hold our pixels.
TEST(TiffWriter, ImageMagickReadsOurFiles)
{
    if (!testkit::haveTool("convert") || !testkit::haveTool("tiffinfo"))
        GTEST_SKIP() << "skipped: ImageMagick's convert or libtiff's tiffinfo is not installed";
    const testkit::ScratchDir scratch;
    const std::string tif = (scratch / "out.tif").string();
    const std::string ppm = (scratch / "out.ppm").string();
    for (const auto& [name, image] : everyImageKind({47, 33}))
        for (const auto kind : {imglib::tiff::Kind::lzw, imglib::tiff::Kind::uncompressed, imglib::tiff::Kind::packBits,
                                imglib::tiff::Kind::ccittHuffman}) {
            SCOPED_TRACE(testing::Message() << name << ", kind " << static_cast<int>(kind));
            ASSERT_TRUE(imglib::tiff::write(image, kind, tif).ok());
            EXPECT_TRUE(testkit::run("tiffinfo -D " + tif + " >/dev/null 2>&1"));
            ASSERT_TRUE(testkit::run("convert " + tif + " -depth 8 " + ppm));
            const auto bytes = testkit::readBytes(ppm);
            const std::string header = "P6\n47 33\n255\n";
            ASSERT_GT(bytes.size(), header.size());
            ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header);
            std::vector<std::uint8_t> theirs(bytes.begin() + header.size(), bytes.end());
            Image back;
            ASSERT_TRUE(imglib::tiff::decode(testkit::readBytes(tif), back).ok());
            const auto ours = testkit::toRgba(back).pixels;
            std::vector<std::uint8_t> ourRgb;
            for (std::size_t i = 0; i < ours.size(); i += 4)
                ourRgb.insert(ourRgb.end(), {ours[i], ours[i + 1], ours[i + 2]});
            EXPECT_EQ(theirs, ourRgb);
        }
}
