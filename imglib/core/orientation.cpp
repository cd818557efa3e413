#include "imglib/core/orientation.h"

#include <algorithm>
#include <cstring>

#include "imglib/core/parallel.h"

namespace imglib {

Orientation orientationOf(std::uint32_t recorded)
{
    return recorded >= 1 && recorded <= 8 ? static_cast<Orientation>(recorded) : Orientation::topLeft;
}

bool swapsSides(Orientation orientation) { return orientation >= Orientation::leftTop; }

Placement placementOf(Orientation orientation, std::uint32_t width, std::uint32_t height)
{
    const std::ptrdiff_t w = width, h = height;
    switch (orientation) {
    case Orientation::topLeft:
        return {0, 1, w};
    case Orientation::topRight:
        return {w - 1, -1, w};
    case Orientation::bottomRight:
        return {w * h - 1, -1, -w};
    case Orientation::bottomLeft:
        return {(h - 1) * w, 1, -w};
    case Orientation::leftTop:  // the stored rows become columns, left to right
        return {0, h, 1};
    case Orientation::rightTop:  // the stored top row becomes the right column
        return {h - 1, h, -1};
    case Orientation::rightBottom:
        return {w * h - 1, -h, -1};
    case Orientation::leftBottom:  // the stored top row becomes the left column
        return {(w - 1) * h, -h, 1};
    }
    return {0, 1, w};
}

namespace {

// Square blocks, so that a turn reads and writes a few cache lines at a time.
constexpr std::uint32_t kBlock = 64;

template <std::size_t Channels>
void placeRows(const Image& in, Placement place, std::uint8_t* out, std::uint32_t firstRow, std::uint32_t endRow)
{
    for (std::uint32_t x0 = 0; x0 < in.width; x0 += kBlock) {
        const std::uint32_t x1 = std::min(in.width, x0 + kBlock);
        for (std::uint32_t y = firstRow; y < endRow; ++y) {
            const std::uint8_t* src = in.row(y) + std::size_t{x0} * Channels;
            std::ptrdiff_t at = place.start + std::ptrdiff_t{x0} * place.dx + std::ptrdiff_t{y} * place.dy;
            for (std::uint32_t x = x0; x < x1; ++x, src += Channels, at += place.dx)
                std::memcpy(out + at * static_cast<std::ptrdiff_t>(Channels), src, Channels);
        }
    }
}

}  // namespace

Status makeUpright(Image& image, Orientation orientation)
{
    if (orientation == Orientation::topLeft)
        return success();
    Image upright;
    const bool swapped = swapsSides(orientation);
    if (auto s =
            allocate(upright, swapped ? image.height : image.width, swapped ? image.width : image.height, image.format);
        !s)
        return s;
    upright.palette = image.palette;
    // The stated resolution is the stored rows': a quarter turn swaps across and down.
    const Resolution stated = image.resolution;
    upright.resolution = swapped ? Resolution{stated.y, stated.x, stated.metric} : stated;
    const Placement place = placementOf(orientation, image.width, image.height);
    // Bands of stored rows land on pixels no other band touches, so any cut gives the same image.
    const std::size_t blocks = (image.height + kBlock - 1) / kBlock;
    parallelFor(blocks, 4, [&](std::size_t, std::size_t begin, std::size_t end) {
        const auto first = static_cast<std::uint32_t>(begin * kBlock);
        const auto last = static_cast<std::uint32_t>(std::min<std::size_t>(image.height, end * kBlock));
        for (std::uint32_t y = first; y < last; y += kBlock) {
            const std::uint32_t stop = std::min(last, y + kBlock);
            if (image.channels() == 3)
                placeRows<3>(image, place, upright.pixels.data(), y, stop);
            else
                placeRows<1>(image, place, upright.pixels.data(), y, stop);
        }
    });
    image = std::move(upright);
    return success();
}

}  // namespace imglib
