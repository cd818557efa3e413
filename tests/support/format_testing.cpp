#include "tests/support/format_testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace formattest {

void put16be(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void put32be(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16be(out, static_cast<std::uint16_t>(v >> 16));
    put16be(out, static_cast<std::uint16_t>(v));
}

void put16le(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32le(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16le(out, static_cast<std::uint16_t>(v));
    put16le(out, static_cast<std::uint16_t>(v >> 16));
}

std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts)
{
    std::vector<std::uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

namespace {

testkit::Rgba blank(std::uint32_t width, std::uint32_t height)
{
    return {width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 4, 255)};
}

template <typename Colour>
testkit::Rgba paint(std::uint32_t width, std::uint32_t height, Colour colour)
{
    auto picture = blank(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t rgb = colour(x, y);
            std::uint8_t* p = &picture.pixels[(std::size_t{y} * width + x) * 4];
            p[0] = static_cast<std::uint8_t>(rgb >> 16);
            p[1] = static_cast<std::uint8_t>(rgb >> 8);
            p[2] = static_cast<std::uint8_t>(rgb);
        }
    return picture;
}

std::uint32_t mix(std::uint32_t v)
{
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    return v ^ (v >> 16);
}

enum class Kind { bilevel, grey, colour };

Kind kindOf(const testkit::Rgba& picture)
{
    Kind kind = Kind::bilevel;
    for (std::size_t i = 0; i < picture.pixels.size(); i += 4) {
        const std::uint8_t* p = &picture.pixels[i];
        if (p[0] != p[1] || p[1] != p[2])
            return Kind::colour;
        if (p[0] != 0 && p[0] != 255)
            kind = Kind::grey;
    }
    return kind;
}

void writePnm(const testkit::fs::path& path, const testkit::Rgba& picture)
{
    const Kind kind = kindOf(picture);
    std::ofstream out(path, std::ios::binary);
    out << (kind == Kind::bilevel ? "P4"
            : kind == Kind::grey  ? "P5"
                                  : "P6")
        << '\n'
        << picture.width << ' ' << picture.height << '\n';
    if (kind != Kind::bilevel)
        out << "255\n";
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = &picture.pixels[std::size_t{y} * picture.width * 4];
        if (kind == Kind::bilevel) {
            std::vector<char> bits((picture.width + 7) / 8, 0);
            for (std::uint32_t x = 0; x < picture.width; ++x)
                if (row[4 * x] == 0)  // in PBM, 1 is black
                    bits[x / 8] = static_cast<char>(bits[x / 8] | 0x80 >> (x % 8));
            out.write(bits.data(), static_cast<std::streamsize>(bits.size()));
            continue;
        }
        for (std::uint32_t x = 0; x < picture.width; ++x)
            out.write(reinterpret_cast<const char*>(row + 4 * x), kind == Kind::grey ? 1 : 3);
    }
}

std::string withFiles(std::string command, const testkit::fs::path& in, const testkit::fs::path& out)
{
    for (const auto& [mark, path] : {std::pair{std::string("{in}"), in}, std::pair{std::string("{out}"), out}})
        for (std::size_t at; (at = command.find(mark)) != std::string::npos;)
            command.replace(at, mark.size(), "'" + path.string() + "'");
    return command;
}

int fileNumber = 0;

testkit::fs::path newFile(const testkit::ScratchDir& scratch, const std::string& extension)
{
    return scratch / ("file" + std::to_string(++fileNumber) + extension);
}

}  // namespace

testkit::Rgba testPicture(std::uint32_t width, std::uint32_t height, unsigned colours)
{
    // The left third of each row is one grey level, so that encoders find runs of bytes.
    return paint(width, height, [=](std::uint32_t x, std::uint32_t y) {
        if (x < width / 3)
            return (y * 53 & 0xFF) * 0x010101u;
        const std::uint32_t n = y * width + x;
        return mix(colours > 256 ? n : n % colours) & 0xFFFFFFu;
    });
}

testkit::Rgba greyPicture(std::uint32_t width, std::uint32_t height)
{
    return paint(width, height, [](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t level = (x * 37 + y * 11) & 0xFF;
        return level * 0x010101u;
    });
}

testkit::Rgba bilevelPicture(std::uint32_t width, std::uint32_t height)
{
    return paint(width, height,
                 [](std::uint32_t x, std::uint32_t y) { return (mix(y * 131 + x) & 1) || x == y ? 0u : 0xFFFFFFu; });
}

imglib::Image imageOfKind(imglib::PixelFormat format, std::uint32_t width, std::uint32_t height, unsigned colours)
{
    imglib::Image image;
    EXPECT_TRUE(imglib::allocate(image, width, height, format).ok());
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] =
            static_cast<std::uint8_t>(format == imglib::PixelFormat::indexed ? i * 7 % colours : i * 37 + i / 5);
    for (unsigned c = 0; c < colours; ++c)
        image.palette.push_back({std::uint8_t(c * 3), std::uint8_t(255 - c), std::uint8_t(c * 11)});
    return image;
}

std::optional<testkit::fs::path> encodeWithTool(const testkit::ScratchDir& scratch, const testkit::Rgba& picture,
                                                const std::string& command)
{
    const auto in = newFile(scratch, ".pnm");
    const auto out = newFile(scratch, ".out");
    writePnm(in, picture);
    if (!testkit::run("(" + withFiles(command, in, out) + ") 2>/dev/null"))
        return std::nullopt;
    return out;
}

testkit::Rgba decodeWithTool(const testkit::ScratchDir& scratch, const testkit::fs::path& file,
                             const std::string& command)
{
    const auto out = newFile(scratch, ".png");
    if (!testkit::run("(" + withFiles(command, file, out) + ") 2>/dev/null"))
        return {};
    return testkit::loadPng(out).value_or(testkit::Rgba{});
}

std::vector<std::uint8_t> exifStating(std::uint32_t xPerInch, std::uint32_t yPerInch)
{
    std::vector<std::uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0};
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        put16le(tiff, tag), put16le(tiff, type), put32le(tiff, 1), put32le(tiff, value);
    };
    entry(0x011A, 5, 50), entry(0x011B, 5, 58), entry(0x0128, 3, 2);  // rationals at 50 and 58; inches
    put32le(tiff, 0);
    for (std::uint32_t v : {xPerInch, 1u, yPerInch, 1u})
        put32le(tiff, v);
    return tiff;
}

void expectSame(const testkit::Rgba& ours, const testkit::Rgba& other, const std::string& otherName)
{
    const auto d = testkit::compare(ours, other, true);
    EXPECT_TRUE(d.sameSize) << "size differs from " << otherName << ": " << ours.width << "x" << ours.height
                            << " against " << other.width << "x" << other.height;
    EXPECT_EQ(d.maxError, 0) << "pixels differ from " << otherName;
}

void expectMatchesReference(const testkit::fs::path& file, const testkit::fs::path& reference, testkit::DecodeFn decode)
{
    imglib::Image image;
    const auto status = decode(testkit::readBytes(file), image);
    ASSERT_TRUE(status.ok()) << status.detail;
    const auto expected = testkit::loadPng(reference);
    ASSERT_TRUE(expected) << "cannot read " << reference;
    expectSame(testkit::toRgba(image), *expected, reference.filename().string());
}

void checkKeptFiles(const std::string& folder, const std::string& extension, testkit::DecodeFn decode)
{
    int count = 0;
    for (const auto& entry : testkit::fs::directory_iterator(testkit::testData(folder))) {
        if (entry.path().extension() != extension)
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        auto reference = entry.path();
        expectMatchesReference(entry.path(), reference.replace_extension(".png"), decode);
        const auto bytes = testkit::readBytes(entry.path());
        expectCutsFail(bytes, decode);
        testkit::decodeDamaged(bytes, decode, 64);
        ++count;
    }
    EXPECT_GT(count, 0) << "no files in tests/data/" << folder;
}

void expectCutsFail(const std::vector<std::uint8_t>& file, testkit::DecodeFn decode)
{
    constexpr std::size_t kEveryCutUpTo = 2048, kSpreadCuts = 256;
    const std::size_t step = std::max<std::size_t>(1, file.size() / kSpreadCuts);
    int accepted = 0;
    for (std::size_t length = 0; length < file.size(); length += length < kEveryCutUpTo ? 1 : step) {
        const std::vector<std::uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        imglib::Image image;
        if (decode(cut, image).ok() && ++accepted <= 3)
            ADD_FAILURE() << "a file cut to " << length << " of " << file.size() << " bytes decodes";
    }
    EXPECT_EQ(accepted, 0);
}

}  // namespace formattest
