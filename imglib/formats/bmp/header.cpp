#include "imglib/formats/bmp/header.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "imglib/core/byte_reader.h"
#include "imglib/core/size.h"

namespace imglib::bmp {

namespace {

constexpr std::uint32_t kCoreSize = 12;      // OS/2 1.x, BITMAPCOREHEADER
constexpr std::uint32_t kInfoSize = 40;      // BITMAPINFOHEADER
constexpr std::uint32_t kLargestSize = 124;  // BITMAPV5HEADER
constexpr std::uint32_t kOs2LargestSize = 64;

// Windows headers have these sizes; any other size from 16 to 64 bytes is an OS/2 2.x header,
// which may stop after any of its fields.
bool isWindowsSize(std::uint32_t size) { return size == 40 || size == 52 || size == 56 || size == 108 || size == 124; }

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
std::int32_t les32(const std::uint8_t* p) { return static_cast<std::int32_t>(le32(p)); }

Status setCompression(std::uint32_t code, bool os2, Header& h)
{
    switch (code) {
    case 0:
        h.compression = Compression::none;
        return success();
    case 1:
        h.compression = Compression::rle8;
        return success();
    case 2:
        h.compression = Compression::rle4;
        return success();
    case 3:  // BI_BITFIELDS; OS/2 2.x uses 3 for Huffman 1D
    case 6:  // BI_ALPHABITFIELDS: one more mask, for alpha, which is dropped anyway
        if (os2)
            break;
        h.compression = Compression::bitFields;
        return success();
    case 4:  // BI_JPEG, or RLE24 in OS/2 2.x
    case 5:  // BI_PNG
    case 11:
    case 12:
    case 13:  // CMYK variants
        return failure(Error::unsupported, "bmp: compression not supported");
    default:
        break;
    }
    return failure(Error::badHeader, "bmp: unknown compression");
}

// The 12-byte OS/2 1.x header: unsigned 16-bit sides, no compression, 3-byte palette entries.
Status parseCoreHeader(ByteReader& r, Header& h)
{
    std::uint16_t width = 0, height = 0;
    if (!r.u16le(width) || !r.u16le(height) || !r.u16le(h.planes) || !r.u16le(h.bitCount))
        return failure(Error::truncated, "bmp: header cut short");
    h.width = width;
    h.height = height;
    h.paletteEntrySize = 3;
    return success();
}

// Headers of 16 to 124 bytes; fields past the end of a short OS/2 2.x header read as 0.
Status parseInfoHeader(ByteReader& r, Header& h)
{
    const bool os2 = !isWindowsSize(h.infoSize);
    if (os2 && (h.infoSize < 16 || h.infoSize > kOs2LargestSize))
        return failure(Error::badHeader, "bmp: unknown header size");
    std::span<const std::uint8_t> bytes;
    if (!r.bytes(h.infoSize - 4, bytes))
        return failure(Error::truncated, "bmp: header cut short");
    std::array<std::uint8_t, kLargestSize> f{};  // offsets below count from the size field
    std::memcpy(f.data() + 4, bytes.data(), bytes.size());

    const std::int32_t width = les32(&f[4]);
    const std::int32_t height = les32(&f[8]);
    if (width < 1 || height == 0 || height == INT32_MIN)
        return failure(Error::badHeader, "bmp: width or height out of range");
    h.width = static_cast<std::uint32_t>(width);
    h.topDown = height < 0;
    h.height = h.topDown ? static_cast<std::uint32_t>(-height) : static_cast<std::uint32_t>(height);
    h.planes = le16(&f[12]);
    h.bitCount = le16(&f[14]);
    if (auto s = setCompression(le32(&f[16]), os2, h); !s)
        return s;
    h.imageSize = le32(&f[20]);
    h.xDensity = les32(&f[24]);
    h.yDensity = les32(&f[28]);
    h.coloursUsed = le32(&f[32]);
    if (h.compression == Compression::bitFields) {
        if (h.infoSize == kInfoSize) {
            // The masks follow a 40-byte header; BI_ALPHABITFIELDS adds an alpha mask.
            const std::uint64_t count = le32(&f[16]) == 6 ? 4 : 3;
            if (!r.bytes(count * 4, bytes))
                return failure(Error::truncated, "bmp: bit masks cut short");
            std::memcpy(&f[40], bytes.data(), 12);
        }
        h.masks = {le32(&f[40]), le32(&f[44]), le32(&f[48])};
    }
    return success();
}

void setDefaultMasks(Header& h)
{
    if (h.bitCount == 16)
        h.masks = {0x7C00, 0x03E0, 0x001F};  // 5-5-5, the top bit unused
    else if (h.bitCount == 32)
        h.masks = {0xFF0000, 0x00FF00, 0x0000FF};
}

// Where the palette ends and the pixels start. A file header gives the pixel offset; a packed
// DIB's pixels follow its palette directly.
void placePaletteAndPixels(std::uint32_t fileOffset, Header& h)
{
    const std::uint64_t byBitCount = h.indexed() ? std::uint64_t{1} << h.bitCount : 0;
    h.paletteEntries = h.indexed() && h.coloursUsed != 0 ? h.coloursUsed : byBitCount;
    if (!h.fileHeader) {
        // Truecolour DIBs may carry a palette too (coloursUsed entries), which is skipped.
        const std::uint64_t stored = h.indexed() ? h.paletteEntries : h.coloursUsed;
        h.dataOffset = h.paletteOffset + stored * h.paletteEntrySize;
        return;
    }
    h.dataOffset = fileOffset;
    // Quirk: OS/2 1.x files, and Windows files that leave the colour count at 0, may store fewer
    // entries than the bit count allows; the pixel offset then tells how many there are.
    if (h.indexed() && h.coloursUsed == 0 && h.dataOffset >= h.paletteOffset) {
        const std::uint64_t room = (h.dataOffset - h.paletteOffset) / h.paletteEntrySize;
        h.paletteEntries = std::min(h.paletteEntries, room);
    }
}

Status parse(std::span<const std::uint8_t> file, Header& h)
{
    ByteReader r(file);
    std::uint32_t fileOffset = 0;
    h.fileHeader = file.size() >= 2 && file[0] == 'B' && file[1] == 'M';
    if (h.fileHeader) {
        std::uint32_t fileSize = 0;
        if (!r.skip(2) || !r.u32le(fileSize) || !r.skip(4) || !r.u32le(fileOffset))
            return failure(Error::truncated, "bmp: file header cut short");
        h.declaredFileSize = fileSize;
    }
    const std::uint64_t infoStart = r.position();
    if (!r.u32le(h.infoSize))
        return failure(Error::truncated, "bmp: header cut short");
    if (h.infoSize != kCoreSize && (h.infoSize < 16 || h.infoSize > kLargestSize))
        return failure(Error::badHeader, "bmp: unknown header size");
    Status s = h.infoSize == kCoreSize ? parseCoreHeader(r, h) : parseInfoHeader(r, h);
    if (!s)
        return s;
    if (h.compression != Compression::bitFields)
        setDefaultMasks(h);
    h.paletteOffset = std::max<std::uint64_t>(r.position(), infoStart + h.infoSize);
    placePaletteAndPixels(fileOffset, h);
    return success();
}

bool validBitCount(const Header& h)
{
    switch (h.bitCount) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 24:
        return true;
    case 16:
    case 32:
        return h.infoSize != kCoreSize;
    default:
        return false;
    }
}

bool compressionFitsBitCount(const Header& h)
{
    switch (h.compression) {
    case Compression::none:
        return true;
    case Compression::rle8:
        return h.bitCount == 8;
    case Compression::rle4:
        return h.bitCount == 4;
    case Compression::bitFields:
        return h.bitCount == 16 || h.bitCount == 32;
    }
    return false;
}

// Each colour mask is one run of set bits inside the pixel, and no two share a bit.
bool validMasks(const Header& h)
{
    const std::uint64_t pixelBits = (std::uint64_t{1} << h.bitCount) - 1;
    std::uint32_t seen = 0;
    for (const std::uint32_t m : h.masks) {
        if (m == 0 || m > pixelBits || (m & seen) != 0)
            return false;
        const std::uint32_t run = m >> std::countr_zero(m);
        if ((run & (run + 1)) != 0)
            return false;
        seen |= m;
    }
    return true;
}

// Densities this lopsided are not a real device; such headers are made to make viewers that
// correct the aspect ratio allocate absurd images.
bool plausibleDensities(const Header& h)
{
    constexpr std::int64_t kMaxRatio = 1000;
    if (h.xDensity <= 0 || h.yDensity <= 0)
        return true;  // 0 (or garbage) means "not given"
    return h.xDensity <= kMaxRatio * h.yDensity && h.yDensity <= kMaxRatio * h.xDensity;
}

// Rows of fixed size must all be in the file, so that a short file is refused before its pixels
// are allocated; run-length data is bounded by its rows as it is decoded.
bool holdsEnoughData(const Header& h, std::uint64_t fileSize)
{
    if (h.compression != Compression::none && h.compression != Compression::bitFields)
        return true;
    const auto stored = layoutOf(h.width, h.height, h.bitCount, 4);
    return stored && stored->totalBytes <= fileSize - h.dataOffset;
}

Status validate(const Header& h, std::uint64_t fileSize)
{
    if (h.planes != 1)
        return failure(Error::badHeader, "bmp: planes is not 1");
    if (h.bitCount == 64)
        return failure(Error::unsupported, "bmp: 64-bit pixels not supported");
    if (!validBitCount(h))
        return failure(Error::badHeader, "bmp: bit count not allowed");
    if (!compressionFitsBitCount(h))
        return failure(Error::badHeader, "bmp: compression does not fit the bit count");
    if (h.topDown && h.compression != Compression::none && h.compression != Compression::bitFields)
        return failure(Error::badHeader, "bmp: compressed bitmaps cannot be top-down");
    if (h.width == 0 || h.height == 0)
        return failure(Error::badHeader, "bmp: empty image");
    if (!withinLimits(h.width, h.height))
        return failure(Error::tooLarge, "bmp: image over the size limits");
    if ((h.bitCount == 16 || h.bitCount == 32) && !validMasks(h))
        return failure(Error::badHeader, "bmp: bad colour masks");
    if (!plausibleDensities(h))
        return failure(Error::badHeader, "bmp: implausible pixel densities");
    if (h.declaredFileSize > fileSize)
        return failure(Error::truncated, "bmp: file shorter than its header says");
    if (h.indexed() && h.paletteEntries == 0)
        return failure(Error::badHeader, "bmp: no palette");
    if (h.dataOffset < h.paletteOffset + h.paletteEntries * h.paletteEntrySize)
        return failure(Error::badHeader, "bmp: pixel data overlaps the headers or palette");
    if (h.dataOffset > fileSize || h.imageSize > fileSize - h.dataOffset)
        return failure(Error::truncated, "bmp: pixel data cut short");
    if (!holdsEnoughData(h, fileSize))
        return failure(Error::truncated, "bmp: pixel data cut short");
    return success();
}

}  // namespace

Status readHeader(std::span<const std::uint8_t> file, Header& header)
{
    header = Header{};
    if (file.size() >= 2 && file[0] == 'B' && file[1] == 'A')
        return failure(Error::unsupported, "bmp: OS/2 bitmap arrays not supported");
    if (auto s = parse(file, header); !s)
        return s;
    return validate(header, file.size());
}

}  // namespace imglib::bmp
