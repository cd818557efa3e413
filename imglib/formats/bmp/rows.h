// Converting rows between a bitmap's stored layouts and the image, for the reader and the writer.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace imglib::bmp {

// 24-bit pixels are stored blue, green, red: the same swap reads and writes them.
void swapRedBlue(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width);

// 16- and 32-bit pixels: each colour is a run of bits picked out by a mask and scaled to 8 bits
// with rounding (v·255/max); any other bits (unused, or alpha) are dropped.
class BitFieldPixels {
public:
    BitFieldPixels(const std::array<std::uint32_t, 3>& masks, unsigned bitCount);
    void convertRow(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) const;

private:
    struct Channel {
        std::uint32_t mask = 0;
        unsigned shift = 0;
        std::uint32_t max = 0;             // the largest value of the channel's bits
        std::vector<std::uint8_t> scaled;  // every value's 8-bit level, for up to 16 bits
        std::uint8_t level(std::uint32_t pixel) const;
    };
    template <unsigned Bytes>
    void convert(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width) const;

    std::array<Channel, 3> channels_;
    unsigned bytesPerPixel_;
};

}  // namespace imglib::bmp
