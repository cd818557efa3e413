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

// The image is dithered in four bands, each pair on a thread when there are two: always four, so
// that the result is the same on one. A pair's rows are dithered together, their pixels in turn.
// Each band's diffusion but the first starts a few rows above its first row, whose results it
// drops, so that it enters the band carrying an error like the one the band above leaves there
// and no seam shows. Its lead is even, so that each row keeps the direction it has in one pass
// over the whole image.
constexpr std::uint32_t kDitherBands = 4;
constexpr std::uint32_t kLeadRows = 32;

namespace {

class DitherBand {
public:
    DitherBand(const RgbRows& rows, Image& out, std::uint32_t band, NearestColour& nearest)
        : rows_(rows),
          out_(out),
          first_(static_cast<std::uint32_t>(std::uint64_t(rows.height()) * band / kDitherBands)),
          end_(static_cast<std::uint32_t>(std::uint64_t(rows.height()) * (band + 1) / kDitherBands)),
          y_((first_ >= kLeadRows ? first_ - kLeadRows : 0) & ~1u),
          diffusion_(nearest, rows.width()),
          scratch_(rows.scratch())
    {}

    bool done() const { return y_ == end_; }
    ErrorDiffusion& diffusion() { return diffusion_; }
    const std::uint8_t* source() { return rows_.row(y_, scratch_.data()); }

    // Where the current row's indices go: nowhere for a lead row.
    auto emit()
    {
        return [dst = y_ >= first_ ? out_.row(y_) : nullptr](int x, std::uint8_t index, const int*) {
            if (dst)
                dst[x] = index;
        };
    }
    void advance() { ++y_; }

private:
    const RgbRows& rows_;
    Image& out_;
    std::uint32_t first_, end_, y_;
    ErrorDiffusion diffusion_;
    std::vector<std::uint8_t> scratch_;
};

}  // namespace

void remapDithered(const RgbRows& rows, Image& out)
{
    parallelFor(kDitherBands / 2, 1, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t pair = begin; pair < end; ++pair) {
            NearestColour nearest(out.palette);
            DitherBand a(rows, out, std::uint32_t(2 * pair), nearest),
                b(rows, out, std::uint32_t(2 * pair + 1), nearest);
            ErrorDiffusion::together(a, b);
        }
    });
}

}  // namespace imglib::ops
