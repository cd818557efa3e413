// The bitmap writer: a 14-byte file header, a 40-byte BITMAPINFOHEADER, the palette, then the
// rows bottom-up, each padded to 4 bytes.
#include <algorithm>
#include <cstring>
#include <new>

#include "imglib/core/size.h"
#include "imglib/formats/bmp/bmp.h"
#include "imglib/formats/bmp/rows.h"

namespace imglib::bmp {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::int32_t kPixelsPerMetre = 2835;  // 72 dpi

struct Plan {
    unsigned bits = 24;
    std::vector<Colour> palette;
};

// Indexed images take the fewest bits that hold their palette. A one-colour palette is written
// twice, since many readers expect a 1-bit bitmap to have two entries.
Plan planFor(const Image& image)
{
    Plan plan;
    switch (image.format) {
    case PixelFormat::indexed: {
        const std::size_t n = image.palette.size();
        plan.bits = n <= 2 ? 1 : n <= 16 ? 4 : 8;
        plan.palette = image.palette;
        if (n == 1)
            plan.palette.push_back(image.palette[0]);
        break;
    }
    case PixelFormat::grey:
        plan.bits = 8;
        for (unsigned v = 0; v < 256; ++v)
            plan.palette.push_back({std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)});
        break;
    case PixelFormat::rgb:
        break;
    }
    return plan;
}

class Writer {
public:
    explicit Writer(std::uint8_t* at) : at_(at) {}
    void u8(std::uint8_t v) { *at_++ = v; }
    void u16(std::uint16_t v)
    {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v)
    {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }

private:
    std::uint8_t* at_;
};

}  // namespace

Status encode(const Image& image, std::vector<std::uint8_t>& out)
{
    if (!isWellFormed(image))
        return failure(Error::badArgument, "bmp: malformed image");
    const Plan plan = planFor(image);
    const auto stored = layoutOf(image.width, image.height, plan.bits, 4);
    if (!stored)
        return failure(Error::tooLarge, "bmp: image over the size limits");
    const std::uint64_t paletteBytes = 4 * std::uint64_t{plan.palette.size()};
    const std::uint64_t dataOffset = kFileHeaderSize + kInfoHeaderSize + paletteBytes;
    const std::uint64_t fileSize = dataOffset + stored->totalBytes;
    if (fileSize > UINT32_MAX)
        return failure(Error::tooLarge, "bmp: file over 4 GB");
    try {
        out.assign(static_cast<std::size_t>(fileSize), 0);
    } catch (const std::bad_alloc&) {
        out = {};
        return failure(Error::outOfMemory, "bmp: no memory for the file");
    }

    Writer w(out.data());
    w.u8('B');
    w.u8('M');
    w.u32(static_cast<std::uint32_t>(fileSize));
    w.u32(0);  // reserved
    w.u32(static_cast<std::uint32_t>(dataOffset));
    w.u32(kInfoHeaderSize);
    w.u32(image.width);
    w.u32(image.height);  // positive: bottom-up
    w.u16(1);             // planes
    w.u16(static_cast<std::uint16_t>(plan.bits));
    w.u32(0);             // BI_RGB
    w.u32(static_cast<std::uint32_t>(stored->totalBytes));
    w.u32(kPixelsPerMetre);
    w.u32(kPixelsPerMetre);
    w.u32(static_cast<std::uint32_t>(plan.palette.size()));
    w.u32(0);             // every colour is important
    for (const Colour c : plan.palette) {
        w.u8(c.b);
        w.u8(c.g);
        w.u8(c.r);
        w.u8(0);
    }

    std::uint8_t* rows = out.data() + dataOffset;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::uint8_t* dst = rows + std::size_t{image.height - 1 - y} * stored->rowBytes;
        if (image.format == PixelFormat::rgb)
            swapRedBlue(image.row(y), dst, image.width);
        else
            packIndices(image.row(y), dst, image.width, plan.bits);
    }
    return success();
}

}  // namespace imglib::bmp
