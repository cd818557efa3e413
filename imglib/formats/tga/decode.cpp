// Truevision TGA: colour-mapped, true-colour and grey images (types 1, 2, 3), stored or run-length
// encoded (9, 10, 11), in any of the four origins. Alpha and attribute bits are dropped; the ID
// field, the developer and extension areas and the version 2 footer are read past.
//
// TGA has no signature, so the header validation is strict: it is all the sniff has to go on.
#include "imglib/formats/tga/tga.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imglib/core/byte_reader.h"
#include "imglib/core/size.h"
#include "imglib/core/stored_rows.h"

namespace imglib::tga {

namespace {

constexpr std::uint8_t kRleFlag = 8;
constexpr std::uint8_t kRightToLeft = 0x10;
constexpr std::uint8_t kTopToBottom = 0x20;
constexpr std::uint8_t kInterleave = 0xC0;
constexpr std::uint8_t kAttributeBits = 0x0F;

enum class Pixel {
    index8,  // into the colour map
    grey8,
    grey16,  // grey, then 8 alpha bits
    rgb16,   // 5 bits a channel, little-endian, top bit an attribute: also the 15-bit depth
    rgb24,   // blue, green, red
    rgb32,   // blue, green, red, alpha
};

struct Header {
    std::uint8_t idLength = 0;
    std::uint8_t colourMapType = 0;
    std::uint8_t imageType = 0;
    std::uint16_t mapFirst = 0;
    std::uint16_t mapLength = 0;
    std::uint8_t mapEntryBits = 0;
    std::uint16_t width = 0, height = 0;
    std::uint8_t pixelBits = 0;
    std::uint8_t descriptor = 0;
    std::span<const std::uint8_t> colourMap;  // its stored entries, after the ID field
};

bool isColourDepth(unsigned bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }
unsigned bytesOf(unsigned bits) { return (bits + 7) / 8; }
bool rle(const Header& h) { return (h.imageType & kRleFlag) != 0; }

// The one check of a header, for sniff and decode alike.
Status validate(const Header& h)
{
    if (h.imageType == 0)
        return failure(Error::badHeader, "tga: type 0, no image data");
    const unsigned base = h.imageType & ~kRleFlag;
    if (base < 1 || base > 3)
        return failure(Error::badHeader, "tga: unknown image type");
    if (h.colourMapType > 1)
        return failure(Error::badHeader, "tga: colour map type");
    if (h.colourMapType == 0 &&
        (h.mapFirst != 0 || h.mapLength != 0 || (h.mapEntryBits != 0 && !isColourDepth(h.mapEntryBits))))
        return failure(Error::badHeader, "tga: colour map fields without a colour map");
    if (h.colourMapType == 1 && (h.mapLength == 0 || !isColourDepth(h.mapEntryBits)))
        return failure(Error::badHeader, "tga: colour map length or entry size");
    if (h.width == 0 || h.height == 0)
        return failure(Error::badHeader, "tga: zero width or height");
    if ((h.descriptor & kInterleave) != 0)
        return failure(Error::unsupported, "tga: interleaved rows");
    if ((h.descriptor & kAttributeBits) > 8)
        return failure(Error::badHeader, "tga: attribute bits");

    switch (base) {
    case 1:
        if (h.colourMapType != 1)
            return failure(Error::badHeader, "tga: colour-mapped image without a colour map");
        if (h.mapFirst > 255)
            return failure(Error::badHeader, "tga: colour map starts past the last index");
        if (h.pixelBits == 16)
            return failure(Error::unsupported, "tga: 16-bit colour indices");
        if (h.pixelBits != 8)
            return failure(Error::badHeader, "tga: colour index depth");
        return success();
    case 2:
        if (!isColourDepth(h.pixelBits))
            return failure(Error::badHeader, "tga: true-colour depth");
        return success();
    default:
        if (h.pixelBits != 8 && h.pixelBits != 16)
            return failure(Error::badHeader, "tga: grey depth");
        return success();
    }
}

// How the pixels of a header that validates are stored.
Pixel pixelOf(const Header& h)
{
    switch (h.imageType & ~kRleFlag) {
    case 1:
        return Pixel::index8;
    case 2:
        return h.pixelBits == 24 ? Pixel::rgb24 : h.pixelBits == 32 ? Pixel::rgb32 : Pixel::rgb16;
    default:
        return h.pixelBits == 8 ? Pixel::grey8 : Pixel::grey16;
    }
}

// Reads and checks the header, steps over the ID field and takes the colour map, leaving `in` at
// the pixel data.
Status readHeader(ByteReader& in, Header& h)
{
    if (!in.u8(h.idLength) || !in.u8(h.colourMapType) || !in.u8(h.imageType) || !in.u16le(h.mapFirst) ||
        !in.u16le(h.mapLength) || !in.u8(h.mapEntryBits) || !in.skip(4) || !in.u16le(h.width) || !in.u16le(h.height) ||
        !in.u8(h.pixelBits) || !in.u8(h.descriptor))
        return failure(Error::truncated, "tga: header");
    if (auto s = validate(h); !s)
        return s;
    const std::uint64_t mapBytes = std::uint64_t{h.mapLength} * bytesOf(h.mapEntryBits);
    if (!in.skip(h.idLength) || !in.bytes(mapBytes, h.colourMap))
        return failure(Error::truncated, "tga: ID field or colour map");
    return success();
}

constexpr std::uint8_t expand5(unsigned v) { return static_cast<std::uint8_t>(v << 3 | v >> 2); }

Colour colourOf(const std::uint8_t* p, unsigned bits)
{
    if (bits <= 16) {
        const unsigned v = p[0] | unsigned{p[1]} << 8;
        return {expand5(v >> 10 & 31), expand5(v >> 5 & 31), expand5(v & 31)};
    }
    return {p[2], p[1], p[0]};
}

// The colour-map entries a pixel value can reach: value v is entry v − first.
std::vector<Colour> paletteOf(const Header& h)
{
    const std::size_t reachable = std::min<std::size_t>(h.mapLength, 256u - h.mapFirst);
    const unsigned entryBytes = bytesOf(h.mapEntryBits);
    std::vector<Colour> palette(reachable);
    for (std::size_t i = 0; i < reachable; ++i)
        palette[i] = colourOf(h.colourMap.data() + i * entryBytes, h.mapEntryBits);
    return palette;
}

// Converts one row of stored pixels. False when an index has no colour-map entry: such a file
// is refused rather than shown with invented colours.
bool convertRow(Pixel pixel, const std::uint8_t* in, std::uint8_t* out, std::uint32_t width, unsigned mapFirst,
                std::size_t paletteSize)
{
    switch (pixel) {
    case Pixel::index8:
        for (std::uint32_t x = 0; x < width; ++x) {
            const unsigned entry = in[x] - mapFirst;  // wraps past paletteSize when below first
            if (entry >= paletteSize)
                return false;
            out[x] = static_cast<std::uint8_t>(entry);
        }
        return true;
    case Pixel::grey8:
        std::memcpy(out, in, width);
        return true;
    case Pixel::grey16:
        for (std::uint32_t x = 0; x < width; ++x)
            out[x] = in[2 * x];
        return true;
    case Pixel::rgb16:
        for (std::uint32_t x = 0; x < width; ++x, in += 2, out += 3) {
            const Colour c = colourOf(in, 16);
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
        }
        return true;
    case Pixel::rgb24:
    case Pixel::rgb32: {
        const unsigned step = pixel == Pixel::rgb24 ? 3 : 4;
        for (std::uint32_t x = 0; x < width; ++x, in += step, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        return true;
    }
    }
    return false;
}

// Whether `dataBytes` can hold the image, so that a short file is refused before its pixels are
// allocated: a packet of 1 + pixelBytes bytes gives at most 128 pixels, a stored pixel takes
// pixelBytes.
bool holdsEnoughData(const Header& h, const Layout& stored, std::uint64_t dataBytes)
{
    if (!rle(h))
        return stored.totalBytes <= dataBytes;
    return std::uint64_t{h.width} * h.height * (1 + bytesOf(h.pixelBits)) <= dataBytes * 128;
}

void mirror(std::uint8_t* row, std::uint32_t width, unsigned channels)
{
    for (std::uint32_t a = 0, b = width - 1; a < b; ++a, --b)
        std::swap_ranges(row + std::size_t{a} * channels, row + std::size_t{a + 1} * channels,
                         row + std::size_t{b} * channels);
}

constexpr Status kDataCutShort = failure(Error::truncated, "tga: pixel data");

// The run decoder of the stored rows. A packet may go on from one row into the next (TGA 2.0
// forbids it, but writers do it); one that goes past the last pixel of the image is refused.
class Runs {
public:
    static constexpr Status cutShort = kDataCutShort;

    explicit Runs(unsigned pixelBytes) : pixelBytes_(pixelBytes) {}

    // A packet's first byte holds its pixel count less one, and its high bit says whether one
    // pixel value is repeated (a run) or the values follow (a literal).
    Status decodeRow(ByteReader& in, std::span<std::uint8_t> row)
    {
        std::size_t i = 0;
        while (i < row.size()) {
            if (left_ == 0) {
                std::uint8_t code = 0;
                if (!in.u8(code))
                    return kDataCutShort;
                left_ = (code & 0x7Fu) + 1;
                repeat_ = (code & 0x80) != 0;
                std::span<const std::uint8_t> value;
                if (repeat_ && !in.bytes(pixelBytes_, value))
                    return kDataCutShort;
                if (repeat_)
                    std::memcpy(value_, value.data(), pixelBytes_);
            }
            const std::size_t n = std::min(left_, (row.size() - i) / pixelBytes_);
            if (repeat_) {
                for (std::size_t k = 0; k < n; ++k, i += pixelBytes_)
                    std::memcpy(row.data() + i, value_, pixelBytes_);
            } else {
                std::span<const std::uint8_t> literal;
                if (!in.bytes(n * pixelBytes_, literal))
                    return kDataCutShort;
                std::memcpy(row.data() + i, literal.data(), literal.size());
                i += literal.size();
            }
            left_ -= n;
        }
        return success();
    }

    bool overran() const { return left_ != 0; }

private:
    unsigned pixelBytes_;
    std::size_t left_ = 0;
    bool repeat_ = false;
    std::uint8_t value_[4] = {};
};

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    ByteReader in(file);
    Header h;
    return readHeader(in, h).ok();
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    ByteReader in(file);
    Header h;
    if (auto s = readHeader(in, h); !s)
        return s;
    const unsigned pixelBytes = bytesOf(h.pixelBits);
    const auto stored = layoutOf(h.width, h.height, 8 * pixelBytes);
    if (!stored)
        return failure(Error::tooLarge, "tga: size over the limits");
    if (!holdsEnoughData(h, *stored, in.remaining()))
        return failure(Error::truncated, "tga: data too short for the image");

    const Pixel pixel = pixelOf(h);
    const PixelFormat format = pixel == Pixel::index8                            ? PixelFormat::indexed
                               : pixel == Pixel::grey8 || pixel == Pixel::grey16 ? PixelFormat::grey
                                                                                 : PixelFormat::rgb;
    Image image;
    if (auto s = allocate(image, h.width, h.height, format); !s)
        return s;
    if (pixel == Pixel::index8)
        image.palette = paletteOf(h);

    StoredRows<Runs> rows(in, rle(h), stored->rowBytes, Runs(pixelBytes));
    for (std::uint32_t y = 0; y < h.height; ++y) {
        std::span<const std::uint8_t> row;
        if (auto s = rows.next(row); !s)
            return s;
        const std::uint32_t target = (h.descriptor & kTopToBottom) ? y : h.height - 1 - y;
        std::uint8_t* dest = image.row(target);
        if (!convertRow(pixel, row.data(), dest, h.width, h.mapFirst, image.palette.size()))
            return failure(Error::badData, "tga: pixel index outside the colour map");
        if (h.descriptor & kRightToLeft)
            mirror(dest, h.width, image.channels());
    }
    if (rows.runs().overran())
        return failure(Error::badData, "tga: run past the end of the image");
    out = std::move(image);
    return success();
}

}  // namespace imglib::tga
