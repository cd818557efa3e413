// The bitmap writer: a 14-byte file header, a 40-byte BITMAPINFOHEADER (with the stated
// resolution, or 72 dpi), the palette, then the rows bottom-up, each padded to 4 bytes. The file
// goes to disk in bands of rows small enough to stay in the cache.
#include <algorithm>
#include <cmath>
#include <new>

#include "imglib/core/file_io.h"
#include "imglib/core/packed_indices.h"
#include "imglib/core/size.h"
#include "imglib/formats/bmp/bmp.h"
#include "imglib/formats/bmp/rows.h"

namespace imglib::bmp {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kUnstatedPixelsPerMetre = 2835;  // 72 dpi
constexpr std::size_t kBandBytes = std::size_t{1} << 18;

struct Plan {
    unsigned bits = 24;
    std::vector<Colour> palette;
    Layout stored{};
    std::uint64_t dataOffset = 0, fileSize = 0;
};

// Indexed images take the fewest bits that hold their palette. A one-colour palette is written
// twice, since many readers expect a 1-bit bitmap to have two entries.
Status planFor(const Image& image, Plan& plan)
{
    if (!isWellFormed(image))
        return failure(Error::badArgument, "bmp: malformed image");
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
        plan.bits = 24;
        break;
    }
    const auto stored = layoutOf(image.width, image.height, plan.bits, 4);
    if (!stored)
        return failure(Error::tooLarge, "bmp: image over the size limits");
    plan.stored = *stored;
    plan.dataOffset = kFileHeaderSize + kInfoHeaderSize + 4 * std::uint64_t{plan.palette.size()};
    plan.fileSize = plan.dataOffset + stored->totalBytes;
    if (plan.fileSize > UINT32_MAX)
        return failure(Error::tooLarge, "bmp: file over 4 GB");
    return success();
}

void put8(std::vector<std::uint8_t>& out, std::uint32_t v) { out.push_back(static_cast<std::uint8_t>(v)); }
void put16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put8(out, v);
    put8(out, v >> 8);
}
void put32(std::vector<std::uint8_t>& out, std::uint64_t v)
{
    put16(out, static_cast<std::uint32_t>(v));
    put16(out, static_cast<std::uint32_t>(v >> 16));
}

// Pixels per metre across or down, `perInch` rounded, when the image states its resolution.
std::uint32_t pixelsPerMetre(const Resolution& stated, double perInch)
{
    if (!stated.known())
        return kUnstatedPixelsPerMetre;
    return static_cast<std::uint32_t>(std::clamp(std::round(perInch / 0.0254), 1.0, double{INT32_MAX}));
}

std::vector<std::uint8_t> headers(const Image& image, const Plan& plan)
{
    std::vector<std::uint8_t> out;
    put8(out, 'B');
    put8(out, 'M');
    put32(out, plan.fileSize);
    put32(out, 0);  // reserved
    put32(out, plan.dataOffset);
    put32(out, kInfoHeaderSize);
    put32(out, image.width);
    put32(out, image.height);  // positive: bottom-up
    put16(out, 1);             // planes
    put16(out, plan.bits);
    put32(out, 0);  // BI_RGB
    put32(out, plan.stored.totalBytes);
    put32(out, pixelsPerMetre(image.resolution, image.resolution.x));
    put32(out, pixelsPerMetre(image.resolution, image.resolution.y));
    put32(out, plan.palette.size());
    put32(out, 0);  // every colour is important
    for (const Colour c : plan.palette) {
        put8(out, c.b);
        put8(out, c.g);
        put8(out, c.r);
        put8(out, 0);
    }
    return out;
}

// Writes the whole file: the headers, then bands of rows, the bottom row first.
Status produce(const Image& image, const Plan& plan, AtomicFile& file)
{
    if (auto s = file.write(headers(image, plan)); !s)
        return s;
    const auto rowsPerBand = static_cast<std::uint32_t>(std::max<std::size_t>(1, kBandBytes / plan.stored.rowBytes));
    std::vector<std::uint8_t> band;
    for (std::uint32_t done = 0; done < image.height;) {
        const std::uint32_t rows = std::min(rowsPerBand, image.height - done);
        band.assign(layoutOf(image.width, rows, plan.bits, 4)->totalBytes, 0);  // zeroed padding
        for (std::uint32_t i = 0; i < rows; ++i) {
            const std::uint8_t* src = image.row(image.height - 1 - (done + i));
            std::uint8_t* dst = band.data() + std::size_t{i} * plan.stored.rowBytes;
            if (image.format == PixelFormat::rgb)
                swapRedBlue(src, dst, image.width);
            else
                packIndices(src, dst, image.width, plan.bits);
        }
        if (auto s = file.write(band); !s)
            return s;
        done += rows;
    }
    return success();
}

}  // namespace

Status write(const Image& image, const std::string& path)
{
    Plan plan;
    if (auto s = planFor(image, plan); !s)
        return s;
    AtomicFile file;
    if (auto s = file.open(path); !s)
        return s;
    try {
        if (auto s = produce(image, plan, file); !s)
            return s;
    } catch (const std::bad_alloc&) {
        return failure(Error::outOfMemory, "bmp: no memory for a band of rows");
    }
    return file.commit();
}

}  // namespace imglib::bmp
