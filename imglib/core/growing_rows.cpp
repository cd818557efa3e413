#include "imglib/core/growing_rows.h"

#include <algorithm>
#include <new>

#include "imglib/core/size.h"

namespace imglib {

Status GrowingRows::start(Image& image, std::uint32_t width, std::uint32_t height, PixelFormat format, Order order)
{
    const unsigned bits = format == PixelFormat::rgb ? 24 : 8;
    const auto layout = layoutOf(width, height, bits);
    if (!layout)
        return failure(Error::tooLarge, "image: size over the limits");
    image = Image{};
    try {
        // Address space only: the system commits a page when a row first writes to it.
        image.pixels.reserve(layout->totalBytes);
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "image: no memory for the pixels");
    }
    image.width = width;
    image.height = height;
    image.format = format;
    image_ = &image;
    order_ = order;
    committed_ = 0;
    fill_.clear();
    return success();
}

// Within the reserved capacity, so the buffer never moves and earlier rows stay where they are.
void GrowingRows::commitThrough(std::uint32_t n)
{
    Image& image = *image_;
    const std::size_t stride = image.stride();
    for (; committed_ <= n && committed_ < image.height; ++committed_) {
        if (fill_.size() == stride)
            image.pixels.insert(image.pixels.end(), fill_.begin(), fill_.end());
        else
            image.pixels.resize(image.pixels.size() + stride);
    }
}

std::uint8_t* GrowingRows::row(std::uint32_t n)
{
    commitThrough(n);
    return image_->pixels.data() + std::size_t{n} * image_->stride();
}

void GrowingRows::finish()
{
    Image& image = *image_;
    if (image.height == 0)
        return;
    commitThrough(image.height - 1);
    if (order_ == Order::bottomUp) {
        const std::size_t stride = image.stride();
        for (std::uint32_t top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(image.row(top), image.row(top) + stride, image.row(bottom));
    }
}

}  // namespace imglib
