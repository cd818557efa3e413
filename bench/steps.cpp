#include "bench/steps.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "imglib/api/images.h"
#include "imglib/core/profile.h"
#include "imglib/ops/ops.h"

namespace bench {

namespace {

using imglib::Image;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t kTiffLzw = 16, kBmp = 0;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Times `op` on the photograph, read beforehand.
template <typename Op>
double timeOperation(const std::string& input, Op op)
{
    Image image, result;
    if (!imglib::readImage(input.c_str(), image))
        return -1;
    const auto start = Clock::now();
    const bool ok = op(image, result);
    return ok ? since(start) : -1;
}

// Times a whole pipeline: read, the operations in turn, write.
template <typename Ops>
double timePipeline(const std::string& input, const std::string& output, std::int32_t format, Ops ops)
{
    const auto start = Clock::now();
    Image image;
    if (!imglib::readImage(input.c_str(), image) || !ops(image) || !imglib::writeImage(image, output.c_str(), format))
        return -1;
    return since(start);
}

bool reduce(Image& image, std::int32_t count, bool dither)
{
    Image out;
    if (!imglib::reduceColours(image, count, dither, out))
        return false;
    image = std::move(out);
    return true;
}

bool grey(Image& image)
{
    Image out;
    if (!imglib::toGrey(image, out))
        return false;
    image = std::move(out);
    return true;
}

bool zoom(Image& image, std::int32_t percent)
{
    Image out;
    if (!imglib::zoom(image, percent, percent, out))
        return false;
    image = std::move(out);
    return true;
}

// The floor keeps one byte a pixel (the green channel) or every other pixel: as much data as the
// real result, with no work to speak of.
bool greenOnly(Image& image)
{
    if (image.format != imglib::PixelFormat::rgb)
        return true;
    Image out;
    if (!imglib::allocate(out, image.width, image.height, imglib::PixelFormat::grey))
        return false;
    for (std::size_t i = 0; i < out.pixels.size(); ++i)
        out.pixels[i] = image.pixels[3 * i + 1];
    image = std::move(out);
    return true;
}

bool everyOtherPixel(Image& image)
{
    Image out;
    const std::uint32_t w = (image.width + 1) / 2, h = (image.height + 1) / 2;
    if (!imglib::allocate(out, w, h, image.format))
        return false;
    const unsigned c = image.channels();
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            for (unsigned k = 0; k < c; ++k)
                out.row(y)[x * c + k] = image.row(2 * y)[2 * x * c + k];
    out.palette = image.palette;
    image = std::move(out);
    return true;
}

// The ICC profile the "srgb" step applies: TESSELO_BENCH_PROFILE, else Debian's Adobe RGB (1998).
std::vector<std::uint8_t> benchProfile()
{
    const char* path = std::getenv("TESSELO_BENCH_PROFILE");
    std::ifstream in(path ? path : "/usr/share/color/icc/colord/AdobeRGB1998.icc", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Times the profile's application alone, in place on the photograph as read.
double timeProfile(const std::string& input, const std::string&)
{
    const std::vector<std::uint8_t> profile = benchProfile();
    Image image;
    if (profile.empty() || !imglib::readImage(input.c_str(), image))
        return -1;
    const auto start = Clock::now();
    return imglib::toSrgb(image, profile) ? since(start) : -1;
}

double timeRead(const std::string& input, const std::string&)
{
    const auto start = Clock::now();
    Image image;
    return imglib::readImage(input.c_str(), image) ? since(start) : -1;
}

double timeWrite(const std::string& input, const std::string& output, std::int32_t format, bool (*prepare)(Image&))
{
    Image image;
    if (!imglib::readImage(input.c_str(), image) || !prepare(image))
        return -1;
    const auto start = Clock::now();
    return imglib::writeImage(image, output.c_str(), format) ? since(start) : -1;
}

const Step kSteps[] = {
    {"read", "read the file", timeRead, false},
    {"srgb", "apply a colour profile (Adobe RGB)", timeProfile, false},
    {"grey", "grey levels",
     [](const std::string& in, const std::string&) {
         return timeOperation(in, [](const Image& i, Image& o) { return imglib::toGrey(i, o).ok(); });
     },
     false},
    {"zoom50", "resize to 50 %",
     [](const std::string& in, const std::string&) {
         return timeOperation(in, [](const Image& i, Image& o) { return imglib::zoom(i, 50, 50, o).ok(); });
     },
     false},
    {"zoom150", "resize to 150 %",
     [](const std::string& in, const std::string&) {
         return timeOperation(in, [](const Image& i, Image& o) { return imglib::zoom(i, 150, 150, o).ok(); });
     },
     false},
    {"reduce255d", "255 colours, dithered",
     [](const std::string& in, const std::string&) {
         return timeOperation(in, [](const Image& i, Image& o) { return imglib::reduceColours(i, 255, true, o).ok(); });
     },
     false},
    {"reduce255", "255 colours, nearest",
     [](const std::string& in, const std::string&) {
         return timeOperation(in,
                              [](const Image& i, Image& o) { return imglib::reduceColours(i, 255, false, o).ok(); });
     },
     false},
    {"reduce16d", "16 colours, dithered",
     [](const std::string& in, const std::string&) {
         return timeOperation(in, [](const Image& i, Image& o) { return imglib::reduceColours(i, 16, true, o).ok(); });
     },
     false},
    {"write-tiff", "write 255 colours as TIFF LZW",
     [](const std::string& in, const std::string& out) {
         return timeWrite(in, out, kTiffLzw, [](Image& i) { return reduce(i, 255, true); });
     },
     false},
    {"write-bmp", "write grey levels as BMP",
     [](const std::string& in, const std::string& out) { return timeWrite(in, out, kBmp, grey); }, false},
    {"tiff255", "read, 255 colours dithered, TIFF LZW",
     [](const std::string& in, const std::string& out) {
         return timePipeline(in, out, kTiffLzw, [](Image& i) { return reduce(i, 255, true); });
     },
     true},
    {"grey-bmp", "read, grey levels, BMP",
     [](const std::string& in, const std::string& out) { return timePipeline(in, out, kBmp, grey); }, true},
    {"half-bmp", "read, resize to 50 %, BMP",
     [](const std::string& in, const std::string& out) {
         return timePipeline(in, out, kBmp, [](Image& i) { return zoom(i, 50); });
     },
     true},
    {"chain-grey", "read, grey, 50 %, 255 colours, TIFF LZW",
     [](const std::string& in, const std::string& out) {
         return timePipeline(in, out, kTiffLzw,
                             [](Image& i) { return grey(i) && zoom(i, 50) && reduce(i, 255, true); });
     },
     true},
    {"chain-16", "read, 16 colours, 50 %, 255 colours, TIFF LZW",
     [](const std::string& in, const std::string& out) {
         return timePipeline(in, out, kTiffLzw,
                             [](Image& i) { return reduce(i, 16, true) && zoom(i, 50) && reduce(i, 255, true); });
     },
     true},
    {"floor-tiff", "read, one byte a pixel as TIFF LZW",
     [](const std::string& in, const std::string& out) { return timePipeline(in, out, kTiffLzw, greenOnly); }, true},
    {"floor-bmp", "read, one byte a pixel as BMP",
     [](const std::string& in, const std::string& out) { return timePipeline(in, out, kBmp, greenOnly); }, true},
    {"floor-half", "read, every other pixel as BMP",
     [](const std::string& in, const std::string& out) { return timePipeline(in, out, kBmp, everyOtherPixel); }, true},
};

}  // namespace

std::span<const Step> steps() { return kSteps; }

const Step* findStep(const std::string& name)
{
    for (const Step& step : kSteps)
        if (name == step.name)
            return &step;
    return nullptr;
}

}  // namespace bench
