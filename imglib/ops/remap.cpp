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

void remapDithered(const RgbRows& rows, Image& out)
{
    ErrorDiffusion diffusion(out.palette, rows.width());
    auto scratch = rows.scratch();
    for (std::uint32_t y = 0; y < rows.height(); ++y) {
        std::uint8_t* dst = out.row(y);
        diffusion.row(rows.row(y, scratch.data()), 3, [dst](int x, std::uint8_t index, const int*) { dst[x] = index; });
    }
}

}  // namespace imglib::ops
