#include <algorithm>

#include "imglib/core/size.h"
#include "imglib/ops/ops.h"
#include "imglib/ops/resample.h"
#include "imglib/ops/rgb_rows.h"

namespace imglib {

namespace {

constexpr std::int32_t kMostPercent = 1000;

std::uint64_t scaled(std::uint32_t size, std::int32_t percent)
{
    return std::max<std::uint64_t>(1, (std::uint64_t{size} * std::uint32_t(percent) + 50) / 100);
}

// An indexed image enlarged by whole factors: each pixel becomes a block, which is exactly what
// any filter gives there, and the palette stays.
void replicate(const Image& in, Image& out)
{
    const std::uint32_t fx = out.width / in.width, fy = out.height / in.height;
    for (std::uint32_t y = 0; y < out.height; ++y) {
        const std::uint8_t* src = in.row(y / fy);
        std::uint8_t* dst = out.row(y);
        for (std::uint32_t x = 0; x < out.width; ++x)
            dst[x] = src[x / fx];
    }
    out.palette = in.palette;
}

Status expandToRgb(const Image& in, Image& rgb)
{
    if (auto s = allocate(rgb, in.width, in.height, PixelFormat::rgb); !s)
        return s;
    const ops::RgbRows rows(in);
    for (std::uint32_t y = 0; y < in.height; ++y)
        rows.row(y, rgb.row(y));
    return success();
}

}  // namespace

Status zoom(const Image& in, std::int32_t xPercent, std::int32_t yPercent, Image& out)
{
    if (!isWellFormed(in))
        return failure(Error::badArgument, "zoom: malformed image");
    if (xPercent < 1 || xPercent > kMostPercent || yPercent < 1 || yPercent > kMostPercent)
        return failure(Error::badArgument, "zoom: percentage outside 1 to 1000");
    const std::uint64_t width = scaled(in.width, xPercent), height = scaled(in.height, yPercent);
    if (!withinLimits(width, height))
        return failure(Error::tooLarge, "zoom: result over the size limits");
    const auto w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
    out.resolution = in.resolution;  // the stated density, not the pixel count

    if (in.format == PixelFormat::indexed && xPercent % 100 == 0 && yPercent % 100 == 0) {
        if (auto s = allocate(out, w, h, PixelFormat::indexed); !s)
            return s;
        replicate(in, out);
        return success();
    }
    // Other indexed images are resampled as RGB: their palette cannot hold the new colours.
    if (auto s = allocate(out, w, h, in.format == PixelFormat::grey ? PixelFormat::grey : PixelFormat::rgb); !s)
        return s;
    if (in.format != PixelFormat::indexed) {
        ops::resample(in, out);
        return success();
    }
    Image expanded;
    if (auto s = expandToRgb(in, expanded); !s)
        return s;
    ops::resample(expanded, out);
    return success();
}

}  // namespace imglib
