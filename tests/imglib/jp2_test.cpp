// The JPEG 2000 reader: the conformance files, codestreams of every depth, sign and sampling made
// by opj_compress, the boxes openjpeg does not read for us, and damaged or hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include "imglib/core/colour.h"
#include "imglib/core/parallel.h"
#include "imglib/core/profile.h"
#include "imglib/formats/jp2/jp2.h"
#include "imglib/formats/tiff/tiff.h"
#include "tests/support/format_testing.h"
#include "tests/support/testkit.h"

using namespace imglib;
namespace fs = testkit::fs;
using formattest::joined;
using formattest::put16be;
using formattest::put32be;

namespace {

// One component's samples, as a conformance reference (PGX) or an encoder's input holds them.
struct Component {
    std::uint32_t width = 0, height = 0, dx = 1, dy = 1;
    unsigned bits = 8;
    bool isSigned = false;
    std::vector<int> samples;

    // The 8-bit level of sample (i, j): signed samples moved up by half their range.
    std::uint8_t level(std::uint32_t i, std::uint32_t j) const
    {
        const int shift = isSigned ? 1 << (bits - 1) : 0;
        return scaleTo8(static_cast<std::uint32_t>(samples[std::size_t{j} * width + i] + shift), (1u << bits) - 1);
    }
};

// A PGX file: "PG ML [+|-| ]bits width height", one white space, then big-endian samples.
std::optional<Component> loadPgx(const fs::path& path)
{
    const auto bytes = testkit::readBytes(path);
    const auto newline = std::find(bytes.begin(), bytes.end(), '\n');
    std::string header(bytes.begin(), newline);
    if (newline == bytes.end() || header.rfind("PG ML", 0) != 0)
        return std::nullopt;
    Component c;
    c.isSigned = header.find('-') != std::string::npos;
    std::replace_if(
        header.begin(), header.end(), [](char ch) { return ch == '+' || ch == '-'; }, ' ');
    std::istringstream fields(header.substr(5));
    if (!(fields >> c.bits >> c.width >> c.height))
        return std::nullopt;
    const std::size_t size = c.bits > 8 ? 2 : 1, count = std::size_t{c.width} * c.height;
    if (static_cast<std::size_t>(bytes.end() - newline - 1) < count * size)
        return std::nullopt;
    for (auto at = newline + 1; c.samples.size() < count; at += static_cast<std::ptrdiff_t>(size)) {
        int v = size == 2 ? at[0] << 8 | at[1] : at[0];
        if (c.isSigned && v >= 1 << (8 * size - 1))
            v -= 1 << (8 * size);
        c.samples.push_back(v);
    }
    return c;
}

// A bare codestream's image area and component count, from its SIZ segment; `components` take
// their sampling from it.
struct Area {
    std::uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::size_t count = 0;
};

Area areaOf(const std::vector<std::uint8_t>& codestream, std::vector<Component>& components)
{
    const auto u32 = [&](std::size_t at) {
        return std::uint32_t{codestream[at]} << 24 | codestream[at + 1] << 16 | codestream[at + 2] << 8 |
               codestream[at + 3];
    };
    const Area area{u32(16), u32(20), u32(8), u32(12), std::size_t{codestream[40]} << 8 | codestream[41]};
    for (std::size_t c = 0; c < components.size(); ++c) {
        components[c].dx = codestream[43 + 3 * c];
        components[c].dy = codestream[44 + 3 * c];
    }
    return area;
}

// The sample of a component that covers pixel p of the image, whose area starts at `origin` on the
// reference grid; pixels before the first sample take that one.
std::uint32_t coveringSample(std::uint32_t p, std::uint32_t origin, std::uint32_t step, std::uint32_t count)
{
    const std::uint32_t first = (origin + step - 1) / step, n = (origin + p) / step;
    return std::min(n < first ? 0 : n - first, count - 1);
}

// The image the first `components` make (of area.count in the codestream): grey from one, grey and
// alpha from two, RGB from three or more, alpha from the fourth of four, composited over white.
testkit::Rgba expectedImage(const std::vector<Component>& components, const Area& area)
{
    const std::uint32_t width = area.x1 - area.x0, height = area.y1 - area.y0;
    const std::size_t colours = area.count >= 3 ? 3 : 1;
    const std::size_t alpha = area.count == 2 ? 1 : area.count == 4 ? 3 : 0;
    testkit::Rgba out{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 4, 255)};
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto levelOf = [&](const Component& c) {
                return c.level(coveringSample(x, area.x0, c.dx, c.width), coveringSample(y, area.y0, c.dy, c.height));
            };
            std::uint8_t* pixel = &out.pixels[(std::size_t{y} * width + x) * 4];
            for (std::size_t c = 0; c < 3; ++c) {
                const std::uint8_t level = levelOf(components[colours == 3 ? c : 0]);
                pixel[c] = alpha ? overWhite(level, levelOf(components[alpha])) : level;
            }
        }
    return out;
}

std::vector<std::uint8_t> box(const char* type, const std::vector<std::uint8_t>& body)
{
    std::vector<std::uint8_t> out;
    put32be(out, static_cast<std::uint32_t>(8 + body.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A JP2 file around an 8-bit codestream, with `headerBoxes` after the image header and colour
// specification boxes.
std::vector<std::uint8_t> jp2File(const std::vector<std::uint8_t>& codestream, std::uint32_t width,
                                  std::uint32_t height, std::uint16_t components,
                                  const std::vector<std::uint8_t>& colour, const std::vector<std::uint8_t>& headerBoxes)
{
    std::vector<std::uint8_t> ihdr;
    put32be(ihdr, height);
    put32be(ihdr, width);
    put16be(ihdr, components);
    ihdr.insert(ihdr.end(), {7, 7, 0, 0});  // 8 bits, wavelet coding, colour space known, no IPR
    return joined({{0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A},
                   box("ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' '}),
                   box("jp2h", joined({box("ihdr", ihdr), box("colr", colour), headerBoxes})),
                   box("jp2c", codestream)});
}

// An enumerated colour space: 16 sRGB, 17 grey, 14 CIELab.
std::vector<std::uint8_t> enumerated(std::uint32_t space)
{
    std::vector<std::uint8_t> colr{1, 0, 0};
    put32be(colr, space);
    return colr;
}

// A resolution box body: numerator / denominator × 10^exponent pixels per metre, vertical first.
std::vector<std::uint8_t> resolution(std::uint16_t hn, std::uint16_t vn, std::uint16_t d, std::int8_t exponent)
{
    std::vector<std::uint8_t> body;
    for (const std::uint16_t v : {vn, d, hn, d})
        put16be(body, v);
    body.push_back(static_cast<std::uint8_t>(exponent));
    body.push_back(static_cast<std::uint8_t>(exponent));
    return body;
}

bool haveEncoder() { return testkit::haveTool("opj_compress"); }

// Samples running through the whole range, different in each component.
Component rampComponent(std::uint32_t width, std::uint32_t height, unsigned bits, bool isSigned, std::uint32_t dx,
                        std::uint32_t dy, int seed)
{
    Component c{(width + dx - 1) / dx, (height + dy - 1) / dy, dx, dy, bits, isSigned, {}};
    const int levels = 1 << bits, shift = isSigned ? levels / 2 : 0;
    for (std::uint32_t i = 0; i < c.width * c.height; ++i)
        c.samples.push_back(static_cast<int>((i * 37 + static_cast<std::uint32_t>(seed) * 101) % levels) - shift);
    return c;
}

// opj_compress's lossless codestream (or JP2 file, by `extension`) of raw components.
std::vector<std::uint8_t> compressed(const testkit::ScratchDir& scratch, std::uint32_t width, std::uint32_t height,
                                     const std::vector<Component>& components, const std::string& options,
                                     const std::string& extension = ".j2k")
{
    std::vector<std::uint8_t> raw;
    std::string sampling;
    for (const auto& c : components) {
        for (const int v : c.samples) {
            if (c.bits > 8)
                raw.push_back(static_cast<std::uint8_t>(v >> 8));
            raw.push_back(static_cast<std::uint8_t>(v));
        }
        sampling += (sampling.empty() ? "@" : ":") + std::to_string(c.dx) + "x" + std::to_string(c.dy);
    }
    const auto in = scratch / "in.raw", out = scratch / ("out" + extension);
    testkit::writeBytes(in, raw);
    const auto& first = components.front();
    const std::string format = std::to_string(width) + "," + std::to_string(height) + "," +
                               std::to_string(components.size()) + "," + std::to_string(first.bits) + "," +
                               (first.isSigned ? "s" : "u") + sampling;
    EXPECT_TRUE(testkit::run("opj_compress -i '" + in.string() + "' -o '" + out.string() + "' -F " + format + " " +
                             options + " >/dev/null 2>&1"))
        << format;
    return testkit::readBytes(out);
}

}  // namespace

// The codestreams against their components' reference decodings (exact, p1_06 within 2), the JP2
// files against their TIFF renderings, the regression files decoded (sizes where stated), and the
// damaged ones failing.
TEST(Jp2, Conformance)
{
    CONFORMANCE_FOLDER_OR_SKIP(dir, "jp2");
    const std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> sizes = {
        {"issue411-ycc420.jp2", {33, 33}},
        {"issue411-ycc422.jp2", {33, 33}},
        {"issue411-ycc444.jp2", {33, 33}},
        {"dwt_interleave_h.gsr105.jp2", {34, 34}},
        {"issue206_image-000.jp2", {431, 326}},
        {"cthead1.j2k", {256, 256}},
        {"basn4a08.jp2", {32, 32}},
        {"basn6a08.jp2", {32, 32}},
    };
    const std::map<std::string, const char*> tiffRenderings = {{"file4.jp2", "jp2_4.tif"}, {"file9.jp2", "jp2_9.tif"}};
    // Damaged files openjpeg decodes anyway, as it may.
    const std::vector<std::string> tolerated = {"broken.jpc", "tnsot_zero_missing_eoc.jp2"};
    // Its last tile-part runs to the end of the data, which has no end marker: as damaged as
    // tnsot_zero_missing_eoc, and as unsure to be whole.
    const std::string noEndMarker = "file409752.jp2";
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const auto& path = entry.path();
        const std::string name = path.filename().string(), extension = path.extension().string();
        if (!entry.is_regular_file() || extension == ".txt" || extension == ".pgx" || extension == ".tif" ||
            name.find('.') == std::string::npos || name.find("LICENSE") != std::string::npos)
            continue;
        SCOPED_TRACE(fs::relative(path, dir).string());
        const auto file = testkit::readBytes(path);
        Image image;
        const Status status = jp2::decode(file, image);
        ++checked;
        if (path.parent_path().filename() == "damaged") {
            if (std::find(tolerated.begin(), tolerated.end(), name) == tolerated.end()) {
                EXPECT_FALSE(status.ok());
                EXPECT_EQ(std::string(status.detail).rfind("jp2: ", 0), 0u) << status.detail;
            }
            continue;
        }
        if (name == "issue559-eci-091-CIELab.jp2" || name == noEndMarker) {
            EXPECT_EQ(status.error, name == noEndMarker ? Error::truncated : Error::unsupported);
            continue;
        }
        ASSERT_TRUE(status.ok()) << status.detail;
        EXPECT_TRUE(isWellFormed(image));
        if (const auto size = sizes.find(name); size != sizes.end()) {
            EXPECT_EQ(std::pair(image.width, image.height), size->second);
        }
        if (const auto tiff = tiffRenderings.find(name); tiff != tiffRenderings.end()) {
            const Image reference =
                testkit::decodeOk(tiff::decode, testkit::readBytes(dir / "conformance/reference" / tiff->second));
            EXPECT_LE(testkit::compare(testkit::toRgba(image), testkit::toRgba(reference)).maxError, 4);
        }
        if (extension != ".j2k" || path.parent_path().filename() != "conformance")
            continue;
        std::vector<Component> components;
        for (int c = 0; c < 4; ++c) {
            const auto pgx =
                dir / "conformance/reference" / ("c1" + path.stem().string() + "_" + std::to_string(c) + ".pgx");
            if (const auto component = fs::exists(pgx) ? loadPgx(pgx) : std::nullopt)
                components.push_back(*component);
        }
        ASSERT_FALSE(components.empty());
        const auto d = testkit::compare(testkit::toRgba(image), expectedImage(components, areaOf(file, components)));
        EXPECT_TRUE(d.sameSize);
        EXPECT_LE(d.maxError, name == "p1_06.j2k" ? 2 : 0);
    }
    EXPECT_GE(checked, 45);
}

// Lossless codestreams keep every sample: each decodes to exactly its components' levels, every
// pixel showing the sample that covers it.
TEST(Jp2, EachDepthSignAndSamplingGivesItsLevels)
{
    if (!haveEncoder())
        GTEST_SKIP() << "skipped: opj_compress not found";
    const testkit::ScratchDir scratch;
    constexpr std::uint32_t w = 36, h = 24;  // opj_compress reads raw components of whole samples only
    struct Case {
        const char* name;
        unsigned bits;
        bool isSigned;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> sampling;  // of each component
        const char* options;
    };
    const Case cases[] = {
        {"1-bit grey", 1, false, {{1, 1}}, ""},
        {"4-bit signed grey", 4, true, {{1, 1}}, ""},
        {"16-bit grey", 16, false, {{1, 1}}, ""},
        {"16-bit signed grey", 16, true, {{1, 1}}, ""},
        {"8-bit grey and alpha", 8, false, {{1, 1}, {1, 1}}, ""},
        {"5-bit signed RGB", 5, true, {{1, 1}, {1, 1}, {1, 1}}, ""},
        {"12-bit RGB, two components sampled 2 by 2", 12, false, {{1, 1}, {2, 2}, {2, 2}}, ""},
        {"8-bit RGB sampled 3 by 1 and 1 by 4, in tiles", 8, false, {{1, 1}, {3, 1}, {1, 4}}, "-t 16,8"},
        {"8-bit RGB and alpha", 8, false, {{1, 1}, {1, 1}, {1, 1}, {1, 1}}, ""},
        {"10-bit grey sampled 2 by 3", 10, false, {{2, 3}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Component> components;
        for (const auto& [dx, dy] : c.sampling)
            components.push_back(rampComponent(w, h, c.bits, c.isSigned, dx, dy, static_cast<int>(components.size())));
        const auto file = compressed(scratch, w, h, components, std::string("-n 2 ") + c.options);
        const Image image = testkit::decodeOk(jp2::decode, file);
        const auto d =
            testkit::compare(testkit::toRgba(image), expectedImage(components, {0, 0, w, h, components.size()}));
        EXPECT_TRUE(d.sameSize);
        EXPECT_EQ(d.maxError, 0);
    }
}

// opj_compress marks a JP2 of three components with coarser chroma as sYCC: full-range BT.601.
TEST(Jp2, YccBecomesRgb)
{
    if (!haveEncoder())
        GTEST_SKIP() << "skipped: opj_compress not found";
    const testkit::ScratchDir scratch;
    struct Patch {
        int y, cb, cr;
        std::array<int, 3> rgb;
    };
    const Patch patches[] = {{76, 85, 255, {255, 0, 0}},
                             {150, 44, 21, {0, 255, 0}},
                             {29, 255, 107, {0, 0, 255}},
                             {128, 128, 128, {128, 128, 128}}};
    constexpr std::uint32_t side = 8;  // each patch a row of 8 × 8 pixels
    std::vector<Component> components = {rampComponent(side * 4, side, 8, false, 1, 1, 0),
                                         rampComponent(side * 4, side, 8, false, 2, 2, 0),
                                         rampComponent(side * 4, side, 8, false, 2, 2, 0)};
    for (std::size_t c = 0; c < 3; ++c)
        for (std::uint32_t i = 0; i < components[c].samples.size(); ++i) {
            const Patch& p = patches[i % components[c].width / (side / components[c].dx)];
            components[c].samples[i] = c == 0 ? p.y : c == 1 ? p.cb : p.cr;
        }
    const Image image = testkit::decodeOk(jp2::decode, compressed(scratch, side * 4, side, components, "-n 2", ".jp2"));
    ASSERT_EQ(image.format, PixelFormat::rgb);
    for (std::uint32_t x = 0; x < image.width; ++x)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(image.row(side / 2)[3 * x + c], patches[x / side].rgb[c], 2) << "pixel " << x;
}

// openjpeg decodes code-blocks on as many threads as the library allows.
TEST(Jp2, ThreadsDoNotChangeThePixels)
{
    if (!haveEncoder())
        GTEST_SKIP() << "skipped: opj_compress not found";
    const testkit::ScratchDir scratch;
    std::vector<Component> rgb;
    for (int c = 0; c < 3; ++c)
        rgb.push_back(rampComponent(96, 64, 8, false, 1, 1, c));
    const auto file = compressed(scratch, 96, 64, rgb, "-n 3 -I -r 8 -b 16,16 -t 64,32");
    const auto decodedOn = [&](unsigned threads) {
        const testkit::ThreadCount use(threads);
        return testkit::decodeOk(jp2::decode, file);
    };
    EXPECT_EQ(decodedOn(1).pixels, decodedOn(2).pixels);
}

TEST(Jp2, SniffWantsTheSignatureOrACodestream)
{
    if (!haveEncoder())
        GTEST_SKIP() << "skipped: opj_compress not found";
    const testkit::ScratchDir scratch;
    const std::vector<Component> grey = {rampComponent(16, 16, 8, false, 1, 1, 0)};
    const auto codestream = compressed(scratch, 16, 16, grey, "-n 2");
    const auto file = compressed(scratch, 16, 16, grey, "-n 2", ".jp2");
    EXPECT_TRUE(jp2::sniff(codestream));
    EXPECT_TRUE(jp2::sniff(file));
    EXPECT_TRUE(jp2::sniff(std::span(codestream).first(60)));  // the main header is enough
    EXPECT_FALSE(jp2::sniff(std::span(codestream).first(20)));
    auto other = codestream;
    other[3] = 0x52;  // no SIZ after SOC
    EXPECT_FALSE(jp2::sniff(other));
    other = file;
    other[10] = 0x0A;  // the signature's line endings mangled
    EXPECT_FALSE(jp2::sniff(other));
    EXPECT_FALSE(jp2::sniff(std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xE0}));
}

// Every prefix fails: in the boxes, the main header, or for want of a tile-part or the end marker.
TEST(Jp2, CutAndDamagedFilesFail)
{
    if (!haveEncoder())
        GTEST_SKIP() << "skipped: opj_compress not found";
    const testkit::ScratchDir scratch;
    std::vector<Component> rgb;
    for (int c = 0; c < 3; ++c)
        rgb.push_back(rampComponent(48, 40, 8, false, 1, 1, c));
    for (const char* extension : {".j2k", ".jp2"}) {
        SCOPED_TRACE(extension);
        const auto file = compressed(scratch, 48, 40, rgb, "-n 3 -t 16,16 -r 20,5", extension);
        formattest::expectCutsFail(file, jp2::decode);
        testkit::decodeDamaged(file, jp2::decode, 256);
    }
}

TEST(Jp2, HeadersOverTheLimitsFailBeforeDecoding)
{
    if (!haveEncoder())
        GTEST_SKIP() << "skipped: opj_compress not found";
    const testkit::ScratchDir scratch;
    const auto file = compressed(scratch, 16, 16, {rampComponent(16, 16, 8, false, 1, 1, 0)}, "-n 2");
    struct Case {
        std::uint32_t width, height, tileWidth, tileHeight;
        Error error;
    };
    for (const auto& c : {Case{70000, 16, 70000, 16, Error::tooLarge},
                          Case{65535, 65535, 65535, 65535, Error::tooLarge}, Case{65535, 2, 1, 1, Error::badHeader},
                          Case{16, 16, 0, 16, Error::badHeader}, Case{0, 16, 16, 16, Error::badHeader}}) {
        auto patched = file;
        for (const auto& [at, value] : {std::pair{8, c.width}, {12, c.height}, {24, c.tileWidth}, {28, c.tileHeight}})
            for (int i = 0; i < 4; ++i)
                patched[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
        Image image;
        EXPECT_EQ(jp2::decode(patched, image).error, c.error) << c.width << "x" << c.height;
    }
}

// openjpeg reads neither the resolution box nor, for us, what a profile means.
TEST(Jp2, ResolutionAndColourFromTheHeaderBoxes)
{
    if (!haveEncoder())
        GTEST_SKIP() << "skipped: opj_compress not found";
    const testkit::ScratchDir scratch;
    std::vector<Component> rgb;
    for (int c = 0; c < 3; ++c)
        rgb.push_back(rampComponent(16, 16, 8, false, 1, 1, c));
    const auto codestream = compressed(scratch, 16, 16, rgb, "-n 2");
    const auto fileWith = [&](const std::vector<std::uint8_t>& colour, const std::vector<std::uint8_t>& boxes) {
        return jp2File(codestream, 16, 16, 3, colour, boxes);
    };
    // 7500 / 254 × 10² pixels a metre is 75 per inch; 3000 / 254 × 10², 30.
    const auto capture = box("resc", resolution(7500, 3000, 254, 2));
    const auto display = box("resd", resolution(3000, 7500, 254, 2));
    struct Case {
        const char* name;
        std::vector<std::uint8_t> boxes;
        Resolution expected;
    };
    for (const auto& c :
         {Case{"capture", box("res ", capture), {75, 30, true}}, Case{"display", box("res ", display), {30, 75, true}},
          Case{"both: display", box("res ", joined({capture, display})), {30, 75, true}},
          Case{"zero", box("res ", box("resc", resolution(0, 0, 1, 0))), {}}, Case{"none", {}, {}}}) {
        const Image image = testkit::decodeOk(jp2::decode, fileWith(enumerated(16), c.boxes));
        EXPECT_NEAR(image.resolution.x, c.expected.x, 1e-9) << c.name;
        EXPECT_NEAR(image.resolution.y, c.expected.y, 1e-9) << c.name;
        EXPECT_EQ(image.resolution.metric, c.expected.metric) << c.name;
    }

    Image lab;
    EXPECT_EQ(jp2::decode(fileWith(enumerated(14), {}), lab).error, Error::unsupported);

    const std::string profile = "/usr/share/color/icc/colord/SwappedRedAndGreen.icc";
    if (!fs::exists(profile))
        GTEST_SKIP() << "skipped: " << profile << " not found";
    const auto icc = testkit::readBytes(profile);
    std::vector<std::uint8_t> restricted{2, 0, 0};
    restricted.insert(restricted.end(), icc.begin(), icc.end());
    Image expected = testkit::decodeOk(jp2::decode, codestream);
    ASSERT_TRUE(toSrgb(expected, icc));
    formattest::expectSame(testkit::toRgba(testkit::decodeOk(jp2::decode, fileWith(restricted, {}))),
                           testkit::toRgba(expected), "the codestream through toSrgb");
}

// A channel definition puts the components in order and marks alpha, straight or premultiplied;
// CMYK is light under inks.
TEST(Jp2, ChannelDefinitionsAndInks)
{
    if (!haveEncoder())
        GTEST_SKIP() << "skipped: opj_compress not found";
    const testkit::ScratchDir scratch;
    constexpr std::uint32_t w = 24, h = 16;
    std::vector<Component> four;
    for (int c = 0; c < 4; ++c)
        four.push_back(rampComponent(w, h, 8, false, 1, 1, c));
    const auto codestream = compressed(scratch, w, h, four, "-n 2");
    const auto definition = [](std::vector<std::array<std::uint16_t, 3>> channels) {  // index, type, association
        std::vector<std::uint8_t> body;
        put16be(body, static_cast<std::uint16_t>(channels.size()));
        for (const auto& channel : channels)
            for (const std::uint16_t v : channel)
                put16be(body, v);
        return box("cdef", body);
    };
    struct Case {
        const char* name;
        std::uint32_t space;
        std::vector<std::uint8_t> boxes;
        std::array<std::uint8_t, 3> (*pixel)(const std::array<std::uint8_t, 4>&);  // from the components' levels
    };
    const Case cases[] = {
        {"stored as alpha, blue, green, red", 16, definition({{0, 1, 0}, {1, 0, 3}, {2, 0, 2}, {3, 0, 1}}),
         [](const std::array<std::uint8_t, 4>& v) {
             return std::array{overWhite(v[3], v[0]), overWhite(v[2], v[0]), overWhite(v[1], v[0])};
         }},
        {"premultiplied alpha", 16, definition({{0, 0, 1}, {1, 0, 2}, {2, 0, 3}, {3, 2, 0}}),
         [](const std::array<std::uint8_t, 4>& v) {
             const auto over = [&](std::uint8_t c) { return static_cast<std::uint8_t>(std::min(255, c + 255 - v[3])); };
             return std::array{over(v[0]), over(v[1]), over(v[2])};
         }},
        {"CMYK",
         12,
         {},
         [](const std::array<std::uint8_t, 4>& v) {
             return std::array{lightUnderInks(v[0], v[3]), lightUnderInks(v[1], v[3]), lightUnderInks(v[2], v[3])};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Image image = testkit::decodeOk(jp2::decode, jp2File(codestream, w, h, 4, enumerated(c.space), c.boxes));
        ASSERT_EQ(image.format, PixelFormat::rgb);
        int wrong = 0;
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) {
                const auto expected =
                    c.pixel({four[0].level(x, y), four[1].level(x, y), four[2].level(x, y), four[3].level(x, y)});
                wrong += !std::equal(expected.begin(), expected.end(), image.row(y) + 3 * x);
            }
        EXPECT_EQ(wrong, 0);
    }
}
