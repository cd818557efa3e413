// The PNG reader: the conformance files, each colour type and depth mapped to its image kind,
// what a file states besides its pixels, and the ways a damaged or hostile file must fail.
//
// Small files are made here chunk by chunk, so that every sample value is known; interlaced
// ones come from ImageMagick.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "imglib/core/orientation.h"
#include "imglib/formats/png/png.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
using formattest::put32be;

namespace {

using Bytes = std::vector<std::uint8_t>;

void putChunk(Bytes& out, const std::string& type, const Bytes& data)
{
    put32be(out, static_cast<std::uint32_t>(data.size()));
    Bytes body(type.begin(), type.end());
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    put32be(out, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

struct Chunk {
    std::string type;
    Bytes data;
};

// A non-interlaced PNG of the given stored rows (each with filter type 0), `before` the image
// data and `after` it.
Bytes pngFile(std::uint32_t width, std::uint32_t height, std::uint8_t depth, std::uint8_t colourType,
              const std::vector<Bytes>& rows, const std::vector<Chunk>& before = {},
              const std::vector<Chunk>& after = {})
{
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    put32be(header, width);
    put32be(header, height);
    header.insert(header.end(), {depth, colourType, 0, 0, 0});
    putChunk(out, "IHDR", header);
    for (const auto& chunk : before)
        putChunk(out, chunk.type, chunk.data);
    Bytes raw;
    for (const auto& row : rows) {
        raw.push_back(0);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(size);
    compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(size);
    putChunk(out, "IDAT", packed);
    for (const auto& chunk : after)
        putChunk(out, chunk.type, chunk.data);
    putChunk(out, "IEND", {});
    return out;
}

// A one-row RGB file of `pixels` pixels.
Bytes rgbRow(std::uint32_t pixels, const std::vector<Chunk>& before = {}, const std::vector<Chunk>& after = {})
{
    Bytes row(std::size_t{pixels} * 3);
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<std::uint8_t>(i * 40);
    return pngFile(pixels, 1, 8, 2, {row}, before, after);
}

Bytes physChunk(std::uint32_t x, std::uint32_t y, std::uint8_t unit)
{
    Bytes data;
    put32be(data, x);
    put32be(data, y);
    data.push_back(unit);
    return data;
}

// A big-endian Exif structure of one entry: the orientation.
Bytes exifOrientation(std::uint16_t orientation)
{
    return {'M',
            'M',
            0,
            42,
            0,
            0,
            0,
            8,
            0,
            1,
            0x01,
            0x12,
            0,
            3,
            0,
            0,
            0,
            1,
            static_cast<std::uint8_t>(orientation >> 8),
            static_cast<std::uint8_t>(orientation),
            0,
            0,
            0,
            0,
            0,
            0};
}

// Byte offset of the first chunk of that type.
std::size_t chunkAt(const Bytes& file, const std::string& type)
{
    const auto at = std::search(file.begin(), file.end(), type.begin(), type.end());
    return at == file.end() ? 0 : static_cast<std::size_t>(at - file.begin()) - 4;
}

// The RGB a reference shows with its alpha composited over white, rounded.
testkit::Rgba overWhite(testkit::Rgba image)
{
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        const unsigned a = image.pixels[i + 3];
        for (int c = 0; c < 3; ++c)
            image.pixels[i + c] = static_cast<std::uint8_t>(255 - a + (image.pixels[i + c] * a + 127) / 255);
        image.pixels[i + 3] = 255;
    }
    return image;
}

// A reference in stored order turned upright.
testkit::Rgba upright(const testkit::Rgba& stored, Orientation orientation)
{
    Image image;
    EXPECT_TRUE(allocate(image, stored.width, stored.height, PixelFormat::rgb));
    for (std::size_t i = 0; i < std::size_t{stored.width} * stored.height; ++i)
        std::copy_n(stored.pixels.begin() + 4 * i, 3, image.pixels.begin() + 3 * i);
    EXPECT_TRUE(makeUpright(image, orientation));
    return testkit::toRgba(image);
}

// True when a chunk runs past the end of the file or its checksum does not match.
bool hasDamagedChunk(const Bytes& file)
{
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t length = std::size_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        if (length > file.size() - at - 12)
            return true;
        const std::uint32_t stored = static_cast<std::uint32_t>(file[at + 8 + length]) << 24 |
                                     file[at + 9 + length] << 16 | file[at + 10 + length] << 8 | file[at + 11 + length];
        if (crc32(0, file.data() + at + 4, static_cast<uInt>(length + 4)) != stored)
            return true;
        if (std::equal(file.begin() + at + 4, file.begin() + at + 8, "IEND"))
            break;
        at += length + 12;
    }
    return false;
}

// The CRC-32 of the decoded pixels as image-png's results.txt computes it for opaque images of at
// most 8 bits: grey one byte a pixel, palette and RGB three.
std::uint32_t pixelsCrc(const Image& image)
{
    Bytes pixels = image.pixels;
    if (image.format == PixelFormat::indexed) {
        pixels.clear();
        for (const std::uint8_t index : image.pixels)
            pixels.insert(pixels.end(), {image.palette[index].r, image.palette[index].g, image.palette[index].b});
    }
    return static_cast<std::uint32_t>(crc32(0, pixels.data(), static_cast<uInt>(pixels.size())));
}

std::map<std::string, std::string> resultsCrcs(const testkit::fs::path& dir)
{
    std::map<std::string, std::string> crcs;
    std::ifstream in(dir / "pngsuite-crc32/image-png_results.txt");
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.rfind(':');
        std::string path = line.substr(0, colon);
        for (const auto& [from, to] :
             {std::pair{"tests/pngsuite/", "pngsuite/"}, std::pair{"tests/bugfixes/", "image-png-bugfixes/"}})
            if (path.rfind(from, 0) == 0)
                path = to + path.substr(std::string(from).size());
        crcs[path] = line.substr(colon + 2);
    }
    return crcs;
}

enum class Expect { decode, fail, either };

// Damaged on purpose: the x files of PngSuite and image-png, and any chunk whose checksum does
// not match. The collections of crashers and the APNG files with broken animation chunks may
// fail or give their default image.
Expect expectationOf(const std::string& path, const Bytes& file)
{
    const std::string name = testkit::fs::path(path).filename().string();
    if ((path.rfind("pngsuite/", 0) == 0 && name[0] == 'x') || name.rfind("x_", 0) == 0 || hasDamagedChunk(file))
        return Expect::fail;
    if (path.find("crashers/") != std::string::npos)
        return Expect::either;
    if (path.rfind("apng/pillow/", 0) == 0)
        for (const char* broken : {"chunk_", "sequence_", "syntax_"})
            if (name.rfind(broken, 0) == 0)
                return Expect::either;
    return Expect::decode;
}

}  // namespace

// Every good file decodes to libpng's expansion of it composited over white; where image-png's
// checksums apply (opaque, at most 8 bits), to those exactly.
TEST(Png, Conformance)
{
    CONFORMANCE_OR_SKIP(conformance);
    const auto dir = conformance / "png";
    if (!testkit::fs::is_directory(dir))
        GTEST_SKIP() << "skipped: no png conformance folder";
    const auto crcs = resultsCrcs(dir);
    // The orientation their Exif block records; references are in stored order.
    const std::map<std::string, Orientation> turned = {
        {"image-png-bugfixes/F-exif-chunk-early.png", Orientation::rightTop},
        {"libpng-misc/pngtest.png", Orientation::leftTop}};
    std::vector<std::string> paths;
    for (const auto& entry : testkit::fs::recursive_directory_iterator(dir))
        if (entry.path().extension() == ".png")
            paths.push_back(entry.path().lexically_relative(dir).string());
    std::sort(paths.begin(), paths.end());
    int decoded = 0, checked = 0, failed = 0;
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        const auto file = testkit::readBytes(dir / path);
        const Expect expect = expectationOf(path, file);
        Image image;
        const Status status = png::decode(file, image);
        if (!status) {
            ++failed;
            EXPECT_NE(expect, Expect::decode) << status.detail;
            EXPECT_NE(*status.detail, '\0');
            EXPECT_TRUE(image.pixels.empty() && image.width == 0);
            continue;
        }
        ASSERT_NE(expect, Expect::fail) << "a damaged file was accepted";
        ASSERT_TRUE(isWellFormed(image));
        if (expect == Expect::either)
            continue;
        ++decoded;
        auto reference = testkit::loadPng(dir / path);
        ASSERT_TRUE(reference.has_value());
        const auto turn = turned.find(path);
        const bool turns = turn != turned.end();
        const auto expected = turns ? upright(overWhite(*reference), turn->second) : overWhite(*reference);
        const auto d = testkit::compare(testkit::toRgba(image), expected, true);
        EXPECT_TRUE(d.sameSize);
        // An ICC profile (sRGB in every such file here) goes through the conversion to sRGB.
        EXPECT_LE(d.maxError, chunkAt(file, "iCCP") > 0 ? 2 : 0);
        const auto crc = crcs.find(path);
        const bool opaque = file[24] <= 8 && file[25] != 4 && file[25] != 6 && chunkAt(file, "tRNS") == 0;
        if (crc != crcs.end() && opaque && !turns && chunkAt(file, "iCCP") == 0) {
            ++checked;
            EXPECT_EQ(std::to_string(pixelsCrc(image)), crc->second);
        }
    }
    EXPECT_GE(decoded, 400);
    EXPECT_GE(checked, 100);
    EXPECT_GE(failed, 30);
}

TEST(Png, EachColourTypeBecomesItsImageKind)
{
    const Bytes palette = {255, 0, 0, 0, 0, 255, 10, 20, 30};
    const struct {
        const char* what;
        std::uint8_t depth, colourType;
        Bytes row;  // stored samples of three pixels
        std::vector<Chunk> chunks;
        PixelFormat kind;
        Bytes rgb;  // what the three pixels show
    } cases[] = {
        {"grey, 1 bit", 1, 0, {0b10100000}, {}, PixelFormat::grey, {255, 255, 255, 0, 0, 0, 255, 255, 255}},
        {"grey, 2 bits, tRNS keys 2",
         2,
         0,
         {0b01101100},
         {{"tRNS", {0, 2}}},
         PixelFormat::grey,
         {85, 85, 85, 255, 255, 255, 255, 255, 255}},
        {"grey, 16 bits",
         16,
         0,
         {0x12, 0x34, 0x80, 0x80, 0xFF, 0xFF},
         {},
         PixelFormat::grey,
         {18, 18, 18, 128, 128, 128, 255, 255, 255}},
        {"grey and alpha, 8 bits",
         8,
         4,
         {0, 128, 200, 255, 100, 0},
         {},
         PixelFormat::grey,
         {127, 127, 127, 200, 200, 200, 255, 255, 255}},
        {"grey and alpha, 16 bits",
         16,
         4,
         {0, 0, 0x80, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0, 0},
         {},
         PixelFormat::grey,
         {127, 127, 127, 255, 255, 255, 255, 255, 255}},
        {"rgb, 8 bits, tRNS keys one colour",
         8,
         2,
         {10, 20, 30, 10, 20, 31, 0, 0, 0},
         {{"tRNS", {0, 10, 0, 20, 0, 30}}},
         PixelFormat::rgb,
         {255, 255, 255, 10, 20, 31, 0, 0, 0}},
        // The key is compared at 16 bits: a colour that differs below the top byte shows.
        {"rgb, 16 bits, tRNS",
         16,
         2,
         {1, 1, 2, 2, 3, 3, 1, 0, 2, 2, 3, 3, 0xFF, 0xFF, 0, 0, 0x80, 0x80},
         {{"tRNS", {1, 1, 2, 2, 3, 3}}},
         PixelFormat::rgb,
         {255, 255, 255, 1, 2, 3, 255, 0, 128}},
        {"rgba, 8 bits",
         8,
         6,
         {255, 0, 0, 128, 0, 0, 255, 255, 9, 9, 9, 0},
         {},
         PixelFormat::rgb,
         {255, 127, 127, 0, 0, 255, 255, 255, 255}},
        {"rgba, 16 bits",
         16,
         6,
         {0xFF, 0xFF, 0, 0, 0, 0, 0x80, 0x80, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 0, 0},
         {},
         PixelFormat::rgb,
         {255, 127, 127, 0, 0, 255, 255, 255, 255}},
        // Entry 0 fully transparent, entry 1 half; index 3 lies past the palette and shows black.
        {"palette, 2 bits, tRNS",
         2,
         3,
         {0b00011100},
         {{"PLTE", palette}, {"tRNS", {0, 128}}},
         PixelFormat::indexed,
         {255, 255, 255, 127, 127, 255, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image = testkit::decodeOk(png::decode, pngFile(3, 1, c.depth, c.colourType, {c.row}, c.chunks));
        EXPECT_EQ(image.format, c.kind);
        const auto rgba = testkit::toRgba(image);
        Bytes rgb;
        for (std::size_t i = 0; i < rgba.pixels.size(); i += 4)
            rgb.insert(rgb.end(), rgba.pixels.begin() + i, rgba.pixels.begin() + i + 3);
        EXPECT_EQ(rgb, c.rgb);
    }
}

// Every pass of the interlace lands where it belongs: the same picture stored both ways decodes
// the same, for each sample size.
TEST(Png, InterlacedFilesReadAsTheirPlainTwins)
{
    if (!testkit::haveTool("convert"))
        GTEST_SKIP() << "skipped: ImageMagick is missing";
    const testkit::ScratchDir scratch;
    const auto picture = formattest::testPicture(13, 11, 1000);
    // ImageMagick's commands, "@" standing for the interlace option.
    for (const char* command : {"convert {in} @ PNG8:{out}", "convert {in} @ PNG24:{out}", "convert {in} @ PNG48:{out}",
                                "convert {in} -colorspace Gray -depth 16 @ PNG:{out}",
                                "convert {in} -alpha set -channel A -fx '(i+j)%3/2' +channel @ PNG64:{out}"}) {
        SCOPED_TRACE(command);
        const auto as = [&](const std::string& interlace) {
            std::string c = command;
            c.replace(c.find('@'), 1, interlace);
            const auto path = formattest::encodeWithTool(scratch, picture, c);
            return path ? testkit::readBytes(*path) : Bytes{};
        };
        const auto plain = as(""), interlaced = as("-interlace PNG");
        ASSERT_TRUE(plain.size() > 28 && interlaced.size() > 28);
        EXPECT_EQ(interlaced[28], 1) << "not interlaced";
        const auto a = testkit::decodeOk(png::decode, plain);
        const auto b = testkit::decodeOk(png::decode, interlaced);
        EXPECT_EQ(a.format, b.format);
        EXPECT_EQ(testkit::toRgba(a).pixels, testkit::toRgba(b).pixels);
    }
}

TEST(Png, StatedPixelSizeAndOrientation)
{
    const struct {
        const char* what;
        std::vector<Chunk> before, after;
        std::uint32_t width, height;
        Resolution resolution;
    } cases[] = {
        {"pixels per metre", {{"pHYs", physChunk(3780, 7560, 1)}}, {}, 2, 1, {96.012, 192.024, true}},
        {"aspect ratio only", {{"pHYs", physChunk(3780, 7560, 0)}}, {}, 2, 1, {}},
        {"Exif turns a quarter",
         {{"pHYs", physChunk(3780, 7560, 1)}, {"eXIf", exifOrientation(6)}},
         {},
         1,
         2,
         {192.024, 96.012, true}},
        {"Exif after the image data", {}, {{"eXIf", exifOrientation(3)}}, 2, 1, {}},
        {"Exif out of range", {{"eXIf", exifOrientation(9)}}, {}, 2, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image = testkit::decodeOk(png::decode, rgbRow(2, c.before, c.after));
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        EXPECT_NEAR(image.resolution.x, c.resolution.x, 1e-9);
        EXPECT_NEAR(image.resolution.y, c.resolution.y, 1e-9);
        EXPECT_EQ(image.resolution.metric, c.resolution.metric);
    }
    // Upside down: the second pixel comes first.
    const auto upsideDown = testkit::decodeOk(png::decode, rgbRow(2, {}, {{"eXIf", exifOrientation(3)}}));
    EXPECT_EQ(upsideDown.pixels[0], 120);
}

TEST(Png, DamagedFilesFail)
{
    const auto good = rgbRow(4, {{"tEXt", {'a', 0, 'b'}}});
    const struct {
        const char* what;
        Bytes file;
        Error error;
    } cases[] = {
        {"image data checksum",
         [&] {
             auto f = good;
             f[chunkAt(f, "IDAT") + 8] ^= 1;
             return f;
         }(),
         Error::badData},
        {"ancillary chunk checksum",
         [&] {
             auto f = good;
             f[chunkAt(f, "tEXt") + 9] ^= 1;
             return f;
         }(),
         Error::badData},
        {"zlib checksum",
         [&] {
             auto f = pngFile(4, 1, 8, 2, {Bytes(12, 7)});
             const std::size_t idat = chunkAt(f, "IDAT");
             const std::size_t length = f[idat + 3];
             f[idat + 8 + length - 1] ^= 1;
             const auto crc = crc32(0, f.data() + idat + 4, static_cast<uInt>(length + 4));
             for (int i = 0; i < 4; ++i)
                 f[idat + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
             return f;
         }(),
         Error::badData},
        {"too few rows", pngFile(4, 2, 8, 2, {Bytes(12, 7)}), Error::badData},
        {"unknown critical chunk", rgbRow(4, {{"CRIT", {1}}}), Error::badHeader},
        {"palette image without a palette", pngFile(4, 1, 8, 3, {Bytes(4, 0)}), Error::badHeader},
        {"no IEND", Bytes(good.begin(), good.end() - 12), Error::truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Image image;
        const Status status = png::decode(c.file, image);
        EXPECT_EQ(status.error, c.error) << status.detail;
        EXPECT_TRUE(image.pixels.empty());
    }
    formattest::expectCutsFail(good, png::decode);
    testkit::decodeDamaged(good, png::decode);
}

TEST(Png, OverLimitSizesAreRefusedBeforeDecoding)
{
    const struct {
        std::uint32_t width, height;
        Error error;
    } cases[] = {
        {70000, 1, Error::tooLarge},
        {1, 70000, Error::tooLarge},
        {65535, 65535, Error::tooLarge},
        // Fine sizes whose few bytes of data could never inflate to them.
        {16000, 16000, Error::truncated},
        {65535, 4096, Error::truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        auto file = pngFile(1, 1, 8, 0, {Bytes{0}});
        for (int i = 0; i < 4; ++i) {
            file[16 + i] = static_cast<std::uint8_t>(c.width >> (24 - 8 * i));
            file[20 + i] = static_cast<std::uint8_t>(c.height >> (24 - 8 * i));
        }
        const auto crc = crc32(0, file.data() + 12, 17);
        for (int i = 0; i < 4; ++i)
            file[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        EXPECT_EQ(testkit::decodeError(png::decode, file), c.error);
    }
}

TEST(Png, SniffWantsTheSignature)
{
    const auto file = rgbRow(1);
    EXPECT_TRUE(png::sniff(file));
    EXPECT_TRUE(png::sniff(std::span(file).first(8)));
    EXPECT_FALSE(png::sniff(std::span(file).first(7)));
    auto textMode = file;
    textMode[4] = '\n';
    EXPECT_FALSE(png::sniff(textMode));
    EXPECT_EQ(testkit::decodeError(png::decode, textMode), Error::badHeader);
}
