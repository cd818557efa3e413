#include <algorithm>

#include "imglib/ops/distinct.h"
#include "imglib/ops/ops.h"
#include "imglib/ops/palette.h"
#include "imglib/ops/remap.h"

namespace imglib {

namespace {

std::vector<Colour> withoutDuplicates(const std::vector<Colour>& palette)
{
    std::vector<Colour> unique;
    for (const Colour c : palette)
        if (std::find(unique.begin(), unique.end(), c) == unique.end())
            unique.push_back(c);
    return unique;
}

// Grey images get the best grey levels, others Wu's palette refined by k-means; either is then
// tuned for dithering when asked.
std::vector<Colour> paletteFor(const ops::RgbRows& rows, std::size_t count, bool dither)
{
    const auto levels = ops::greyHistogram(rows);
    auto palette = levels.empty() ? ops::choosePalette(ops::colourHistogram(rows), count)
                                  : ops::greyPalette(levels, count);
    if (dither)
        palette = ops::tuneForDithering(rows, std::move(palette));
    return withoutDuplicates(palette);
}

}  // namespace

Status reduceColours(const Image& in, std::int32_t count, bool dither, Image& out)
{
    if (!isWellFormed(in))
        return failure(Error::badArgument, "reduce: malformed image");
    const auto limit = static_cast<std::size_t>(std::clamp(count, 2, 256));
    const ops::RgbRows rows(in);
    auto few = ops::distinctColours(in, limit);
    const bool exact = few.has_value();
    std::vector<Colour> palette = exact ? std::move(*few) : paletteFor(rows, limit, dither);

    if (auto s = allocate(out, in.width, in.height, PixelFormat::indexed); !s)
        return s;
    out.palette = std::move(palette);
    if (dither && !exact)
        ops::remapDithered(rows, out);
    else
        ops::remapNearest(rows, out);
    return success();
}

}  // namespace imglib
