// The PNG reader: the conformance files, each colour type and depth mapped to its image kind,
// what a file states besides its pixels, and the ways a damaged or hostile file must fail. Small
// files are made here chunk by chunk, so that every sample is known.
#include <gtest/gtest.h>

#include <zlib.h>

#include <fstream>
#include <map>

#include "imglib/core/orientation.h"
#include "imglib/formats/png/png.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
using formattest::put32be;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const std::string& digits)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

void putChunk(Bytes& out, const std::string& type, const Bytes& data)
{
    put32be(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    put32be(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

struct Chunk {
    std::string type;
    Bytes data;
};

// A non-interlaced PNG of stored rows (filter type 0); `before` and `after` the image data.
Bytes pngFile(std::uint32_t width, std::uint32_t height, std::uint8_t depth, std::uint8_t colourType,
              const std::vector<Bytes>& rows, const std::vector<Chunk>& before = {},
              const std::vector<Chunk>& after = {})
{
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header, raw;
    put32be(header, width);
    put32be(header, height);
    header.insert(header.end(), {depth, colourType, 0, 0, 0});
    putChunk(out, "IHDR", header);
    for (const auto& chunk : before)
        putChunk(out, chunk.type, chunk.data);
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

// Two RGB pixels, (0, 40, 80) and (120, 160, 200).
Bytes twoPixels(const std::vector<Chunk>& before = {}, const std::vector<Chunk>& after = {})
{
    return pngFile(2, 1, 8, 2, {hex("00285078a0c8")}, before, after);
}

// Byte offset of the first chunk of that type, 0 when there is none.
std::size_t chunkAt(const Bytes& file, const std::string& type)
{
    const auto at = std::search(file.begin(), file.end(), type.begin(), type.end());
    return at == file.end() ? 0 : static_cast<std::size_t>(at - file.begin()) - 4;
}

// A reference in stored order turned upright.
testkit::Rgba upright(const testkit::Rgba& stored, Orientation orientation)
{
    Image image;
    EXPECT_TRUE(allocate(image, stored.width, stored.height, PixelFormat::rgb));
    for (std::size_t i = 0; i < image.pixels.size() / 3; ++i)
        std::copy_n(stored.pixels.begin() + 4 * i, 3, image.pixels.begin() + 3 * i);
    EXPECT_TRUE(makeUpright(image, orientation));
    return testkit::toRgba(image);
}

// image-png's checksums of the opaque images of at most 8 bits, as it decodes them: grey one
// byte a pixel, palette and RGB three.
std::map<std::string, std::string> checksums(const testkit::fs::path& dir)
{
    std::map<std::string, std::string> out;
    std::ifstream in(dir / "pngsuite-crc32/image-png_results.txt");
    for (std::string line; std::getline(in, line);) {
        std::string path = line.substr(0, line.rfind(':'));
        path = path.rfind("tests/pngsuite/", 0) == 0 ? "pngsuite/" + path.substr(15)
                                                     : "image-png-bugfixes/" + path.substr(15);
        out[path] = line.substr(line.rfind(':') + 2);
    }
    return out;
}

std::string checksumOf(const Image& image)
{
    Bytes pixels = image.pixels;
    if (image.format == PixelFormat::indexed) {
        pixels.clear();
        for (const std::uint8_t i : image.pixels)
            pixels.insert(pixels.end(), {image.palette[i].r, image.palette[i].g, image.palette[i].b});
    }
    return std::to_string(crc32(0, pixels.data(), static_cast<uInt>(pixels.size())));
}

enum class Expect { decode, fail, either };

// Damaged on purpose: the x files, and two whose ancillary chunk's checksum does not match. The
// collections of crashers and the APNG files with broken animation chunks may give their image.
Expect expectationOf(const std::string& path)
{
    const std::string name = testkit::fs::path(path).filename().string();
    if (path.rfind("pngsuite/x", 0) == 0 || name.rfind("x_", 0) == 0 || name == "cicp_pq.png" ||
        name == "issue#430.png")
        return Expect::fail;
    for (const char* broken : {"crashers/", "apng/pillow/chunk_", "apng/pillow/sequence_", "apng/pillow/syntax_"})
        if (path.find(broken) != std::string::npos)
            return Expect::either;
    return Expect::decode;
}

}  // namespace

// Every good file decodes to libpng's own expansion of it composited over white, and where
// image-png's checksums apply, to those; every damaged one fails holding nothing.
TEST(Png, Conformance)
{
    CONFORMANCE_FOLDER_OR_SKIP(dir, "png");
    const auto crcs = checksums(dir);
    // The orientation their Exif block records; references are in stored order.
    const std::map<std::string, Orientation> turned = {
        {"image-png-bugfixes/F-exif-chunk-early.png", Orientation::rightTop},
        {"libpng-misc/pngtest.png", Orientation::leftTop}};
    std::vector<std::string> paths;
    for (const auto& entry : testkit::fs::recursive_directory_iterator(dir))
        if (entry.path().extension() == ".png")
            paths.push_back(entry.path().lexically_relative(dir).string());
    std::sort(paths.begin(), paths.end());
    int decoded = 0, checked = 0;
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        const auto file = testkit::readBytes(dir / path);
        const Expect expect = expectationOf(path);
        Image image;
        const Status status = png::decode(file, image);
        if (!status) {
            EXPECT_NE(expect, Expect::decode) << status.detail;
            EXPECT_TRUE(image.pixels.empty() && image.width == 0);
            continue;
        }
        ASSERT_NE(expect, Expect::fail) << "a damaged file was accepted";
        ASSERT_TRUE(isWellFormed(image));
        if (expect == Expect::either)
            continue;
        ++decoded;
        const auto reference = testkit::overWhite(*testkit::loadPng(dir / path));
        const auto turn = turned.find(path);
        const auto d = testkit::compare(testkit::toRgba(image),
                                        turn == turned.end() ? reference : upright(reference, turn->second), true);
        EXPECT_TRUE(d.sameSize);
        // An ICC profile (sRGB in each such file here) goes through the conversion to sRGB.
        EXPECT_LE(d.maxError, chunkAt(file, "iCCP") > 0 ? 2 : 0);
        const bool opaque = file[24] <= 8 && file[25] != 4 && file[25] != 6 && chunkAt(file, "tRNS") == 0;
        if (crcs.count(path) && opaque && turn == turned.end() && chunkAt(file, "iCCP") == 0) {
            ++checked;
            EXPECT_EQ(checksumOf(image), crcs.at(path));
        }
    }
    EXPECT_GE(decoded, 400);
    EXPECT_GE(checked, 100);
}

TEST(Png, EachColourTypeBecomesItsImageKind)
{
    const struct {
        const char* what;
        std::uint8_t depth, colourType;
        std::string stored;  // three pixels
        std::vector<Chunk> chunks;
        PixelFormat kind;
        std::string shown;  // their RGB
    } cases[] = {
        {"grey, 1 bit", 1, 0, "a0", {}, PixelFormat::grey, "ffffff000000ffffff"},
        {"grey, 2 bits, tRNS", 2, 0, "6c", {{"tRNS", hex("0002")}}, PixelFormat::grey, "555555ffffffffffff"},
        {"grey, 16 bits", 16, 0, "12348080ffff", {}, PixelFormat::grey, "121212808080ffffff"},
        {"grey and alpha", 8, 4, "0080c8ff6400", {}, PixelFormat::grey, "7f7f7fc8c8c8ffffff"},
        {"grey and alpha, 16 bits", 16, 4, "00008080ffffffff12340000", {}, PixelFormat::grey, "7f7f7fffffffffffff"},
        {"rgb, tRNS",
         8,
         2,
         "0a141e0a141f000000",
         {{"tRNS", hex("000a0014001e")}},
         PixelFormat::rgb,
         "ffffff0a141f000000"},
        // The key is compared at 16 bits: a colour that differs below the top byte shows.
        {"rgb, 16 bits, tRNS",
         16,
         2,
         "010102020303010002020303ffff00008080",
         {{"tRNS", hex("010102020303")}},
         PixelFormat::rgb,
         "ffffff010203ff0080"},
        {"rgba", 8, 6, "ff0000800000ffff09090900", {}, PixelFormat::rgb, "ff7f7f0000ffffffff"},
        {"rgba, 16 bits",
         16,
         6,
         "ffff00000000808000000000ffffffff0102030405060000",
         {},
         PixelFormat::rgb,
         "ff7f7f0000ffffffff"},
        // Entry 0 is transparent, entry 1 half so; index 3 lies past the palette and shows black.
        {"palette, 2 bits, tRNS",
         2,
         3,
         "1c",
         {{"PLTE", hex("ff00000000ff0a141e")}, {"tRNS", hex("0080")}},
         PixelFormat::indexed,
         "ffffff7f7fff000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image =
            testkit::decodeOk(png::decode, pngFile(3, 1, c.depth, c.colourType, {hex(c.stored)}, c.chunks));
        EXPECT_EQ(image.format, c.kind);
        const auto rgba = testkit::toRgba(image);
        Bytes rgb;
        for (std::size_t i = 0; i < rgba.pixels.size(); i += 4)
            rgb.insert(rgb.end(), rgba.pixels.begin() + i, rgba.pixels.begin() + i + 3);
        EXPECT_EQ(rgb, hex(c.shown));
    }
}

TEST(Png, StatedPixelSizeAndOrientation)
{
    // 3780 and 7560 pixels per metre: 96.012 and 192.024 per inch.
    const Chunk perMetre{"pHYs", hex("00000ec400001d8801")}, aspectOnly{"pHYs", hex("00000ec400001d8800")};
    const auto exif = [](std::uint8_t orientation) {
        Bytes block = hex("4d4d002a00000008000101120003000000010000000000000000");
        block[19] = orientation;
        return Chunk{"eXIf", block};
    };
    const struct {
        const char* what;
        std::vector<Chunk> before, after;
        std::uint32_t width, height;
        Resolution resolution;
        std::uint8_t firstRed;
    } cases[] = {
        {"pixels per metre", {perMetre}, {}, 2, 1, {96.012, 192.024, true}, 0},
        {"aspect ratio only", {aspectOnly}, {}, 2, 1, {}, 0},
        {"Exif turns it a quarter, its pixel size too", {perMetre, exif(6)}, {}, 1, 2, {192.024, 96.012, true}, 0},
        {"Exif after the image data turns it upside down", {}, {exif(3)}, 2, 1, {}, 120},
        {"Exif out of range", {exif(9)}, {}, 2, 1, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image = testkit::decodeOk(png::decode, twoPixels(c.before, c.after));
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        EXPECT_NEAR(image.resolution.x, c.resolution.x, 1e-9);
        EXPECT_NEAR(image.resolution.y, c.resolution.y, 1e-9);
        EXPECT_EQ(image.resolution.metric, c.resolution.metric);
        EXPECT_EQ(image.pixels[0], c.firstRed);
    }
}

TEST(Png, DamagedAndHostileFilesFail)
{
    const auto good = twoPixels({{"tEXt", {'a', 0, 'b'}}});
    const auto flipped = [&](const std::string& chunk, std::size_t at) {
        auto file = good;
        file[chunkAt(file, chunk) + at] ^= 1;
        return file;
    };
    const auto claiming = [](std::uint32_t width, std::uint32_t height) {
        auto file = pngFile(1, 1, 8, 0, {Bytes{0}});
        Bytes header;
        put32be(header, width);
        put32be(header, height);
        header.insert(header.end(), {8, 0, 0, 0, 0});
        Bytes fixed(file.begin(), file.begin() + 8);
        putChunk(fixed, "IHDR", header);
        fixed.insert(fixed.end(), file.begin() + 33, file.end());
        return fixed;
    };
    const struct {
        const char* what;
        Bytes file;
        Error error;
    } cases[] = {
        {"image data checksum", flipped("IDAT", 8), Error::badData},
        {"ancillary chunk checksum", flipped("tEXt", 9), Error::badData},
        {"too few rows", pngFile(2, 2, 8, 2, {hex("00285078a0c8")}), Error::badData},
        {"unknown critical chunk", twoPixels({{"CRIT", {1}}}), Error::badHeader},
        {"palette image without a palette", pngFile(2, 1, 8, 3, {Bytes(2, 0)}), Error::badHeader},
        {"no IEND", Bytes(good.begin(), good.end() - 12), Error::truncated},
        {"signature of a text-mode transfer",
         [&] {
             auto f = good;
             f[4] = '\n';
             return f;
         }(),
         Error::badHeader},
        {"wider than the limits", claiming(70000, 1), Error::tooLarge},
        {"more pixels than the limits", claiming(65535, 65535), Error::tooLarge},
        // Sizes within the limits whose few bytes of data could never inflate to them.
        {"16000 x 16000 from one row", claiming(16000, 16000), Error::truncated},
        {"65535 x 4096 from one row", claiming(65535, 4096), Error::truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Image image;
        const Status status = png::decode(c.file, image);
        EXPECT_EQ(status.error, c.error) << status.detail;
        EXPECT_TRUE(image.pixels.empty());
    }
    EXPECT_TRUE(png::sniff(std::span(good).first(8)));
    EXPECT_FALSE(png::sniff(std::span(good).first(7)));
    formattest::expectCutsFail(good, png::decode);
    testkit::decodeDamaged(good, png::decode);
}
