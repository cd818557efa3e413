// ZSoft PCX, versions 0 to 5: 1, 2, 4 or 8 bits per pixel in 1 to 4 planes, run-length encoded
// or stored. Up to 16 colours take the header palette, 8 bits in one plane the 256-colour palette
// at the end of the file (or grey levels without one), 8 bits in 3 or 4 planes are RGB.
#include "imglib/formats/pcx/pcx.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "imglib/core/byte_reader.h"
#include "imglib/core/packed_indices.h"
#include "imglib/core/size.h"
#include "imglib/core/stored_rows.h"

namespace imglib::pcx {

namespace {

constexpr std::size_t kHeaderBytes = 128;
constexpr std::uint8_t kManufacturer = 0x0A;
constexpr std::uint8_t kVersionWithoutPalette = 3;  // "2.8 without palette information"
constexpr std::uint8_t kVgaPaletteMarker = 12;
constexpr std::size_t kVgaPaletteBytes = 1 + 256 * 3;

// The colours of an EGA card at start-up, for files that carry no palette of their own.
constexpr std::array<Colour, 16> kEgaDefault{{
    {0x00, 0x00, 0x00},
    {0x00, 0x00, 0xAA},
    {0x00, 0xAA, 0x00},
    {0x00, 0xAA, 0xAA},
    {0xAA, 0x00, 0x00},
    {0xAA, 0x00, 0xAA},
    {0xAA, 0x55, 0x00},
    {0xAA, 0xAA, 0xAA},
    {0x55, 0x55, 0x55},
    {0x55, 0x55, 0xFF},
    {0x55, 0xFF, 0x55},
    {0x55, 0xFF, 0xFF},
    {0xFF, 0x55, 0x55},
    {0xFF, 0x55, 0xFF},
    {0xFF, 0xFF, 0x55},
    {0xFF, 0xFF, 0xFF},
}};

enum class Kind {
    headerPalette,  // at most 4 bits a pixel over all planes: up to 16 colours
    eightBit,       // 8 bits in one plane: the palette at the end, or grey levels
    rgb,            // 8 bits in 3 planes (a 4th, alpha, is dropped)
    other,          // any other combination of bits and planes, not read
};

struct Header {
    std::uint8_t version = 0;
    bool compressed = false;
    unsigned bitsPerPixel = 0;  // in each plane
    unsigned planes = 0;
    std::uint32_t width = 0, height = 0;
    std::uint32_t bytesPerLine = 0;  // of each plane
    std::uint16_t xDpi = 0, yDpi = 0;
    std::array<std::uint8_t, 48> egaPalette{};
};

Kind kindOf(const Header& h)
{
    if (h.bitsPerPixel * h.planes <= 4)
        return Kind::headerPalette;
    if (h.bitsPerPixel == 8 && h.planes == 1)
        return Kind::eightBit;
    if (h.bitsPerPixel == 8 && h.planes >= 3)
        return Kind::rgb;
    return Kind::other;
}

Status validate(const Header& h)
{
    if (h.version > 5 || h.version == 1)
        return failure(Error::badHeader, "pcx: unknown version");
    if (h.bitsPerPixel != 1 && h.bitsPerPixel != 2 && h.bitsPerPixel != 4 && h.bitsPerPixel != 8)
        return failure(Error::badHeader, "pcx: bits per pixel");
    if (h.planes < 1 || h.planes > 4)
        return failure(Error::badHeader, "pcx: plane count");
    if (kindOf(h) == Kind::other)
        return failure(Error::unsupported, "pcx: combination of bits and planes");
    if (std::uint64_t{h.bytesPerLine} * 8 < std::uint64_t{h.width} * h.bitsPerPixel)
        return failure(Error::badHeader, "pcx: bytes per line too few for the width");
    return success();
}

Status readHeader(std::span<const std::uint8_t> file, Header& h)
{
    ByteReader in(file);
    std::uint8_t manufacturer = 0, encoding = 0, bits = 0, planes = 0;
    std::uint16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0, bytesPerLine = 0;
    std::span<const std::uint8_t> palette;
    if (!in.u8(manufacturer) || !in.u8(h.version) || !in.u8(encoding) || !in.u8(bits) || !in.u16le(xMin) ||
        !in.u16le(yMin) || !in.u16le(xMax) || !in.u16le(yMax) || !in.u16le(h.xDpi) || !in.u16le(h.yDpi) ||
        !in.bytes(48, palette) || !in.skip(1) || !in.u8(planes) || !in.u16le(bytesPerLine) || !in.seek(kHeaderBytes))
        return failure(Error::truncated, "pcx: header");
    if (manufacturer != kManufacturer)
        return failure(Error::badHeader, "pcx: not a PCX file");
    if (encoding > 1)
        return failure(Error::badHeader, "pcx: unknown encoding");
    if (xMax < xMin || yMax < yMin)
        return failure(Error::badHeader, "pcx: window ends before it starts");
    h.compressed = encoding == 1;
    h.bitsPerPixel = bits;
    h.planes = planes;
    h.width = std::uint32_t{xMax} - xMin + 1;
    h.height = std::uint32_t{yMax} - yMin + 1;
    h.bytesPerLine = bytesPerLine;
    std::copy(palette.begin(), palette.end(), h.egaPalette.begin());
    return validate(h);
}

// The dpi fields, unless they hold what many writers put there instead: the display mode the
// picture was made in, or the picture's own size.
Resolution resolutionOf(const Header& h)
{
    constexpr std::array<std::array<std::uint16_t, 2>, 7> kDisplayModes{
        {{320, 200}, {640, 200}, {640, 350}, {640, 480}, {720, 348}, {800, 600}, {1024, 768}}};
    const std::array<std::uint16_t, 2> stated{h.xDpi, h.yDpi};
    const bool displayMode = std::find(kDisplayModes.begin(), kDisplayModes.end(), stated) != kDisplayModes.end();
    const bool pictureSize = h.xDpi != h.yDpi && h.xDpi == h.width && h.yDpi == h.height;
    return displayMode || pictureSize ? Resolution{} : perInch(h.xDpi, h.yDpi);
}

// Whether `dataBytes` can hold the stored rows, so that a short file is refused before the pixels
// are allocated: each byte of run-length data gives at most 31.5 stored bytes (a run of 63 costs
// two).
bool holdsEnoughData(const Header& h, const Layout& stored, std::uint64_t dataBytes)
{
    return stored.totalBytes <= (h.compressed ? dataBytes * 63 / 2 : dataBytes);
}

constexpr Status kDataCutShort = failure(Error::truncated, "pcx: pixel data");

// The run decoder of the stored rows, each all planes of bytesPerLine bytes. A run may go on from
// one row into the next; one that goes past the last row is cut there.
class Runs {
public:
    static constexpr Status cutShort = kDataCutShort;

    // A byte with its two high bits set is a run of (byte & 0x3F) copies of the next byte; any
    // other byte stands for itself.
    Status decodeRow(ByteReader& in, std::span<std::uint8_t> row)
    {
        std::size_t i = 0;
        while (i < row.size()) {
            if (pending_ == 0) {
                std::uint8_t code = 0;
                if (!in.u8(code))
                    return kDataCutShort;
                if ((code & 0xC0) != 0xC0) {
                    row[i++] = code;
                    continue;
                }
                pending_ = code & 0x3Fu;
                if (!in.u8(value_))
                    return kDataCutShort;
            }
            const std::size_t n = std::min(pending_, row.size() - i);
            std::memset(row.data() + i, value_, n);
            i += n;
            pending_ -= n;
        }
        return success();
    }

private:
    std::size_t pending_ = 0;
    std::uint8_t value_ = 0;
};

void toRgb(const std::uint8_t* stored, const Header& h, std::uint8_t* out)
{
    const std::uint8_t* r = stored;
    const std::uint8_t* g = r + h.bytesPerLine;
    const std::uint8_t* b = g + h.bytesPerLine;
    for (std::uint32_t x = 0; x < h.width; ++x, out += 3) {
        out[0] = r[x];
        out[1] = g[x];
        out[2] = b[x];
    }
}

// The header palette, unless the file gives none: version 3 says so, and a palette whose entries
// are all the same colour (all zeros, as many writers leave it) cannot be meant. Two-colour files
// then show black and white, the others the EGA start-up colours.
std::vector<Colour> headerPalette(const Header& h)
{
    const std::size_t colours = std::size_t{1} << (h.bitsPerPixel * h.planes);
    std::vector<Colour> palette(colours);
    for (std::size_t i = 0; i < colours; ++i)
        palette[i] = {h.egaPalette[3 * i], h.egaPalette[3 * i + 1], h.egaPalette[3 * i + 2]};
    const bool uniform = std::all_of(palette.begin(), palette.end(), [&](Colour c) { return c == palette[0]; });
    if (h.version != kVersionWithoutPalette && !uniform)
        return palette;
    if (colours == 2)
        return {Colour{0, 0, 0}, Colour{255, 255, 255}};
    return {kEgaDefault.begin(), kEgaDefault.begin() + colours};
}

// The 256-colour palette after the pixel data, announced by a marker byte 769 bytes before the
// end of the file.
bool hasVgaPalette(std::span<const std::uint8_t> file)
{
    return file.size() >= kHeaderBytes + kVgaPaletteBytes && file[file.size() - kVgaPaletteBytes] == kVgaPaletteMarker;
}

std::vector<Colour> vgaPalette(std::span<const std::uint8_t> file)
{
    const auto entries = file.last(kVgaPaletteBytes - 1);
    std::vector<Colour> palette(256);
    for (std::size_t i = 0; i < 256; ++i)
        palette[i] = {entries[3 * i], entries[3 * i + 1], entries[3 * i + 2]};
    return palette;
}

}  // namespace

bool sniff(std::span<const std::uint8_t> file)
{
    Header h;
    return readHeader(file, h).ok();
}

Status decode(std::span<const std::uint8_t> file, Image& out)
{
    Header h;
    if (auto s = readHeader(file, h); !s)
        return s;
    const auto stored = layoutOf(h.bytesPerLine, h.height, 8 * h.planes);
    if (!stored)
        return failure(Error::tooLarge, "pcx: stored rows over the limits");

    // The pixel data ends where the end palette begins.
    const Kind kind = kindOf(h);
    const bool withVgaPalette = kind == Kind::eightBit && hasVgaPalette(file);
    const std::size_t dataEnd = withVgaPalette ? file.size() - kVgaPaletteBytes : file.size();
    if (!holdsEnoughData(h, *stored, dataEnd - kHeaderBytes))
        return failure(Error::truncated, "pcx: data too short for the image");

    const PixelFormat format = kind == Kind::rgb                           ? PixelFormat::rgb
                               : kind == Kind::eightBit && !withVgaPalette ? PixelFormat::grey
                                                                           : PixelFormat::indexed;
    Image image;
    if (auto s = allocate(image, h.width, h.height, format); !s)
        return s;

    ByteReader data(file.subspan(kHeaderBytes, dataEnd - kHeaderBytes));
    StoredRows<Runs> rows(data, h.compressed, stored->rowBytes);
    for (std::uint32_t y = 0; y < h.height; ++y) {
        std::span<const std::uint8_t> row;
        if (auto s = rows.next(row); !s)
            return s;
        switch (kind) {
        case Kind::headerPalette:
            // Up to 4 bits over all planes: plane p gives bits p·bitsPerPixel and up of the index.
            gatherPlanes(row.data(), h.bytesPerLine, h.planes, h.bitsPerPixel, image.row(y), h.width);
            break;
        case Kind::eightBit:
            std::memcpy(image.row(y), row.data(), h.width);
            break;
        case Kind::rgb:
            toRgb(row.data(), h, image.row(y));
            break;
        case Kind::other:  // refused by validate
            break;
        }
    }
    if (kind == Kind::headerPalette)
        image.palette = headerPalette(h);
    else if (withVgaPalette)
        image.palette = vgaPalette(file);
    image.resolution = resolutionOf(h);
    out = std::move(image);
    return success();
}

}  // namespace imglib::pcx
