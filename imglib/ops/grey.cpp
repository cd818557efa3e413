#include <cstring>

#include "imglib/core/colour.h"
#include "imglib/core/parallel.h"
#include "imglib/ops/ops.h"
#include "imglib/ops/rgb_rows.h"

namespace imglib {

namespace {

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
            greyOf[i] = luma601(c.r, c.g, c.b);
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
                dst[x] = luma601(src[0], src[1], src[2]);
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
    out.resolution = in.resolution;
    greyRows(in, out);
    return success();
}

}  // namespace imglib
