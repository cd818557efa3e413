// The GIF reader: the conformance files, the pages of animations against ImageMagick's, the rules
// of composition on small files made here byte by byte, and the ways a damaged file must fail.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

#include "imglib/formats/gif/gif.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, std::uint32_t v) { out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }

// Image data every decoder reads: 9-bit codes, one a pixel, a clear code every 254 of them so
// that the code size never grows.
Bytes lzwData(const Bytes& indices)
{
    Bytes packed;
    std::uint32_t bits = 0, count = 0;
    const auto emit = [&](std::uint32_t code) {
        bits |= code << count;
        for (count += 9; count >= 8; count -= 8, bits >>= 8)
            packed.push_back(std::uint8_t(bits));
    };
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i % 254 == 0)
            emit(256);
        emit(indices[i]);
    }
    emit(257);
    packed.push_back(std::uint8_t(bits));
    Bytes out = {8};
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - at);
        out.push_back(std::uint8_t(n));
        out.insert(out.end(), packed.begin() + at, packed.begin() + at + n);
    }
    out.push_back(0);
    return out;
}

const Bytes kColours = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};       // K R G B
const Bytes kLocalColours = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0};  // B G R K

struct GifFrame {
    std::uint16_t left, top, width, height;
    Bytes indices;
    int transparent = -1;
    int disposal = 0;
    Bytes local = {};  // a local table of four entries
};

Bytes gifFile(std::uint16_t width, std::uint16_t height, const std::vector<GifFrame>& frames)
{
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    put16(out, width);
    put16(out, height);
    out.insert(out.end(), {0x81, 0, 0});
    out.insert(out.end(), kColours.begin(), kColours.end());
    for (const auto& f : frames) {
        const auto flags = std::uint8_t(f.disposal << 2 | (f.transparent >= 0 ? 1 : 0));
        out.insert(out.end(), {0x21, 0xF9, 4, flags, 0, 0, std::uint8_t(f.transparent), 0});
        out.push_back(0x2C);
        for (const std::uint32_t v : {f.left, f.top, f.width, f.height})
            put16(out, v);
        out.push_back(f.local.empty() ? 0 : 0x81);
        out.insert(out.end(), f.local.begin(), f.local.end());
        const Bytes data = lzwData(f.indices);
        out.insert(out.end(), data.begin(), data.end());
    }
    out.push_back(0x3B);
    return out;
}

// A page as its kind ('i' or 'r') and a letter a pixel: K R G B, W for white.
std::string describe(const Image& page)
{
    std::string out = page.format == PixelFormat::indexed ? "i:" : "r:";
    const auto rgba = testkit::toRgba(page);
    const std::map<std::uint32_t, char> names = {
        {0x000000, 'K'}, {0xFF0000, 'R'}, {0x00FF00, 'G'}, {0x0000FF, 'B'}, {0xFFFFFF, 'W'}};
    for (std::size_t i = 0; i < rgba.pixels.size(); i += 4) {
        const auto found =
            names.find(std::uint32_t(rgba.pixels[i]) << 16 | rgba.pixels[i + 1] << 8 | rgba.pixels[i + 2]);
        out += found == names.end() ? '?' : found->second;
    }
    return out;
}

std::vector<Image> allPages(const Bytes& file)
{
    std::unique_ptr<Pages> pages;
    const Status opened = gif::openPages(file, pages);
    EXPECT_TRUE(opened) << opened.detail;
    std::vector<Image> out(opened ? pages->count() : 0);
    for (std::uint32_t n = 0; n < out.size(); ++n)
        EXPECT_TRUE(pages->read(n, out[n]));
    return out;
}

// A reference of raw pixels: `channels` bytes each, in the order `order` gives (2, 1, 0 for BGR).
testkit::Rgba rawReference(const Bytes& raw, std::uint32_t width, std::uint32_t height, unsigned channels,
                           std::array<int, 4> order)
{
    testkit::Rgba out{width, height, Bytes(std::size_t{width} * height * 4, 255)};
    for (std::size_t i = 0; i < std::size_t{width} * height && (i + 1) * channels <= raw.size(); ++i)
        for (unsigned c = 0; c < 4; ++c)
            if (order[c] >= 0)
                out.pixels[i * 4 + c] = raw[i * channels + order[c]];
    return out;
}

// The references of the conformance folder, each for one page of one file.
struct Reference {
    std::string file;
    std::uint32_t page;
    testkit::Rgba pixels;
};

std::vector<Reference> references(const testkit::fs::path& dir)
{
    namespace fs = testkit::fs;
    std::vector<Reference> out;
    // gif2rgb's screens, exact for the files of one frame without transparency.
    for (const char* name : {"gifgrid", "porsche", "solid2", "treescap", "treescap-interlaced"}) {
        const auto gif = testkit::readBytes(dir / "giflib" / (std::string(name) + ".gif"));
        const std::uint32_t w = gif[6] | gif[7] << 8, h = gif[8] | gif[9] << 8;
        out.push_back({std::string("giflib/") + name + ".gif", 0,
                       rawReference(testkit::readBytes(dir / "giflib/reference" / (std::string(name) + ".rgb")), w, h,
                                    3, {0, 1, 2, -1})});
    }
    // wuffs: the screen after each frame (BGRA behind a 16-byte header), and palette indices.
    for (std::uint32_t n = 0; n < 4; ++n) {
        const auto nie = testkit::readBytes(dir / ("wuffs/animated-red-blue.00000" + std::to_string(n) + ".nie"));
        out.push_back({"wuffs/animated-red-blue.gif", n,
                       testkit::overWhite(rawReference(Bytes(nie.begin() + 16, nie.end()), 64, 48, 4, {2, 1, 0, 3}))});
    }
    for (const char* name : {"bricks-dither", "bricks-nodither"}) {
        const auto palette = testkit::readBytes(dir / "wuffs" / (std::string(name) + ".palette"));
        Bytes bgra;
        for (const auto index : testkit::readBytes(dir / "wuffs" / (std::string(name) + ".indexes")))
            bgra.insert(bgra.end(), palette.begin() + index * 4, palette.begin() + index * 4 + 4);
        out.push_back({std::string("wuffs/") + name + ".gif", 0, rawReference(bgra, 160, 120, 4, {2, 1, 0, 3})});
    }
    out.push_back({"wuffs/bricks-gray.gif", 0,
                   rawReference(testkit::readBytes(dir / "wuffs/bricks-gray.indexes"), 160, 120, 1, {0, 0, 0, -1})});
    // Composited over transparency by image-rs and Pillow; the first frame unless named.
    for (const auto& entry : fs::recursive_directory_iterator(dir / "image-rs/reference")) {
        if (!entry.is_regular_file())
            continue;
        const auto relative = entry.path().lexically_relative(dir / "image-rs/reference").string();
        out.push_back(
            {"image-rs/" + relative.substr(0, relative.size() - 4), 0, testkit::overWhite(*testkit::loadPng(entry))});
    }
    out.push_back(
        {"wuffs/pjw-thumbnail.gif", 0, testkit::overWhite(*testkit::loadPng(dir / "wuffs/pjw-thumbnail.png"))});
    for (const auto& [gif, png] : {std::pair{"different_transparency", "different_transparency_merged"},
                                   std::pair{"dispose_none_load_end", "dispose_none_load_end_second"},
                                   std::pair{"dispose_prev_first_frame", "dispose_prev_first_frame_seeked"},
                                   std::pair{"missing_background", "missing_background_first_frame"}})
        out.push_back({std::string("pillow/") + gif + ".gif", 1,
                       testkit::overWhite(*testkit::loadPng(dir / "pillow/reference" / (std::string(png) + ".png")))});
    return out;
}

enum class Expect { decode, fail, either };

// Cut or broken on purpose; the collections of adversarial files may fail or decode.
Expect expectationOf(const std::string& path)
{
    for (const char* broken : {"truncated", "no-frames", "pixel-data-none", "pixel-data-not-enough", "zero-loop-count",
                               "decompression_bomb.gif", "issue_2811"})
        if (path.find(broken) != std::string::npos)
            return Expect::fail;
    for (const char* adversarial : {"crashtest/", "regression/issue", "stall/", "zero_width", "bomb_extents"})
        if (path.find(adversarial) != std::string::npos)
            return Expect::either;
    return Expect::decode;
}

}  // namespace

// Every good file decodes, every page of it reads, the first as decode gives it; where there is a
// reference, the page is exactly it.
TEST(Gif, Conformance)
{
    CONFORMANCE_FOLDER_OR_SKIP(dir, "gif");
    std::multimap<std::string, Reference> byFile;
    for (auto& reference : references(dir))
        byFile.emplace(reference.file, std::move(reference));
    std::vector<std::string> paths;
    for (const auto& entry : testkit::fs::recursive_directory_iterator(dir))
        if (entry.path().extension() == ".gif")
            paths.push_back(entry.path().lexically_relative(dir).string());
    std::sort(paths.begin(), paths.end());
    std::size_t compared = 0;
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        const auto file = testkit::readBytes(dir / path);
        const Expect expect = expectationOf(path);
        Image image;
        const Status status = gif::decode(file, image);
        if (!status) {
            EXPECT_NE(expect, Expect::decode) << status.detail;
            EXPECT_TRUE(image.pixels.empty());
            continue;
        }
        ASSERT_NE(expect, Expect::fail) << "a broken file was accepted";
        const auto pages = allPages(file);
        ASSERT_FALSE(pages.empty());
        EXPECT_EQ(testkit::toRgba(pages[0]).pixels, testkit::toRgba(image).pixels);
        for (const auto& page : pages)
            EXPECT_TRUE(isWellFormed(page));
        const auto [first, last] = byFile.equal_range(path);
        for (auto r = first; r != last; ++r, ++compared) {
            SCOPED_TRACE("page " + std::to_string(r->second.page));
            ASSERT_LT(r->second.page, pages.size());
            const auto d = testkit::compare(testkit::toRgba(pages[r->second.page]), r->second.pixels, true);
            EXPECT_TRUE(d.sameSize);
            EXPECT_EQ(d.maxError, 0);
        }
    }
    EXPECT_EQ(compared, byFile.size()) << "a reference's file was not decoded";
}

// Each disposal method, frames of several sizes and places, a transparent colour, interlacing:
// every page as ImageMagick coalesces the animation, flattened over white. Pages read in any
// order, the first as decode gives it.
TEST(Gif, PagesAreTheFramesAsImageMagickCoalescesThem)
{
    if (!testkit::haveTool("convert"))
        GTEST_SKIP() << "skipped: ImageMagick is missing";
    const testkit::ScratchDir scratch;
    // ImageMagick starts its canvas with the background colour, not transparent: the first frame,
    // which covers the screen, is left in place.
    const std::string first = "-dispose None -page 40x30+0+0 \\( -size 40x30 gradient:yellow-navy \\) ";
    const std::string others =
        " -page +5+5 \\( -size 20x10 xc:red -fill lime -draw 'rectangle 5,2 14,7' -transparent red \\)"
        " -page +15+8 \\( -size 30x20 gradient:white-black \\) -page +28+3 \\( -size 12x25 xc:orange \\)";
    for (const char* options : {"-dispose None", "-dispose Background", "-dispose Previous",
                                "-dispose Previous -interlace GIF", "-dispose Background -interlace GIF"}) {
        SCOPED_TRACE(options);
        const auto gif = scratch / "animation.gif";
        ASSERT_TRUE(testkit::run("convert -delay 10 " + first + options + others + " -loop 0 " + gif.string()));
        ASSERT_TRUE(testkit::run("convert " + gif.string() + " -coalesce -background white -alpha remove -alpha off " +
                                 (scratch / "coalesced-%d.png").string()));
        const auto file = testkit::readBytes(gif);
        const auto pages = allPages(file);
        ASSERT_EQ(pages.size(), 4u);
        for (std::size_t n = 0; n < pages.size(); ++n) {
            const auto reference = testkit::loadPng(scratch / ("coalesced-" + std::to_string(n) + ".png"));
            ASSERT_TRUE(reference.has_value());
            const auto d = testkit::compare(testkit::toRgba(pages[n]), *reference, true);
            EXPECT_TRUE(d.sameSize && d.maxError == 0) << "page " << n << ": " << d.maxError;
        }
        std::unique_ptr<Pages> backwards;
        ASSERT_TRUE(gif::openPages(file, backwards));
        for (std::uint32_t n = 4; n-- > 0;) {
            Image page;
            ASSERT_TRUE(backwards->read(n, page));
            EXPECT_EQ(page.pixels, pages[n].pixels) << "page " << n << " read backwards";
        }
        EXPECT_EQ(testkit::decodeOk(gif::decode, file).pixels, pages[0].pixels);
    }
}

// Indexed while one table shows and nothing is transparent; clipping; disposal to white.
TEST(Gif, PagesKeepTheirTableUntilAnotherOrTransparencyShows)
{
    const Bytes mixed = {0, 1, 2, 3, 3, 2, 1, 0};
    const struct {
        const char* what;
        std::vector<GifFrame> frames;
        std::vector<std::string> pages;
    } cases[] = {
        {"a frame over the whole screen", {{0, 0, 4, 2, mixed}}, {"i:KRGBBGRK"}},
        {"its transparent pixels show white", {{0, 0, 4, 2, mixed, 3}}, {"r:KRGWWGRK"}},
        {"a first frame short of the screen, clipped", {{2, 1, 3, 3, Bytes(9, 1)}}, {"r:WWWWWWRR"}},
        {"the same table stays indexed, another turns RGB",
         {{0, 0, 4, 2, Bytes(8, 0)}, {1, 0, 2, 1, {1, 2}}, {0, 1, 1, 1, {0}, -1, 0, kLocalColours}},
         {"i:KKKKKKKK", "i:KRGKKKKK", "r:KRGKBKKK"}},
        {"disposal to the background clears to white, to the previous restores",
         {{0, 0, 4, 2, Bytes(8, 1)}, {0, 0, 2, 2, Bytes(4, 2), -1, 2}, {3, 1, 1, 1, {3}, -1, 3}, {3, 0, 1, 1, {0}}},
         {"i:RRRRRRRR", "i:GGRRGGRR", "r:WWRRWWRB", "r:WWRKWWRR"}},
        {"a frame past the screen draws nothing",
         {{0, 0, 4, 2, Bytes(8, 2)}, {10, 10, 2, 2, Bytes(4, 1)}},
         {"i:GGGGGGGG", "i:GGGGGGGG"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> pages;
        for (const auto& page : allPages(gifFile(4, 2, c.frames)))
            pages.push_back(describe(page));
        EXPECT_EQ(pages, c.pages);
    }
}

TEST(Gif, DamagedAndHostileFilesFail)
{
    const GifFrame frame{0, 0, 4, 2, Bytes(8, 1)};
    const auto good = gifFile(4, 2, {frame, frame});
    const auto withScreen = [&](std::uint16_t width, std::uint16_t height) {
        auto file = good;
        file[6] = std::uint8_t(width), file[7] = std::uint8_t(width >> 8);
        file[8] = std::uint8_t(height), file[9] = std::uint8_t(height >> 8);
        return file;
    };
    const auto headerThen = [&](std::uint8_t next) {
        Bytes file(good.begin(), good.begin() + 25);
        file.push_back(next);
        return file;
    };
    const struct {
        const char* what;
        Bytes file;
        Error error;
    } cases[] = {
        {"screen over the limits", withScreen(65535, 65535), Error::tooLarge},
        {"screen its data could never fill", withScreen(16000, 16000), Error::truncated},
        {"empty screen", withScreen(0, 2), Error::badHeader},
        {"frame over the limits", gifFile(4, 2, {{0, 0, 65535, 65535, Bytes(8, 1)}}), Error::tooLarge},
        {"no frame", headerThen(0x3B), Error::badData},
        {"unknown block", headerThen(0x99), Error::badData},
        {"pixels missing", gifFile(4, 2, {{0, 0, 4, 2, Bytes(5, 1)}}), Error::truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(testkit::decodeError(gif::decode, c.file), c.error);
    }
    // Every cut inside the first frame fails; one inside the second leaves a file of one page.
    const std::size_t firstFrameEnds = 25 + (good.size() - 26) / 2;
    for (std::size_t length = 0; length < firstFrameEnds; ++length)
        EXPECT_NE(testkit::decodeError(gif::decode, Bytes(good.begin(), good.begin() + length)), Error::none)
            << "cut to " << length;
    const Bytes cut(good.begin(), good.end() - 4);
    EXPECT_EQ(describe(testkit::decodeOk(gif::decode, cut)), "i:RRRRRRRR");
    std::unique_ptr<Pages> pages;
    ASSERT_TRUE(gif::openPages(cut, pages));
    EXPECT_EQ(pages->count(), 1u);
    testkit::decodeDamaged(good, gif::decode);
    // Either signature, and nothing else.
    auto old = good;
    old[4] = '7';
    EXPECT_EQ(describe(testkit::decodeOk(gif::decode, old)), "i:RRRRRRRR");
    for (const char* other : {"GIF88a", "GIF8", "gif89a"})
        EXPECT_FALSE(gif::sniff(Bytes(other, other + std::strlen(other))));
}
