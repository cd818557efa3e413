// The bitmap reader: headers, palette, then the rows, stored bottom-up unless the height is
// negative. Up to 8 bits a pixel the image keeps the file's palette; 16, 24 and 32 bits give RGB.
#include <algorithm>

#include "imglib/core/byte_reader.h"
#include "imglib/core/packed_indices.h"
#include "imglib/core/size.h"
#include "imglib/formats/bmp/bmp.h"
#include "imglib/formats/bmp/header.h"
#include "imglib/formats/bmp/rle.h"
#include "imglib/formats/bmp/rows.h"

namespace imglib::bmp {

namespace {

// Entries past what the bit count can index are never used and not kept.
Status readPalette(std::span<const std::uint8_t> file, const Header& h, std::vector<Colour>& palette)
{
    const std::uint64_t kept = std::min(h.paletteEntries, std::uint64_t{1} << h.bitCount);
    ByteReader r(file);
    if (!r.seek(h.paletteOffset))
        return failure(Error::truncated, "bmp: palette cut short");
    palette.resize(kept);
    for (Colour& c : palette) {
        if (!r.u8(c.b) || !r.u8(c.g) || !r.u8(c.r) || !r.skip(h.paletteEntrySize - 3))
            return failure(Error::truncated, "bmp: palette cut short");
    }
    return success();
}

// Uncompressed rows, each padded to 4 bytes; readHeader made sure they are all there.
template <typename ConvertRow>
Status readRows(std::span<const std::uint8_t> data, const Header& h, Image& image, ConvertRow convert)
{
    const auto stored = layoutOf(h.width, h.height, h.bitCount, 4);
    if (!stored || stored->totalBytes > data.size())
        return failure(Error::truncated, "bmp: pixel data cut short");
    for (std::uint32_t i = 0; i < h.height; ++i)
        convert(data.data() + std::size_t{i} * stored->rowBytes, image.row(h.topDown ? i : h.height - 1 - i));
    return success();
}

Status readRows(std::span<const std::uint8_t> data, const Header& h, Image& image)
{
    const std::uint32_t width = h.width;
    if (h.indexed()) {
        const unsigned bits = h.bitCount;
        return readRows(data, h, image, [=](auto src, auto dst) { unpackIndices(src, dst, width, bits); });
    }
    if (h.bitCount == 24)
        return readRows(data, h, image, [=](auto src, auto dst) { swapRedBlue(src, dst, width); });
    const BitFieldPixels bitFields(h.masks, h.bitCount);
    return readRows(data, h, image, [&](auto src, auto dst) { bitFields.convertRow(src, dst, width); });
}

// An index past a short palette names no colour the file defines: the file is rejected.
Status checkIndices(const Image& image, unsigned bitCount)
{
    if (image.palette.size() >= std::size_t{1} << bitCount)
        return success();
    const auto highest = std::max_element(image.pixels.begin(), image.pixels.end());
    if (*highest >= image.palette.size())
        return failure(Error::badData, "bmp: pixel index past the palette");
    return success();
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    Header header;
    return file.size() >= 2 && file[0] == 'B' && file[1] == 'M' && readHeader(file, header).ok();
}

bool sniffPacked(std::span<const std::uint8_t> file)
{
    // A packed bitmap (the clipboard's form, often saved as .dib) has no signature. Only a
    // Windows info, v4 or v5 header that validates against the whole file is taken.
    Header header;
    return !sniff(file) && readHeader(file, header).ok() && !header.fileHeader &&
           (header.infoSize == 40 || header.infoSize == 108 || header.infoSize == 124);
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    Header h;
    if (auto s = readHeader(file, h); !s)
        return s;
    const auto data = file.subspan(h.dataOffset);
    const bool rle = h.compression == Compression::rle8 || h.compression == Compression::rle4;
    Image image;
    GrowingRows rleRows;
    const PixelFormat format = h.indexed() ? PixelFormat::indexed : PixelFormat::rgb;
    if (auto s = rle ? rleRows.start(image, h.width, h.height, format, GrowingRows::Order::bottomUp)
                     : allocate(image, h.width, h.height, format);
        !s)
        return s;
    if (h.indexed()) {
        if (auto s = readPalette(file, h, image.palette); !s)
            return s;
    }
    // readHeader checked that the offset and any declared data size lie within the file. The
    // size given bounds run-length data; rows of fixed size need none.
    const Status rows = rle ? decodeRle(data.first(h.imageSize != 0 ? h.imageSize : data.size()), h, rleRows)
                            : readRows(data, h, image);
    if (!rows)
        return rows;
    if (h.indexed()) {
        if (auto s = checkIndices(image, h.bitCount); !s)
            return s;
    }
    image.resolution = perCentimetre(h.xDensity / 100.0, h.yDensity / 100.0);  // given per metre
    out = std::move(image);
    return success();
}

}  // namespace imglib::bmp
