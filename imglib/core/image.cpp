#include "imglib/core/image.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "imglib/core/size.h"

namespace imglib {

Status allocate(Image& image, std::uint32_t width, std::uint32_t height, PixelFormat format)
{
    const unsigned bits = format == PixelFormat::rgb ? 24 : 8;
    const auto layout = layoutOf(width, height, bits);
    if (!layout)
        return failure(Error::tooLarge, "image: size over the limits");
    try {
        image.pixels.assign(layout->totalBytes, 0);
    } catch (const std::bad_alloc&) {
        image.pixels = {};
        return failure(Error::outOfMemory, "image: no memory for the pixels");
    }
    image.width = width;
    image.height = height;
    image.format = format;
    image.palette.clear();
    return success();
}

Resolution perInch(double x, double y)
{
    // What a bitmap's header can hold: 1 to INT32_MAX pixels per metre.
    const auto sound = [](double v) { return v >= 0.0254 && v <= INT32_MAX * 0.0254; };
    return sound(x) && sound(y) ? Resolution{x, y, false} : Resolution{};
}

Resolution perCentimetre(double x, double y)
{
    Resolution r = perInch(x * 2.54, y * 2.54);
    r.metric = r.known();
    return r;
}

void setPaletteCovering(Image& image, std::span<const Colour> entries)
{
    image.palette.assign(entries.begin(), entries.end());
    if (image.pixels.empty())
        return;
    const std::size_t highest = *std::max_element(image.pixels.begin(), image.pixels.end());
    if (highest >= image.palette.size())
        image.palette.resize(highest + 1, Colour{});
}

bool isWellFormed(const Image& image)
{
    const auto layout = layoutOf(image.width, image.height, image.channels() * 8);
    if (!layout || image.pixels.size() != layout->totalBytes)
        return false;
    if (image.format != PixelFormat::indexed)
        return image.palette.empty();
    if (image.palette.empty() || image.palette.size() > 256)
        return false;
    const auto highest = *std::max_element(image.pixels.begin(), image.pixels.end());
    return highest < image.palette.size();
}

}  // namespace imglib
