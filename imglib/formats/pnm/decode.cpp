// The Netpbm reader: the first image of a P1–P6 file. Bitmaps (P1, P4) become indexed images
// with the palette white, black, so that index = bit and the image stays two-colour (a 1-bit BMP
// or a bilevel TIFF on output, where grey would take eight times the room). Greymaps (P2, P5)
// become grey and pixmaps (P3, P6) RGB; samples are scaled from maxval to 255 with rounding, and
// a sample above maxval is bad data.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imglib/core/colour.h"
#include "imglib/core/packed_indices.h"
#include "imglib/core/size.h"
#include "imglib/formats/pnm/header.h"
#include "imglib/formats/pnm/pnm.h"

namespace imglib::pnm {

namespace {

const Status kAboveMaxval = failure(Error::badData, "pnm: sample above maxval");

Status readPlain(ByteReader& r, const Header& h, Image& image)
{
    Scanner scan(r);
    if (h.bitmap()) {
        for (std::uint8_t& pixel : image.pixels) {
            if (auto s = scan.bit(pixel); !s)
                return s;
        }
        return success();
    }
    const auto level = scaledLevels(h.maxval);
    for (std::uint8_t& sample : image.pixels) {
        std::uint32_t v = 0;
        if (auto s = scan.number(h.maxval, v); !s)
            return s;
        if (v > h.maxval)
            return kAboveMaxval;
        sample = level[v];
    }
    return success();
}

// P4: rows of 1-bit pixels, each row starting on a byte.
Status readBinaryBitmap(ByteReader& r, const Header& h, Image& image)
{
    const auto stored = layoutOf(h.width, h.height, 1);
    std::span<const std::uint8_t> raster;
    if (!stored || !r.bytes(stored->totalBytes, raster))
        return failure(Error::truncated, "pnm: raster cut short");
    for (std::uint32_t y = 0; y < h.height; ++y)
        unpackIndices(raster.data() + std::size_t{y} * stored->rowBytes, image.row(y), h.width, 1);
    return success();
}

// P5, P6: one byte a sample up to maxval 255, else two, most significant first.
Status readBinarySamples(ByteReader& r, const Header& h, Image& image)
{
    const bool wide = h.maxval > 255;
    const std::size_t count = image.pixels.size();
    std::span<const std::uint8_t> raster;
    if (!r.bytes(std::uint64_t{count} * (wide ? 2 : 1), raster))
        return failure(Error::truncated, "pnm: raster cut short");
    std::uint8_t* out = image.pixels.data();
    if (!wide && h.maxval == 255) {
        std::memcpy(out, raster.data(), count);
        return success();
    }
    const auto level = scaledLevels(h.maxval);
    if (!wide) {
        if (*std::max_element(raster.begin(), raster.end()) > h.maxval)
            return kAboveMaxval;
        for (std::size_t i = 0; i < count; ++i)
            out[i] = level[raster[i]];
        return success();
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t v = std::uint32_t{raster[2 * i]} << 8 | raster[2 * i + 1];
        if (v > h.maxval)
            return kAboveMaxval;
        out[i] = level[v];
    }
    return success();
}

PixelFormat formatOf(const Header& h)
{
    if (h.bitmap())
        return PixelFormat::indexed;
    return h.channels() == 3 ? PixelFormat::rgb : PixelFormat::grey;
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    Header header;
    return readHeader(file, header).ok();
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    Header h;
    if (auto s = readHeader(file, h); !s)
        return s;
    Image image;
    if (auto s = allocate(image, h.width, h.height, formatOf(h)); !s)
        return s;
    if (h.bitmap())
        image.palette = {Colour{255, 255, 255}, Colour{0, 0, 0}};
    ByteReader r(file);
    if (!r.seek(h.rasterOffset))
        return failure(Error::truncated, "pnm: raster cut short");
    Status s = h.plain()    ? readPlain(r, h, image)
               : h.bitmap() ? readBinaryBitmap(r, h, image)
                            : readBinarySamples(r, h, image);
    if (!s)
        return s;
    out = std::move(image);
    return success();
}

}  // namespace imglib::pnm
