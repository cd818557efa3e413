#include "imglib/ops/remap.h"

#include "imglib/core/parallel.h"
#include "imglib/ops/dither.h"

namespace imglib::ops {

void remapNearest(const RgbRows& rows, Image& out)
{
    parallelFor(rows.height(), 16, [&](std::size_t, std::size_t begin, std::size_t end) {
        NearestColour nearest(out.palette);
        auto scratch = rows.scratch();
        for (auto y = static_cast<std::uint32_t>(begin); y < end; ++y) {
            const std::uint8_t* p = rows.row(y, scratch.data());
            std::uint8_t* dst = out.row(y);
            // Neighbours often share a colour: remember the last one.
            int last = -1;
            std::uint8_t lastIndex = 0;
            for (std::uint32_t x = 0; x < rows.width(); ++x, p += 3) {
                const int key = p[0] << 16 | p[1] << 8 | p[2];
                if (key != last) {
                    last = key;
                    lastIndex = nearest.find(p[0], p[1], p[2]);
                }
                dst[x] = lastIndex;
            }
        }
    });
}

// The image is dithered in two bands, top and bottom, on two threads when there are two: always
// two, so that the result is the same on one. The bottom band's diffusion starts a few rows above
// its first row, whose results it drops, so that it enters the band carrying an error like the
// one the top band leaves there and no seam shows. Its lead is even, so that each row keeps the
// direction it has in one pass over the whole image.
constexpr std::uint32_t kDitherBands = 2;
constexpr std::uint32_t kLeadRows = 32;

void remapDithered(const RgbRows& rows, Image& out)
{
    const std::uint32_t height = rows.height();
    parallelFor(kDitherBands, 1, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t band = begin; band < end; ++band) {
            const auto first = static_cast<std::uint32_t>(height * band / kDitherBands);
            const auto last = static_cast<std::uint32_t>(height * (band + 1) / kDitherBands);
            const std::uint32_t start = (first >= kLeadRows ? first - kLeadRows : 0) & ~1u;
            ErrorDiffusion diffusion(out.palette, rows.width());
            auto scratch = rows.scratch();
            for (std::uint32_t y = start; y < last; ++y) {
                std::uint8_t* dst = y >= first ? out.row(y) : nullptr;
                diffusion.row(rows.row(y, scratch.data()), 3, [dst](int x, std::uint8_t index, const int*) {
                    if (dst)
                        dst[x] = index;
                });
            }
        }
    });
}

}  // namespace imglib::ops
