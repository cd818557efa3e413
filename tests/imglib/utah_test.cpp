// The Utah RLE reader: the conformance files, files written here instruction by instruction, the
// files netpbm writes (read back by netpbm and ImageMagick as well), and damaged files.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "imglib/formats/registry.h"
#include "imglib/formats/utah/utah.h"
#include "tests/support/testkit.h"

using namespace imglib;

namespace {

enum : std::uint8_t { kNoBackground = 0x02, kAlpha = 0x04, kComment = 0x08 };

struct HeaderFields {
    std::uint16_t width = 1, height = 1;
    std::uint8_t flags = kNoBackground;
    std::uint8_t channels = 1;
    std::vector<std::uint8_t> background{};  // without kNoBackground
    std::uint8_t maps = 0, mapLog2 = 0;
    std::vector<std::uint16_t> map{};  // maps × 2^mapLog2 entries, channel after channel
    std::string comment{};             // with kComment
    std::int16_t xpos = 0, ypos = 0;
    std::uint8_t bits = 8;
};

// Writes a Utah RLE file the way the format describes it, so tests can say what they draw.
class UtahWriter {
public:
    explicit UtahWriter(const HeaderFields& h)
    {
        word(0xCC52);
        word(static_cast<std::uint16_t>(h.xpos));
        word(static_cast<std::uint16_t>(h.ypos));
        word(h.width);
        word(h.height);
        data.insert(data.end(), {h.flags, h.channels, h.bits, h.maps, h.mapLog2});
        if (h.flags & kNoBackground) {
            data.push_back(0);
        } else {
            auto background = h.background;
            background.resize(h.channels / 2 * 2 + 1);
            data.insert(data.end(), background.begin(), background.end());
        }
        for (const auto entry : h.map)
            word(entry);
        if (h.flags & kComment) {
            word(static_cast<std::uint16_t>(h.comment.size()));
            data.insert(data.end(), h.comment.begin(), h.comment.end());
            if (h.comment.size() % 2)
                data.push_back(0);
        }
    }

    UtahWriter& skipLines(std::uint16_t n) { return counted(1, n); }
    UtahWriter& setColour(std::uint8_t c) { return op(2, c); }
    UtahWriter& skipPixels(std::uint16_t n) { return counted(3, n); }
    UtahWriter& literal(const std::vector<std::uint8_t>& values)
    {
        counted(5, static_cast<std::uint16_t>(values.size() - 1));
        data.insert(data.end(), values.begin(), values.end());
        if (values.size() % 2)
            data.push_back(0);
        return *this;
    }
    UtahWriter& run(std::uint32_t n, std::uint8_t value)
    {
        counted(6, static_cast<std::uint16_t>(n - 1));
        word(value);
        return *this;
    }
    UtahWriter& end() { return op(7, 0); }

    std::vector<std::uint8_t> data;

private:
    UtahWriter& op(std::uint8_t code, std::uint8_t operand)
    {
        data.insert(data.end(), {code, operand});
        return *this;
    }
    // The short form when the operand fits a byte, else the long form.
    UtahWriter& counted(std::uint8_t code, std::uint16_t operand)
    {
        if (operand < 256)
            return op(code, static_cast<std::uint8_t>(operand));
        op(static_cast<std::uint8_t>(code | 0x40), 0);
        word(operand);
        return *this;
    }
    void word(std::uint16_t v) { data.insert(data.end(), {std::uint8_t(v & 0xFF), std::uint8_t(v >> 8)}); }
};

Image decoded(const std::vector<std::uint8_t>& file) { return testkit::decodeOk(utah::decode, file); }
Error errorOf(const std::vector<std::uint8_t>& file) { return testkit::decodeError(utah::decode, file); }

}  // namespace

TEST(Utah, ConformanceFiles)
{
    CONFORMANCE_OR_SKIP(dir);
    testkit::checkConformance(dir, "utah-rle", utah::decode, {0, 0});
}

TEST(Utah, GreyRowsBottomUpWithTheHeaderPositionIgnored)
{
    for (const std::int16_t position : std::initializer_list<std::int16_t>{0, 500, -20}) {
        UtahWriter w({.width = 3, .height = 2, .xpos = position, .ypos = position});
        w.setColour(0).literal({1, 2, 3}).skipLines(1).setColour(0).run(3, 9).end();
        const Image image = decoded(w.data);
        EXPECT_EQ(image.format, PixelFormat::grey);
        EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{9, 9, 9, 1, 2, 3})) << position;
    }
}

TEST(Utah, BackgroundFillsWhatTheStreamLeaves)
{
    // 3 × 2 RGB: the bottom row gets red everywhere and green at x = 1 only; the top row nothing.
    HeaderFields h{.width = 3, .height = 2, .flags = 0, .channels = 3, .background = {10, 20, 30}};
    auto draw = [](UtahWriter& w) {
        w.setColour(0).run(3, 200).setColour(1).skipPixels(1).literal({201}).end();
        return w.data;
    };
    UtahWriter withBackground(h);
    EXPECT_EQ(decoded(draw(withBackground)).pixels,
              (std::vector<std::uint8_t>{10, 20, 30, 10, 20, 30, 10, 20, 30,  //
                                         200, 20, 30, 200, 201, 30, 200, 20, 30}));
    h.flags = kNoBackground;
    UtahWriter withoutBackground(h);
    EXPECT_EQ(decoded(draw(withoutBackground)).pixels, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                                                                  200, 0, 0, 200, 201, 0, 200, 0, 0}));
}

TEST(Utah, AlphaAndUndeclaredChannelsAreDropped)
{
    HeaderFields h{
        .width = 2, .height = 1, .flags = kNoBackground | kAlpha | kComment, .channels = 1, .comment = "odd"};
    UtahWriter w(h);
    w.setColour(255).literal({7, 7}).setColour(0).literal({1, 2}).setColour(4).run(2, 99).end();
    EXPECT_EQ(decoded(w.data).pixels, (std::vector<std::uint8_t>{1, 2}));
}

TEST(Utah, LongFormsAndClipping)
{
    // 300 × 3. Bottom: a long run, then a literal and a run that pass the row's end. Middle: a
    // long skip and a long literal clipped at the end. Top: skipped past the row, then drawn on.
    HeaderFields h{.width = 300, .height = 3};
    std::vector<std::uint8_t> ramp(270);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<std::uint8_t>(i + 1);
    UtahWriter w(h);
    w.setColour(0).run(290, 5).literal({6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6}).run(1000, 8);
    w.skipLines(1).setColour(0).skipPixels(260).literal(ramp);
    w.skipLines(1).setColour(0).skipPixels(400).run(3, 1).literal({2});
    w.skipLines(600).setColour(0).run(300, 77).end();

    const Image image = decoded(w.data);
    const std::uint8_t* top = image.row(0);
    const std::uint8_t* middle = image.row(1);
    const std::uint8_t* bottom = image.row(2);
    EXPECT_EQ(bottom[289], 5);
    EXPECT_EQ(bottom[290], 6);
    EXPECT_EQ(bottom[299], 6);
    EXPECT_EQ(middle[259], 0);
    EXPECT_EQ(middle[260], 1);
    EXPECT_EQ(middle[299], 40);
    EXPECT_EQ(std::count(top, top + 300, 0), 300) << "nothing drawn after a skip past the row";
}

TEST(Utah, ColourMaps)
{
    // Four entries per map; values past the map take its last entry.
    const std::vector<std::uint16_t> grey = {0x0000, 0x5500, 0xAA00, 0xFF00};
    std::vector<std::uint16_t> three = grey;
    for (const std::uint16_t e :
         std::initializer_list<std::uint16_t>{0x1000, 0x2000, 0x3000, 0x4000, 0x8000, 0x8100, 0x8200, 0x8300})
        three.push_back(e);

    UtahWriter greyMapped({.width = 3, .maps = 1, .mapLog2 = 2, .map = grey});
    greyMapped.setColour(0).literal({1, 3, 200}).end();
    const Image g = decoded(greyMapped.data);
    EXPECT_EQ(g.format, PixelFormat::grey);
    EXPECT_EQ(g.pixels, (std::vector<std::uint8_t>{0x55, 0xFF, 0xFF}));

    UtahWriter pseudo({.width = 2, .maps = 3, .mapLog2 = 2, .map = three});
    pseudo.setColour(0).literal({2, 9}).end();
    const Image p = decoded(pseudo.data);
    EXPECT_EQ(p.format, PixelFormat::rgb);
    EXPECT_EQ(p.pixels, (std::vector<std::uint8_t>{0xAA, 0x30, 0x82, 0xFF, 0x40, 0x83}));

    UtahWriter each({.width = 1, .channels = 3, .maps = 3, .mapLog2 = 2, .map = three});
    each.setColour(0).literal({1}).setColour(1).literal({2}).setColour(2).literal({3}).end();
    EXPECT_EQ(decoded(each.data).pixels, (std::vector<std::uint8_t>{0x55, 0x30, 0x83}));

    UtahWriter shared({.width = 1, .channels = 3, .maps = 1, .mapLog2 = 2, .map = grey});
    shared.setColour(0).literal({1}).setColour(1).literal({2}).setColour(2).literal({3}).end();
    EXPECT_EQ(decoded(shared.data).pixels, (std::vector<std::uint8_t>{0x55, 0xAA, 0xFF}));

    // A long map: only the first 256 entries can be reached, the rest are read past.
    std::vector<std::uint16_t> wide(512);
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<std::uint16_t>((255 - i % 256) << 8);
    UtahWriter longMap({.width = 2, .maps = 1, .mapLog2 = 9, .map = wide});
    longMap.setColour(0).literal({0, 255}).end();
    EXPECT_EQ(decoded(longMap.data).pixels, (std::vector<std::uint8_t>{255, 0}));
}

TEST(Utah, MalformedFilesFailCleanly)
{
    auto drawn = [](const HeaderFields& h) {
        UtahWriter w(h);
        w.setColour(0).run(1, 1).end();
        return w.data;
    };
    EXPECT_EQ(errorOf(drawn({.width = 65535, .height = 65535})), Error::tooLarge);
    EXPECT_EQ(errorOf(drawn({.width = 0, .height = 4})), Error::badHeader);
    EXPECT_EQ(errorOf(drawn({.bits = 16})), Error::unsupported);
    EXPECT_EQ(errorOf(drawn({.channels = 2})), Error::unsupported);
    EXPECT_EQ(errorOf(drawn({.channels = 0})), Error::unsupported);
    EXPECT_EQ(errorOf(drawn({.maps = 2, .mapLog2 = 1, .map = {0, 0, 0, 0}})), Error::unsupported);
    EXPECT_EQ(errorOf(drawn({.maps = 1, .mapLog2 = 17})), Error::badHeader);
    EXPECT_EQ(errorOf(drawn({.maps = 3, .mapLog2 = 8, .map = std::vector<std::uint16_t>(700)})), Error::truncated)
        << "a map shorter than its declared length";

    UtahWriter unknown({.width = 4});
    unknown.setColour(0).data.insert(unknown.data.end(), {0x04, 0x00});
    EXPECT_EQ(errorOf(unknown.data), Error::badData);

    UtahWriter unfinished({.width = 4, .height = 2});
    unfinished.setColour(0).literal({1, 2, 3, 4});
    EXPECT_EQ(errorOf(unfinished.data), Error::truncated) << "no end before the last row";

    UtahWriter shortLiteral({.width = 4});
    shortLiteral.setColour(0).literal({1, 2, 3, 4});
    shortLiteral.data.resize(shortLiteral.data.size() - 2);
    EXPECT_EQ(errorOf(shortLiteral.data), Error::truncated);

    // The same row drawn over and over: each instruction is a few bytes but writes the whole row.
    UtahWriter bomb({.width = 65535, .height = 64, .channels = 3});
    for (int i = 0; i < 100000; ++i)
        bomb.setColour(0).run(65535, 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf(bomb.data), Error::badData);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(Utah, WindowsRleBitmapsAreNotTaken)
{
    // A Windows RLE8 bitmap header: it belongs to the BMP reader, whatever its extension.
    std::vector<std::uint8_t> bmp = {'B', 'M', 0x52, 0xCC, 0, 0, 0, 0, 0, 0, 54, 4, 0, 0, 40, 0, 0, 0};
    bmp.resize(1200, 0);
    EXPECT_FALSE(utah::sniff(bmp));
    EXPECT_EQ(errorOf(bmp), Error::badHeader);

    CONFORMANCE_OR_SKIP(dir);
    for (const char* name : {"bmp/good/blauesglas_8.rle", "bmp/good/blauesglas_4.rle"}) {
        const auto file = testkit::readBytes(dir / name);
        ASSERT_FALSE(file.empty()) << name;
        EXPECT_FALSE(utah::sniff(file)) << name;
        if (const Codec* codec = recognise(file)) {
            EXPECT_STRNE(codec->name, "utah") << name;
        }
    }
}

// Cut at every length and with flipped bytes.
TEST(Utah, DamagedKeptFilesNeverCrash)
{
    // See tests/data/utah/README.md.
    for (const char* name : {"pseudo_colour.rle", "rgb_maps_background.rle", "grey_clipped.rle"}) {
        SCOPED_TRACE(name);
        const auto file = testkit::readBytes(testkit::testData(std::string("utah/") + name));
        ASSERT_FALSE(file.empty());
        decoded(file);
        testkit::decodeDamaged(file, utah::decode, file.size());
    }
}

TEST(Utah, DamagedConformanceFilesNeverCrash)
{
    CONFORMANCE_OR_SKIP(dir);
    for (const auto& sample : testkit::manifestSamples(dir, "utah-rle")) {
        SCOPED_TRACE(sample.path);
        const auto file = testkit::readBytes(dir / sample.path);
        testkit::decodeDamaged(file, utah::decode, file.size());
    }
}

namespace {

// A 61 × 37 picture with flat parts (runs) and noisy ones (literals), in PPM or PGM.
std::vector<std::uint8_t> netpbmPicture(bool colour)
{
    const int w = 61, h = 37;
    const std::string head = std::string(colour ? "P6" : "P5") + " 61 37 255\n";
    std::vector<std::uint8_t> out(head.begin(), head.end());
    std::uint32_t seed = 7;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < (colour ? 3 : 1); ++c) {
                seed = seed * 1103515245u + 12345u;
                const bool flat = x < 20 || y < 5;
                out.push_back(static_cast<std::uint8_t>(flat ? 40 * c + (x < 10 ? 0 : 200) : seed >> 24));
            }
    return out;
}

}  // namespace

TEST(Utah, NetpbmFilesReadAsNetpbmAndImageMagickReadThem)
{
    if (!testkit::haveTool("pnmtorle") || !testkit::haveTool("rletopnm") || !testkit::haveTool("pnmtopng"))
        GTEST_SKIP() << "skipped: netpbm's pnmtorle, rletopnm or pnmtopng not found";
    const bool haveImageMagick = testkit::haveTool("convert");
    testkit::ScratchDir scratch;
    for (const bool colour : {false, true}) {
        SCOPED_TRACE(colour ? "rgb" : "grey");
        const auto picture = scratch / "picture.pnm";
        const auto rle = scratch / "picture.rle";
        testkit::writeBytes(picture, netpbmPicture(colour));
        ASSERT_TRUE(testkit::run("pnmtorle " + picture.string() + " > " + rle.string() + " 2>/dev/null"));

        const Image ours = decoded(testkit::readBytes(rle));
        EXPECT_EQ(ours.format, colour ? PixelFormat::rgb : PixelFormat::grey);
        const auto mine = testkit::toRgba(ours);

        const auto byNetpbm = scratch / "netpbm.png";
        ASSERT_TRUE(testkit::run("rletopnm " + rle.string() + " 2>/dev/null | pnmtopng > " + byNetpbm.string() +
                                 " 2>/dev/null"));
        const auto netpbm = testkit::loadPng(byNetpbm);
        ASSERT_TRUE(netpbm);
        EXPECT_EQ(testkit::compare(mine, *netpbm).maxError, 0);

        if (!haveImageMagick)
            continue;
        const auto byImageMagick = scratch / "imagemagick.png";
        ASSERT_TRUE(testkit::run("convert " + rle.string() + " PNG24:" + byImageMagick.string()));
        const auto imageMagick = testkit::loadPng(byImageMagick);
        ASSERT_TRUE(imageMagick);
        EXPECT_EQ(testkit::compare(mine, *imageMagick).maxError, 0);
    }
}
