#include "tests/support/testkit.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "imglib/core/colour.h"
#include "imglib/core/file_io.h"
#include "imglib/formats/bmp/bmp.h"

namespace testkit {

std::optional<fs::path> conformanceDir()
{
    const char* env = std::getenv("TESSELO_CONFORMANCE");
    const fs::path dir = env && *env ? fs::path(env) : fs::path(TESSELO_CONFORMANCE_DEFAULT);
    std::error_code ec;
    if (fs::is_regular_file(dir / "MANIFEST.tsv", ec))
        return dir;
    return std::nullopt;
}

fs::path testData(const std::string& name) { return fs::path(TESSELO_TEST_DATA) / name; }

std::vector<std::uint8_t> readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

imglib::Status writeWholeFile(const std::string& target, std::span<const std::uint8_t> bytes)
{
    imglib::AtomicFile file;
    if (auto s = file.open(target); !s)
        return s;
    if (auto s = file.write(bytes); !s)
        return s;
    return file.commit();
}

imglib::Status bmpBytes(const imglib::Image& image, std::vector<std::uint8_t>& out)
{
    const ScratchDir scratch;
    const auto path = scratch / "written.bmp";
    const imglib::Status status = imglib::bmp::write(image, path.string());
    out = status ? readBytes(path) : std::vector<std::uint8_t>{};
    return status;
}

std::optional<Rgba> loadPng(const fs::path& path)
{
    // The classic interface, not png_image: that one takes 16-bit samples for linear light and
    // gamma-encodes them when asked for 8 bits, where a reference means v·255/65535.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::nullopt;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    Rgba out;
    std::vector<png_bytep> rows;
    volatile bool ok = false;  // read after a longjmp
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        png_set_scale_16(png);  // 16-bit samples to 8 bits, rounded
        png_set_expand(png);    // palette to RGB, low-bit grey to 8 bits, tRNS to alpha
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        out.width = png_get_image_width(png, info);
        out.height = png_get_image_height(png, info);
        out.pixels.resize(std::size_t{out.width} * out.height * 4);
        for (std::uint32_t y = 0; y < out.height; ++y)
            rows.push_back(out.pixels.data() + std::size_t{y} * out.width * 4);
        png_read_image(png, rows.data());
        ok = png_get_rowbytes(png, info) == std::size_t{out.width} * 4;
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(file);
    if (!ok)
        return std::nullopt;
    return out;
}

Rgba toRgba(const imglib::Image& image)
{
    Rgba out;
    out.width = image.width;
    out.height = image.height;
    out.pixels.resize(std::size_t{image.width} * image.height * 4);
    std::size_t o = 0;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.row(y);
        for (std::uint32_t x = 0; x < image.width; ++x, o += 4) {
            imglib::Colour c;
            switch (image.format) {
            case imglib::PixelFormat::indexed:
                c = row[x] < image.palette.size() ? image.palette[row[x]] : imglib::Colour{};
                break;
            case imglib::PixelFormat::grey:
                c = {row[x], row[x], row[x]};
                break;
            case imglib::PixelFormat::rgb:
                c = {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
                break;
            }
            out.pixels[o] = c.r;
            out.pixels[o + 1] = c.g;
            out.pixels[o + 2] = c.b;
            out.pixels[o + 3] = 255;
        }
    }
    return out;
}

Rgba overWhite(Rgba image)
{
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        const unsigned alpha = image.pixels[i + 3];
        for (std::size_t c = i; c < i + 3; ++c)
            image.pixels[c] = imglib::overWhite(image.pixels[c], alpha);
        image.pixels[i + 3] = 255;
    }
    return image;
}

Rgba turnedClockwise(const Rgba& image, unsigned quarterTurns)
{
    Rgba out = image;
    for (unsigned turn = 0; turn < quarterTurns % 4; ++turn) {
        const Rgba in = out;
        out.width = in.height;
        out.height = in.width;
        // The left column, bottom to top, becomes the top row.
        for (std::uint32_t y = 0; y < in.height; ++y)
            for (std::uint32_t x = 0; x < in.width; ++x)
                std::copy_n(&in.pixels[(std::size_t{y} * in.width + x) * 4], 4,
                            &out.pixels[(std::size_t{x} * out.width + (out.width - 1 - y)) * 4]);
    }
    return out;
}

Difference compare(const Rgba& a, const Rgba& b, bool ignoreAlpha)
{
    Difference d;
    d.sameSize = a.width == b.width && a.height == b.height && a.pixels.size() == b.pixels.size();
    if (!d.sameSize) {
        // Images of different sizes are as different as images get.
        d.maxError = 255;
        d.meanError = 255;
        return d;
    }
    double sumAbs = 0, sumSq = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        const int e = std::abs(int{a.pixels[i]} - int{b.pixels[i]});
        if (i % 4 == 3) {
            if (!ignoreAlpha)
                d.maxError = std::max(d.maxError, e);
            continue;
        }
        d.maxError = std::max(d.maxError, e);
        sumAbs += e;
        sumSq += double(e) * e;
        ++n;
    }
    d.meanError = n ? sumAbs / double(n) : 0;
    d.psnr = sumSq == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(255.0 * 255.0 * double(n) / sumSq);
    return d;
}

std::vector<ManifestEntry> manifestSamples(const fs::path& conformance, const std::string& format)
{
    std::ifstream in(conformance / "MANIFEST.tsv");
    std::vector<ManifestEntry> out;
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        for (std::string col; std::getline(ss, col, '\t');)
            cols.push_back(col);
        cols.resize(12);
        if (cols[0].rfind(format + "/", 0) != 0 || (cols[1] != "sample" && cols[1] != "generated-sample"))
            continue;
        out.push_back({cols[0], cols[1], cols[2], cols[3], cols[4], cols[5], cols[11]});
    }
    return out;
}

namespace {

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream ss(text);
    for (std::string w; ss >> w;)
        out.push_back(w);
    return out;
}

// The smallest difference between the decoded image and any of its references.
std::optional<Difference> bestMatch(const fs::path& folder, const ManifestEntry& entry, const Rgba& decoded)
{
    std::optional<Difference> best;
    for (const auto& name : words(entry.reference)) {
        const auto ref = loadPng(folder / name);
        if (!ref)
            continue;
        // The model has no alpha: compare colour only.
        const Difference d = compare(decoded, *ref, true);
        if (!best || (d.sameSize && (!best->sameSize || d.maxError < best->maxError)))
            best = d;
    }
    return best;
}

}  // namespace

void checkConformance(const fs::path& conformance, const std::string& format, DecodeFn decode, Tolerance tolerance,
                      const std::vector<std::string>& skipCompare)
{
    const auto samples = manifestSamples(conformance, format);
    ASSERT_FALSE(samples.empty()) << "no samples for " << format;
    for (const auto& entry : samples) {
        SCOPED_TRACE(entry.path);
        const fs::path file = conformance / entry.path;
        const auto bytes = readBytes(file);
        imglib::Image image;
        const imglib::Status status = decode(bytes, image);
        const bool skip = std::find(skipCompare.begin(), skipCompare.end(), entry.path) != skipCompare.end();
        if (entry.expect == "reject-no-crash") {
            EXPECT_FALSE(status.ok()) << "a broken file was accepted";
            continue;
        }
        if (entry.expect == "decode-or-reject") {
            if (status.ok()) {
                EXPECT_TRUE(imglib::isWellFormed(image));
            }
            continue;
        }
        // decode-match and decode. Failures go on to the next file, so one does not hide others.
        if (!status.ok()) {
            ADD_FAILURE() << "failed: " << status.detail;
            continue;
        }
        if (!imglib::isWellFormed(image)) {
            ADD_FAILURE() << "the decoded image breaks the model's rules";
            continue;
        }
        if (entry.expect != "decode-match" || skip)
            continue;
        const auto best = bestMatch(file.parent_path(), entry, toRgba(image));
        if (!best) {
            ADD_FAILURE() << "no readable reference: " << entry.reference;
            continue;
        }
        EXPECT_TRUE(best->sameSize) << "size differs from the reference";
        EXPECT_LE(best->maxError, tolerance.maxError);
        EXPECT_LE(best->meanError, tolerance.meanError);
    }
}

imglib::Image decodeOk(DecodeFn decode, std::span<const std::uint8_t> file)
{
    imglib::Image image;
    const imglib::Status status = decode(file, image);
    EXPECT_TRUE(status.ok()) << status.detail;
    EXPECT_TRUE(!status.ok() || imglib::isWellFormed(image));
    return image;
}

imglib::Error decodeError(DecodeFn decode, std::span<const std::uint8_t> file)
{
    imglib::Image image;
    return decode(file, image).error;
}

void decodeDamaged(const std::vector<std::uint8_t>& file, DecodeFn decode, std::size_t every)
{
    const std::size_t step = std::max<std::size_t>(1, file.size() / every);
    for (std::size_t length = 0; length < file.size(); length += step) {
        imglib::Image image;
        const auto status = decode(std::span(file.data(), length), image);
        if (status.ok()) {
            EXPECT_TRUE(imglib::isWellFormed(image)) << "prefix of " << length << " bytes";
        }
    }
    // Flipped bytes: a fixed pseudo-random sequence, so failures repeat.
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int round = 0; round < 200 && !file.empty(); ++round) {
        auto damaged = file;
        for (int k = 0; k < 4; ++k)
            damaged[next() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (next() % 8));
        imglib::Image image;
        if (decode(damaged, image).ok()) {
            EXPECT_TRUE(imglib::isWellFormed(image)) << "flip round " << round;
        }
    }
}

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "tesselo-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a scratch folder");
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

bool haveTool(const std::string& tool)
{
    const bool found = std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
    if (!found)
        std::fprintf(stderr, "tool not found: %s\n", tool.c_str());
    return found;
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string outputOf(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

}  // namespace testkit
