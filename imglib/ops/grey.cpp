#include <cstring>

#include "imglib/core/parallel.h"
#include "imglib/ops/ops.h"
#include "imglib/ops/rgb_rows.h"

namespace imglib {

namespace {

// Rec. 601 luma (0.299 R + 0.587 G + 0.114 B) rounded half up, in 20-bit fixed point: the
// weights are rounded to 2^-20 and the half nudged up by 524 / 2^20, which gives exactly
// (299 R + 587 G + 114 B + 500) / 1000 for every one of the 2^24 colours (checked one by one)
// without a division.
inline std::uint8_t luma(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return static_cast<std::uint8_t>((313524 * r + 615514 * g + 119538 * b + (1 << 19) + 524) >> 20);
}

void greyRows(const Image& in, Image& out)
{
    if (in.format == PixelFormat::grey) {
        std::memcpy(out.pixels.data(), in.pixels.data(), in.pixels.size());
        return;
    }
    if (in.format == PixelFormat::indexed) {
        const ops::RgbRows rows(in);
        std::uint8_t greyOf[256];
        for (unsigned i = 0; i < 256; ++i) {
            const Colour c = rows.palette()[i];
            greyOf[i] = luma(c.r, c.g, c.b);
        }
        for (std::size_t i = 0; i < in.pixels.size(); ++i)
            out.pixels[i] = greyOf[in.pixels[i]];
        return;
    }
    parallelFor(in.height, 64, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (auto y = static_cast<std::uint32_t>(begin); y < end; ++y) {
            const std::uint8_t* src = in.row(y);
            std::uint8_t* dst = out.row(y);
            for (std::uint32_t x = 0; x < in.width; ++x, src += 3)
                dst[x] = luma(src[0], src[1], src[2]);
        }
    });
}

}  // namespace

Status toGrey(const Image& in, Image& out)
{
    if (!isWellFormed(in))
        return failure(Error::badArgument, "grey: malformed image");
    if (auto s = allocate(out, in.width, in.height, PixelFormat::grey); !s)
        return s;
    greyRows(in, out);
    return success();
}

}  // namespace imglib
