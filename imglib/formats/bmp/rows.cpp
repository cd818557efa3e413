#include "imglib/formats/bmp/rows.h"

#include <bit>

#include "imglib/core/colour.h"

namespace imglib::bmp {

void swapRedBlue(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width)
{
    for (std::uint32_t x = 0; x < width; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

BitFieldPixels::BitFieldPixels(const std::array<std::uint32_t, 3>& masks, unsigned bitCount)
    : bytesPerPixel_(bitCount / 8)
{
    for (std::size_t i = 0; i < 3; ++i) {
        Channel& c = channels_[i];
        c.mask = masks[i];
        c.shift = static_cast<unsigned>(std::countr_zero(c.mask));
        c.max = c.mask >> c.shift;
        if (c.max <= 0xFFFF)
            c.scaled = scaledLevels(c.max);
    }
}

std::uint8_t BitFieldPixels::Channel::level(std::uint32_t pixel) const
{
    const std::uint32_t v = (pixel & mask) >> shift;
    return scaled.empty() ? scaleTo8(v, max) : scaled[v];
}

template <unsigned Bytes>
void BitFieldPixels::convert(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) const
{
    for (std::uint32_t x = 0; x < width; ++x, src += Bytes, dst += 3) {
        std::uint32_t pixel = std::uint32_t{src[0]} | std::uint32_t{src[1]} << 8;
        if constexpr (Bytes == 4)
            pixel |= std::uint32_t{src[2]} << 16 | std::uint32_t{src[3]} << 24;
        dst[0] = channels_[0].level(pixel);
        dst[1] = channels_[1].level(pixel);
        dst[2] = channels_[2].level(pixel);
    }
}

void BitFieldPixels::convertRow(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) const
{
    if (bytesPerPixel_ == 2)
        convert<2>(src, dst, width);
    else
        convert<4>(src, dst, width);
}

}  // namespace imglib::bmp
